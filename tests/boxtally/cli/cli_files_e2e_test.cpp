// boxtally-cli and the user's files: a registry changes only when a run completes, a run never
// writes into another of the run's own files, and whatever matches the pattern is named, never
// waited on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
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
  // The copy's command line, after the program it runs under (`before`), if any.
  std::vector<std::string> Argv(const std::vector<std::string>& args,
                                std::vector<std::string> before = {}) const {
    std::vector<std::string> argv = std::move(before);
    argv.insert(argv.end(), {"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), dir_ / "bin/boxtally-cli",
                             "--quiet"});
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
    const char* models;
  };
  // A killed run cannot remove its new file: the next run, stopped in its turn, takes it away.
  // The third run appends; the last one is stopped in its last model.
  const Case cases[] = {{"-oreg.txt", SIGKILL, "objects/*.*"},
                        {"-oreg.txt", SIGTERM, "objects/*.*"},
                        {"reg.txt", SIGINT, "objects/*.*"},
                        {"-oreg.txt", SIGTERM, "objects/?.cob"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.registry_argument) + " " + strsignal(c.signal_number) + " " +
                 c.models);
    WriteFile(dir_ / "reg.txt", old);
    std::filesystem::remove(dir_ / "bin/rwxsmith.started");
    const auto run = testing_support::StartProgram(
        Argv({"--jobs", "1", c.models, "-r", c.registry_argument}), dir_.path(), dir_.path());
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

// A stop in the run's first milliseconds (the search, the workers' start) is a stop as any other:
// short delays grow until one lands before the first model. Every output stays as it was, a
// hard link to the registry included, and the terminal says so once the handler has taken it.
TEST_F(FilesRun, AStopInTheFirstMillisecondsLeavesEveryOutputAsItWas) {
  for (int i = 0; i < 3000; ++i) WriteFile(dir_ / ("objects/m" + std::to_string(i) + ".rwx"), kBox);
  std::filesystem::create_directory(dir_ / "th");
  WriteFile(dir_ / "reg.txt", "old\r\n");
  std::filesystem::create_hard_link(dir_ / "reg.txt", dir_ / "reg.bak");
  struct Case {
    int signal_number;
    const char* registry_argument;
  };
  const Case cases[] = {{SIGTERM, "-oreg.txt"}, {SIGINT, "reg.txt"}, {SIGHUP, "-oreg.txt"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal_number)) + " " + c.registry_argument);
    bool before_any_model = false;
    for (int delay_ms = 1; delay_ms <= 150 && !before_any_model; ++delay_ms) {
      WriteFile(dir_ / "report.csv", "old report\r\n");
      WriteFile(dir_ / "th/m0.png", "old picture");
      std::vector<std::string> argv = Argv({"--jobs", "2", "--report", "report.csv",
                                            "--thumbnails", "th", "objects/*.rwx", "-r",
                                            c.registry_argument});
      argv.erase(std::find(argv.begin(), argv.end(), "--quiet"));  // for the summary line
      const auto run = testing_support::StartProgram(argv, dir_.path(), dir_.path());
      usleep(delay_ms * 1000);
      kill(run.pid, c.signal_number);
      const ProgramRun done = testing_support::WaitProgram(run);
      ASSERT_EQ(done.exit_status, 128 + c.signal_number) << done.err;
      ASSERT_EQ(ReadFile(dir_ / "reg.txt"), "old\r\n") << delay_ms << " ms: " << done.err;
      EXPECT_TRUE(std::filesystem::equivalent(dir_ / "reg.txt", dir_ / "reg.bak"));
      EXPECT_EQ(ReadFile(dir_ / "report.csv"), "old report\r\n");
      EXPECT_EQ(ReadFile(dir_ / "th/m0.png"), "old picture");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "th"), {}), 1);
      if (!done.err.empty()) {
        EXPECT_NE(done.err.find("the registry was not changed"), std::string::npos) << done.err;
      }
      before_any_model = done.err.find("stopped: 0 models measured") != std::string::npos;
    }
    EXPECT_TRUE(before_any_model);
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
      // Names of one file that does not exist yet.
      {{"--log", "./same.txt", "objects/*.rwx", "-osame.txt"},
       same + "registry and the log are one file (./same.txt)" + unrun},
      {{"--log", "objects/../same.txt", "objects/*.rwx", "-osame.txt"},
       same + "registry and the log are one file (objects/../same.txt)" + unrun},
      {{"--web", "http://127.0.0.1:9/", "objects/list.txt", "-oobjects/.boxtally-web"},
       same + "registry and the records file are one file (objects/.boxtally-web)" + unrun},
      {{"--report", "./same.txt", "objects/*.rwx", "-osame.txt"},
       report + "./same.txt names a file the run reads or writes otherwise"},
      {{"--log", "same.txt", "--report", "./same.txt", "objects/*.rwx"},
       report + "./same.txt names a file the run reads or writes otherwise"},
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

// The registry's lock is the program's own file: a link, a FIFO, a folder or another user's file
// planted at its name is left as it is, and named; the registry stays as it was.
TEST_F(FilesRun, ALockThatIsNoRegularFileOfThisUserIsLeftAloneAndNamed) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "victim.txt", "victim\n");
  const std::string lock = dir_ / ".reg.txt.lock";
  struct Case {
    const char* is;
    std::function<bool()> plant;  // false: the row needs root
  };
  const Case cases[] = {
      {"a symbolic link", [&] { return symlink("victim.txt", lock.c_str()) == 0; }},
      {"not a regular file", [&] { return mkfifo(lock.c_str(), 0600) == 0; }},
      {"not a regular file", [&] { return mkdir(lock.c_str(), 0700) == 0; }},
      {"another user's file",
       [&] {
         WriteFile(lock, "");
         return geteuid() == 0 && chown(lock.c_str(), 65534, 65534) == 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.is);
    std::filesystem::remove_all(lock);
    WriteFile(dir_ / "reg.txt", "old\r\n");
    if (!c.plant()) {
      std::printf("skipped the row \"%s\": it needs root\n", c.is);
      continue;
    }
    struct stat before {};
    ASSERT_EQ(lstat(lock.c_str(), &before), 0);
    const ProgramRun run = Run({"--log", "log.txt", "--new-log", "objects/*.rwx", "-oreg.txt"});
    EXPECT_EQ(run.exit_status, 1);
    const std::string why = std::string("(the lock .reg.txt.lock is ") + c.is + ")";
    EXPECT_EQ(ReadFile(dir_ / "log.txt"), "Unable to create/append output file reg.txt " + why +
                                              "\r\n");
    EXPECT_EQ(run.err, "boxtally-cli: cannot create or append to the registry file reg.txt " +
                           why + "\n");
    struct stat after {};
    ASSERT_EQ(lstat(lock.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "old\r\n");
    EXPECT_EQ(ReadFile(dir_ / "victim.txt"), "victim\n");
  }
}

// A FIFO that no process reads is refused before the run; a device is written into, never
// replaced; a log whose reader stops reading still lets a stop end the run at once, and the lost
// messages make it exit 2. (The time limit only ends a run that hangs; --foreground passes a
// signal on once, where a second one would end the program at once.)
TEST_F(FilesRun, OutputsThatAreNoRegularFilesAreWrittenAsStreams) {
  const std::string long_name(150, 'x');
  for (int i = 0; i < 500; ++i) {
    WriteFile(dir_ / ("objects/" + long_name + std::to_string(i) + ".rwx"), kBox);
  }
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const std::vector<std::string> limit{"/usr/bin/timeout", "--foreground", "-s", "KILL", "60"};
  struct Case {
    std::vector<std::string> args;
    int exit_status;
    std::string says;  // standard error, whole
  };
  const std::string nobody = " (a FIFO that no process reads)\n";
  const Case cases[] = {
      {{"--log", "fifo", "objects/*.rwx", "-oreg.txt"}, 2,
       "boxtally-cli: cannot open the log file fifo" + nobody},
      {{"--report", "fifo", "objects/*.rwx", "-oreg.txt"}, 2,
       "boxtally-cli: cannot write the report file fifo" + nobody},
      {{"objects/*.rwx", "-ofifo"}, 1, "Unable to create/append output file fifo" + nobody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const ProgramRun run = RunProgram(Argv(c.args, limit), dir_.path());
    EXPECT_EQ(run.exit_status, c.exit_status);
    EXPECT_EQ(run.err, c.says);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
    EXPECT_TRUE(std::filesystem::is_fifo(dir_ / "fifo"));
  }
  if (geteuid() != 0 || mknod((dir_ / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    std::printf("skipped the character device: mknod needs root\n");
  } else {
    // A workbook too: it is made whole before it goes into the device.
    ASSERT_EQ(link((dir_ / "null").c_str(), (dir_ / "null.xlsx").c_str()), 0);
    for (const char* report : {"null", "null.xlsx"}) {
      SCOPED_TRACE(report);
      EXPECT_EQ(Run({"--report", report, "objects/*.rwx", "-oreg.txt"}).exit_status, 0);
      EXPECT_TRUE(std::filesystem::is_character_file(dir_ / report));
    }
  }
  const int reader = open((dir_ / "fifo").c_str(), O_RDONLY | O_NONBLOCK);  // never reads
  const auto run = testing_support::StartProgram(
      Argv({"--all-messages", "--log", "fifo", "objects/*.rwx", "-oreg.txt"}, limit), dir_.path(),
      dir_.path());
  // 500 progress lines are more than the FIFO holds: the run waits once it is full, and what
  // the FIFO holds stops growing.
  const int room = fcntl(reader, F_GETPIPE_SZ);
  int held = 0;
  for (int i = 0, last = -1, same = 0; i < 3000 && same < 30; ++i, last = held) {
    usleep(10000);
    if (ioctl(reader, FIONREAD, &held) != 0) held = 0;
    same = held == last && held > room / 2 ? same + 1 : 0;
  }
  kill(run.pid, SIGTERM);
  const ProgramRun done = testing_support::WaitProgram(run);
  close(reader);
  EXPECT_EQ(done.exit_status, 2);
  EXPECT_NE(done.err.find("cannot write the log file fifo; messages were lost"), std::string::npos)
      << done.err;
}

// A replaced registry keeps what `cp --preserve=all` keeps: its mode, its ACL and its extended
// attributes; one its owner made read-only is refused as a locked one is (run as nobody: root
// may write any file).
TEST_F(FilesRun, ARegistryKeepsItsAclAndAttributesAndAReadOnlyOneIsRefused) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "reg.txt", "old\r\n");
  chmod((dir_ / "reg.txt").c_str(), 0640);
  if (RunProgram({"/bin/sh", "-c", "setfacl -m u:nobody:rw- reg.txt && setfattr -n user.note "
                                   "-v kept reg.txt"}, dir_.path()).exit_status != 0) {
    std::printf("skipped the ACL: setfacl and setfattr (packages acl and attr) are needed\n");
  } else {
    const std::string acl = RunProgram({"/usr/bin/getfacl", "-cp", "reg.txt"}, dir_.path()).out;
    for (const char* registry : {"reg.txt", "-oreg.txt"}) {
      SCOPED_TRACE(registry);
      ASSERT_EQ(Run({"objects/*.rwx", "-r", registry}).exit_status, 0);
      EXPECT_EQ(RunProgram({"/usr/bin/getfacl", "-cp", "reg.txt"}, dir_.path()).out, acl);
      EXPECT_EQ(RunProgram({"/usr/bin/getfattr", "--only-values", "-n", "user.note", "reg.txt"},
                           dir_.path()).out, "kept");
    }
  }
  if (geteuid() != 0) {
    std::printf("skipped the read-only registry: setpriv --reuid=nobody needs root\n");
    return;
  }
  std::filesystem::create_directory(dir_ / "ro");
  WriteFile(dir_ / "ro/reg.txt", "old\r\n");
  for (const char* path : {"ro", "ro/reg.txt"}) ASSERT_EQ(chown((dir_ / path).c_str(), 65534, 65534), 0);
  chmod((dir_ / "ro/reg.txt").c_str(), 0444);
  chmod(dir_.path().c_str(), 0755);
  chmod((dir_ / "tmp").c_str(), 01777);
  for (const char* registry : {"-oro/reg.txt", "ro/reg.txt"}) {
    SCOPED_TRACE(registry);
    struct stat before {};
    ASSERT_EQ(stat((dir_ / "ro/reg.txt").c_str(), &before), 0);
    const ProgramRun run = RunProgram(
        Argv({"objects/*.rwx", "-r", registry},
             {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"}),
        dir_.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "Output file ro/reg.txt is read-only\n");
    struct stat after {};
    ASSERT_EQ(stat((dir_ / "ro/reg.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(dir_ / "ro/reg.txt"), "old\r\n");
  }
}
