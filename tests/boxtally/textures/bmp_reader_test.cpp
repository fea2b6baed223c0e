#include "boxtally/textures/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A BMP file written byte by byte, for what convert never writes: top-down rows, the core header,
// RLE4, deltas, palettes cut short.
struct BmpSpec {
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t header_size = 40;
  std::vector<std::uint32_t> palette;  // 0xRRGGBB
  std::vector<std::uint32_t> masks;    // after a 40-byte header
  std::string pixels;
};

std::string Le(std::uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

std::string MakeBmp(const BmpSpec& s) {
  std::string header = Le(s.header_size, 4);
  if (s.header_size == 12) {
    header +=
        Le(static_cast<std::uint32_t>(s.width), 2) + Le(static_cast<std::uint32_t>(s.height), 2);
    header += Le(1, 2) + Le(s.bits, 2);
  } else {
    header +=
        Le(static_cast<std::uint32_t>(s.width), 4) + Le(static_cast<std::uint32_t>(s.height), 4);
    header += Le(1, 2) + Le(s.bits, 2) + Le(s.compression, 4) + Le(0, 4) + Le(2835, 4) +
              Le(2835, 4) + Le(static_cast<std::uint32_t>(s.palette.size()), 4) + Le(0, 4);
    header.resize(s.header_size, '\0');
  }
  for (const std::uint32_t m : s.masks) header += Le(m, 4);
  for (const std::uint32_t c : s.palette) header += Le(c, s.header_size == 12 ? 3 : 4);
  const std::uint32_t offset = static_cast<std::uint32_t>(14 + header.size());
  return "BM" + Le(offset + static_cast<std::uint32_t>(s.pixels.size()), 4) + Le(0, 4) +
         Le(offset, 4) + header + s.pixels;
}

std::string Bytes(std::initializer_list<int> list) {
  std::string out;
  for (const int b : list) out.push_back(static_cast<char>(b));
  return out;
}

constexpr std::uint32_t kBlack = 0x000000FF, kWhite = 0xFFFFFFFF, kRed = 0xFF0000FF,
                        kGreen = 0x00FF00FF, kBlue = 0x0000FFFF, kGrey = 0x808080FF;

// Two rows of a 2 x 2 picture at 24 bits, each padded to 4 bytes: red green, then blue white.
const std::string kTwoRows24 = Bytes({0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});

struct ReadCase {
  const char* label;
  BmpSpec spec;
  std::vector<std::uint32_t> pixels;  // RGBA, rows from the top
};

std::vector<ReadCase> ReadCases() {
  return {
      {"24 bits, top-down", {2, -2, 24, 0, 40, {}, {}, kTwoRows24}, {kRed, kGreen, kBlue, kWhite}},
      {"24 bits, bottom-up", {2, 2, 24, 0, 40, {}, {}, kTwoRows24}, {kBlue, kWhite, kRed, kGreen}},
      // The palette ends where the pixels begin (2 of 256 entries); index 5 is past it: black.
      {"core header, 8 bits",
       {3, 1, 8, 0, 12, {0x112233, 0x445566}, {}, Bytes({1, 0, 5, 0})},
       {0x445566FF, 0x112233FF, kBlack}},
      {"1 bit",
       {3, 1, 1, 0, 40, {0x000000, 0xFFFFFF}, {}, Bytes({0xA0, 0, 0, 0})},
       {kWhite, kBlack, kWhite}},
      {"16 bits, 5-5-5 by default", {1, 1, 16, 0, 40, {}, {}, Bytes({0x00, 0x7C, 0, 0})}, {kRed}},
      {"32 bits, alpha through bit fields",
       {1, 1, 32, 6, 40, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, Bytes({0x33, 0x22, 0x11, 0x80})},
       {0x11223380}},
      // Bottom row: a run of 1 2 1, a literal 3 3 1, its line end; top row: a move of 2, a run
      // of 2 2 and the end: the pixels passed over take entry 0.
      {"RLE4 with runs, a literal, a move and the end",
       {6,
        2,
        4,
        2,
        40,
        {0x000000, 0xFF0000, 0x00FF00, 0x0000FF},
        {},
        Bytes({3, 0x12, 0, 3, 0x33, 0x10, 0, 0, 0, 2, 2, 0, 2, 0x22, 0, 1})},
       {kBlack, kBlack, kGreen, kGreen, kBlack, kBlack, kRed, kGreen, kRed, kBlue, kBlue, kRed}},
      {"RLE8 with a padded literal and a move",
       {3,
        2,
        8,
        1,
        40,
        {0x000000, 0xFFFFFF, 0x808080},
        {},
        Bytes({0, 3, 1, 2, 1, 0, 0, 0, 0, 2, 1, 0, 1, 1, 0, 1})},
       {kBlack, kWhite, kBlack, kWhite, kGrey, kWhite}},
  };
}

TEST(BmpReader, ReadsEveryLayoutToItsKnownPixelsAndRefusesEveryCutOfIt) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.label);
    const std::string bytes = MakeBmp(c.spec);
    render::Texture whole;
    ASSERT_EQ(textures::ReadBmp(bytes, whole), textures::kImageOk);
    ASSERT_EQ(whole.width * whole.height, static_cast<int>(c.pixels.size()));
    for (std::size_t i = 0; i < c.pixels.size(); ++i) {
      const std::uint8_t* p = &whole.rgba[i * 4];
      const std::uint32_t got =
          static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
      EXPECT_EQ(got, c.pixels[i]) << "pixel " << i;
    }
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      const std::string cut(bytes.data(), n);  // its own buffer: ASan sees where it ends
      render::Texture t;
      EXPECT_NE(textures::ReadBmp(cut, t), textures::kImageOk) << "cut at " << n;
      EXPECT_TRUE(t.rgba.empty());
    }
  }
}

TEST(BmpReader, RefusesHeadersPastTheBoundsOrOutsideWhatItReads) {
  struct Case {
    const char* label;
    BmpSpec spec;
    textures::ImageResult result;
  };
  const std::string row(16, '\0');
  const Case cases[] = {
      {"width 0", {0, 1, 24, 0, 40, {}, {}, row}, textures::kImageTooLarge},
      {"width 4097", {4097, 1, 24, 0, 40, {}, {}, row}, textures::kImageTooLarge},
      {"height -4097", {1, -4097, 24, 0, 40, {}, {}, row}, textures::kImageTooLarge},
      {"height -2^31", {1, INT32_MIN, 24, 0, 40, {}, {}, row}, textures::kImageTooLarge},
      {"4096 x 1025 pixels", {4096, 1025, 24, 0, 40, {}, {}, row}, textures::kImageTooLarge},
      {"4096 x 1024 pixels, rows missing",
       {4096, 1024, 24, 0, 40, {}, {}, row},
       textures::kImageTruncated},
      {"2 bits", {1, 1, 2, 0, 40, {0, 0, 0, 0}, {}, row}, textures::kImageUnsupported},
      {"JPEG inside", {1, 1, 24, 4, 40, {}, {}, row}, textures::kImageUnsupported},
      {"RLE8 at 4 bits", {1, 1, 4, 1, 40, {0}, {}, row}, textures::kImageUnsupported},
      {"a header of 20 bytes", {1, 1, 24, 0, 20, {}, {}, row}, textures::kImageUnsupported},
      {"a header of 5000 bytes", {1, 1, 24, 0, 5000, {}, {}, row}, textures::kImageUnsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    render::Texture t;
    EXPECT_EQ(textures::ReadBmp(MakeBmp(c.spec), t), c.result);
  }
  render::Texture t;
  EXPECT_EQ(textures::ReadBmp("GIF89a", t), textures::kImageUnknownKind);
  std::string far = MakeBmp({1, 1, 24, 0, 40, {}, {}, Bytes({0, 0, 0, 0})});
  far[10] = '\x7F';  // the pixels' offset past the end
  EXPECT_EQ(textures::ReadBmp(far, t), textures::kImageTruncated);
}

}  // namespace
