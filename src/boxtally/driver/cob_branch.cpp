#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "boxtally/driver/model_branches.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/termination.h"

namespace driver {

namespace {
const char* Outcome(bool ok) { return ok ? "success" : "failed"; }

// Moves the extracted entry to the name the converter is given.
void PrepareZippedCob(RunHost& host, const ModelJob& job) {
  platform::TextFile& log = host.Log();
  const std::string cob = job.work_dir + kCobWorkFile;
  if (platform::FileExists(cob)) {
    const bool deleted = platform::RemoveFile(cob);
    if (job.cob_debug)
      platform::LogF(log, "Debug - delete %s   %s\n", kCobWorkFile, Outcome(deleted));
  }
  const bool renamed = platform::RenameFile(job.work_dir + kUnzipWorkFile, cob);
  if (job.cob_debug) {
    platform::LogF(log, "Debug - rename %s %s  %s\n", kUnzipWorkFile, kCobWorkFile,
                   Outcome(renamed));
  }
}

// Copies a plain model into the work folder under its found name: the converter writes its RWX
// file beside its input, and the object path is not ours to write into.
bool CopyPlainCob(RunHost& host, ModelJob& job) {
  const std::string copy = job.work_dir + job.found_name;
  const std::uint64_t bound = host.MaxEntryBytes();
  const platform::CopyResult copied = platform::CopyFile(job.model_path, copy, bound);
  if (copied == platform::CopyResult::kCopied) return true;
  if (copied == platform::CopyResult::kTooLarge) {
    Fail(job, Reason::kCobTooLarge, "larger than " + std::to_string(bound) + " bytes");
    platform::LogF(host.Log(), "Unable to convert %s: larger than %llu bytes\n",
                   job.model_path.c_str(), static_cast<unsigned long long>(bound));
  } else {
    Fail(job, Reason::kCobCopyFailed, "cannot copy into the work folder");
    platform::LogF(host.Log(), "Unable to copy %s to %s for converting\n", job.model_path.c_str(),
                   copy.c_str());
  }
  return false;
}

void RemoveConverterInput(RunHost& host, const ModelJob& job, const std::string& file_arg) {
  const bool removed = platform::RemoveFile(job.work_dir + file_arg);
  if (job.cob_debug)
    platform::LogF(host.Log(), "Debug - remove %s   %s\n", file_arg.c_str(), Outcome(removed));
}

void LogStartFailure(RunHost& host, ModelJob& job, const platform::ProcessResult& r,
                     const std::string& file_arg) {
  platform::TextFile& log = host.Log();
  const char* model = job.model_path.c_str();
  Fail(job, Reason::kConverterNotStarted, std::strerror(r.error_number));
  switch (r.error) {
    case platform::SpawnError::kNotFound:
      platform::LogF(log, "Rwxsmith.exe not found for %s\n", model);
      break;
    case platform::SpawnError::kNoMemory:
      platform::LogF(log, "Not enough memory to execute Rwxsmith.exe for %s\n", model);
      break;
    case platform::SpawnError::kInvalidArgument:
      platform::LogF(log, "Rwxsmith.exe invalid argument for %s\n", model);
      break;
    case platform::SpawnError::kArgListTooLong:
      platform::LogF(log, "Rwxsmith.exe arglist too long for %s\n", model);
      break;
    case platform::SpawnError::kExecFormat:
      platform::LogF(log, "Rwxsmith.exe exec format error for %s\n", model);
      break;
    default:
      platform::LogF(log, "Rwxsmith.exe returned %d (errno=%d) for %s (%s)\n", r.status,
                     r.error_number, model, file_arg.c_str());
      break;
  }
}

// The last line the converter wrote (on its standard output or error) that is not blank, as the
// reason of a failed conversion: "ASCII format COB files are not supported - resave as binary".
// Its messages start with the file it was given, a work file's name that tells the user
// nothing: that goes. At most kMaxConverterMessage bytes, control characters as '_'.
std::string ConverterMessage(const std::string& output, const std::string& file_arg) {
  std::size_t end = output.size();
  while (end > 0) {
    const std::size_t start = output.rfind('\n', end - 1);
    const std::size_t first = start == std::string::npos ? 0 : start + 1;
    std::string line = output.substr(first, end - first);
    end = start == std::string::npos ? 0 : start;
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
    std::size_t from = 0;
    while (from < line.size() && static_cast<unsigned char>(line[from]) <= ' ') ++from;
    line.erase(0, from);
    if (line.empty()) continue;
    const std::string named = file_arg + ": ";
    if (line.size() > named.size() && line.compare(0, named.size(), named) == 0) {
      line.erase(0, named.size());
    }
    if (line.size() > kMaxConverterMessage) {
      std::size_t cut = kMaxConverterMessage;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      line.resize(cut);  // not inside a UTF-8 character
    }
    return platform::WithoutControls(line);
  }
  return {};
}

// The converter writes NAME.rwx for NAME.cob; the model path keeps its own name in messages.
std::string ConvertedPath(const ModelJob& job) {
  if (job.from_zip) return job.work_dir + kRwxWorkFile;
  const std::string& name = job.found_name;
  return job.work_dir + name.substr(0, name.size() - 3) + "rwx";
}
}  // namespace

std::unique_ptr<platform::InStream> ConvertCobModel(RunHost& host, ModelJob& job,
                                                    std::unique_ptr<platform::InStream> model) {
  platform::TextFile& log = host.Log();
  model.reset();
  if (!platform::IsDirectory(job.work_dir)) {
    platform::LogF(log, "Can't set working directory %s\n", job.work_dir.c_str());
    return Fail(job, Reason::kConverterNotStarted, "the work folder is gone");
  }
  const std::string file_arg = job.from_zip ? std::string(kCobWorkFile) : job.found_name;
  if (job.from_zip) {
    PrepareZippedCob(host, job);
  } else if (!CopyPlainCob(host, job)) {
    return nullptr;
  }

  const std::string converter = host.ProgramDirectory() + kConverterName;
  platform::SpawnOptions spawn;
  spawn.directory = job.work_dir;
  spawn.time_limit_seconds = host.ConverterTimeLimitSeconds();
  spawn.max_file_bytes = host.MaxEntryBytes();
  spawn.cancel = job.cancel;
  spawn.poll = job.poll;
  std::string output;
  spawn.output = &output;
  const platform::ProcessResult r =
      platform::RunAndWait(converter, {converter, file_arg, "Rwx"}, spawn);
  if (job.cob_debug) {
    platform::LogF(log, "Debug - invoke -%s %s Rwx-   %d\n", converter.c_str(), file_arg.c_str(),
                   r.status);
  }
  RemoveConverterInput(host, job, file_arg);
  const std::string converted_path = ConvertedPath(job);
  const bool converted_ok = r.error == platform::SpawnError::kNone && !r.timed_out && r.status == 0;
  if (job.from_zip || converted_ok) {
    job.work_path = converted_path;
    job.work_path_set = true;  // the clean-up removes it
  } else {
    platform::RemoveFile(converted_path);  // whatever a failed conversion left in the work folder
  }
  if (r.error != platform::SpawnError::kNone) {
    LogStartFailure(host, job, r, file_arg);
    return nullptr;
  }
  job.model_name = ModelName(job.found_name, "cob");
  if (r.timed_out) {
    platform::LogF(log, "Rwxsmith.exe was ended after %d seconds for %s\n",
                   spawn.time_limit_seconds, job.model_path.c_str());
    platform::LogF(log, "Rwxsmith.exe did not convert %s (%s)\n", job.model_path.c_str(),
                   job.model_name.c_str());
    return Fail(job, Reason::kConverterTimedOut, std::to_string(spawn.time_limit_seconds) + " s");
  }
  if (r.status != 0) {
    platform::LogF(log, "'%s' returned %d for %s (%s)\n", converter.c_str(), r.status,
                   job.model_path.c_str(), file_arg.c_str());
    // A stop ends a conversion at once: the model was not measured, nor did it fail.
    if (r.cancelled || platform::TerminationSignal() != 0) {
      return Fail(job, Reason::kRunStopped, "the conversion was ended by the stop");
    }
    // Why, in the converter's own words: on a line of its own, so the line above stays as
    // scripts read it.
    const std::string said = ConverterMessage(output, file_arg);
    std::string facts = "exit status " + std::to_string(r.status);
    if (!said.empty()) {
      platform::LogF(log, "Rwxsmith.exe reported for %s: %s\n", job.model_path.c_str(),
                     said.c_str());
      facts += ": " + said;
    }
    return Fail(job, Reason::kConverterFailed, std::move(facts));
  }

  auto converted = platform::OpenWorkInStream(job.work_path, false);
  if (job.cob_debug) {
    platform::LogF(log, "Debug - open %s   %s\n", job.work_path.c_str(),
                   Outcome(converted != nullptr));
  }
  if (!converted) {
    platform::LogF(log, "Rwxsmith.exe did not convert %s (%s)\n", job.model_path.c_str(),
                   job.model_name.c_str());
    return Fail(job, Reason::kConverterNoOutput, "no RWX file");
  }
  return converted;
}

}  // namespace driver
