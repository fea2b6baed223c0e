#include "boxtally/textures/image_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "textures/texture_test_support.h"

namespace {

using testing_support::TempDir;
using namespace texture_testing;
using textures::ImageKind;

// A 16 x 8 JPEG of two flat 8 x 8 blocks, so the lossy code keeps each colour near its own.
Picture TwoBlocks() {
  Picture p{16, 8, {}};
  for (int i = 0; i < 16 * 8; ++i)
    p.pixels.push_back(i % 16 < 8 ? Rgba{200, 40, 10} : Rgba{10, 40, 200});
  return p;
}

struct FormatCase {
  const char* label;
  Picture picture;
  const char* args;
  const char* format;
  ImageKind kind;
  int bmp_bits;     // the depth convert must have written (BMP); 0: not checked
  int tolerance;    // per channel: lossy codes
  int alpha;        // of every pixel but the transparent one
  int transparent;  // the pixel that comes out transparent; -1: none
};

const char* const kHalfAlpha = "-alpha set -channel A -evaluate set 50% +channel";

std::vector<FormatCase> FormatCases() {
  return {
      {"PNG truecolour", MakePicture(5, 4, 20), "", "PNG24", ImageKind::kPng, 0, 0, 255, -1},
      {"PNG palette", MakePicture(5, 4, 20), "-type palette", "PNG8", ImageKind::kPng, 0, 0, 255,
       -1},
      {"PNG with alpha", MakePicture(5, 4, 20), kHalfAlpha, "PNG32", ImageKind::kPng, 0, 0, 128,
       -1},
      {"GIF", MakePicture(5, 4, 20), "", "GIF", ImageKind::kGif, 0, 0, 255, -1},
      // 16 rows: all four passes (convert mixes up the rows of shorter interlaced pictures).
      {"GIF interlaced", MakePicture(3, 16, 20), "-interlace GIF", "GIF", ImageKind::kGif, 0, 0,
       255, -1},
      {"GIF transparent", MakePicture(5, 4, 20), "-transparent 'rgb(0,255,0)'", "GIF",
       ImageKind::kGif, 0, 0, 255, 0},
      {"JPEG", TwoBlocks(), "-quality 100 -sampling-factor 1x1", "JPEG", ImageKind::kJpeg, 0, 6,
       255, -1},
      {"BMP 1 bit", MakePicture(4, 2, 2), "-type bilevel", "BMP3", ImageKind::kBmp, 1, 0, 255, -1},
      {"BMP 4 bits", MakePicture(4, 2, 8), "-type palette", "BMP3", ImageKind::kBmp, 4, 0, 255, -1},
      {"BMP 8 bits", MakePicture(5, 4, 20), "-type palette", "BMP3", ImageKind::kBmp, 8, 0, 255,
       -1},
      {"BMP 8 bits RLE", MakePicture(5, 4, 20), "-type palette -compress RLE", "BMP3",
       ImageKind::kBmp, 8, 0, 255, -1},
      {"BMP 16 bits 5-6-5", MakePicture(5, 4, 20), "-define bmp:subtype=RGB565", "BMP",
       ImageKind::kBmp, 16, 8, 255, -1},
      {"BMP 24 bits", MakePicture(5, 4, 20), "-type truecolor", "BMP3", ImageKind::kBmp, 24, 0, 255,
       -1},
      {"BMP 32 bits with alpha", MakePicture(5, 4, 20), kHalfAlpha, "BMP", ImageKind::kBmp, 32, 0,
       128, -1},
  };
}

class ImageDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveConvert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  }
  TempDir dir_;
};

TEST_F(ImageDecode, GivesEveryFormatAndDepthItsKnownPixelsAndRefusesItsCuts) {
  for (const FormatCase& c : FormatCases()) {
    SCOPED_TRACE(c.label);
    const std::string bytes = Convert(dir_, c.picture, c.args, c.format, "picture");
    ASSERT_FALSE(bytes.empty());
    if (c.bmp_bits != 0) {
      ASSERT_EQ(static_cast<unsigned char>(bytes[28]), c.bmp_bits);
    }
    EXPECT_EQ(textures::SniffImageKind(bytes), c.kind);
    render::Texture t;
    ASSERT_EQ(textures::DecodeImage(bytes, t), textures::kImageOk);
    ASSERT_EQ(t.width, c.picture.width);
    ASSERT_EQ(t.height, c.picture.height);
    ASSERT_EQ(t.rgba.size(), static_cast<std::size_t>(t.width * t.height * 4));
    for (std::size_t i = 0; i < c.picture.pixels.size(); ++i) {
      SCOPED_TRACE("pixel " + std::to_string(i));
      const std::uint8_t* p = &t.rgba[i * 4];
      if (static_cast<int>(i) == c.transparent) {
        EXPECT_EQ(p[3], 0);
        continue;
      }
      const Rgba& want = c.picture.pixels[i];
      EXPECT_NEAR(p[0], want.r, c.tolerance);
      EXPECT_NEAR(p[1], want.g, c.tolerance);
      EXPECT_NEAR(p[2], want.b, c.tolerance);
      EXPECT_NEAR(p[3], c.alpha, 1);  // 50% is 127.5: either neighbour
    }
    // Three quarters of such small files are still inside the pixel data.
    for (std::size_t n = 0; n < bytes.size() * 3 / 4; ++n) {
      const std::string cut(bytes.data(), n);  // a copy of its own, so ASan sees where it ends
      render::Texture part;
      EXPECT_NE(textures::DecodeImage(cut, part), textures::kImageOk) << "cut at " << n;
      EXPECT_TRUE(part.rgba.empty());
    }
  }
}

TEST_F(ImageDecode, RefusesPicturesPastTheBoundsAndTakesThoseAtThem) {
  struct Case {
    const char* format;
    int width, height;
    textures::ImageResult result;
  };
  const Case cases[] = {
      {"PNG24", 4096, 1, textures::kImageOk},          {"PNG24", 4097, 1, textures::kImageTooLarge},
      {"PNG24", 1, 4097, textures::kImageTooLarge},    {"PNG24", 2048, 2048, textures::kImageOk},
      {"PNG24", 2049, 2048, textures::kImageTooLarge},  // 4,196,352 pixels
      {"GIF", 4097, 1, textures::kImageTooLarge},      {"JPEG", 4097, 1, textures::kImageTooLarge},
      {"BMP3", 1, 4097, textures::kImageTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    const std::string command = "convert -size " + std::to_string(c.width) + "x" +
                                std::to_string(c.height) + " xc:orange " + c.format + ":'" +
                                (dir_ / "big") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    render::Texture t;
    EXPECT_EQ(textures::DecodeImage(testing_support::ReadFile(dir_ / "big"), t), c.result);
  }
}

TEST(ImageKinds, AreTakenFromTheBytesNeverTheName) {
  render::Texture t;
  EXPECT_EQ(textures::DecodeImage("plain text, no picture", t), textures::kImageUnknownKind);
  EXPECT_EQ(textures::DecodeImage("", t), textures::kImageUnknownKind);
  // Past the file bound nothing is read, whatever the header says.
  std::string huge(textures::kMaxImageFileBytes + 1, '\0');
  huge[0] = 'B';
  huge[1] = 'M';
  EXPECT_EQ(textures::DecodeImage(huge, t), textures::kImageTooLarge);
}

}  // namespace
