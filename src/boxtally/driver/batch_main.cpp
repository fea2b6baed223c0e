#include "boxtally/driver/batch_main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

#include "boxtally/driver/model_branches.h"
#include "boxtally/driver/model_pool.h"
#include "boxtally/driver/model_source.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/rwx/workspace.h"
#include "boxtally/web/web_fetch.h"
#include "platform/file_search.h"
#include "platform/paths.h"

namespace driver {

namespace {
RunOutcome Ended(RunEnd end, std::string about = {}) {
  RunOutcome outcome;
  outcome.result = EndedEarly(end) ? 1 : 0;
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

// The registry of the run, held locked until the run ends; an ending when it cannot be opened.
std::optional<RunOutcome> OpenRunRegistry(const RunOptions& options, platform::TextFile& log,
                                          Registry& registry) {
  if (!options.registry_named) {
    registry.file.reset(platform::WrapStream(stdout, /*crlf=*/true));
    return std::nullopt;
  }
  registry.name = options.registry_name;
  bool locked = false;
  registry.file = OpenRegistry(options, log, &locked);
  if (registry.file != nullptr) return std::nullopt;
  return Ended(locked ? RunEnd::kRegistryLocked : RunEnd::kRegistryUnopenable, registry.name);
}

void Count(ModelFate fate, RunCounts& counts) {
  switch (fate) {
    case ModelFate::kMeasured:
      ++counts.measured;
      break;
    case ModelFate::kFailed:
      ++counts.failed;
      break;
    case ModelFate::kSkippedHuge:
      ++counts.skipped_huge;
      break;
    case ModelFate::kNoModel:
      ++counts.without_model;
      break;
  }
}

// After a model: counted, and an ending when the run cannot go on. A registry that lost bytes
// would go on losing them, and a partial registry looks complete.
std::optional<RunOutcome> AfterModel(RunHost& host, const ProcessedModel& model,
                                     const std::string& path, const Registry& registry,
                                     RunCounts& counts) {
  Count(model.fate, counts);
  if (ThumbnailSet* thumbnails = host.Thumbnails()) SaveThumbnail(*thumbnails, model.thumbnail);
  if (!platform::FlushTextFile(*registry.file)) {
    platform::LogF(host.Log(), "Unable to write to output file %s\n", registry.name.c_str());
    return Ended(RunEnd::kRegistryWriteFailed, registry.name);
  }
  if (model.result == ModelResult::kAbort) return Ended(RunEnd::kMeasurementAbort, path);
  return std::nullopt;
}

// One model through the pipeline, on this thread.
std::optional<RunOutcome> MeasureOne(RunHost& host, const std::string& path,
                                     const std::string& found_name, RunState& run,
                                     const Registry& registry, RunCounts& counts) {
  return AfterModel(host, ProcessModel(host, path, found_name, run), path, registry, counts);
}

RunOutcome MeasureAll(RunHost& host, const std::vector<std::string>& found,
                      const std::string& prefix, RunState& run, const Registry& registry,
                      RunCounts& counts) {
  for (std::size_t i = 0; i < found.size(); ++i) {
    host.ShowProgress(i, found.size(), found[i]);
    if (auto ending = MeasureOne(host, prefix + found[i], found[i], run, registry, counts)) {
      return *ending;
    }
    host.ShowProgress(i + 1, found.size(), found[i]);
    if (host.StopRequested() && i + 1 < found.size()) return Ended(RunEnd::kStopped);
  }
  return Ended(RunEnd::kCompleted);
}

// ---- Several models at once ------------------------------------------------------------------
// Workers measure models while this thread alone talks to the host: it finds the models, shows
// their progress, and commits each model's log and registry text in the order of the search, so
// the registry and the log read the same for any number of workers.

constexpr std::size_t kAheadPerWorker = 2;  // models handed out beyond the one committed next

void CommitText(platform::TextFile& log, const std::string& text) {
  if (text.empty()) return;
  platform::WriteText(log, text);
  platform::FlushTextFile(log);
}

// One finished model into the log, the registry and standard error. An ending when the run
// cannot go on after it.
std::optional<RunOutcome> Commit(RunHost& host, FinishedModel& model, const std::string& path,
                                 RunState& run, const Registry& registry, RunCounts& counts) {
  if (model.failure) std::rethrow_exception(model.failure);
  CommitText(host.Log(), LogToCommit(model, run.workspace->warned_template_lines));
  platform::WriteWhole(*registry.file, model.registry);
  if (!model.notes.empty()) std::fwrite(model.notes.data(), 1, model.notes.size(), stderr);
  return AfterModel(host, model.processed, path, registry, counts);
}

// Measures what `source` gives (after `first`, already found) on `jobs` workers. `total` is the
// number of models for the progress, 0 when not known.
RunOutcome MeasureInParallel(RunHost& host, ModelSource& source, std::optional<NextModel> first,
                             std::size_t total, RunState& run, const Registry& registry,
                             std::size_t jobs, RunCounts& counts) {
  ModelPool pool(run, jobs);
  if (!pool.Ready()) {
    platform::LogF(host.Log(), "Unable to make a private work folder\n");
    return Ended(RunEnd::kNoWorkFolder);
  }
  struct Waiting {
    std::string log;  // what finding the model wrote, committed before it
    bool model = false;
    std::string found_name;
    std::string path;
  };
  std::deque<Waiting> waiting;
  bool source_done = false;
  bool source_stopped = false;
  auto hand_out = [&](NextModel next) {
    if (next.kind != NextModel::Kind::kModel) {
      source_done = true;
      source_stopped = next.kind == NextModel::Kind::kStopped;
      waiting.push_back({std::move(next.log), false, {}, {}});
      return;
    }
    waiting.push_back({std::move(next.log), true, next.model.found_name, next.model.path});
    pool.Submit(
        {std::move(next.model.path), std::move(next.model.found_name), TakeSwitchSnapshot(host)});
  };
  auto fill = [&] {
    // A stop request ends the finding: the models handed out so far are committed or dropped.
    while (!source_done && pool.Pending() < pool.Workers() * kAheadPerWorker &&
           !host.StopRequested()) {
      hand_out(source.Next());
    }
  };
  if (first) hand_out(std::move(*first));
  fill();
  std::size_t done = 0;
  while (!waiting.empty()) {
    Waiting next = std::move(waiting.front());
    waiting.pop_front();
    CommitText(host.Log(), next.log);
    if (!next.model) continue;
    host.ShowProgress(done, total, next.found_name);
    host.SetStatusText(1, "Processing " + next.found_name);
    host.ProcessMessages();
    FinishedModel model = pool.TakeOldest([&host, &source] {
      host.ProcessMessagesWhileWaiting();
      source.Pump();
    });
    if (auto ending = Commit(host, model, next.path, run, registry, counts)) return *ending;
    host.ShowProgress(++done, total, next.found_name);
    if (host.StopRequested()) {
      const bool more = !source_done || std::any_of(waiting.begin(), waiting.end(),
                                                    [](const Waiting& w) { return w.model; });
      pool.DiscardPending();
      return Ended(more ? RunEnd::kStopped : RunEnd::kCompleted);
    }
    fill();
  }
  return Ended(source_stopped ? RunEnd::kStopped : RunEnd::kCompleted);
}

// Web mode with several downloads at once: every model, the first too, comes through the
// download pool, and is measured on the workers.
RunOutcome RunWebDownloads(RunHost& host, const RunOptions& options, RunState& run,
                           web::WebHost& web, const std::string& list_file, RunCounts& counts) {
  DownloadSource source(web, web.Downloads(), [&host] { host.ProcessMessagesWhileWaiting(); });
  NextModel first = source.Next();
  CommitText(host.Log(), std::exchange(first.log, std::string()));
  if (first.kind == NextModel::Kind::kStopped) return Ended(RunEnd::kStopped);
  if (first.kind == NextModel::Kind::kEnd) return Ended(RunEnd::kNoWebModel, list_file);
  Registry registry;
  if (auto ending = OpenRunRegistry(options, host.Log(), registry)) return *ending;
  run.registry = registry.file.get();
  return MeasureInParallel(host, source, std::move(first), 0, run, registry, host.Jobs(), counts);
}

// Web mode: the first model is fetched before the registry is opened, so a list that yields
// nothing (a wrong URL, say) leaves an existing registry alone. The list is closed on every
// ending.
RunOutcome RunWeb(RunHost& host, const RunOptions& options, RunState& run, RunCounts& counts) {
  platform::TextFile& log = host.Log();
  web::WebHost* web = host.WebFetch();
  if (web == nullptr) return Ended(RunEnd::kListUnopenable);
  const std::string list_file = web->Controls().list_file;
  if (!web::OpenListFile(*web)) return Ended(RunEnd::kListUnopenable, list_file);
  struct ListCloser {
    web::WebHost& web;
    ~ListCloser() { web::CloseListFile(web); }
  } closer{*web};

  if (web->Downloads() > 1) return RunWebDownloads(host, options, run, *web, list_file, counts);
  FoundModel model;
  web::NextResult next = NextFoundWebModel(*web, log, model);
  if (next == web::NextResult::kStopped) return Ended(RunEnd::kStopped);
  if (next == web::NextResult::kListEnd) return Ended(RunEnd::kNoWebModel, list_file);
  Registry registry;
  if (auto ending = OpenRunRegistry(options, log, registry)) return *ending;
  run.registry = registry.file.get();
  if (host.Jobs() > 1) {
    WebSource source(*web);
    NextModel first;
    first.kind = NextModel::Kind::kModel;
    first.model = model;
    return MeasureInParallel(host, source, std::move(first), 0, run, registry, host.Jobs(), counts);
  }
  for (std::size_t done = 0;; ++done) {
    host.ShowProgress(done, 0, model.found_name);
    if (auto ending = MeasureOne(host, model.path, model.found_name, run, registry, counts)) {
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
                    RunState& run, RunCounts& counts) {
  const std::vector<std::string> found = platform::FindFiles(pattern);
  if (found.empty()) return Ended(RunEnd::kNoMatch, pattern);
  counts.found = found.size();
  Registry registry;
  if (auto ending = OpenRunRegistry(options, host.Log(), registry)) return *ending;
  run.registry = registry.file.get();
  const std::string prefix = pattern.substr(0, platform::DirectoryPrefixLength(pattern));
  const std::size_t jobs = std::min(host.Jobs(), found.size());
  if (jobs <= 1) return MeasureAll(host, found, prefix, run, registry, counts);
  FileSource source(found, prefix);
  return MeasureInParallel(host, source, std::nullopt, found.size(), run, registry, jobs, counts);
}

RunOutcome RunCounted(RunHost& host, const std::vector<std::string>& args, RunCounts& counts) {
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
  if (const ThumbnailSet* thumbnails = host.Thumbnails()) run.thumbnail_size = thumbnails->size;
  const RunOutcome outcome = host.GetFromWeb() ? RunWeb(host, options, run, counts)
                                               : RunFiles(host, pattern, options, run, counts);
  if (outcome.result != 0) return outcome;
  platform::RemoveFile(work_dir + kUnzipWorkFile);
  host.SetStatusText(1, "Done!");
  return outcome;
}

}  // namespace

RunOutcome RunBatch(RunHost& host, const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  RunCounts counts;
  RunOutcome outcome = RunCounted(host, args, counts);
  outcome.counts = counts;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

std::size_t DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

int BatchMain(RunHost& host, const std::vector<std::string>& args) {
  return RunBatch(host, args).result;
}

}  // namespace driver
