#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

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

// The read end of the pipe that takes the child's output, and the end of what came through it.
struct ChildOutput {
  int fd = -1;  // non-blocking; -1 when nothing is read (or the pipe is at its end)
  std::string* kept = nullptr;

  // Reads what is there now, keeping the last kMaxKeptOutput bytes; closes the pipe at its end.
  void Drain() {
    char buffer[4096];
    while (fd >= 0) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {
        Close();
        return;
      }
      kept->append(buffer, static_cast<std::size_t>(n));
      if (kept->size() > kMaxKeptOutput) kept->erase(0, kept->size() - kMaxKeptOutput);
    }
  }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

int MillisecondsUntil(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits up to `ms` milliseconds for the child to end (-1: no limit), reading its output as it
// comes. Uses a process descriptor where the kernel has them, else short sleeps. True when it has
// ended (not yet reaped).
bool WaitForEnd(pid_t pid, int pidfd, int ms, ChildOutput& output) {
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  if (pidfd >= 0) {
    for (;;) {
      pollfd p[2] = {{pidfd, POLLIN, 0}, {output.fd, POLLIN, 0}};
      const int ready = poll(p, output.fd >= 0 ? 2 : 1, ms < 0 ? -1 : MillisecondsUntil(until));
      if (ready > 0 && (p[0].revents & POLLIN) != 0) return true;
      if (ready <= 0 || output.fd < 0 || p[1].revents == 0) return false;
      output.Drain();
    }
  }
  siginfo_t info{};
  long sleep_us = 100;
  for (;;) {
    output.Drain();
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
ProcessResult Await(pid_t pid, int slot, const SpawnOptions& options, ChildOutput& output) {
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
    const bool watched = options.cancel != nullptr || options.poll;
    if (watched && (ms < 0 || ms > kCancelCheckMs)) ms = kCancelCheckMs;
    if (WaitForEnd(pid, pidfd, ms, output)) break;
    if ((options.cancel != nullptr && options.cancel->load()) || (options.poll && options.poll())) {
      kill(-pid, SIGKILL);
      r.cancelled = true;
      break;
    }
    if (limited && Clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      r.timed_out = true;
      break;
    }
  }
  UnregisterChildGroup(slot);  // before the reap: its number may go to another process after
  output.Drain();  // what it wrote last; a child of its own still writing is not waited for
  output.Close();
  r.status = Reap(pid);
  if (pidfd >= 0) close(pidfd);
  return r;
}
// In the child, between fork and exec: only async-signal-safe calls, nothing allocated. A group of
// its own (the terminal's Ctrl-C reaches only us, and its own children go with it), death with the
// thread that started it, default signal actions, the size bound, its folder, and no standard
// output.
[[noreturn]] void StartChild(const std::string& program, char* const* argv,
                             const SpawnOptions& options, pid_t parent, int report, int output) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the parent died before the line above
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    sigaction(signal_number, &defaults, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int error = 0;
  if (options.max_file_bytes > 0) {
    const rlimit limit{options.max_file_bytes, options.max_file_bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) error = errno;
  if (output >= 0) {
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
  } else if (const int null_fd = error == 0 ? open("/dev/null", O_WRONLY) : -1; null_fd >= 0) {
    dup2(null_fd, STDOUT_FILENO);
    if (null_fd != STDOUT_FILENO) close(null_fd);
  }
  if (error == 0) {
    execve(program.c_str(), argv, environ);
    error = errno;
  }
  (void)!write(report, &error, sizeof error);
  _exit(127);
}
}  // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const SpawnOptions& options) {
  // Asking first gives the caller the reason in the words the log uses (not found, not an
  // executable) before anything is started.
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

  // The child tells why exec failed through this pipe; it closes unwritten when exec succeeds.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return Failed(errno);
  // Close-on-exec on both ends: no other child started meanwhile keeps the pipe open.
  // Only our end waits for nothing: the child's end blocks, or a child writing faster than we
  // read would meet EAGAIN and lose its output (or fail on it).
  int output[2] = {-1, -1};
  if (options.output != nullptr && (pipe2(output, O_CLOEXEC) != 0 ||
                                    fcntl(output[0], F_SETFL, O_NONBLOCK) != 0)) {
    const int error = errno;
    for (const int fd : {report[0], report[1], output[0], output[1]}) {
      if (fd >= 0) close(fd);
    }
    return Failed(error);
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    for (const int fd : {report[0], report[1], output[0], output[1]}) {
      if (fd >= 0) close(fd);
    }
    return Failed(error);
  }
  if (pid == 0) StartChild(program, argv.data(), options, parent, report[1], output[1]);
  close(report[1]);
  if (output[1] >= 0) close(output[1]);
  ChildOutput child_output{output[0], options.output};
  int child_error = 0;
  ssize_t n = 0;
  while ((n = read(report[0], &child_error, sizeof child_error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof child_error)) {
    child_output.Close();
    Reap(pid);
    return Failed(child_error);
  }
  return Await(pid, RegisterChildGroup(pid), options, child_output);
}

}  // namespace platform
