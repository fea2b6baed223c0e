// Starting a program and waiting for its end.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class SpawnError {
  kNone,
  kNotFound,
  kNoMemory,
  kInvalidArgument,
  kArgListTooLong,
  kExecFormat,
  kOther
};

struct ProcessResult {
  int status = -1;  // the exit status; -1 when the program could not be started
  SpawnError error = SpawnError::kNone;
  int error_number = 0;    // errno of a failed start
  bool timed_out = false;  // ended by us after the time limit (status is then 128 + SIGKILL)
  bool cancelled = false;  // ended by us for `cancel` or `poll`
};

inline constexpr std::size_t kMaxKeptOutput = 4096;  // bytes: the end of a child's output kept

struct SpawnOptions {
  std::string directory;       // the child's working directory; empty: ours
  int time_limit_seconds = 0;  // 0: wait as long as it takes
  // The size no file the child writes may pass (RLIMIT_FSIZE; a write past it ends the child
  // with SIGXFSZ); 0: none.
  std::uint64_t max_file_bytes = 0;
  // When set while the child runs, its group is ended (the result is then that of a kill).
  const std::atomic<bool>* cancel = nullptr;
  // Called about every 50 ms while the child runs (a window processes its messages there); true
  // ends the child's group as `cancel` does.
  std::function<bool()> poll;
  // When set, the child's standard output and standard error go into a pipe read while it runs,
  // and their last kMaxKeptOutput bytes end up here (what it said last). Otherwise its standard
  // output is discarded and its standard error is ours.
  std::string* output = nullptr;
};

// Runs `program` with `args` (args[0] is the program's own name) and waits for its end. Our own
// working directory never changes: the child starts in options.directory. The child runs in a
// process group of its own, so a Ctrl-C meant for us does not reach it directly; a stop signal
// we receive (see termination.h) ends it, and so does our own death, however it comes (the
// kernel sends it SIGKILL when the thread that started it ends). Its standard output never
// reaches ours (see SpawnOptions::output): it must not run into a registry written to our own
// standard output. A child killed by a signal gives 128 + the signal number, which is never 0.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const SpawnOptions& options = {});

}  // namespace platform
