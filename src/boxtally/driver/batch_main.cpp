#include "boxtally/driver/batch_main.h"

#include "boxtally/driver/model_branches.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "platform/file_search.h"
#include "platform/paths.h"

namespace driver {

namespace {
RunOutcome Ended(RunEnd end, std::string about = {}) {
  RunOutcome outcome;
  outcome.result = (end == RunEnd::kCompleted || end == RunEnd::kStopped) ? 0 : 1;
  outcome.end = end;
  outcome.about = std::move(about);
  return outcome;
}

// The template is reopened for every model; a folder or a device would give no lines at all.
bool FormatFileReadable(const std::string& path) {
  return platform::IsRegularFile(path) &&
         platform::OpenInStream(path, /*text_mode=*/true) != nullptr;
}

// The registry stream of the run: the named file, or standard output with the bytes a registry
// file would get ("> reg.txt" equals "-oreg.txt").
struct Registry {
  platform::TextFilePtr file;
  std::string name = kStandardOutputName;
};

bool OpenRunRegistry(const RunOptions& options, platform::TextFile& log, Registry& registry) {
  if (!options.registry_named) {
    registry.file.reset(platform::WrapStream(stdout, /*crlf=*/true));
    return true;
  }
  registry.name = options.registry_name;
  registry.file = OpenRegistry(options, log);
  return registry.file != nullptr;
}

RunOutcome MeasureAll(RunHost& host, const std::vector<std::string>& found,
                      const std::string& prefix, RunState& run, const Registry& registry) {
  platform::TextFile& log = host.Log();
  for (std::size_t i = 0; i < found.size(); ++i) {
    host.ShowProgress(i, found.size(), found[i]);
    const ModelResult model = ProcessModel(host, prefix + found[i], found[i], run);
    // A registry that lost bytes would go on losing them, and a partial registry looks complete.
    if (!platform::FlushTextFile(*registry.file)) {
      platform::LogF(log, "Unable to write to output file %s\n", registry.name.c_str());
      return Ended(RunEnd::kRegistryWriteFailed, registry.name);
    }
    if (model == ModelResult::kAbort) return Ended(RunEnd::kMeasurementAbort);
    host.ShowProgress(i + 1, found.size(), found[i]);
    if (host.StopRequested() && i + 1 < found.size()) return Ended(RunEnd::kStopped);
  }
  return Ended(RunEnd::kCompleted);
}
}  // namespace

RunOutcome RunBatch(RunHost& host, const std::vector<std::string>& args) {
  platform::TextFile& log = host.Log();
  host.ClearStopRequest();
  if (args.size() < 3) return Ended(RunEnd::kMissingArguments);
  const std::string work_dir = host.WorkDirectory();
  if (work_dir.empty()) {
    platform::LogF(log, "Unable to make a private work folder\n");
    return Ended(RunEnd::kNoWorkFolder);
  }

  std::string pattern = args[1];
  const std::string& format_path = args[2];
  if (!FormatFileReadable(format_path)) {
    platform::LogF(log, "Unable to open format file %s\n", format_path.c_str());
    return Ended(RunEnd::kFormatUnreadable, format_path);
  }
  if (pattern.size() > kMaxModelPattern) {
    platform::LogF(log, "Model pattern longer than %zu characters: %.40s...\n", kMaxModelPattern,
                   pattern.c_str());
    return Ended(RunEnd::kPatternTooLong, pattern);
  }
  if (pattern.find('.') == std::string::npos) pattern += ".rwx";

  RunOptions options;
  if (ReadRunOptions(args, log, options) != OptionsResult::kOk) {
    return Ended(RunEnd::kRegistryTwice);
  }
  const std::vector<std::string> found = platform::FindFiles(pattern);
  if (found.empty()) return Ended(RunEnd::kNoMatch, pattern);
  Registry registry;
  if (!OpenRunRegistry(options, log, registry)) {
    return Ended(RunEnd::kRegistryUnopenable, registry.name);
  }

  RunState run;
  run.format_path = format_path;
  run.registry = registry.file.get();
  run.integer_mode = options.integer_mode;
  run.debug_trace = options.debug_trace;
  run.password = options.password;
  run.work_dir = work_dir;
  const std::string prefix = pattern.substr(0, platform::DirectoryPrefixLength(pattern));
  const RunOutcome outcome = MeasureAll(host, found, prefix, run, registry);
  if (outcome.result != 0) return outcome;
  platform::RemoveFile(work_dir + kUnzipWorkFile);
  host.SetStatusText(1, "Done!");
  return outcome;
}

int BatchMain(RunHost& host, const std::vector<std::string>& args) {
  return RunBatch(host, args).result;
}

}  // namespace driver
