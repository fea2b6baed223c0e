// Runs a real program of the project and collects its exit status and output.
#pragma once

#include <fcntl.h>
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

// `cwd` empty: the test's own directory. `input` is fed to standard input.
inline ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "",
                             const std::string& input = "") {
  TempDir io;
  const std::string in_path = io / "stdin", out_path = io / "stdout", err_path = io / "stderr";
  WriteFile(in_path, input);
  ProgramRun run;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace testing_support

namespace testing_support {

// A program started in the background, in a process group of its own (as a shell starts a job),
// so a test can signal it the way a terminal would.
struct BackgroundProgram {
  pid_t pid = -1;
  std::string out_path, err_path;
};

inline BackgroundProgram StartProgram(const std::vector<std::string>& argv, const std::string& cwd,
                                      const std::string& io_dir) {
  BackgroundProgram program;
  program.out_path = io_dir + "/bg.stdout";
  program.err_path = io_dir + "/bg.stderr";
  program.pid = fork();
  if (program.pid == 0) {
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(program.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(program.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  setpgid(program.pid, program.pid);  // also here, so a signal sent at once finds the group
  return program;
}

inline ProgramRun WaitProgram(const BackgroundProgram& program) {
  ProgramRun run;
  int status = 0;
  waitpid(program.pid, &status, 0);
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = ReadFile(program.out_path);
  run.err = ReadFile(program.err_path);
  return run;
}

}  // namespace testing_support
