#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {

namespace {
SpawnError Classify(int error_number) {
  switch (error_number) {
    case ENOENT: return SpawnError::kNotFound;
    case ENOMEM: return SpawnError::kNoMemory;
    case EINVAL: return SpawnError::kInvalidArgument;
    case E2BIG: return SpawnError::kArgListTooLong;
    case ENOEXEC:
    case EACCES: return SpawnError::kExecFormat;
    default: return SpawnError::kOther;
  }
}

ProcessResult Failed(int error_number) {
  ProcessResult r;
  r.error = Classify(error_number);
  r.error_number = error_number;
  return r;
}
}  // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  // posix_spawn may report a missing or unusable program only through the child's exit code
  // 127; asking first gives the caller the real reason.
  struct stat st {};
  if (stat(program.c_str(), &st) != 0) return Failed(errno);
  if (!S_ISREG(st.st_mode) || access(program.c_str(), X_OK) != 0) return Failed(EACCES);

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Failed(rc);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return Failed(errno);
  }
  ProcessResult r;
  if (WIFEXITED(wstatus)) {
    r.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    r.status = 128 + WTERMSIG(wstatus);
  }
  return r;
}

}  // namespace platform
