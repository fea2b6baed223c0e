#include "boxtally/driver/process_model.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "boxtally/driver/model_branches.h"
#include "boxtally/driver/run_textures.h"
#include "platform/paths.h"

namespace driver {

namespace {
std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const char* Outcome(bool ok) { return ok ? "success" : "failed"; }

// An error line makes the model a failure, even when some of its models were written.
ProcessedModel FromTally(const rwx::MeasureTally& tally, const ModelJob& job) {
  ProcessedModel m;
  if (tally.error_lines > 0) {
    m.fate = Fate::kFailed;
    m.reason = tally.limit_error ? Reason::kMeasurementLimit : Reason::kScriptError;
    m.facts = tally.first_error;
  } else if (tally.models_written > 0) {
    m.fate = Fate::kMeasured;
    m.summary = tally.last_written;
  } else if (tally.models_huge > tally.models_empty) {
    m.fate = Fate::kSkippedHuge;
    m.summary = tally.last_huge;  // measured as any other, though its lines were left out
  } else if (tally.models_empty > 0) {
    m.fate = Fate::kEmpty;
  } else {
    m.fate = job.from_zip ? Fate::kNoModel : Fate::kNotModelFile;
  }
  return m;
}

ProcessedModel Failed(const ModelJob& job) {
  ProcessedModel m;
  m.fate = job.reason == Reason::kRunStopped ? Fate::kNotReached : Fate::kFailed;
  m.reason = job.reason;
  m.facts = job.facts;
  m.model_name = job.model_name;
  return m;
}

void CleanUp(RunHost& host, const ModelJob& job) {
  platform::RemoveFile(job.work_dir + kUnzipWorkFile);
  if ((job.suffix == "cob" || job.from_zip) && job.work_path_set) {
    // An entry measured from memory left no file: its clean-up has nothing left to do.
    const bool removed = platform::RemoveFile(job.work_path) || job.entry_in_memory;
    if (job.cob_debug) {
      platform::LogF(host.Log(), "Debug - final remove %s  %s\n", job.work_path.c_str(),
                     Outcome(removed));
    }
  }
}
// The textures a measured model names that the run's textures folder lacks: a result of the
// model, and one log line.
void NoteMissingTextures(platform::TextFile& log, const ModelJob& job, RunState& run,
                         ProcessedModel& processed) {
  processed.missing_textures =
      MissingTextures(*run.textures, rwx::LastTally(*run.workspace).image_names);
  if (processed.missing_textures.empty()) return;
  std::string names;
  for (const std::string& name : processed.missing_textures) {
    names += (names.empty() ? "" : ";") + platform::WithoutControls(name);
  }
  platform::LogF(log, "Warning: Missing textures: %s (file:%s)\n", names.c_str(),
                 job.model_path.c_str());
}
}  // namespace

std::string ModelName(const std::string& found_name, const char* suffix) {
  std::string name = Lowered(found_name);
  if (name.size() >= 4) name.replace(name.size() - 3, 3, suffix);
  return name;
}

std::string TypeSuffix(const std::string& name) {
  return Lowered(name.size() <= 3 ? name : name.substr(name.size() - 3));
}

ProcessedModel ProcessModel(RunHost& host, const std::string& model_path,
                            const std::string& found_name, RunState& run) {
  platform::TextFile& log = host.Log();
  ModelJob job;
  job.model_path = model_path;
  job.found_name = found_name;
  job.work_path = model_path;
  job.work_dir = run.work_dir.empty() ? host.WorkDirectory() : run.work_dir;
  job.cob_debug = host.CobDebug();
  job.cancel = run.cancel;
  // On the host's thread a conversion keeps the window alive, and a stop ends it.
  if (run.cancel == nullptr) {
    job.poll = [&host] {
      host.ProcessMessages();
      return host.StopRequested();
    };
  }

  host.SetStatusText(1, "Processing " + found_name);
  host.ProcessMessages();
  job.model_name = ModelName(found_name, "rwx");

  // A FIFO, a device or a folder among the matches is named, never read: reading a FIFO waits
  // for a writer that may never come.
  std::unique_ptr<platform::InStream> stream =
      platform::OpenRegularInStream(model_path, false, kScriptBufferBytes);
  if (!stream && errno == EINVAL) {
    Fail(job, Reason::kNotRegularFile, "");
    platform::LogF(log, "Not a regular file: %s\n", model_path.c_str());
    CleanUp(host, job);
    return Failed(job);
  }
  if (!stream) {
    Fail(job, Reason::kCannotOpen, std::strerror(errno));
    platform::LogF(log, "Unable to open file %s\n", model_path.c_str());
    CleanUp(host, job);
    return Failed(job);
  }
  job.suffix = TypeSuffix(found_name);
  if (job.suffix == "zip") {
    stream = OpenZipEntry(host, run, job, std::move(stream));
  } else if (!host.ErrorsOnly()) {
    platform::LogF(log, "Processing file %s\n", model_path.c_str());
  }
  if (stream && job.suffix == "cob") stream = ConvertCobModel(host, job, std::move(stream));
  if (!stream) {  // the branch logged why
    CleanUp(host, job);
    return Failed(job);
  }

  rwx::MeasureInput input;
  input.model_path = job.model_path;
  input.work_path = job.work_path;
  // Names reach the registry as text of their own lines: a line feed in a file name must not
  // start a registry line of its own.
  input.model_name = platform::WithoutControls(job.model_name);
  input.found_name = platform::WithoutControls(job.found_name);
  input.format_path = run.format_path;
  input.template_text = run.template_text.get();
  input.colour_table = run.colour_table.get();
  input.registry = run.registry;
  input.log = &log;
  input.integer_mode = run.integer_mode;
  input.debug_trace = run.debug_trace;
  input.switches = &host;
  std::optional<rwx::GeometryCapture> for_thumbnail;
  input.geometry = run.geometry;
  if (input.geometry == nullptr && run.thumbnail_size > 0) input.geometry = &for_thumbnail.emplace();
  input.collect_images = run.textures != nullptr;
  const rwx::MeasureResult result = rwx::MeasureModelFile(std::move(stream), input, *run.workspace);
  CleanUp(host, job);
  ProcessedModel processed = FromTally(rwx::LastTally(*run.workspace), job);
  processed.result =
      result == rwx::MeasureResult::kAbort ? ModelResult::kAbort : ModelResult::kDone;
  processed.model_name = input.model_name;
  if (run.textures && processed.fate == Fate::kMeasured) NoteMissingTextures(log, job, run, processed);
  if (for_thumbnail && processed.fate == Fate::kMeasured) {
    processed.thumbnail = {input.model_name,
                           DrawThumbnail(*for_thumbnail, run.thumbnail_size, run.textures.get())};
  }
  return processed;
}

}  // namespace driver
