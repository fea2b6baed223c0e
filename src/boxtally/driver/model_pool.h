// Models measured on worker threads. Each worker has its own work folder and prototype table and
// writes a model's registry lines, log lines and notes into memory; the thread that talks to the
// host takes the finished models in the order they were given and commits them, so the run's
// files read the same for any number of workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/rwx/workspace.h"

namespace driver {

inline constexpr std::size_t kMaxWorkers = 64;  // platform::kMaxChildGroups converters at once

// The host's switches as they were when a model was handed out: a worker never calls the host.
struct SwitchSnapshot {
  bool errors_only = true;
  bool cob_debug = false;
  bool skip_huge = true;
  bool handle_facers = false;
  bool non_centered = false;
  bool over_sized = false;
  std::string program_dir;
  int converter_time_limit = kDefaultConverterTimeLimit;
  std::uint64_t max_entry_bytes = kDefaultMaxEntryBytes;
};
SwitchSnapshot TakeSwitchSnapshot(const RunHost& host);

struct ModelTask {
  std::string path;
  std::string found_name;
  SwitchSnapshot switches;
};

// One model, measured: what it wrote, to be committed in order.
struct FinishedModel {
  ProcessedModel processed;
  std::string log;       // log text, control characters already replaced, "\n" line ends
  std::string registry;  // registry text, "\n" line ends
  std::string notes;     // what the extraction wrote to standard error
  std::vector<rwx::OnceNotice> once_notices;  // in `log`: kept only the first time in the run
  std::exception_ptr failure;  // thrown while the model was measured: rethrown when committed
  // Not measured: a model this big could give registry text far beyond what a worker should
  // hold in memory, so the committing thread measures it, writing straight to the files.
  bool handed_back = false;
};

// Models whose text passes this many bytes (plain, or as its archive says once extracted) are
// measured by the committing thread: memory stays flat whatever the size of one file.
inline constexpr std::uint64_t kMaxWorkerModelBytes = std::uint64_t{8} << 20;

// The model's log text without the once-per-run warnings the run has given already; the others
// are remembered in `warned` (the run's own list, as a run on one thread keeps it).
std::string LogToCommit(const FinishedModel& model, std::vector<std::string>& warned);

class ModelPool {
 public:
  // `shape` gives what every worker's run state copies (format file, flags, password); each
  // worker gets its own work folder and workspace. `workers` threads, at least one.
  ModelPool(const RunState& shape, std::size_t workers);
  ~ModelPool();  // discards what is still queued, ends running converters, joins the workers
  ModelPool(const ModelPool&) = delete;
  ModelPool& operator=(const ModelPool&) = delete;

  // False when a worker's work folder could not be made (nothing runs then).
  bool Ready() const { return ready_; }
  std::size_t Workers() const { return threads_.size(); }

  // Queues a model; models are finished in any order and taken in this order.
  void Submit(ModelTask task);
  std::size_t Pending() const { return submitted_ - taken_; }

  // Waits for the oldest model not yet taken, calling `pump` about every 20 ms meanwhile.
  FinishedModel TakeOldest(const std::function<void()>& pump);

  // Drops every model not yet taken: queued ones are not measured, running conversions end. The
  // pool takes no more models after this.
  void DiscardPending();
  // Ends the conversions running now and to come (a stop request): their models come back as
  // not reached.
  void CancelConversions() { cancel_ = true; }

 private:
  struct Worker;
  struct Slot {
    ModelTask task;
    bool done = false;
    FinishedModel finished;
  };
  void WorkerLoop(Worker& worker);

  bool ready_ = true;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable model_done_;
  std::deque<std::size_t> queue_;  // submitted models not yet started, by number
  std::deque<Slot> slots_;         // models from number `taken_` on
  std::size_t submitted_ = 0;
  std::size_t taken_ = 0;
  bool closing_ = false;
  std::atomic<bool> cancel_{false};  // the models running now are not wanted any more
};

}  // namespace driver
