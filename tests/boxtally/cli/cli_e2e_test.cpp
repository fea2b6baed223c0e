// End-to-end runs of the real boxtally-cli on small object paths. Every expected registry and
// log text below is worked out by hand from the measuring rules, CR LF included.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kCli = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";

class CliRun : public ::testing::Test {
 protected:
  std::string Model(const std::string& name, const std::string& text) {
    const std::string path = dir_ / name;
    WriteFile(path, text);
    return path;
  }
  // Runs boxtally-cli with the log in log.txt; switches first, then the operands.
  ProgramRun Run(std::vector<std::string> switches, const std::vector<std::string>& operands) {
    std::vector<std::string> argv{kCli, "--quiet", "--log", LogPath()};
    argv.insert(argv.end(), switches.begin(), switches.end());
    argv.insert(argv.end(), operands.begin(), operands.end());
    return RunProgram(argv, dir_.path());
  }
  std::string LogPath() const { return dir_ / "log.txt"; }
  std::string Log() const { return ReadFile(LogPath()); }

  TempDir dir_;
};

}  // namespace

TEST_F(CliRun, DefaultTemplateWritesIntegerLinesToStandardOutput) {
  Model("box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  Model("Chair.RWX", "modelbegin\r\nvertex 0 0 0\r\nmodelend\r\n");
  const ProgramRun run = Run({}, {dir_ / "*.rwx"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            "box.rwx 1 -995 -995 -995 995 995 995\r\n"
            "chair.rwx 1 -5 -5 -5 5 5 5\r\n");
  EXPECT_EQ(Log(), "");
}

TEST_F(CliRun, RegistryFileIsCreatedOrAppendedAndAbsolutePathsAreNames) {
  Model("box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  Model("fmt.txt", "<ffile>;<fvert>;<fpoly>\n");
  const std::string reg = dir_ / "reg.txt";  // absolute: starts with '/'
  ASSERT_EQ(Run({}, {dir_ / "box.rwx", dir_ / "fmt.txt", "-o" + reg}).exit_status, 0);
  EXPECT_EQ(ReadFile(reg), "box.rwx;   8;   6\r\n");
  // Appending models the registry holds already: one warning, even when quiet, and the lines.
  const ProgramRun again = Run({}, {dir_ / "box.rwx", dir_ / "fmt.txt", reg});
  ASSERT_EQ(again.exit_status, 0);
  EXPECT_EQ(again.err, "boxtally-cli: 1 of these models are already in the registry\n");
  EXPECT_EQ(ReadFile(reg), "box.rwx;   8;   6\r\nbox.rwx;   8;   6\r\n");
  const ProgramRun anew = Run({}, {dir_ / "box.rwx", dir_ / "fmt.txt", "-o" + reg});
  ASSERT_EQ(anew.exit_status, 0);
  EXPECT_EQ(anew.err, "");
  EXPECT_EQ(ReadFile(reg), "box.rwx;   8;   6\r\n");
  EXPECT_EQ(Log(), "");
}

TEST_F(CliRun, RunArgumentEdgeCases) {
  Model("box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  Model("fmt.txt", "<ffile>\n");
  // Unknown letters are logged and skipped; "-O" is not "-o".
  // "box" is relative: the temporary folder's own name holds a dot, which would count.
  ProgramRun run = Run({}, {"box", "fmt.txt", "-O", "-x", "-v", "-tTitle", "-r"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "box.rwx\r\n");  // "box" gained ".rwx"
  EXPECT_EQ(Log(), "Unknown option: O\r\nUnknown option: x\r\n");

  // Two registry names: the second is refused, nothing is measured, the first file exists empty.
  run = Run({"--new-log"}, {dir_ / "box.rwx", dir_ / "fmt.txt", "first.txt", "-osecond.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Log(), "Output file already defined\r\n");
  EXPECT_EQ(ReadFile(dir_ / "first.txt"), "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "second.txt"));

  // Nothing matched: result 1, no message.
  run = Run({"--new-log"}, {dir_ / "*.cob", dir_ / "fmt.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Log(), "");

  run = Run({"--new-log"}, {dir_ / "box.rwx", dir_ / "missing.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Log(), "Unable to open format file " + (dir_ / "missing.txt") + "\r\n");

  run = Run({"--new-log"}, {dir_ / "box.rwx", dir_ / "fmt.txt", "-o" + (dir_ / "no/such/reg.txt")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Log(), "Unable to create/append output file " + (dir_ / "no/such/reg.txt") +
                       " (No such file or directory)\r\n");
}

TEST_F(CliRun, UsageErrorsAndAnUnopenableLogExitWithTwo) {
  EXPECT_EQ(RunProgram({kCli}).exit_status, 2);
  EXPECT_EQ(RunProgram({kCli, "--bogus", "x"}).exit_status, 2);
  EXPECT_EQ(RunProgram({kCli, "--log"}).exit_status, 2);
  const ProgramRun run = RunProgram({kCli, "--log", dir_ / "no/such/log.txt", dir_ / "*.rwx"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("log"), std::string::npos);
  EXPECT_EQ(RunProgram({kCli, "--help"}).exit_status, 0);
  // The version the top CMakeLists.txt sets, which rwxsmith and the window's title show too.
  const ProgramRun version = RunProgram({kCli, "--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "boxtally-cli " BOXTALLY_VERSION "\n");
}

TEST_F(CliRun, ProgressLinesOnlyWithAllMessages) {
  const std::string box = Model("box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  ASSERT_EQ(Run({"--all-messages"}, {box}).exit_status, 0);
  EXPECT_EQ(Log(), "Processing file " + box + "\r\n");
}

TEST_F(CliRun, TwoModelsInOneFileCarryTheColourSums) {
  Model("two.rwx",
        "modelbegin\ncolor 1 0 0\nvertex 0 0 0\nmodelend\n"
        "modelbegin\ncolor 0 1 0\nvertex 0 0 0\nmodelend\n");
  Model("fmt.txt", "<ffile> <fcolor>\n");
  const ProgramRun run = Run({}, {dir_ / "two.rwx", dir_ / "fmt.txt", "-r"});
  EXPECT_EQ(run.out, "two.rwx 0xff0000\r\ntwo.rwx 0x7f7f00\r\n");
}

TEST_F(CliRun, StackOverflowEndsTheRunAfterTheModelsBefore) {
  Model("a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  std::string deep = "modelbegin\n";
  for (int i = 0; i < 257; ++i) deep += "transformbegin\n";
  deep += "vertex 0 0 0\nmodelend\n";
  const std::string b = Model("b.rwx", deep);
  Model("c.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  Model("fmt.txt", "<ffile>\n");
  const std::string reg = dir_ / "reg.txt";
  WriteFile(reg, "older\r\n");
  const ProgramRun run = Run({}, {dir_ / "*.rwx", dir_ / "fmt.txt", "-o" + reg});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(ReadFile(reg), "older\r\n");  // only a completed run replaces it
  EXPECT_EQ(Log(), "Error:Transformation stack exceeds 256 (file:" + b + ")\r\n");
}

TEST_F(CliRun, DebugTraceGoesIntoTheRegistryStream) {
  Model("t.rwx", "modelbegin\ntransformbegin\ntranslate 1 2 3\nvertex 0 0 0\ntransformend\nmodelend\n");
  Model("fmt.txt", "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n");
  const ProgramRun run = Run({}, {dir_ / "t.rwx", dir_ / "fmt.txt", "-r", "-d"});
  const std::string identity =
      "1.000000  0.000000  0.000000  0.000000  \r\n"
      "0.000000  1.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  1.000000  0.000000  \r\n"
      "0.000000  0.000000  0.000000  1.000000  \r\n";
  const std::string moved =
      "1.000000  0.000000  0.000000  0.000000  \r\n"
      "0.000000  1.000000  0.000000  0.000000  \r\n"
      "0.000000  0.000000  1.000000  0.000000  \r\n"
      "1.000000  2.000000  3.000000  1.000000  \r\n";
  EXPECT_EQ(run.out, "transformbegin 1\r\n"
                     "Transformation matrix:\r\n" + moved +
                     "transformend   0\r\n"
                     "Transformation matrix before:\r\n" + moved +
                     "Transformation matrix:\r\n" + identity +
                     "t.rwx 1 995 1995 2995 1005 2005 3005\r\n");
}

TEST_F(CliRun, MeasuringSwitches) {
  Model("huge.rwx", "modelbegin\nvertex 25 0 0\nmodelend\n");
  ProgramRun run = Run({}, {dir_ / "huge.rwx"});
  EXPECT_EQ(run.out, "");  // skipped without a message
  run = Run({"--keep-huge"}, {dir_ / "huge.rwx"});
  EXPECT_EQ(run.out, "huge.rwx 1 24995 -5 -5 25005 5 5\r\n");

  Model("off.rwx", "modelbegin\nvertex -1 0 0\nvertex 3 0 0\nmodelend\n");
  Model("cent.txt", "<fleft> <fright> <fnoncent>\n");
  run = Run({}, {dir_ / "off.rwx", dir_ / "cent.txt"});
  EXPECT_EQ(run.out, "-10.00 30.00 Not Centered!\r\n");
  run = Run({"--non-centered"}, {dir_ / "off.rwx", dir_ / "cent.txt"});
  EXPECT_EQ(run.out, "-30.00 30.00 Not Centered!\r\n");

  Model("facer.rwx", "modelbegin\naxisalignment zorienty\nvertex -1 0 -3\nvertex 1 0 3\nmodelend\n");
  Model("facer.txt", "<fleft> <fback> <fright> <ffront> <ffacer>\n");
  run = Run({"--facers"}, {dir_ / "facer.rwx", dir_ / "facer.txt", "-r"});
  EXPECT_EQ(run.out, "-2995 -2995 2995 2995 # Facer\r\n");
  run = Run({}, {dir_ / "facer.rwx", dir_ / "facer.txt", "-r"});
  EXPECT_EQ(run.out, "-995 -2995 995 2995 # Facer\r\n");

  Model("wide.rwx", "modelbegin\nvertex -0.75 0 0\nvertex 0.75 0 0\nmodelend\n");
  Model("wide.txt", "[<foversized>]\n");
  run = Run({"--oversized"}, {dir_ / "wide.rwx", dir_ / "wide.txt"});
  EXPECT_EQ(run.out, "[OverSized!]\r\n");
  run = Run({}, {dir_ / "wide.rwx", dir_ / "wide.txt"});
  EXPECT_EQ(run.out, "[]\r\n");
}
