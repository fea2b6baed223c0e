// boxtally-cli over an object path laid out as world builders keep one, models/ beside textures/:
// a textured quad, a masked quad, a model whose texture is missing and a COB model whose
// texture the real rwxsmith names; locally and from nginx.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "boxtally/cli/cube_scene.h"
#include "boxtally/textures/image_decode.h"
#include "support/nginx_server.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::NginxServer;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;

const char* const kQuad =
    "vertex -0.5 0 0 uv 0 1\nvertex 0.5 0 0 uv 1 1\nvertex 0.5 1 0 uv 1 0\n"
    "vertex -0.5 1 0 uv 0 0\nquad 1 2 3 4\nmodelend\n";

// The models, zipped as an object path keeps them, and the textures of all but "crate".
class TexturedObjectPath : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunProgram({"/bin/sh", "-c", "command -v zip && command -v convert"}).exit_status != 0) {
      GTEST_SKIP() << "needs zip and ImageMagick's convert";
    }
    for (const char* d : {"src", "op/models", "op/textures", "tmp", "empty"}) {
      std::filesystem::create_directories(dir_ / d);
    }
    WriteFile(dir_ / "src/sign.rwx",
              std::string("modelbegin\ncolor 1 0 0\ntexture signboard\n") + kQuad);
    WriteFile(dir_ / "src/bush.rwx",
              std::string("modelbegin\ntexture leaves mask leavesm\n") + kQuad);
    WriteFile(dir_ / "src/crate.rwx",
              std::string("modelbegin\ncolor 1 1 0\ntexture crate\n") + kQuad);
    WriteFile(dir_ / "src/plain.rwx", std::string("modelbegin\ncolor 1 0 0\n") + kQuad);
    WriteFile(dir_ / "src/box.cob", testing_support::CubeScene("C:\\maps\\Brick.jpg"));
    const std::string make =
        "cd '" + dir_.path() +
        "/src' && for m in sign bush crate plain; do zip -q -X "
        "../op/models/$m.zip $m.rwx; done && zip -q -X ../op/models/box.zip box.cob && "
        "cd ../op/textures && convert -size 8x8 xc:navy -strip signboard.JPG && "
        "convert -size 8x8 xc:green -strip leaves.png && "
        "convert -size 8x8 xc:white -fill black -draw 'rectangle 0,0 3,7' -strip BMP3:LEAVESM.bmp "
        "&& "
        "convert -size 8x8 xc:firebrick -strip brick.gif && zip -q -X -m brick.zip brick.gif";
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", make}).exit_status, 0);
  }

  ProgramRun Run(std::vector<std::string> args) {
    std::vector<std::string> argv{
        "/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kBin + "/boxtally-cli", "--log", "run.log",
        "--new-log"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }

  TempDir dir_;
};

std::string WithoutTime(const std::string& text) {
  return std::regex_replace(text, std::regex(R"( \([0-9.]+ s\)\n)"), "\n");
}

TEST_F(TexturedObjectPath, NamesTheMissingTexturesOfEveryModelForAnyNumberOfJobs) {
  struct Case {
    const char* label;
    std::vector<std::string> textures;  // the --textures switch, if any
    std::string log;
    std::string summary;
  };
  const Case cases[] = {
      {"textures beside models",
       {},
       "Warning: Missing textures: crate (file:op/models/crate.zip)\r\n",
       "boxtally-cli: done: 5 models measured (1 with missing textures)\n"},
      // A folder named instead: an empty one lacks every texture and mask, the COB's too.
      {"an empty folder named",
       {"--textures", "empty"},
       "Warning: Missing textures: brick (file:op/models/box.zip)\r\n"
       "Warning: Missing textures: leaves;leavesm (file:op/models/bush.zip)\r\n"
       "Warning: Missing textures: crate (file:op/models/crate.zip)\r\n"
       "Warning: Missing textures: signboard (file:op/models/sign.zip)\r\n",
       "boxtally-cli: done: 5 models measured (4 with missing textures)\n"},
  };
  for (const Case& c : cases) {
    for (const char* jobs : {"1", "3"}) {
      SCOPED_TRACE(std::string(c.label) + ", --jobs " + jobs);
      std::filesystem::remove_all(dir_ / "thumbs");
      std::vector<std::string> args = {"--jobs",   jobs,         "--thumbnails",    "thumbs",
                                       "--report", "report.csv", "op/models/*.zip", "-oreg.txt"};
      args.insert(args.begin(), c.textures.begin(), c.textures.end());
      const ProgramRun run = Run(args);
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(ReadFile(dir_ / "run.log"), c.log);
      EXPECT_EQ(WithoutTime(run.err), c.summary);
      for (const char* picture : {"box", "bush", "crate", "plain", "sign"}) {
        EXPECT_TRUE(
            std::filesystem::is_regular_file(dir_ / ("thumbs/" + std::string(picture) + ".png")))
            << picture;
      }
      const std::string report = ReadFile(dir_ / "report.csv");
      EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 6);  // a header and five rows
    }
  }
}

// Within two steps a channel (a JPEG's colours may be a step or two off), shown as 0xRRGGBB.
testing::AssertionResult NearColour(const char*, const char*, std::uint32_t got,
                                    std::uint32_t want) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int step =
        static_cast<int>((got >> shift) & 255) - static_cast<int>((want >> shift) & 255);
    if (std::abs(step) > 2) {
      char text[40];
      std::snprintf(text, sizeof text, "0x%06X, not 0x%06X", got, want);
      return testing::AssertionFailure() << text;
    }
  }
  return testing::AssertionSuccess();
}

// Two points of the quad in the 256 x 256 first view, worked out by hand from the camera: the
// quad's box fills 0.84 of the picture's height at 192.7 pixels a unit; (0.25, 0.75, 0) lands at
// (169.7, 74.2), in an odd cell of the missing texture's 5-pixel checker, and (-0.25, 0.75, 0)
// at (86.3, 98.3), in an even one, where the mask's black left half leaves the bush out. The
// light, 0.5 up and 0.866 toward the eye, meets the quad at 0.433: 0.4 + 0.6 x 0.433 = 0.66 of
// each colour. The checker's odd cells are 0.7 of that on a light colour.
TEST_F(TexturedObjectPath, ThumbnailsShowTexturesUntintedMasksOpenAndMissingOnesChequered) {
  struct Case {
    const char* picture;
    std::uint32_t right_rgb;  // at (169, 74)
    std::uint32_t left_rgb;   // at (86, 98)
  };
  const Case cases[] = {
      {"sign", 0x000054, 0x000054},   // navy 128 x 0.66 = 84, its red colour left out
      {"bush", 0x005400, 0xEEF1F5},   // green, and the background through the mask
      {"crate", 0x767600, 0xA8A800},  // yellow 255 x 0.66 = 168, 168 x 0.7 = 118 in odd cells
      {"plain", 0xA80000, 0xA80000},  // no texture: the colour, shaded
  };
  const ProgramRun run = Run({"--jobs", "2", "--thumbnails", "thumbs", "--report", "report.csv",
                              "op/models/*.zip", "-oreg.txt"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    render::Texture picture;
    ASSERT_EQ(textures::DecodePng(ReadFile(dir_ / ("thumbs/" + std::string(c.picture) + ".png")),
                                  picture),
              textures::kImageOk);
    ASSERT_EQ(picture.width, 256);
    const auto at = [&](int x, int y) {
      const std::uint8_t* p = &picture.rgba[(static_cast<std::size_t>(y) * 256 + x) * 4];
      return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    };
    EXPECT_PRED_FORMAT2(NearColour, at(169, 74), c.right_rgb);
    EXPECT_PRED_FORMAT2(NearColour, at(86, 98), c.left_rgb);
  }
}

TEST_F(TexturedObjectPath, WithoutAKnownTexturesFolderNothingIsSaidMissing) {
  std::filesystem::remove_all(dir_ / "op/textures");
  const ProgramRun run = Run({"--quiet", "op/models/*.zip", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(ReadFile(dir_ / "run.log"), "");
  const ProgramRun refused = Run({"--textures", "no/such/folder", "op/models/*.zip", "-oreg.txt"});
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("--textures no/such/folder is no folder"), std::string::npos);
}

// The same object path served by nginx: the list's models come from op/models, and their
// textures are asked for in the web folder beside it, one HEAD a texture once one kind is known.
TEST_F(TexturedObjectPath, AWebObjectPathHasItsTexturesBesideItsModels) {
  if (testing_support::NginxProgram().empty()) GTEST_SKIP() << "needs nginx";
  std::filesystem::create_directories(dir_ / "site");
  std::filesystem::rename(dir_ / "op", dir_ / "site/op");
  // A web server's names keep their case, and scripts are read in lower case.
  std::filesystem::rename(dir_ / "site/op/textures/signboard.JPG",
                          dir_ / "site/op/textures/signboard.jpg");
  std::filesystem::rename(dir_ / "site/op/textures/LEAVESM.bmp",
                          dir_ / "site/op/textures/leavesm.bmp");
  std::filesystem::create_directories(dir_ / "lists");
  WriteFile(dir_ / "lists/list.txt", "sign.rwx\nbush.rwx\ncrate.rwx\n");
  NginxServer nginx(dir_ / "site");
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/op/models";
  const ProgramRun run =
      Run({"--web", url, "--jobs", "1", "--downloads", "1", "lists/list.txt", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "run.log"),
            "Warning: Missing textures: crate (file:lists/crate.zip)\r\n");
  EXPECT_EQ(WithoutTime(run.err),
            "boxtally-cli: done: 3 models measured (1 with missing textures)\n");
  std::vector<std::string> texture_requests;
  for (const std::string& line : nginx.AccessLines()) {
    if (line.find("/op/textures/") == std::string::npos) continue;
    texture_requests.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
  }
  // Measured only, no picture: nothing is downloaded. The kind found last is asked first.
  EXPECT_EQ(texture_requests,
            (std::vector<std::string>{
                "HEAD /op/textures/ 403", "HEAD /op/textures/signboard.jpg 200",
                "HEAD /op/textures/leaves.jpg 404", "HEAD /op/textures/leaves.jpeg 404",
                "HEAD /op/textures/leaves.png 200", "HEAD /op/textures/leavesm.png 404",
                "HEAD /op/textures/leavesm.jpg 404", "HEAD /op/textures/leavesm.jpeg 404",
                "HEAD /op/textures/leavesm.bmp 200", "HEAD /op/textures/crate.bmp 404",
                "HEAD /op/textures/crate.jpg 404", "HEAD /op/textures/crate.jpeg 404",
                "HEAD /op/textures/crate.png 404", "HEAD /op/textures/crate.gif 404",
                "HEAD /op/textures/crate.zip 404"}));
}

}  // namespace
