// Runs a real program of the project and collects its exit status and output: to the end, in the
// background (for signals), or on a pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

struct ProgramRun {
  int exit_status = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

// In a child: the working directory, then the program. Never returns.
[[noreturn]] inline void ExecIn(const std::vector<std::string>& argv, const std::string& cwd) {
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Starts the program with its standard streams on these files (`in_path` read, the others made
// anew); `own_group`: in a process group of its own, as a shell starts a job.
inline pid_t SpawnProgram(const std::vector<std::string>& argv, const std::string& cwd,
                          const std::string& in_path, const std::string& out_path,
                          const std::string& err_path, bool own_group) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (own_group) setpgid(0, 0);
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    ExecIn(argv, cwd);
  }
  if (own_group) setpgid(pid, pid);  // also here, so a signal sent at once finds the group
  return pid;
}

inline int WaitExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// `cwd` empty: the test's own directory. `input` is fed to standard input.
inline ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "",
                             const std::string& input = "") {
  TempDir io;
  const std::string in_path = io / "stdin", out_path = io / "stdout", err_path = io / "stderr";
  WriteFile(in_path, input);
  ProgramRun run;
  run.exit_status = WaitExitStatus(SpawnProgram(argv, cwd, in_path, out_path, err_path, false));
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

// A program started in the background, in a process group of its own, so a test can signal it
// the way a terminal would.
struct BackgroundProgram {
  pid_t pid = -1;
  std::string out_path, err_path;
};

inline BackgroundProgram StartProgram(const std::vector<std::string>& argv, const std::string& cwd,
                                      const std::string& io_dir) {
  BackgroundProgram program;
  program.out_path = io_dir + "/bg.stdout";
  program.err_path = io_dir + "/bg.stderr";
  program.pid = SpawnProgram(argv, cwd, "/dev/null", program.out_path, program.err_path, true);
  return program;
}

inline ProgramRun WaitProgram(const BackgroundProgram& program) {
  ProgramRun run;
  run.exit_status = WaitExitStatus(program.pid);
  run.out = ReadFile(program.out_path);
  run.err = ReadFile(program.err_path);
  return run;
}

// Runs the program with both standard streams on one pseudo-terminal, as in an interactive
// shell; `out` is everything the terminal showed.
inline ProgramRun RunOnTerminal(const std::vector<std::string>& argv, const std::string& cwd) {
  ProgramRun run;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) ExecIn(argv, cwd);
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has ended
    run.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(master);
  run.exit_status = WaitExitStatus(pid);
  return run;
}

}  // namespace testing_support
