// boxtally-cli and the user's files: a registry changes only when a run completes, a run never
// writes into another of the run's own files, and whatever matches the pattern is named, never
// waited on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";

class FilesRun : public ::testing::Test {
 protected:
  FilesRun() {
    for (const char* d : {"objects", "tmp", "bin"}) std::filesystem::create_directory(dir_ / d);
    // A copy of boxtally-cli beside a converter that marks its start and sleeps: a run can be
    // caught in its middle, at the COB model.
    std::filesystem::copy_file(kBin + "/boxtally-cli", dir_ / "bin/boxtally-cli");
    WriteFile(dir_ / "bin/rwxsmith", "#!/bin/sh\ntouch \"$0.started\"\nexec sleep 60\n");
    std::filesystem::permissions(dir_ / "bin/rwxsmith", std::filesystem::perms::owner_all);
  }
  std::vector<std::string> Argv(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"),
                                  dir_ / "bin/boxtally-cli", "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  ProgramRun Run(const std::vector<std::string>& args) {
    return RunProgram(Argv(args), dir_.path());
  }
  // The names in the test folder that start with a dot: what a run left beside the registry.
  std::vector<std::string> Hidden() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = e.path().filename().string();
      if (name[0] == '.') names.push_back(name);
    }
    return names;
  }

  TempDir dir_;
};

}  // namespace

TEST_F(FilesRun, AnInterruptedRunLeavesTheOldRegistryByteForByte) {
  std::string old;
  for (int i = 0; i < 2000; ++i) old += "old" + std::to_string(i) + ".rwx 1 -5 -5 -5 5 5 5\r\n";
  for (const char* name : {"a.rwx", "b.rwx", "c.cob", "d.rwx"}) {
    WriteFile(dir_ / ("objects/" + std::string(name)), kBox);
  }
  struct Case {
    const char* registry_argument;
    int signal_number;
  };
  // A killed run cannot remove its new file: the next run, stopped in its turn, takes it away.
  // The last run appends.
  const Case cases[] = {{"-oreg.txt", SIGKILL}, {"-oreg.txt", SIGTERM}, {"reg.txt", SIGINT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.registry_argument) + " " + strsignal(c.signal_number));
    WriteFile(dir_ / "reg.txt", old);
    std::filesystem::remove(dir_ / "bin/rwxsmith.started");
    const auto run = testing_support::StartProgram(
        Argv({"--jobs", "1", "objects/*.*", "-r", c.registry_argument}), dir_.path(), dir_.path());
    for (int i = 0; i < 1000 && !std::filesystem::exists(dir_ / "bin/rwxsmith.started"); ++i) {
      usleep(10000);
    }
    kill(run.pid, c.signal_number);
    const ProgramRun done = testing_support::WaitProgram(run);
    EXPECT_EQ(done.exit_status, 128 + c.signal_number);
    EXPECT_EQ(ReadFile(dir_ / "reg.txt"), old);
    if (c.signal_number == SIGKILL) continue;
    EXPECT_EQ(Hidden(), std::vector<std::string>{}) << done.err;
    EXPECT_NE(done.err.find("the registry was not changed"), std::string::npos) << done.err;
  }
}

TEST_F(FilesRun, RefusesARunWhoseOwnFilesAreOneFileOrThatWouldWriteNothing) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  const std::string format = "<ffile> <fleft>\n";
  struct Case {
    std::vector<std::string> args;
    std::string says;  // the first line on standard error; the exit status is 2
  };
  const std::string same = "boxtally-cli: the ", unrun = "; nothing was run";
  const std::string report = "boxtally-cli: --report ";
  const Case cases[] = {
      {{"objects/*.rwx", "my.fmt", "-r", "-omy.fmt"},
       same + "format file and the registry are one file (my.fmt)" + unrun},
      {{"objects/*.rwx", "my.fmt", "-r", "./my.fmt"},
       same + "format file and the registry are one file (./my.fmt)" + unrun},
      {{"--log", "same.txt", "objects/*.rwx", "-osame.txt"},
       same + "registry and the log are one file (same.txt)" + unrun},
      {{"--web", "http://127.0.0.1:9/", "--log", "my.fmt", "my.fmt"},
       same + "log and the list file are one file (my.fmt)" + unrun},
      {{"objects/*.rwx", "empty.fmt", "-oreg.txt"},
       "Format file empty.fmt gives no registry line: it has no complete line"},
      {{"objects/*.rwx", "open.fmt", "-oreg.txt"},
       "Format file open.fmt gives no registry line: it has no complete line"},
      {{"--report", "-", "objects/*.rwx"},
       report + "- needs a registry file (-oREGISTRY or REGISTRY): the registry lines go to "
                "standard output otherwise"},
      {{"--report", "reg.txt", "objects/*.rwx", "-oreg.txt"},
       report + "reg.txt names a file the run reads or writes otherwise"},
      {{"--log", "log.txt", "--report", "log.txt", "objects/*.rwx", "reg.txt"},
       report + "log.txt names a file the run reads or writes otherwise"},
      // What the shell makes of --report objects/*.rwx.
      {{"--report", "objects/a.rwx", "objects/b.rwx"},
       "boxtally-cli: the report 'objects/a.rwx' is a model file: was the MODELS pattern expanded "
       "by the shell? Quote it, as in 'objects/*.zip'"},
      {{"--report", "no/such/folder/r.csv", "objects/*.rwx", "-oreg.txt"},
       "boxtally-cli: cannot write the report file no/such/folder/r.csv (No such file or "
       "directory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    WriteFile(dir_ / "my.fmt", format);
    WriteFile(dir_ / "empty.fmt", "");
    WriteFile(dir_ / "open.fmt", "<ffile>");
    const ProgramRun run = Run(c.args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.says);
    EXPECT_EQ(ReadFile(dir_ / "my.fmt"), format);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "same.txt"));
  }
  // An old registry named as the template runs, with one warning.
  WriteFile(dir_ / "old.txt", "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
  ProgramRun run = Run({"--log", "log.txt", "objects/*.rwx", "old.txt"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"),
            "Warning: the format file old.txt looks like a registry (every line ends with six "
            "numbers)\r\n");
  // A closed standard output never lets a run go into another file, nor count a model as failed.
  run = RunProgram({"/bin/sh", "-c", "exec '" + (dir_ / "bin/boxtally-cli") + "' 'objects/*.rwx' >&-"},
                   dir_.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "boxtally-cli: standard output is closed; nothing was measured\n");
  // A new log that another run is writing is not emptied.
  WriteFile(dir_ / "held.log", "another run's line\r\n");
  const int held = open((dir_ / "held.log").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  run = Run({"--log", "held.log", "--new-log", "objects/*.rwx", "-oreg.txt"});
  close(held);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("the log file held.log is being written by another run"),
            std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "held.log"), "another run's line\r\n");
}

TEST_F(FilesRun, WhateverMatchesIsNamedNeverWaitedOn) {
  for (const char* name : {"a.rwx", "Tree.rwx", "tree.rwx", "z.rwx"}) {
    WriteFile(dir_ / ("objects/" + std::string(name)), kBox);
  }
  ASSERT_EQ(mkfifo((dir_ / "objects/b.zip").c_str(), 0600), 0);  // nobody will ever write it
  std::filesystem::create_directory(dir_ / "objects/c.rwx");
  std::filesystem::create_symlink("nowhere.rwx", dir_ / "objects/d.rwx");
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    std::filesystem::remove(dir_ / "log.txt");
    const ProgramRun run = Run({"--jobs", jobs, "--log", "log.txt", "objects/*.*", "-oreg.txt"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(ReadFile(dir_ / "log.txt"),
              "Warning: Tree.rwx and tree.rwx differ only in letter case; both give the model "
              "tree.rwx\r\n"
              "Not a regular file: objects/b.zip\r\n"
              "Not a regular file: objects/c.rwx\r\n"
              "Not a regular file: objects/d.rwx\r\n");
    const std::string box = " 1 -995 -995 -995 995 995 995\r\n";
    EXPECT_EQ(ReadFile(dir_ / "reg.txt"),
              "a.rwx" + box + "tree.rwx" + box + "tree.rwx" + box + "z.rwx" + box);
  }
}
