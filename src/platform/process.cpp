#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/termination.h"

extern char** environ;

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

SpawnError Classify(int error_number) {
  switch (error_number) {
    case ENOENT:
      return SpawnError::kNotFound;
    case ENOMEM:
      return SpawnError::kNoMemory;
    case EINVAL:
      return SpawnError::kInvalidArgument;
    case E2BIG:
      return SpawnError::kArgListTooLong;
    case ENOEXEC:
    case EACCES:
      return SpawnError::kExecFormat;
    default:
      return SpawnError::kOther;
  }
}

ProcessResult Failed(int error_number) {
  ProcessResult r;
  r.error = Classify(error_number);
  r.error_number = error_number;
  return r;
}

// Waits up to `ms` milliseconds for the child to end (-1: no limit). Uses a process descriptor
// where the kernel has them, else short sleeps. True when it has ended (not yet reaped).
bool WaitForEnd(pid_t pid, int pidfd, int ms) {
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }
  siginfo_t info{};
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  long sleep_us = 100;
  for (;;) {
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid != 0) {
      return true;
    }
    if (ms >= 0 && Clock::now() >= until) return false;
    const timespec pause{0, sleep_us * 1000};
    nanosleep(&pause, nullptr);
    if (sleep_us < 20000) sleep_us *= 2;
  }
}

int Reap(pid_t pid) {
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

// Waits for the child, ending its group when the time limit passes. The termination handler ends
// the group on its own; the wait then simply sees the end.
ProcessResult Await(pid_t pid, int slot, const SpawnOptions& options) {
  const int time_limit_seconds = options.time_limit_seconds;
  constexpr int kCancelCheckMs = 50;  // how soon a cancel request is seen
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  const int pidfd = -1;
#endif
  const bool limited = time_limit_seconds > 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(time_limit_seconds);
  ProcessResult r;
  for (;;) {
    int ms = -1;
    if (limited) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      ms = static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), 60000)));
    }
    if (options.cancel != nullptr && (ms < 0 || ms > kCancelCheckMs)) ms = kCancelCheckMs;
    if (WaitForEnd(pid, pidfd, ms)) break;
    if (options.cancel != nullptr && options.cancel->load()) {
      kill(-pid, SIGKILL);
      break;
    }
    if (limited && Clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      r.timed_out = true;
      break;
    }
  }
  UnregisterChildGroup(slot);  // before the reap: its number may go to another process after
  r.status = Reap(pid);
  if (pidfd >= 0) close(pidfd);
  return r;
}
}  // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const SpawnOptions& options) {
  // posix_spawn may report a missing or unusable program only through the child's exit code
  // 127; asking first gives the caller the real reason.
  struct stat st {};
  if (stat(program.c_str(), &st) != 0) return Failed(errno);
  if (!S_ISREG(st.st_mode) || access(program.c_str(), X_OK) != 0) return Failed(EACCES);
  if (!options.directory.empty()) {
    struct stat dir {};
    if (stat(options.directory.c_str(), &dir) != 0) return Failed(errno);
    if (!S_ISDIR(dir.st_mode)) return Failed(ENOTDIR);
  }

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own: the terminal's Ctrl-C reaches only us, and we can end the child's
  // children with it. The child gets default signal actions, whatever ours are.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGHUP);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Failed(rc);
  if (options.max_file_bytes > 0) {
    // Set from here, as posix_spawn has no attribute for it: the child has had microseconds to
    // write, and every later write is checked against the file's whole size.
    const rlimit limit{options.max_file_bytes, options.max_file_bytes};
    prlimit(pid, RLIMIT_FSIZE, &limit, nullptr);
  }
  return Await(pid, RegisterChildGroup(pid), options);
}

}  // namespace platform
