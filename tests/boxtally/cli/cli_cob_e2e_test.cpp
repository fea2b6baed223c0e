// boxtally-cli over COB models, plain and zipped, converted by the real rwxsmith.
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rwxsmith/cob_test_builder.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;

// A unit cube from (0,0,0) to (1,1,1), placed by its polyhedron matrix at (1,2,3).
std::string CubeScene() {
  cobtest::PolyDef cube;
  cube.name = "Cube";
  cube.translation = {1, 2, 3};
  cube.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                   {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  cube.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Face({4, 5, 6, 7}),
                cobtest::Face({0, 1, 5, 4}), cobtest::Face({1, 2, 6, 5}),
                cobtest::Face({2, 3, 7, 6}), cobtest::Face({3, 0, 4, 7})};
  cobtest::MatDef paint;
  paint.shader = 'f';
  cobtest::CobFile file;
  file.Group(10, 0, "Box").Poly(20, 10, cube).Mat(30, 20, paint).End();
  return std::string(file.bytes().begin(), file.bytes().end());
}

// The converter stores the cube (moved to x 1..2, y 2..3, z 3..4) as a prototype and places it
// in a frame that scales by 0.1, turns -90 degrees about x and 180 about y: (x, y, z) becomes
// (-0.1 x, 0.1 z, 0.1 y). So the box is x -0.2..-0.1, y 0.3..0.4, z 0.2..0.3, and in integer
// mode lo = trunc(min * 1000) + 5 and hi = trunc(max * 1000) - 5.
const char* const kCubeBox = " 1 -195 305 205 -105 395 295\r\n";

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
    const std::string cmd = "cd '" + (dir_ / "src") + "' && zip -q -X '../objects/" + archive +
                            "' '" + entry + "'";
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", cmd}).exit_status, 0);
  }
  ProgramRun Run(const std::string& cli, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), cli, "--quiet",
                                  "--log", dir_ / "log.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
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
  EXPECT_EQ(run.out, std::string("box.cob") + kCubeBox + "tree.cob" + kCubeBox + "zbox.cob" +
                         kCubeBox);

  const std::string obj = dir_ / "objects/";
  const std::string smith = kBin + "/rwxsmith";
  auto zipped = [&](const std::string& archive, const std::string& entry) {
    return "File name within (" + obj + archive + ") archive=" + entry + "\r\n"
           "Debug - rename unzipwk.$$$ unzipwk.cob  success\r\n"
           "Debug - invoke -" + smith + " unzipwk.cob Rwx-   0\r\n"
           "Debug - remove unzipwk.cob   success\r\n"
           "Debug - open WORK/unzipwk.rwx   success\r\n"
           "Debug - final remove WORK/unzipwk.rwx  success\r\n";
  };
  EXPECT_EQ(Log(), "Processing file " + obj + "box.cob\r\n"
                   "Debug - invoke -" + smith + " box.cob Rwx-   0\r\n"
                   "Debug - open " + obj + "box.rwx   success\r\n"
                   "Debug - final remove " + obj + "box.rwx  success\r\n" +
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
  EXPECT_EQ(Log(), "Rwxsmith.exe not found for " + (dir_ / "objects/a.cob") + "\r\n"
                   "Rwxsmith.exe not found for " + (dir_ / "objects/b.zip") + "\r\n");
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
  EXPECT_EQ(Log(), smith + "6 for " + obj + "ascii.cob (ascii.cob)\r\n" + smith + "6 for " + obj +
                       "corrupt.cob (corrupt.cob)\r\n" + smith + "7 for " + obj +
                       "cut.cob (cut.cob)\r\n");
}
