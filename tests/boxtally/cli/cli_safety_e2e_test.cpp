// boxtally-cli as a new user meets it and as an attacker tries it: nothing of the user's is lost
// or overwritten, and no failure is reported as success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
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

const std::string kCli = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";
const std::string kBoxLine = " 1 -995 -995 -995 995 995 995\r\n";

class SafeRun : public ::testing::Test {
 protected:
  SafeRun() {
    std::filesystem::create_directory(dir_ / "objects");
    std::filesystem::create_directory(dir_ / "tmp");
  }
  std::string Model(const std::string& name, const std::string& text = kBox) {
    WriteFile(dir_ / ("objects/" + name), text);
    return dir_ / ("objects/" + name);
  }
  // Runs in the test folder with TMPDIR inside it; the log goes to standard error unless the
  // arguments name one.
  ProgramRun Run(const std::vector<std::string>& args, const std::string& tmpdir = "") {
    std::vector<std::string> argv{"/usr/bin/env",
                                  "TMPDIR=" + (tmpdir.empty() ? dir_ / "tmp" : tmpdir), kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }
  // Runs through /bin/sh, for redirections of the standard streams.
  ProgramRun Shell(const std::string& command) {
    return RunProgram({"/bin/sh", "-c", "TMPDIR='" + (dir_ / "tmp") + "' " + command}, dir_.path());
  }
  bool Says(const ProgramRun& run, const std::string& text) const {
    return run.err.find(text) != std::string::npos;
  }

  TempDir dir_;
};

}  // namespace

// A full disk, made with a file size limit of 2 blocks (1 or 2 KiB) and SIGXFSZ ignored: every
// write past the limit then fails, as on a full disk.
TEST_F(SafeRun, WriteFailuresEndTheRunAndAreReported) {
  for (int i = 0; i < 40; ++i) Model("model" + std::to_string(100 + i) + ".rwx");
  std::string format;
  for (int i = 0; i < 40; ++i)
    format += "<ffile> <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n";
  WriteFile(dir_ / "fmt.txt", format);
  const std::string cli = "'" + kCli + "' --quiet ";
  auto full_disk = [&](const std::string& command) {
    return Shell("trap '' XFSZ; ulimit -f 2; exec " + cli + command);
  };
  // A registry file that fills up: the log names it, the run ends after that model, and the
  // registry stays as it was.
  WriteFile(dir_ / "reg.txt", "older\r\n");
  ProgramRun run = full_disk("--log log.txt 'objects/*.rwx' fmt.txt -oreg.txt");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"), "Unable to write to output file reg.txt\r\n");
  EXPECT_TRUE(Says(run, "cannot write to the registry (reg.txt)")) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "older\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / ".reg.txt.lock"));

  // Registry lines on a standard output that fills up.
  run = full_disk("'objects/*.rwx' fmt.txt > out.txt");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Says(run, "Unable to write to output file standard output")) << run.err;

  // A log that fills up: the registry is complete, but the exit says that messages were lost.
  run = full_disk("--all-messages --log log.txt --new-log 'objects/*.rwx' > /dev/null");
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_TRUE(Says(run, "cannot write the log file log.txt")) << run.err;
  // ... and keeps no torn line: the line that did not fit is cut off whole.
  const std::string log = ReadFile(dir_ / "log.txt");
  EXPECT_GT(log.size(), 0u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  run = full_disk("--all-messages 'objects/*.rwx' > /dev/null 2> log.txt");
  EXPECT_EQ(run.exit_status, 2);

  // Files that a full disk or a killed program left with a torn last line get the next lines on
  // lines of their own.
  WriteFile(dir_ / "log.txt", "a torn li");
  WriteFile(dir_ / "reg.txt", "model100.rwx 1 -99");
  run =
      Shell("'" + kCli + "' --quiet --all-messages --log log.txt objects/model100.rwx -r reg.txt");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"), "a torn li\r\nProcessing file objects/model100.rwx\r\n");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "model100.rwx 1 -99\r\nmodel100.rwx" + kBoxLine);
}

TEST_F(SafeRun, MistakesOnTheLineLeaveAnExistingRegistryAlone) {
  Model("a.rwx");
  Model("b.rwx");
  Model("c.rwx");
  WriteFile(dir_ / "keep1.txt", "earlier work\r\n");
  WriteFile(dir_ / "keep2.txt", "earlier work\r\n");
  WriteFile(dir_ / "fmt.txt", "<ffile>\n");
  struct Case {
    std::vector<std::string> args;
    int exit_status;
    const char* says;  // on standard error
  };
  const Case cases[] = {
      {{"objects/a.rwx", "fmt.txt", "-okeep1.txt", "-okeep2.txt"},
       1,
       "Output file already defined"},
      {{"objects/*.cob", "fmt.txt", "-okeep1.txt"}, 1, "no file matches objects/*.cob"},
      {{"objects/x", "fmt.txt", "-okeep1.txt"}, 1, "no file matches objects/x.rwx"},
      // What the shell makes of an unquoted objects/*.rwx: the models become FORMAT and REGISTRY.
      {{"objects/a.rwx", "objects/b.rwx", "objects/c.rwx"}, 2, "Quote it"},
      {{"objects/a.rwx", "fmt.txt", "-oobjects/b.RWX"}, 2, "Quote it"},
      {{"objects/a.rwx", "objects/b.zip"}, 2, "Quote it"},
      {{"objects/a.rwx", "-r", "objects/c.cob"}, 2, "Quote it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    std::vector<std::string> args{"--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.exit_status, c.exit_status);
    EXPECT_TRUE(Says(run, c.says)) << run.err;
    EXPECT_EQ(ReadFile(dir_ / "keep1.txt"), "earlier work\r\n");
    EXPECT_EQ(ReadFile(dir_ / "keep2.txt"), "earlier work\r\n");
    EXPECT_EQ(ReadFile(dir_ / "objects/b.rwx"), kBox);
    EXPECT_EQ(ReadFile(dir_ / "objects/c.rwx"), kBox);
  }
}

TEST_F(SafeRun, SwitchesAnywhereAndFormatLeftOut) {
  Model("a.rwx");
  // --quiet after the operands, FORMAT left out before a run option: the default template in
  // integer mode, into the registry file.
  ProgramRun run = Run({"objects/*.rwx", "-oreg.txt", "--quiet", "--log", "log.txt"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), std::string("a.rwx") + kBoxLine);
  // After "--" a name starting with "--" is an operand.
  WriteFile(dir_ / "--odd.rwx", kBox);
  run = Run({"--quiet", "--", "--odd.rwx"});
  EXPECT_EQ(run.out, std::string("--odd.rwx") + kBoxLine);
}

TEST_F(SafeRun, EarlyEndsAreExplainedOnStandardErrorWhenTheLogIsAFile) {
  Model("a.rwx");
  std::filesystem::create_directory(dir_ / "folder");
  std::string deep = "modelbegin\n";
  for (int i = 0; i < 257; ++i) deep += "transformbegin\n";
  Model("deep.rwx", deep + "modelend\n");
  struct Case {
    std::vector<std::string> args;
    const char* log;   // the log file's whole text
    const char* says;  // on standard error
  };
  const Case cases[] = {
      // A folder is no format file: it would give no lines and no message.
      {{"objects/a.rwx", "folder"},
       "Unable to open format file folder\r\n",
       "cannot open the format file folder"},
      {{"objects/a.rwx", "-ofolder"},
       "Unable to create/append output file folder (Is a directory)\r\n",
       "cannot create or append to the registry file folder (Is a directory)"},
      {{"objects/deep.rwx"}, nullptr, "the run ended there"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1 % c.args.size()]);
    std::vector<std::string> args{"--quiet", "--new-log", "--log", "log.txt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.exit_status, 1);
    if (c.log != nullptr) {
      EXPECT_EQ(ReadFile(dir_ / "log.txt"), c.log);
    }
    EXPECT_TRUE(Says(run, c.says)) << run.err;
  }
  // With the log on standard error its own line says it once.
  const ProgramRun run = Run({"--quiet", "objects/a.rwx", "folder"});
  EXPECT_EQ(run.err, "Unable to open format file folder\n");
}

TEST_F(SafeRun, ControlCharactersInNamesCannotForgeLines) {
  const std::string forged = Model("x.rwx\nforged.rwx 1 0 0 0 0 0 0\ny.rwx");
  const ProgramRun run = Run({"--quiet", "--all-messages", "--log", "log.txt", "objects/*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, std::string("x.rwx_forged.rwx 1 0 0 0 0 0 0_y.rwx") + kBoxLine);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"),
            "Processing file objects/x.rwx_forged.rwx 1 0 0 0 0 0 0_y.rwx\r\n");
}

TEST_F(SafeRun, AModelThatTransformsTooManyPointsIsSkipped) {
  // 838 cones of 10,000 sides store just under the 2^23 points a file may store; 40 instances
  // would transform 2^28.3 points.
  std::string script = "modelbegin\nprotobegin p\n";
  for (int i = 0; i < 838; ++i) script += "cone 1 1 10000\n";
  script += "protoend\n";
  for (int i = 0; i < 40; ++i) script += "protoinstance p\n";
  Model("heavy.rwx", script + "modelend\n");
  Model("light.rwx");
  const ProgramRun run = Run({"--quiet", "--log", "log.txt", "objects/*.rwx"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, std::string("light.rwx") + kBoxLine);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"),
            "Error: More than 268435456 points in one model, the model is skipped "
            "(file:objects/heavy.rwx)\r\n");
}

// Each model's lines reach the registry with one write once they are all complete: a kill
// between two writes can no longer tear a line. (Within the one write the kernel may still stop
// at a page boundary when SIGKILL comes during the copy; that window is microseconds wide.)
TEST_F(SafeRun, ModelsLinesGoOutWholeInBatches) {
  if (RunProgram({"/bin/sh", "-c", "strace -o /dev/null true"}).exit_status != 0) {
    GTEST_SKIP() << "needs strace, allowed to trace";
  }
  // A template of 200 long lines: one model's lines are far more than a stream buffer holds.
  std::string format;
  for (int i = 0; i < 200; ++i) format += std::string(100, 'x') + " <ffile>\n";
  WriteFile(dir_ / "fmt.txt", format);
  Model("m1000.rwx");
  Model("m1001.rwx", std::string(kBox) + kBox);  // two models in one file
  const long model_bytes = 200 * (100 + 1 + 9 + 2);  // "x..x m1000.rwx\r\n"
  // A registry file is written in batches of whole models, as many as fit 64 KiB (nobody reads
  // it before the run ends); a pipe gets every model file's lines when the file is done, a
  // terminal every model's when the model is done (one worker) or its file (several).
  struct Case {
    const char* jobs;
    const char* registry;
    bool terminal;
    std::vector<long> writes;
  };
  const Case cases[] = {
      {"1", "-oreg.txt", false, {2 * model_bytes, model_bytes}},
      {"3", "-oreg.txt", false, {model_bytes, 2 * model_bytes}},  // a file's models come at once
      {"1", "", false, {model_bytes, 2 * model_bytes}},
      {"3", "", false, {model_bytes, 2 * model_bytes}},
      {"1", "", true, {model_bytes, model_bytes, model_bytes}},
      {"3", "", true, {model_bytes, 2 * model_bytes}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.jobs) + " " + c.registry + (c.terminal ? " terminal" : ""));
    std::vector<std::string> args = {
        // (A sanitizer build's leak checker cannot work under a tracer: it is turned off.)
        "/usr/bin/strace", "-f", "-qq", "-e", "trace=write", "-o", dir_ / "trace.txt",
        "/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "TMPDIR=" + (dir_ / "tmp"), kCli,
        "--quiet", "--jobs", c.jobs, "objects/*.rwx", "fmt.txt"};
    if (*c.registry != '\0') args.push_back(c.registry);
    const ProgramRun run = c.terminal ? testing_support::RunOnTerminal(args, dir_.path())
                                      : RunProgram(args, dir_.path());
    ASSERT_EQ(run.exit_status, 0);
    // Every write of registry text, and how many bytes each one carried.
    std::vector<long> sizes;
    std::istringstream trace(ReadFile(dir_ / "trace.txt"));
    for (std::string line; std::getline(trace, line);) {
      if (line.find("write(") == std::string::npos || line.find("\"xxx") == std::string::npos) {
        continue;
      }
      sizes.push_back(std::stol(line.substr(line.rfind("= ") + 2)));
    }
    EXPECT_EQ(sizes, c.writes);
  }
}

TEST_F(SafeRun, AKilledRunMakesNoRegistry) {
  std::string format;
  for (int i = 0; i < 200; ++i) format += std::string(100, 'x') + " <ffile>\n";
  WriteFile(dir_ / "fmt.txt", format);
  std::string all;
  for (int i = 0; i < 400; ++i) {
    const std::string name = "m" + std::to_string(1000 + i) + ".rwx";
    Model(name);
    for (int k = 0; k < 200; ++k) all += std::string(100, 'x') + " " + name + "\r\n";
  }
  for (int delay_ms : {20, 60, 100}) {
    SCOPED_TRACE(delay_ms);
    const std::vector<std::string> argv{
        "/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kCli, "--quiet", "objects/*.rwx", "fmt.txt",
        "-oreg.txt"};
    const auto run = testing_support::StartProgram(argv, dir_.path(), dir_.path());
    usleep(delay_ms * 1000);
    kill(run.pid, SIGKILL);
    testing_support::WaitProgram(run);
    // Only a completed run makes the registry: none, or all of it (a fast machine may finish
    // before the later kills).
    if (std::filesystem::exists(dir_ / "reg.txt")) EXPECT_EQ(ReadFile(dir_ / "reg.txt"), all);
  }
}

TEST_F(SafeRun, AnUnusableTmpdirFallsBackToTmpNeverToTheCurrentFolder) {
  Model("a.rwx");
  // A user's own files under the work files' names, in the folder the run starts in.
  WriteFile(dir_ / "unzipwk.$$$", "mine");
  WriteFile(dir_ / "myregxxx.$$$", "mine too");
  for (const std::string tmpdir : {"/nonexistent/folder", "relative/folder"}) {
    SCOPED_TRACE(tmpdir);
    const ProgramRun run = Run({"--quiet", "objects/a.rwx"}, tmpdir);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, std::string("a.rwx") + kBoxLine);
    EXPECT_EQ(ReadFile(dir_ / "unzipwk.$$$"), "mine");
    EXPECT_EQ(ReadFile(dir_ / "myregxxx.$$$"), "mine too");
  }
}

TEST_F(SafeRun, NoPrivateWorkFolderAnywhereRefusesTheRun) {
  // /tmp made read-only in a mount namespace of the run's own; needs the right to make one.
  const std::string probe = "unshare -m sh -c 'mount -t tmpfs -o ro tmpfs /tmp' 2>/dev/null";
  if (RunProgram({"/bin/sh", "-c", probe}).exit_status != 0) {
    GTEST_SKIP() << "needs a mount namespace (unshare -m) to make /tmp read-only";
  }
  Model("a.rwx");
  WriteFile(dir_ / "unzipwk.$$$", "mine");
  // The program and the test folder may both lie under /tmp: a copy in the test folder, reached
  // through the working directory, stays within reach when /tmp is covered.
  std::filesystem::copy_file(kCli, dir_ / "boxtally-cli");
  const ProgramRun run =
      RunProgram({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                  "cd '" + dir_.path() +
                      "' && mount -t tmpfs -o ro tmpfs /tmp && TMPDIR=/nonexistent ./boxtally-cli "
                      "objects/a.rwx"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot make a private work folder"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "unzipwk.$$$"), "mine");
}

TEST_F(SafeRun, OnlyTheWorkFilesOfDeadProcessesAreRemoved) {
  Model("a.rwx");
  struct Case {
    const char* folder;
    std::vector<const char*> files;  // ".boxtally-work" is the marker of a work folder
    std::vector<const char*> kept;   // what is there after the run; empty: the folder is gone
  };
  const Case cases[] = {
      {"boxtally.dead00", {".boxtally-work", "unzipwk.$$$", "chair.cob", "chair.rwx"}, {}},
      {"boxtally.dead01", {".boxtally-work", "unzipwk.$$$", "notes.txt"}, {"notes.txt"}},
      {"boxtally.live00", {".boxtally-work", "unzipwk.$$$"}, {".boxtally-work", "unzipwk.$$$"}},
      {"boxtally.project", {".boxtally-work", "reg.txt"}, {".boxtally-work", "reg.txt"}},
      {"boxtally.nomark", {"unzipwk.$$$", "reg.txt"}, {"unzipwk.$$$", "reg.txt"}},
  };
  for (const Case& c : cases) {
    std::filesystem::create_directory(dir_ / ("tmp/" + std::string(c.folder)));
    for (const char* f : c.files) WriteFile(dir_ / ("tmp/" + std::string(c.folder) + "/" + f), "");
  }
  const int held = open((dir_ / "tmp/boxtally.live00/.boxtally-work").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);  // as a running boxtally holds its own
  ASSERT_EQ(Run({"--quiet", "objects/a.rwx"}).exit_status, 0);
  close(held);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const std::string folder = dir_ / ("tmp/" + std::string(c.folder));
    EXPECT_EQ(std::filesystem::exists(folder), !c.kept.empty());
    for (const char* f : c.kept) EXPECT_TRUE(std::filesystem::exists(folder + "/" + f)) << f;
  }
}

TEST_F(SafeRun, TheProgressLineNeverMixesWithRegistryLinesOnATerminal) {
  Model("a.rwx");
  Model("b.rwx");
  // Both standard streams on one terminal, as in an interactive shell.
  auto on_terminal = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kCli};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing_support::RunOnTerminal(argv, dir_.path()).out;
  };
  // The run's summary is the last line; the time it shows varies.
  const std::regex summary("boxtally-cli: done: 2 models measured \\([0-9]+\\.[0-9] s\\)\r\n$");
  // Registry lines on the terminal: no progress line at all.
  std::string screen = on_terminal({"objects/*.rwx"});
  const std::string lines = std::string("a.rwx") + kBoxLine.substr(0, 29) + "\r\r\n" + "b.rwx" +
                            kBoxLine.substr(0, 29) + "\r\r\n";  // the terminal adds a CR
  EXPECT_EQ(screen.substr(0, lines.size()), lines);
  EXPECT_TRUE(std::regex_match(screen.substr(lines.size()), summary)) << screen;
  // Registry in a file: the count reaches the end, and the line is erased before the summary.
  screen = on_terminal({"objects/*.rwx", "-oreg.txt"});
  EXPECT_NE(screen.find("2 of 2 done"), std::string::npos) << screen;
  const std::size_t erased = screen.rfind("\r\033[K");
  ASSERT_NE(erased, std::string::npos) << screen;
  EXPECT_TRUE(std::regex_match(screen.substr(erased + 4), summary)) << screen;
}
