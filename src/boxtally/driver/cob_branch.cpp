#include <cerrno>

#include "boxtally/driver/model_branches.h"
#include "platform/file_search.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace driver {

namespace {
const char* Outcome(bool ok) { return ok ? "success" : "failed"; }

// Moves the extracted entry to the name the converter is given. Returns false (after its log
// line) when the work directory cannot be entered.
bool PrepareZippedCob(RunHost& host, const ModelJob& job) {
  platform::TextFile& log = host.Log();
  const std::string dir = host.WorkDirectory();
  if (!platform::ChangeDirectory(dir)) {
    platform::LogF(log, "Can't set working directory %s\n", dir.c_str());
    return false;
  }
  if (platform::FileExists(kCobWorkFile)) {
    const bool deleted = platform::RemoveFile(kCobWorkFile);
    if (job.cob_debug) platform::LogF(log, "Debug - delete %s   %s\n", kCobWorkFile, Outcome(deleted));
  }
  const bool renamed = platform::RenameFile(kUnzipWorkFile, kCobWorkFile);
  if (job.cob_debug) {
    platform::LogF(log, "Debug - rename %s %s  %s\n", kUnzipWorkFile, kCobWorkFile,
                   Outcome(renamed));
  }
  return true;
}

// Enters the model's own folder, where the converter writes its RWX file beside the model.
bool EnterModelDirectory(RunHost& host, const ModelJob& job) {
  const std::string dir = job.model_path.substr(0, platform::DirectoryPrefixLength(job.model_path));
  if (dir.empty()) return true;  // a pattern without a folder: the model is in the current one
  if (platform::ChangeDirectory(dir)) return true;
  platform::LogF(host.Log(), "Can't set working directory %s\n", dir.c_str());
  return false;
}

void LogStartFailure(RunHost& host, const ModelJob& job, const platform::ProcessResult& r,
                     const std::string& file_arg) {
  platform::TextFile& log = host.Log();
  const char* model = job.model_path.c_str();
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

// A relative path named from the directory the run started in.
std::string FromSavedDirectory(const ModelJob& job, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  if (!job.saved_directory) return path;
  return *job.saved_directory + "/" + path;
}
}  // namespace

std::unique_ptr<platform::InStream> ConvertCobModel(RunHost& host, ModelJob& job,
                                                    std::unique_ptr<platform::InStream> model) {
  platform::TextFile& log = host.Log();
  model.reset();
  if (!platform::CurrentDirectory()) {
    platform::LogF(log, "Can't get current working directory for converting %s\n",
                   job.model_path.c_str());
    return nullptr;
  }
  const std::string file_arg = job.from_zip ? std::string(kCobWorkFile) : job.found_name;
  if (!(job.from_zip ? PrepareZippedCob(host, job) : EnterModelDirectory(host, job))) {
    return nullptr;
  }

  const std::string converter = host.ProgramDirectory() + kConverterName;
  const platform::ProcessResult r = platform::RunAndWait(converter, {converter, file_arg, "Rwx"});
  if (job.cob_debug) {
    platform::LogF(log, "Debug - invoke -%s %s Rwx-   %d\n", converter.c_str(), file_arg.c_str(),
                   r.status);
  }
  if (job.from_zip) {
    const bool removed = platform::RemoveFile(kCobWorkFile);
    if (job.cob_debug) platform::LogF(log, "Debug - remove unzipwk.cob   %s\n", Outcome(removed));
    job.work_path = host.WorkDirectory() + kRwxWorkFile;
    job.work_path_set = true;
  }
  if (r.error != platform::SpawnError::kNone) {
    LogStartFailure(host, job, r, file_arg);
    return nullptr;
  }
  if (r.status != 0) {
    platform::LogF(log, "'%s' returned %d for %s (%s)\n", converter.c_str(), r.status,
                   job.model_path.c_str(), file_arg.c_str());
    return nullptr;
  }

  if (!job.from_zip) {
    job.work_path = job.model_path.substr(0, job.model_path.size() - 3) + "rwx";
    job.work_path_set = true;
  }
  auto converted = platform::OpenInStream(FromSavedDirectory(job, job.work_path), false);
  if (job.cob_debug) {
    platform::LogF(log, "Debug - open %s   %s\n", job.work_path.c_str(), Outcome(converted != nullptr));
  }
  job.model_name = ModelName(job.found_name, "cob");
  if (!converted) {
    platform::LogF(log, "Rwxsmith.exe did not convert %s (%s)\n", job.model_path.c_str(),
                   job.model_name.c_str());
    return nullptr;
  }
  return converted;
}

}  // namespace driver
