// boxtally-cli over COB models, plain and zipped, converted by the real rwxsmith.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "boxtally/cli/cube_scene.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::BackgroundProgram;
using testing_support::CubeScene;
using testing_support::kCubeBox;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WaitProgram;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;

class CobRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunProgram({"/bin/sh", "-c", "command -v zip"}).exit_status != 0) GTEST_SKIP() << "no zip";
    std::filesystem::create_directories(dir_ / "objects");
    std::filesystem::create_directories(dir_ / "src");
    std::filesystem::create_directories(dir_ / "tmp");
  }
  void ZipCob(const std::string& archive, const std::string& entry) {
    WriteFile(dir_ / ("src/" + entry), CubeScene());
    const std::string cmd =
        "cd '" + (dir_ / "src") + "' && zip -q -X '../objects/" + archive + "' '" + entry + "'";
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", cmd}).exit_status, 0);
  }
  ProgramRun Run(const std::string& cli, const std::vector<std::string>& args) {
    std::vector<std::string> argv{
        "/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), cli, "--quiet", "--log", dir_ / "log.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }
  // A copy of boxtally-cli in bin/ with a stand-in converter script beside it.
  std::string CliWithConverter(const std::string& script) {
    std::filesystem::create_directories(dir_ / "bin");
    std::filesystem::copy_file(kBin + "/boxtally-cli", dir_ / "bin/boxtally-cli",
                               std::filesystem::copy_options::overwrite_existing);
    WriteFile(dir_ / "bin/rwxsmith", "#!/bin/sh\n" + script);
    std::filesystem::permissions(dir_ / "bin/rwxsmith", std::filesystem::perms::owner_all);
    return dir_ / "bin/boxtally-cli";
  }
  BackgroundProgram Start(const std::string& cli, const std::vector<std::string>& args) {
    std::vector<std::string> argv{
        "/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), cli, "--quiet", "--log", dir_ / "log.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing_support::StartProgram(argv, dir_.path(), dir_.path());
  }
  // Waits until the stand-in converter has left its mark.
  void AwaitFile(const std::string& path) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i) usleep(10000);
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
  }
  // The log with the private work folder's random name replaced by WORK/.
  std::string Log() const {
    static const std::regex work(dir_.path() + "/tmp/boxtally\\.[A-Za-z0-9]{6}/");
    return std::regex_replace(ReadFile(dir_ / "log.txt"), work, "WORK/");
  }

  TempDir dir_;
};

}  // namespace

TEST_F(CobRun, PlainAndZippedCobModelsAreConvertedMeasuredAndCleanedUp) {
  WriteFile(dir_ / "objects/box.cob", CubeScene());
  ZipCob("tree.zip", "Tree.COB");
  ZipCob("zbox.zip", "box.cob");
  const ProgramRun run =
      Run(kBin + "/boxtally-cli", {"--all-messages", "--cob-debug", dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            std::string("box.cob") + kCubeBox + "tree.cob" + kCubeBox + "zbox.cob" + kCubeBox);

  const std::string obj = dir_ / "objects/";
  const std::string smith = kBin + "/rwxsmith";
  auto zipped = [&](const std::string& archive, const std::string& entry) {
    return "File name within (" + obj + archive + ") archive=" + entry +
           "\r\n"
           "Debug - rename unzipwk.$$$ unzipwk.cob  success\r\n"
           "Debug - invoke -" +
           smith +
           " unzipwk.cob Rwx-   0\r\n"
           "Debug - remove unzipwk.cob   success\r\n"
           "Debug - open WORK/unzipwk.rwx   success\r\n"
           "Debug - final remove WORK/unzipwk.rwx  success\r\n";
  };
  // A plain model is converted from a copy in the work folder: the object path is never written.
  EXPECT_EQ(Log(), "Processing file " + obj +
                       "box.cob\r\n"
                       "Debug - invoke -" +
                       smith +
                       " box.cob Rwx-   0\r\n"
                       "Debug - remove box.cob   success\r\n"
                       "Debug - open WORK/box.rwx   success\r\n"
                       "Debug - final remove WORK/box.rwx  success\r\n" +
                       zipped("tree.zip", "Tree.COB") + zipped("zbox.zip", "box.cob"));
  EXPECT_FALSE(std::filesystem::exists(obj + "box.rwx"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, MissingConverterIsLoggedForEveryCobModelAndTheRunGoesOn) {
  // A copy of boxtally-cli in a folder without rwxsmith beside it.
  std::filesystem::create_directories(dir_ / "bin");
  std::filesystem::copy_file(kBin + "/boxtally-cli", dir_ / "bin/boxtally-cli");
  WriteFile(dir_ / "objects/a.cob", CubeScene());
  ZipCob("b.zip", "b.cob");
  WriteFile(dir_ / "objects/c.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  const ProgramRun run = Run(dir_ / "bin/boxtally-cli", {dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "c.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "Rwxsmith.exe not found for " + (dir_ / "objects/a.cob") +
                       "\r\n"
                       "Rwxsmith.exe not found for " +
                       (dir_ / "objects/b.zip") + "\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, ConversionNeverWritesTheObjectPathAndKeepsRelativeNames) {
  // The user's own chair.rwx beside chair.cob, and a link under the name the converter writes.
  WriteFile(dir_ / "objects/chair.cob", CubeScene("wood.jpg"));
  WriteFile(dir_ / "objects/chair.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(dir_ / "objects/lamp.cob", CubeScene("wood.jpg"));
  WriteFile(dir_ / "outside.txt", "not yours");
  std::filesystem::create_symlink(dir_ / "outside.txt", dir_ / "objects/lamp.rwx");
  // A relative template and colour table: they mean the folder the run started in, also while
  // a COB model is converted and measured.
  WriteFile(dir_ / "fmt.txt", "<ffile> <ftcolor>\n");
  WriteFile(dir_ / "bmpcolor.txt", "wood 0x8b4513\n");
  const ProgramRun run = Run(kBin + "/boxtally-cli", {"objects/chair.*", "fmt.txt", "-r"});
  EXPECT_EQ(run.exit_status, 0);
  // <ftcolor> writes the model name and the table line from the blank after its key: three blanks
  // between them. The untextured, uncoloured RWX model gets nothing for the tag.
  EXPECT_EQ(run.out, "chair.cob chair.cob   0x8b4513\r\nchair.rwx \r\n");
  EXPECT_EQ(ReadFile(dir_ / "objects/chair.rwx"), "modelbegin\nblock 2 2 2\nmodelend\n");
  EXPECT_EQ(Log(), "");

  ASSERT_EQ(Run(kBin + "/boxtally-cli", {"objects/lamp.cob", "fmt.txt", "-r"}).exit_status, 0);
  EXPECT_EQ(ReadFile(dir_ / "outside.txt"), "not yours");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "objects/lamp.rwx"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, ConcurrentRunsOverOneFolderKeepEveryLine) {
  std::string expected;
  for (char c = 'a'; c <= 'p'; ++c) {
    WriteFile(dir_ / (std::string("objects/") + c + ".cob"), CubeScene());
    expected += std::string(1, c) + ".cob" + kCubeBox;
  }
  std::vector<BackgroundProgram> runs;
  // Four at once: each also looks for dead runs' work folders while the others make theirs.
  for (const char* reg : {"-oreg1.txt", "-oreg2.txt", "-oreg3.txt", "-oreg4.txt"}) {
    std::vector<std::string> argv{"/usr/bin/env",
                                  "TMPDIR=" + (dir_ / "tmp"),
                                  kBin + "/boxtally-cli",
                                  "--quiet",
                                  "objects/*.cob",
                                  "-r",
                                  reg};
    std::filesystem::create_directories(dir_ / reg);  // each run's own standard streams
    runs.push_back(testing_support::StartProgram(argv, dir_.path(), dir_ / reg));
  }
  for (const BackgroundProgram& run : runs) EXPECT_EQ(WaitProgram(run).exit_status, 0);
  for (const char* reg : {"reg1.txt", "reg2.txt", "reg3.txt", "reg4.txt"}) {
    EXPECT_EQ(ReadFile(dir_ / reg), expected) << reg;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, CtrlCEndsTheConversionInProgressAtOnce) {
  // A converter that would take 1,000 seconds.
  const std::string cli = CliWithConverter("touch \"$0.started\"\nexec sleep 1000\n");
  WriteFile(dir_ / "objects/a.cob", "scene");
  WriteFile(dir_ / "objects/b.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  const BackgroundProgram run = Start(cli, {"objects/*.*"});
  AwaitFile(dir_ / "bin/rwxsmith.started");
  kill(-run.pid, SIGINT);  // what the terminal sends to the job's whole process group
  const ProgramRun done = WaitProgram(run);
  EXPECT_EQ(done.exit_status, 128 + SIGINT);
  EXPECT_EQ(done.out, "");  // a.cob was stopped, b.rwx came after the stop
  EXPECT_EQ(Log(), "'" + (dir_ / "bin/rwxsmith") + "' returned 137 for objects/a.cob (a.cob)\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, TheTemplateIsReadOnceWhenTheRunStarts) {
  // A converter that takes the template away in the middle of the run.
  const std::string cli = CliWithConverter("rm -f '" + (dir_ / "fmt.txt") + "'\nexit 3\n");
  WriteFile(dir_ / "fmt.txt", "<ffile> <fx>\n");
  for (const char* name : {"a.rwx", "b.cob", "c.rwx"}) {
    WriteFile(dir_ / ("objects/" + std::string(name)), "modelbegin\nblock 2 2 2\nmodelend\n");
  }
  const ProgramRun run = Run(cli, {"--jobs", "1", "objects/*.*", dir_ / "fmt.txt", "-r"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "fmt.txt"));
  EXPECT_EQ(run.out, "a.rwx 2000\r\nc.rwx 2000\r\n");
}

TEST_F(CobRun, TheConverterEndsWithBoxtallyHoweverItEnds) {
  const std::string cli = CliWithConverter("echo $$ > \"$0.pid\"\nexec sleep 60\n");
  WriteFile(dir_ / "objects/a.cob", "scene");
  struct Case {
    const char* name;
    std::vector<int> signals;  // sent to boxtally alone, one after another
    int exit_status;           // of a program ended by a signal: 128 + its number
    bool work_folder_removed;
  };
  const Case cases[] = {
      {"a stop", {SIGTERM}, 128 + SIGTERM, true},
      {"Ctrl-C twice: at once", {SIGINT, SIGINT}, 128 + SIGINT, true},
      {"killed", {SIGKILL}, 128 + SIGKILL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_ / "bin/rwxsmith.pid");
    const BackgroundProgram run = Start(cli, {"objects/a.cob"});
    AwaitFile(dir_ / "bin/rwxsmith.pid");
    usleep(100000);  // the script has become "sleep"
    const pid_t converter = std::stoi(ReadFile(dir_ / "bin/rwxsmith.pid"));
    for (const int signal_number : c.signals) kill(run.pid, signal_number);
    const ProgramRun done = WaitProgram(run);
    usleep(100000);  // the kernel's SIGKILL for a dead parent's child is not instant
    // A zombie is dead: its new parent has not reaped it yet.
    const std::string status = ReadFile("/proc/" + std::to_string(converter) + "/status");
    const bool converter_alive = !status.empty() && status.find("State:\tZ") == std::string::npos;
    if (converter_alive) kill(converter, SIGKILL);
    EXPECT_EQ(done.exit_status, c.exit_status);
    EXPECT_FALSE(converter_alive);
    EXPECT_EQ(std::filesystem::is_empty(dir_ / "tmp"), c.work_folder_removed);
    std::filesystem::remove_all(dir_ / "tmp");
    std::filesystem::create_directory(dir_ / "tmp");
  }
}

TEST_F(CobRun, AConverterPastItsTimeLimitIsEndedAndTheRunGoesOn) {
  const std::string cli = CliWithConverter("exec sleep 60\n");
  const std::string a = dir_ / "objects/a.cob";
  WriteFile(a, "scene");
  WriteFile(dir_ / "objects/b.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  const ProgramRun run = Run(cli, {"--converter-time-limit", "1", dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "b.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "Rwxsmith.exe was ended after 1 seconds for " + a +
                       "\r\n"
                       "Rwxsmith.exe did not convert " +
                       a + " (a.cob)\r\n");
}

// The converter's own files are held to the size bound too: a converter that writes without end
// is stopped at the bound (SIGXFSZ, 153) instead of filling the work folder.
TEST_F(CobRun, AConverterThatWritesPastTheSizeBoundIsStopped) {
  const std::string cli = CliWithConverter("exec head -c 3000000 /dev/zero > \"${1%.*}.rwx\"\n");
  const std::string a = dir_ / "objects/a.cob";
  WriteFile(a, "scene");
  WriteFile(dir_ / "objects/b.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  const ProgramRun run = Run(cli, {"--max-entry-size", "1", dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "b.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "'" + (dir_ / "bin/rwxsmith") + "' returned 153 for " + a +
                       " (a.cob)\r\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(CobRun, SceneTheConverterCannotReadGetsNoLineAndALogLine) {
  WriteFile(dir_ / "objects/box.cob", CubeScene());
  // Text in the place of a binary scene, a header whose format byte is neither 'A' nor 'B', and a
  // scene cut short inside its polyhedron.
  WriteFile(dir_ / "objects/ascii.cob", "Caligari V00.01ALH             \n(the rest as text)\n");
  std::string corrupt = CubeScene();
  corrupt[15] = 'X';
  WriteFile(dir_ / "objects/corrupt.cob", corrupt);
  WriteFile(dir_ / "objects/cut.cob", CubeScene().substr(0, 200));
  // --keep-huge: a model measured without any point would still get a line.
  const ProgramRun run = Run(kBin + "/boxtally-cli", {"--keep-huge", dir_ / "objects/*.cob"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, std::string("box.cob") + kCubeBox);
  const std::string obj = dir_ / "objects/";
  const std::string smith = "'" + kBin + "/rwxsmith' returned ";
  // Each failure, then why in the converter's words.
  const std::string said = "Rwxsmith.exe reported for " + obj;
  EXPECT_EQ(Log(), smith + "6 for " + obj + "ascii.cob (ascii.cob)\r\n" + said +
                       "ascii.cob: ASCII format COB files are not supported - resave as "
                       "binary\r\n" +
                       smith + "6 for " + obj + "corrupt.cob (corrupt.cob)\r\n" + said +
                       "corrupt.cob: Can not read header - file probably corrupted\r\n" + smith +
                       "7 for " + obj + "cut.cob (cut.cob)\r\n" + said +
                       "cut.cob: Can not read the chunk at offset 155 whole - file probably "
                       "corrupted or cut short\r\n");
}

// The converter's last words, on its standard output or error, are the reason of a failed
// conversion: never on boxtally-cli's own streams, cut to a bound, without the work file's name.
TEST_F(CobRun, AFailedConversionGivesTheConvertersLastMessageAsItsReason) {
  const std::string cli = CliWithConverter(
      "echo 'Rwxsmith build 0.0.0'\n"
      "echo \"$1: an earlier problem\" >&2\n"
      "case \"$1\" in\n"
      "  a.cob) printf '%s: the last word\\n\\n  \\n' \"$1\"; exit 6;;\n"
      "  b.cob) printf 'tab\\there %0300d\\n' 0 >&2; exit 7;;\n"
      "  *) printf '%s: zipped and said on error\\r\\n' \"$1\" >&2; exit 6;;\n"
      "esac\n");
  WriteFile(dir_ / "objects/a.cob", "scene");
  WriteFile(dir_ / "objects/b.cob", "scene");
  ZipCob("c.zip", "c.cob");
  const ProgramRun run =
      Run(cli, {"--jobs", "1", "--report", dir_ / "report.csv", dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  const std::string obj = dir_ / "objects/";
  const std::string smith = "'" + (dir_ / "bin/rwxsmith") + "' returned ";
  const std::string long_words = "tab_here " + std::string(246, '0');  // 255 bytes
  EXPECT_EQ(Log(), smith + "6 for " + obj + "a.cob (a.cob)\r\nRwxsmith.exe reported for " + obj +
                       "a.cob: the last word\r\n" + smith + "7 for " + obj +
                       "b.cob (b.cob)\r\nRwxsmith.exe reported for " + obj + "b.cob: " +
                       long_words + "\r\n" + smith + "6 for " + obj +
                       "c.zip (unzipwk.cob)\r\nRwxsmith.exe reported for " + obj +
                       "c.zip: zipped and said on error\r\n");
  const std::string report = ReadFile(dir_ / "report.csv");
  for (const std::string& row : std::vector<std::string>{
           "a.cob,failed,conversion failed (exit status 6): the last word,",
           "b.cob,failed,conversion failed (exit status 7): " + long_words + ",",
           "c.cob,failed,conversion failed (exit status 6): zipped and said on error,"}) {
    EXPECT_NE(report.find(row), std::string::npos) << row << "\n" << report;
  }
}

TEST_F(CobRun, ASecondRunOnARegistryInUseDoesNotStartAndLeavesItAlone) {
  const std::string cli = CliWithConverter(
      "touch \"$0.started\"\nsleep 1\nprintf 'modelbegin\\nblock 2 2 2\\nmodelend\\n' > "
      "\"${1%.*}.rwx\"\n");
  WriteFile(dir_ / "objects/a.cob", "scene");
  WriteFile(dir_ / "objects/b.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(dir_ / "reg.txt", "earlier\r\n");
  const BackgroundProgram first = Start(cli, {"objects/*.*", "-r", "reg.txt"});
  AwaitFile(dir_ / "bin/rwxsmith.started");
  // Appending or creating anew, with the log on standard error or in a file: one line, exit 1.
  for (const char* registry : {"reg.txt", "-oreg.txt"}) {
    SCOPED_TRACE(registry);
    const ProgramRun second = RunProgram(
        {"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kBin + "/boxtally-cli", "--quiet",
         "objects/*.rwx", "-r", registry},
        dir_.path());
    EXPECT_EQ(second.exit_status, 1);
    EXPECT_EQ(second.err, "Output file reg.txt is in use by another run\n");
  }
  const ProgramRun logged = Run(kBin + "/boxtally-cli", {"objects/*.rwx", "-r", "-oreg.txt"});
  EXPECT_EQ(logged.exit_status, 1);
  EXPECT_EQ(logged.err,
            "boxtally-cli: the registry file reg.txt is being written by another run; nothing "
            "was measured\n");
  EXPECT_EQ(WaitProgram(first).exit_status, 0);
  // The first run's lines, once each, after what was there; its lock went with it.
  const std::string box = " 1 -995 -995 -995 995 995 995\r\n";
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "earlier\r\na.cob" + box + "b.rwx" + box);
  EXPECT_EQ(Run(kBin + "/boxtally-cli", {"objects/b.rwx", "-r", "reg.txt"}).exit_status, 0);
}
