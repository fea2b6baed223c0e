#include "boxtally/driver/model_pool.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "boxtally/archive/zip_first_name.h"
#include "platform/paths.h"

namespace driver {

namespace {
constexpr std::chrono::milliseconds kPumpInterval(20);

// The host as a worker sees it: the switches of its snapshot, its own work folder, the log in
// memory, and no window to talk to.
class WorkerHost : public RunHost {
 public:
  WorkerHost(const SwitchSnapshot& switches, const std::string& work_dir, platform::TextFile& log)
      : switches_(switches), work_dir_(work_dir), log_(log) {}

  platform::TextFile& Log() override { return log_; }
  bool ErrorsOnly() const override { return switches_.errors_only; }
  bool CobDebug() const override { return switches_.cob_debug; }
  bool SkipHugeObjects() const override { return switches_.skip_huge; }
  bool HandleFacers() const override { return switches_.handle_facers; }
  bool NonCentered() const override { return switches_.non_centered; }
  bool OverSized() const override { return switches_.over_sized; }
  bool StopRequested() const override { return false; }
  void ClearStopRequest() override {}
  std::string ProgramDirectory() const override { return switches_.program_dir; }
  std::string WorkDirectory() const override { return work_dir_; }
  int ConverterTimeLimitSeconds() const override { return switches_.converter_time_limit; }
  std::uint64_t MaxEntryBytes() const override { return switches_.max_entry_bytes; }
  void SetStatusText(int, const std::string&) override {}
  void ProcessMessages() override {}

 private:
  const SwitchSnapshot& switches_;
  std::string work_dir_;
  platform::TextFile& log_;
};

// Whether the model's text, as far as its file tells without reading it, passes
// kMaxWorkerModelBytes.
bool TooBigForAWorker(const std::string& path) {
  std::FILE* f = platform::OpenRegularFile(path);
  if (f == nullptr) return false;  // the pipeline says why
  struct stat st {};
  std::uint64_t size = fstat(fileno(f), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  if (const std::optional<std::uint64_t> entry = archive::FirstEntrySize(f)) {
    size = std::max(size, *entry);
  }
  std::fclose(f);
  return size > kMaxWorkerModelBytes;
}

// Standard error as the extraction writes it, caught in memory for one model.
struct NotesCapture {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  ~NotesCapture() {
    if (file != nullptr) std::fclose(file);
    std::free(data);
  }
  std::string Take() {
    if (file == nullptr) return {};
    std::fflush(file);
    return std::string(data, size);
  }
};
}  // namespace

struct ModelPool::Worker {
  RunState run;
};

std::string LogToCommit(const FinishedModel& model, std::vector<std::string>& warned) {
  if (model.once_notices.empty()) return model.log;
  std::string kept;
  std::size_t from = 0;
  for (const rwx::OnceNotice& notice : model.once_notices) {
    if (rwx::RememberWarnedLine(warned, notice.key)) continue;
    kept.append(model.log, from, notice.offset - from);
    from = notice.offset + notice.length;
  }
  kept.append(model.log, from, std::string::npos);
  return kept;
}

SwitchSnapshot TakeSwitchSnapshot(const RunHost& host) {
  SwitchSnapshot s;
  s.errors_only = host.ErrorsOnly();
  s.cob_debug = host.CobDebug();
  s.skip_huge = host.SkipHugeObjects();
  s.handle_facers = host.HandleFacers();
  s.non_centered = host.NonCentered();
  s.over_sized = host.OverSized();
  s.program_dir = host.ProgramDirectory();
  s.converter_time_limit = host.ConverterTimeLimitSeconds();
  s.max_entry_bytes = host.MaxEntryBytes();
  return s;
}

ModelPool::ModelPool(const RunState& shape, std::size_t workers) {
  if (workers == 0) workers = 1;
  if (workers > kMaxWorkers) workers = kMaxWorkers;
  for (std::size_t i = 0; i < workers; ++i) {
    auto worker = std::make_unique<Worker>();
    worker->run.format_path = shape.format_path;
    worker->run.template_text = shape.template_text;
    worker->run.colour_table = shape.colour_table;
    worker->run.integer_mode = shape.integer_mode;
    worker->run.debug_trace = shape.debug_trace;
    worker->run.password = shape.password;
    worker->run.cancel = &cancel_;
    worker->run.thumbnail_size = shape.thumbnail_size;
    worker->run.textures = shape.textures;
    worker->run.workspace->defer_once_notices = true;
    // The first worker shares the run's own folder; the others get folders of their own.
    worker->run.work_dir = i == 0 ? shape.work_dir : platform::NewWorkDirectory();
    const bool made = !worker->run.work_dir.empty();
    workers_.push_back(std::move(worker));
    if (!made) {
      ready_ = false;
      return;
    }
  }
  for (auto& worker : workers_) threads_.emplace_back([this, &w = *worker] { WorkerLoop(w); });
}

ModelPool::~ModelPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    queue_.clear();
  }
  cancel_ = true;
  work_ready_.notify_all();
  for (std::thread& t : threads_) t.join();
  for (std::size_t i = 1; i < workers_.size(); ++i)
    platform::FreeWorkDirectory(workers_[i]->run.work_dir);
}

void ModelPool::Submit(ModelTask task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot slot;
    slot.task = std::move(task);
    slots_.push_back(std::move(slot));
    queue_.push_back(submitted_++);
  }
  work_ready_.notify_one();
}

FinishedModel ModelPool::TakeOldest(const std::function<void()>& pump) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!slots_.front().done) {
    if (model_done_.wait_for(lock, kPumpInterval, [this] { return slots_.front().done; })) break;
    lock.unlock();
    if (pump) pump();
    lock.lock();
  }
  FinishedModel finished = std::move(slots_.front().finished);
  slots_.pop_front();
  ++taken_;
  return finished;
}

void ModelPool::DiscardPending() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
  }
  // Models already running finish into slots nobody takes; their conversions are cut short.
  cancel_ = true;
}

void ModelPool::WorkerLoop(Worker& worker) {
  for (;;) {
    std::size_t number = 0;
    ModelTask task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_ready_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (closing_) return;
      number = queue_.front();
      queue_.pop_front();
      task = slots_[number - taken_].task;
    }
    FinishedModel finished;
    platform::TextFile log = platform::MemoryTextFile(finished.log, /*crlf=*/false);
    platform::TextFile registry = platform::MemoryTextFile(finished.registry, /*crlf=*/false);
    NotesCapture notes;
    worker.run.registry = &registry;
    worker.run.notes = notes.file != nullptr ? notes.file : stderr;
    WorkerHost host(task.switches, worker.run.work_dir, log);
    worker.run.workspace->once_notices.clear();
    try {
      if (TooBigForAWorker(task.path)) {
        finished.handed_back = true;
      } else {
        finished.processed = ProcessModel(host, task.path, task.found_name, worker.run);
      }
    } catch (...) {
      finished.failure = std::current_exception();
    }
    finished.notes = notes.Take();
    finished.once_notices = std::move(worker.run.workspace->once_notices);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (number >= taken_) {
        Slot& slot = slots_[number - taken_];
        slot.finished = std::move(finished);
        slot.done = true;
      }
    }
    model_done_.notify_all();
  }
}

}  // namespace driver
