#include "boxtally/driver/batch_main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "boxtally/driver/format_check.h"
#include "boxtally/driver/model_branches.h"
#include "boxtally/driver/model_pool.h"
#include "boxtally/driver/model_source.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/registry_output.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/driver/run_results.h"
#include "boxtally/driver/run_textures.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/rwx/registry_writer.h"
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

// What a run keeps while it goes: the host, the models' shared state, the registry, and one
// result per model met so far, in the order of the registry.
struct Run {
  RunHost& host;
  RunState state;
  RegistryOutput registry;
  std::vector<ModelOutcome> results;
  std::size_t total = 0;  // models (web: list entries) the run is known to meet; 0: not known
  // Web mode: the records of the list's downloads, held to the end of the run so they are saved
  // (or left as they were) when the registry is.
  std::shared_ptr<web::ValidatorStore> records;
  std::shared_ptr<textures::TextureLibrary> textures;  // where the models' textures are, if known
};

// The registry of the run, held locked until the run ends; an ending when it cannot be opened.
std::optional<RunOutcome> OpenRunRegistry(const RunOptions& options, Run& run) {
  switch (OpenRegistryOutput(options, run.host.Log(), run.registry)) {
    case RegistryOpen::kOk:
      run.state.registry = run.registry.file.get();
      return std::nullopt;
    case RegistryOpen::kLocked:
      return Ended(RunEnd::kRegistryLocked, run.registry.name);
    case RegistryOpen::kReadOnly:
      return Ended(RunEnd::kRegistryReadOnly, run.registry.name);
    case RegistryOpen::kUnopenable:
      break;
  }
  RunOutcome ending = Ended(RunEnd::kRegistryUnopenable, run.registry.name);
  ending.why = run.registry.why;
  return ending;
}

// ---- Results -----------------------------------------------------------------------------------

// Where the log file ends now, to find a model's own lines in it later; nullopt when the log is
// no regular file.
std::optional<std::uint64_t> LogEnd(RunHost& host) { return platform::EndOffset(host.Log()); }

void Record(Run& run, ModelOutcome outcome, std::optional<std::uint64_t> log_before) {
  if (const std::optional<std::uint64_t> after = LogEnd(run.host); after && log_before) {
    outcome.log_offset = *log_before;
    outcome.log_length = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(*after - std::min(*after, *log_before), UINT32_MAX));
  }
  run.host.ModelCommitted(outcome);
  run.results.push_back(std::move(outcome));
}

// The entries that gave no model, each after its own log lines.
void CommitEnded(Run& run, std::vector<EndedEntry>& ended) {
  for (EndedEntry& e : ended) {
    const std::optional<std::uint64_t> before = LogEnd(run.host);
    if (!e.log.empty()) platform::WriteWhole(run.host.Log(), e.log);
    Record(run, FromEntryEnd(e.end), before);
  }
  ended.clear();
}

// The models a stop or an early ending left: `names` are registry names (files) or list
// entries (web), `sources` their paths or URLs where known.
void RecordNotReached(Run& run, RunEnd end, const std::vector<std::string>& names,
                      const std::vector<std::string>& sources = {}) {
  const Reason reason = end == RunEnd::kStopped ? Reason::kRunStopped : Reason::kRunEndedEarly;
  for (std::size_t i = 0; i < names.size(); ++i) {
    ModelOutcome o;
    o.name = platform::WithoutControls(names[i]);
    if (i < sources.size()) o.source = platform::WithoutControls(sources[i]);
    o.fate = Fate::kNotReached;
    o.reason = reason;
    run.host.ModelCommitted(o);
    run.results.push_back(std::move(o));
  }
}

// ---- One model after another ------------------------------------------------------------------

// After a model: an ending when the run cannot go on. A registry that lost bytes would go on
// losing them, and a partial registry looks complete.
std::optional<RunOutcome> AfterModel(Run& run, const ProcessedModel& model,
                                     const std::string& path) {
  if (!platform::FlushAt(*run.registry.file, platform::FlushPoint::kFileEnd)) {
    platform::LogF(run.host.Log(), "Unable to write to output file %s\n",
                   run.registry.name.c_str());
    return Ended(RunEnd::kRegistryWriteFailed, run.registry.name);
  }
  if (ThumbnailSet* thumbnails = run.host.Thumbnails()) SaveThumbnail(*thumbnails, model.thumbnail);
  if (model.result == ModelResult::kAbort) return Ended(RunEnd::kMeasurementAbort, path);
  return std::nullopt;
}

// One model through the pipeline, on this thread.
std::optional<RunOutcome> MeasureOne(Run& run, const FoundModel& found) {
  const std::optional<std::uint64_t> before = LogEnd(run.host);
  const ProcessedModel processed = ProcessModel(run.host, found.path, found.found_name, run.state);
  std::optional<RunOutcome> ending = AfterModel(run, processed, found.path);
  ModelOutcome outcome = FromProcessed(processed, found);
  if (ending && ending->end == RunEnd::kRegistryWriteFailed && outcome.fate == Fate::kMeasured) {
    outcome.fate = Fate::kFailed;  // its lines did not all reach the registry
    outcome.reason = Reason::kRegistryNotWritten;
  }
  Record(run, std::move(outcome), before);
  return ending;
}

std::vector<std::string> RegistryNames(const std::vector<std::string>& found, std::size_t from) {
  std::vector<std::string> names;
  for (std::size_t i = from; i < found.size(); ++i) names.push_back(ModelName(found[i], "rwx"));
  return names;
}

std::vector<std::string> Paths(const std::vector<std::string>& found, std::size_t from,
                               const std::string& prefix) {
  std::vector<std::string> paths;
  for (std::size_t i = from; i < found.size(); ++i) paths.push_back(prefix + found[i]);
  return paths;
}

RunOutcome MeasureAll(Run& run, const std::vector<std::string>& found, const std::string& prefix) {
  RunHost& host = run.host;
  for (std::size_t i = 0; i < found.size(); ++i) {
    host.ShowProgress(i, found.size(), found[i]);
    const FoundModel model{prefix + found[i], found[i], {}, {}};
    if (auto ending = MeasureOne(run, model)) {
      RecordNotReached(run, ending->end, RegistryNames(found, i + 1), Paths(found, i + 1, prefix));
      return *ending;
    }
    host.ShowProgress(i + 1, found.size(), found[i]);
    if (host.StopRequested() && i + 1 < found.size()) {
      RecordNotReached(run, RunEnd::kStopped, RegistryNames(found, i + 1),
                       Paths(found, i + 1, prefix));
      return Ended(RunEnd::kStopped);
    }
  }
  return Ended(RunEnd::kCompleted);
}

// ---- Several models at once ------------------------------------------------------------------
// Workers measure models while this thread alone talks to the host: it finds the models, shows
// their progress, and commits each model's log and registry text in the order of the search, so
// the registry and the log read the same for any number of workers.

constexpr std::size_t kAheadPerWorker = 2;  // models handed out beyond the one committed next

// With one write: another run appending to the same log never splits a line of ours, and a
// write that fails midway is cut back to the last whole line.
void CommitText(platform::TextFile& log, const std::string& text) {
  if (!text.empty()) platform::WriteWhole(log, text);
}

// One finished model into the log, the registry and standard error. An ending when the run
// cannot go on after it.
std::optional<RunOutcome> Commit(Run& run, FinishedModel& model, const FoundModel& found) {
  if (model.failure) std::rethrow_exception(model.failure);
  if (model.handed_back) return MeasureOne(run, found);
  const std::optional<std::uint64_t> before = LogEnd(run.host);
  CommitText(run.host.Log(), LogToCommit(model, run.state.workspace->warned_template_lines));
  platform::WriteWhole(*run.registry.file, model.registry);
  if (!model.notes.empty()) std::fwrite(model.notes.data(), 1, model.notes.size(), stderr);
  std::optional<RunOutcome> ending = AfterModel(run, model.processed, found.path);
  ModelOutcome outcome = FromProcessed(model.processed, found);
  if (ending && ending->end == RunEnd::kRegistryWriteFailed && outcome.fate == Fate::kMeasured) {
    outcome.fate = Fate::kFailed;
    outcome.reason = Reason::kRegistryNotWritten;
  }
  Record(run, std::move(outcome), before);
  return ending;
}

// What the finding thread handed out, waiting to be committed in order.
struct Waiting {
  std::vector<EndedEntry> ended;  // entries that gave no model before it
  std::string log;                // what finding the model wrote, committed before it
  bool model = false;
  FoundModel found;
};

// What was handed out but not committed, in order (entries that gave no model as they are,
// without their log lines, which a stop drops; models as not reached), then what the source
// still holds.
void RecordLeftOver(Run& run, RunEnd end, std::deque<Waiting>& waiting,
                    const std::function<std::vector<std::string>()>& rest_of_source) {
  for (const Waiting& w : waiting) {
    for (const EndedEntry& e : w.ended) Record(run, FromEntryEnd(e.end), std::nullopt);
    if (!w.model) continue;
    const bool web = !w.found.url.empty();
    RecordNotReached(run, end, {web ? w.found.entry_name : ModelName(w.found.found_name, "rwx")},
                     {web ? w.found.url : w.found.path});
  }
  RecordNotReached(run, end, rest_of_source());
}

// Measures what `source` gives (after `first`, already found) on `jobs` workers. `rest` tells
// which models the source would still have given, when the run ends before them.
RunOutcome MeasureInParallel(Run& run, ModelSource& source, std::optional<NextModel> first,
                             std::size_t jobs,
                             const std::function<std::vector<std::string>()>& rest) {
  RunHost& host = run.host;
  ModelPool pool(run.state, jobs);
  if (!pool.Ready()) {
    platform::LogF(host.Log(), "Unable to make a private work folder\n");
    return Ended(RunEnd::kNoWorkFolder);
  }
  std::deque<Waiting> waiting;
  bool source_done = false;
  bool source_stopped = false;
  auto hand_out = [&](NextModel next) {
    if (next.kind != NextModel::Kind::kModel) {
      source_done = true;
      source_stopped = next.kind == NextModel::Kind::kStopped;
      waiting.push_back({std::move(next.ended), std::move(next.log), false, {}});
      return;
    }
    waiting.push_back({std::move(next.ended), std::move(next.log), true, next.model});
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
  auto left_over = [&](RunEnd end) {
    pool.DiscardPending();
    // The models still running need no texture the network has not given yet.
    if (run.textures) run.textures->Abandon();
    RecordLeftOver(run, end, waiting,
                   [&] { return source_done ? std::vector<std::string>() : rest(); });
  };
  if (first) hand_out(std::move(*first));
  fill();
  std::size_t done = 0;
  while (!waiting.empty()) {
    Waiting next = std::move(waiting.front());
    waiting.pop_front();
    CommitEnded(run, next.ended);
    CommitText(host.Log(), next.log);
    if (!next.model) continue;
    host.ShowProgress(done, run.total, next.found.found_name);
    host.SetStatusText(1, "Processing " + next.found.found_name);
    host.ProcessMessages();
    FinishedModel model = pool.TakeOldest([&host, &source, &pool] {
      host.ProcessMessagesWhileWaiting();
      source.Pump();
      if (host.StopRequested()) pool.CancelConversions();
    });
    if (auto ending = Commit(run, model, next.found)) {
      left_over(ending->end);
      return *ending;
    }
    host.ShowProgress(++done, run.total, next.found.found_name);
    if (host.StopRequested()) {
      const bool more = !source_done || std::any_of(waiting.begin(), waiting.end(),
                                                    [](const Waiting& w) { return w.model; });
      left_over(RunEnd::kStopped);
      return Ended(more ? RunEnd::kStopped : RunEnd::kCompleted);
    }
    fill();
  }
  // A stop before the source ran out, its first model too: fill() handed nothing more out.
  if (source_stopped || !source_done) {
    RecordNotReached(run, RunEnd::kStopped, source_done ? std::vector<std::string>() : rest());
    return Ended(RunEnd::kStopped);
  }
  return Ended(RunEnd::kCompleted);
}

// ---- Web mode --------------------------------------------------------------------------------

// Web mode with several downloads at once: every model, the first too, comes through the
// download pool, and is measured on the workers.
RunOutcome RunWebDownloads(Run& run, const RunOptions& options, web::WebHost& web,
                           const std::string& list_file) {
  RunHost& host = run.host;
  DownloadSource source(web, web.Downloads(), [&host] { host.ProcessMessagesWhileWaiting(); });
  auto rest = [&source] { return source.RemainingEntries(); };
  NextModel first = source.Next();
  CommitEnded(run, first.ended);
  CommitText(host.Log(), std::exchange(first.log, std::string()));
  if (first.kind == NextModel::Kind::kStopped) {
    RecordNotReached(run, RunEnd::kStopped, rest());
    return Ended(RunEnd::kStopped);
  }
  if (first.kind == NextModel::Kind::kEnd) return Ended(RunEnd::kNoWebModel, list_file);
  if (auto ending = OpenRunRegistry(options, run)) {
    RecordNotReached(run, ending->end, {first.model.entry_name}, {first.model.url});
    RecordNotReached(run, ending->end, rest());
    return *ending;
  }
  return MeasureInParallel(run, source, std::move(first), host.Jobs(), rest);
}

// Web mode, one download at a time: the first model is fetched before the registry is opened,
// so a list that yields nothing (a wrong URL, say) leaves an existing registry alone.
RunOutcome RunWebOneByOne(Run& run, const RunOptions& options, web::WebHost& web,
                          const std::string& list_file) {
  RunHost& host = run.host;
  WebSource source(web);
  auto rest = [&source] { return source.RemainingEntries(); };
  NextModel next = source.Next();
  CommitEnded(run, next.ended);
  CommitText(host.Log(), std::exchange(next.log, std::string()));
  if (next.kind == NextModel::Kind::kStopped) {
    RecordNotReached(run, RunEnd::kStopped, rest());
    return Ended(RunEnd::kStopped);
  }
  if (next.kind == NextModel::Kind::kEnd) return Ended(RunEnd::kNoWebModel, list_file);
  if (auto ending = OpenRunRegistry(options, run)) {
    RecordNotReached(run, ending->end, {next.model.entry_name}, {next.model.url});
    RecordNotReached(run, ending->end, rest());
    return *ending;
  }
  if (host.Jobs() > 1) return MeasureInParallel(run, source, std::move(next), host.Jobs(), rest);
  for (std::size_t done = 0;; ++done) {
    host.ShowProgress(done, run.total, next.model.found_name);
    if (auto ending = MeasureOne(run, next.model)) {
      RecordNotReached(run, ending->end, rest());
      return *ending;
    }
    host.ShowProgress(done + 1, run.total, next.model.found_name);
    // Checked before the next fetch: a stop during a download ends the run after that model.
    if (host.StopRequested()) {
      RecordNotReached(run, RunEnd::kStopped, rest());
      return Ended(RunEnd::kStopped);
    }
    next = source.Next();
    CommitEnded(run, next.ended);
    CommitText(host.Log(), next.log);
    if (next.kind == NextModel::Kind::kStopped) {
      RecordNotReached(run, RunEnd::kStopped, rest());
      return Ended(RunEnd::kStopped);
    }
    if (next.kind == NextModel::Kind::kEnd) return Ended(RunEnd::kCompleted);
  }
}

// The list is closed on every ending.
RunOutcome RunWeb(Run& run, const RunOptions& options) {
  web::WebHost* web = run.host.WebFetch();
  if (web == nullptr) return Ended(RunEnd::kListUnopenable);
  const std::string list_file = web->Controls().list_file;
  if (!web::OpenListFile(*web)) return Ended(RunEnd::kListUnopenable, list_file);
  run.records = web->List().validators;
  struct ListCloser {
    web::WebHost& web;
    ~ListCloser() { web::CloseListFile(web); }
  } closer{*web};
  run.total = web::CountListEntries(*web);
  run.host.ShowProgress(0, run.total, std::string());  // "0 / 50" before the first download
  if (web->Downloads() > 1) return RunWebDownloads(run, options, *web, list_file);
  return RunWebOneByOne(run, options, *web, list_file);
}

// ---- File mode -------------------------------------------------------------------------------

// Two files whose names differ only in letter case (Tree.zip, tree.zip) give registry lines of one
// model name, which may well hold different boxes: said once per pair before the run. The
// search's order puts such names side by side.
void WarnOfNamesAlikeButForCase(platform::TextFile& log, const std::vector<std::string>& found) {
  for (std::size_t i = 1; i < found.size(); ++i) {
    const std::string name = ModelName(found[i], "rwx");
    if (ModelName(found[i - 1], "rwx") != name ||
        TypeSuffix(found[i - 1]) != TypeSuffix(found[i])) {
      continue;
    }
    platform::LogF(log, "Warning: %s and %s differ only in letter case; both give the model %s\n",
                   found[i - 1].c_str(), found[i].c_str(), name.c_str());
  }
}

RunOutcome RunFiles(Run& run, const std::string& pattern, const RunOptions& options) {
  const std::vector<std::string> found = platform::FindMatches(pattern);
  if (found.empty()) return Ended(RunEnd::kNoMatch, pattern);
  WarnOfNamesAlikeButForCase(run.host.Log(), found);
  run.total = found.size();
  const std::string prefix = pattern.substr(0, platform::DirectoryPrefixLength(pattern));
  if (auto ending = OpenRunRegistry(options, run)) {
    RecordNotReached(run, ending->end, RegistryNames(found, 0), Paths(found, 0, prefix));
    return *ending;
  }
  const std::size_t jobs = std::min(run.host.Jobs(), found.size());
  if (jobs <= 1) return MeasureAll(run, found, prefix);
  FileSource source(found, prefix);
  auto rest = [&] { return RegistryNames(found, source.Given()); };
  return MeasureInParallel(run, source, std::nullopt, jobs, rest);
}

// ---- The run ---------------------------------------------------------------------------------

// Only a completed run replaces the registry; when even that fails, no model's lines reached it.
// A stop that comes while the new file goes to the disk still ends the run as stopped.
void EndRegistry(Run& run, RunOutcome& outcome) {
  if (outcome.end != RunEnd::kCompleted) {
    AbandonRegistry(run.registry);
    return;
  }
  RunHost& host = run.host;
  switch (CommitRegistry(run.registry, host.Log(), [&host] { return host.StopRequested(); })) {
    case RegistryCommit::kCommitted:
      return;
    case RegistryCommit::kStopped:
      outcome = Ended(RunEnd::kStopped);
      return;
    case RegistryCommit::kFailed:
      break;
  }
  outcome = Ended(RunEnd::kRegistryWriteFailed, run.registry.name);
  for (ModelOutcome& o : run.results) {
    if (o.fate != Fate::kMeasured) continue;
    o.fate = Fate::kFailed;
    o.reason = Reason::kRegistryNotWritten;
  }
}

// The pictures and the web records take their names when the registry does: when the run
// completes.
void EndOtherResults(Run& run, const RunOutcome& outcome) {
  const bool completed = outcome.end == RunEnd::kCompleted;
  if (ThumbnailSet* thumbnails = run.host.Thumbnails()) {
    if (completed) {
      CommitThumbnails(*thumbnails);
    } else {
      AbandonThumbnails(*thumbnails);
    }
  }
  if (run.records && !completed) web::KeepValidatorFileAsItIs(*run.records);
  run.records.reset();  // the last owner: saved now, unless kept as it is
}

RunOutcome RunChecked(Run& run, const std::vector<std::string>& args) {
  RunHost& host = run.host;
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
  std::optional<std::string> template_text = ReadTemplate(format_path);
  if (!template_text) {
    platform::LogF(log, "Unable to open format file %s\n", format_path.c_str());
    return Ended(RunEnd::kFormatUnreadable, format_path);
  }
  if (!GivesRegistryLines(*template_text)) {
    platform::LogF(log, "Format file %s gives no registry line: it has no complete line\n",
                   format_path.c_str());
    return Ended(RunEnd::kFormatWithoutLines, format_path);
  }
  if (const std::optional<std::string> doubt = TemplateDoubt(*template_text)) {
    platform::LogF(log, "Warning: the format file %s %s\n", format_path.c_str(), doubt->c_str());
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
  RunState& state = run.state;
  state.format_path = format_path;
  if (template_text->find("<ftcolor") != std::string::npos) {
    state.colour_table =
        std::make_shared<const std::optional<std::string>>(rwx::ReadColourTable());
  }
  state.template_text = std::make_shared<const std::string>(std::move(*template_text));
  state.integer_mode = options.integer_mode;
  state.debug_trace = options.debug_trace;
  state.password = options.password;
  state.work_dir = work_dir;
  if (const ThumbnailSet* thumbnails = host.Thumbnails()) state.thumbnail_size = thumbnails->size;
  run.textures = OpenRunTextures(host, pattern, state);
  state.textures = run.textures;
  RunOutcome outcome = host.GetFromWeb() ? RunWeb(run, options) : RunFiles(run, pattern, options);
  // A stop after the last model, or in the run's first moments, stops the run as any other does.
  if (outcome.end == RunEnd::kCompleted && host.StopRequested()) outcome = Ended(RunEnd::kStopped);
  if (outcome.end == RunEnd::kCompleted) {
    std::string cause = CommonOutsideCause(run.results, host.ProgramDirectory() + kConverterName);
    if (!cause.empty()) outcome = Ended(RunEnd::kNothingCouldBeMeasured, std::move(cause));
  }
  EndRegistry(run, outcome);
  EndOtherResults(run, outcome);
  outcome.registry_unchanged =
      (run.registry.begun || (options.registry_named && outcome.end == RunEnd::kStopped)) &&
      !run.registry.replaced;
  if (outcome.result != 0) return outcome;
  platform::RemoveFile(work_dir + kUnzipWorkFile);
  host.SetStatusText(1, "Done!");
  return outcome;
}

}  // namespace

RunOutcome RunBatch(RunHost& host, const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  Run run{host, RunState{}, RegistryOutput{}, {}, 0, nullptr, nullptr};
  RunOutcome outcome = RunChecked(run, args);
  outcome.textures = run.state.textures;
  outcome.counts = CountsOf(run.results, run.total);
  outcome.results = std::move(run.results);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

std::size_t DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

int BatchMain(RunHost& host, const std::vector<std::string>& args) {
  return RunBatch(host, args).result;
}

}  // namespace driver
