#include "boxtally/driver/batch_main.h"

#include <optional>

#include "boxtally/driver/model_branches.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/web/web_fetch.h"
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

// One model through the pipeline. An ending when the run cannot go on after it.
std::optional<RunOutcome> MeasureOne(RunHost& host, const std::string& path,
                                     const std::string& found_name, RunState& run,
                                     const Registry& registry) {
  const ModelResult model = ProcessModel(host, path, found_name, run);
  // A registry that lost bytes would go on losing them, and a partial registry looks complete.
  if (!platform::FlushTextFile(*registry.file)) {
    platform::LogF(host.Log(), "Unable to write to output file %s\n", registry.name.c_str());
    return Ended(RunEnd::kRegistryWriteFailed, registry.name);
  }
  if (model == ModelResult::kAbort) return Ended(RunEnd::kMeasurementAbort);
  return std::nullopt;
}

RunOutcome MeasureAll(RunHost& host, const std::vector<std::string>& found,
                      const std::string& prefix, RunState& run, const Registry& registry) {
  for (std::size_t i = 0; i < found.size(); ++i) {
    host.ShowProgress(i, found.size(), found[i]);
    if (auto ending = MeasureOne(host, prefix + found[i], found[i], run, registry)) return *ending;
    host.ShowProgress(i + 1, found.size(), found[i]);
    if (host.StopRequested() && i + 1 < found.size()) return Ended(RunEnd::kStopped);
  }
  return Ended(RunEnd::kCompleted);
}

struct WebModel {
  std::string path;        // the local path, as the search found it
  std::string found_name;  // its last component
};

// The next model of the list that the search finds. The search only confirms the file: a path
// of the web fetch names one file, dot-files included.
web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, WebModel& model) {
  for (;;) {
    std::string path;
    const web::NextResult next = web::NextWebModel(web, path);
    if (next != web::NextResult::kModel) return next;
    const std::vector<std::string> found = platform::FindFiles(path);
    if (found.empty()) {
      platform::LogF(log, "Unable to open file %s\n", path.c_str());
      continue;
    }
    model.found_name = found.front();
    model.path = path.substr(0, platform::DirectoryPrefixLength(path)) + model.found_name;
    return next;
  }
}

// Web mode: the first model is fetched before the registry is opened, so a list that yields
// nothing (a wrong URL, say) leaves an existing registry alone. The list is closed on every
// ending.
RunOutcome RunWeb(RunHost& host, const RunOptions& options, RunState& run) {
  platform::TextFile& log = host.Log();
  web::WebHost* web = host.WebFetch();
  if (web == nullptr) return Ended(RunEnd::kListUnopenable);
  const std::string list_file = web->Controls().list_file;
  if (!web::OpenListFile(*web)) return Ended(RunEnd::kListUnopenable, list_file);
  struct ListCloser {
    web::WebHost& web;
    ~ListCloser() { web::CloseListFile(web); }
  } closer{*web};

  WebModel model;
  web::NextResult next = NextFoundWebModel(*web, log, model);
  if (next == web::NextResult::kStopped) return Ended(RunEnd::kStopped);
  if (next == web::NextResult::kListEnd) return Ended(RunEnd::kNoWebModel, list_file);
  Registry registry;
  if (!OpenRunRegistry(options, log, registry)) {
    return Ended(RunEnd::kRegistryUnopenable, registry.name);
  }
  run.registry = registry.file.get();
  for (std::size_t done = 0;; ++done) {
    host.ShowProgress(done, 0, model.found_name);
    if (auto ending = MeasureOne(host, model.path, model.found_name, run, registry)) {
      return *ending;
    }
    host.ShowProgress(done + 1, 0, model.found_name);
    // Checked before the next fetch: a stop during a download ends the run after that model.
    if (host.StopRequested()) return Ended(RunEnd::kStopped);
    next = NextFoundWebModel(*web, log, model);
    if (next == web::NextResult::kStopped) return Ended(RunEnd::kStopped);
    if (next == web::NextResult::kListEnd) return Ended(RunEnd::kCompleted);
  }
}

RunOutcome RunFiles(RunHost& host, const std::string& pattern, const RunOptions& options,
                    RunState& run) {
  const std::vector<std::string> found = platform::FindFiles(pattern);
  if (found.empty()) return Ended(RunEnd::kNoMatch, pattern);
  Registry registry;
  if (!OpenRunRegistry(options, host.Log(), registry)) {
    return Ended(RunEnd::kRegistryUnopenable, registry.name);
  }
  run.registry = registry.file.get();
  const std::string prefix = pattern.substr(0, platform::DirectoryPrefixLength(pattern));
  return MeasureAll(host, found, prefix, run, registry);
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
  RunState run;
  run.format_path = format_path;
  run.integer_mode = options.integer_mode;
  run.debug_trace = options.debug_trace;
  run.password = options.password;
  run.work_dir = work_dir;
  const RunOutcome outcome =
      host.GetFromWeb() ? RunWeb(host, options, run) : RunFiles(host, pattern, options, run);
  if (outcome.result != 0) return outcome;
  platform::RemoveFile(work_dir + kUnzipWorkFile);
  host.SetStatusText(1, "Done!");
  return outcome;
}

int BatchMain(RunHost& host, const std::vector<std::string>& args) {
  return RunBatch(host, args).result;
}

}  // namespace driver
