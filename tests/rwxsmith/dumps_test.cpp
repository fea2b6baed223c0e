#include "rwxsmith/dumps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cob_test_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using cobtest::CobFile;
using cobtest::Extension;

std::string ChunkCensus(const Bytes& cob) {
  testing::internal::CaptureStdout();
  cob::PrintChunkCensus(cob, stdout);
  return testing::internal::GetCapturedStdout();
}

std::string ImageCensus(const Bytes& cob) {
  testing::internal::CaptureStdout();
  cob::PrintImageCensus(cob, stdout);
  return testing::internal::GetCapturedStdout();
}

// Mat1 data: the fixed fields, then the given extensions.
cobtest::Bytes Material(std::string extensions) {
  cobtest::MatDef material;
  material.extra_extensions = std::move(extensions);
  return cobtest::MatData(material);
}

std::optional<Bytes> ReadCorpus(const std::string& name) {
  const std::filesystem::path file = std::filesystem::path(BOXTALLY_CORPUS) / "cob" / name;
  if (!std::filesystem::exists(file)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ChunkCensus, CountsTypesInOrderOfFirstOccurrence) {
  const Bytes cob = CobFile()
                        .Group(1, 0, "Body")
                        .Poly(2, 1, cobtest::Triangle("a"))
                        .Chunk("Mat1", 3, 2, Material({}))
                        .Chunk("Unit", 4, 2, {{0, 0}})
                        .Chunk("MAT1", 5, 2, Material({}))  // counted with Mat1
                        .Poly(6, 1, cobtest::Triangle("b"))
                        .Chunk("mat1", 7, 6, Material({}))
                        .End()
                        .bytes();
  EXPECT_EQ(ChunkCensus(cob),
            "  Grou : 1\n"
            "  PolH : 2\n"
            "  Mat1 : 3\n"
            "  Unit : 1\n"
            "  END  : 1\n");
}

TEST(ChunkCensus, FirstSpellingNamesTheEntry) {
  const Bytes cob = CobFile()
                        .Chunk("chan", 1, 0, {})
                        .Chunk("Chan", 2, 0, {})
                        .Chunk("AB\0\0", 3, 0, {})  // printed as a C string
                        .bytes();
  EXPECT_EQ(ChunkCensus(cob), "  chan : 2\n  AB : 1\n");
}

TEST(ChunkCensus, TruncatedChunksEndTheWalkQuietly) {
  Bytes cob = CobFile().Group(1, 0, "g").Chunk("PolH", 2, 1, {{1, 2, 3}}, 5000).bytes();
  // The PolH claims 5000 bytes more than it holds: counted once, and nothing after it is looked
  // for.
  EXPECT_EQ(ChunkCensus(cob), "  Grou : 1\n  PolH : 1\n");
  // A header cut short is not counted.
  Bytes cut = CobFile().Group(1, 0, "g").Chunk("PolH", 2, 1, {}).bytes();
  cut.resize(cut.size() - 1);
  EXPECT_EQ(ChunkCensus(cut), "  Grou : 1\n");
  // Only the file header: no lines at all.
  EXPECT_EQ(ChunkCensus(CobFile().bytes()), "");
  // A negative length cannot send the walk backwards.
  const Bytes negative = CobFile().Chunk("Grou", 1, 0, {}, -20).End().bytes();
  EXPECT_EQ(ChunkCensus(negative), "  Grou : 1\n");
}

TEST(Dumps, RejectedHeaderPrintsItsMessageOnly) {
  Bytes wrong_magic = CobFile().End().bytes();
  wrong_magic[8] = '_';
  Bytes other_format = CobFile().End().bytes();
  other_format[15] = 'X';
  struct Case {
    Bytes cob;
    const char* message;
  };
  const Case cases[] = {
      {{}, "File specified is not correctly formatted COB file"},
      {Bytes(31, 'C'), "File specified is not correctly formatted COB file"},
      {wrong_magic, "File specified is not correctly formatted COB file"},
      {CobFile('A').End().bytes(), "This program only supports Binary format COB files"},
      {other_format, "This program only supports Binary format COB files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ChunkCensus(c.cob), c.message);
    EXPECT_EQ(ImageCensus(c.cob), c.message);
  }
}

TEST(ImageCensus, NamesCompareWithoutCaseAndOnlyTextureMapsCount) {
  const Bytes cob =
      CobFile()
          .Chunk("Mat1", 1, 0,
                 Material(Extension('t', "C:\\maps\\wood.bmp", 1) +
                          Extension('b', "C:\\maps\\bump.bmp")))
          .Chunk("Mat1", 2, 0,
                 Material(Extension('b', "bumponly.bmp") + Extension('t', "D:\\other\\WOOD.BMP")))
          .Chunk("mat1", 3, 0, Material(Extension('e', "env.bmp") + Extension('t', "wood2.jpg")))
          .Chunk("Mat1", 4, 0, Material(Extension('t', "textures/sub\\stone.png")))
          .End()
          .bytes();
  EXPECT_EQ(ImageCensus(cob),
            "  wood.bmp (2)\n"
            "  wood2.jpg (1)\n"
            "  stone.png (1)\n"
            "  3 images (followed by usage count)\n");
}

TEST(ImageCensus, ClosingLineCountsDistinctNames) {
  const Bytes none = CobFile().Chunk("Mat1", 1, 0, Material({})).End().bytes();
  EXPECT_EQ(ImageCensus(none), "  0 image (followed by usage count)\n");
  const Bytes one = CobFile()
                        .Chunk("Mat1", 1, 0, Material(Extension('t', "a.bmp")))
                        .Chunk("Mat1", 2, 0, Material(Extension('t', "A.BMP")))
                        .bytes();
  EXPECT_EQ(ImageCensus(one), "  a.bmp (2)\n  1 image (followed by usage count)\n");
}

TEST(ImageCensus, LongNamesAreCut) {
  const std::string forty = std::string(31, 'n') + "_tail.bmp";
  const std::string other = std::string(31, 'N') + "_else.bmp";  // the same name once cut
  const Bytes cob = CobFile()
                        .Chunk("Mat1", 1, 0, Material(Extension('t', "dir/" + forty)))
                        .Chunk("Mat1", 2, 0, Material(Extension('t', other)))
                        .Chunk("Mat1", 3, 0, Material(Extension('t', std::string(60000, 'p'))))
                        .bytes();
  EXPECT_EQ(ImageCensus(cob), "  " + std::string(31, 'n') + " (2)\n  " + std::string(31, 'p') +
                                  " (1)\n  2 images (followed by usage count)\n");
}

TEST(ImageCensus, ManyDistinctNamesStayFast) {
  // Names are found through an index: 200,000 distinct names would take many seconds with a
  // search of the list per texture. The chunk census meets as many distinct types.
  constexpr int kNames = 200000;
  std::string extensions;
  for (int i = 0; i < kNames; ++i) extensions += Extension('t', std::to_string(i));
  const Bytes materials = CobFile().Chunk("Mat1", 1, 0, Material(extensions)).bytes();
  CobFile types;
  for (int i = 0; i < kNames; ++i) {
    const char type[4] = {static_cast<char>('A' + i % 26), static_cast<char>('A' + i / 26 % 26),
                          static_cast<char>('A' + i / 676 % 26),
                          static_cast<char>('0' + i / 17576)};
    types.Chunk(type, i, 0, {});
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string images = ImageCensus(materials);
  const std::string chunks = ChunkCensus(types.bytes());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_NE(images.find("  199999 (1)\n  200000 images (followed by usage count)\n"),
            std::string::npos);
  // The last type: digits 7, 22, 9 and 11 of 199,999 give "HWJ;".
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), '\n'), kNames);
  EXPECT_EQ(chunks.substr(chunks.size() - 11), "  HWJ; : 1\n");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(ImageCensus, WalksOnlyTheMaterialsOwnBytes) {
  // A texture whose floats are missing is still named when its path fits; the data must be
  // longer than 43 bytes for the extensions to be looked at.
  cobtest::Bytes just_path = Material(Extension('t', "a"));
  just_path.data.resize(44);
  cobtest::Bytes too_short = just_path;
  too_short.data.resize(43);
  // A path that runs past the chunk names nothing, even when bytes follow in the file.
  cobtest::Bytes past_end = Material(Extension('t', "abcdef.bmp"));
  past_end.data.resize(37 + 5 + 4);
  struct Case {
    const char* what;
    Bytes cob;
    std::string census;
  };
  const Case cases[] = {
      {"44 bytes", CobFile().Chunk("Mat1", 1, 0, just_path).End().bytes(),
       "  a (1)\n  1 image (followed by usage count)\n"},
      {"43 bytes", CobFile().Chunk("Mat1", 1, 0, too_short).End().bytes(),
       "  0 image (followed by usage count)\n"},
      {"path past the chunk", CobFile().Chunk("Mat1", 1, 0, past_end).End().bytes(),
       "  0 image (followed by usage count)\n"},
      {"path past the file",
       CobFile().Chunk("Mat1", 1, 0, Material(Extension('t', "x.bmp")), 900).bytes(),
       "  x.bmp (1)\n  1 image (followed by usage count)\n"},
      {"path with a zero byte",
       CobFile()
           .Chunk("Mat1", 1, 0, Material(Extension('t', std::string("d/t.bmp\0zz", 10))))
           .bytes(),
       "  t.bmp (1)\n  1 image (followed by usage count)\n"},
      {"unknown extension skips its path",
       CobFile()
           .Chunk("Mat1", 1, 0, Material(Extension('q', "qqqq") + Extension('t', "k.bmp")))
           .bytes(),
       "  k.bmp (1)\n  1 image (followed by usage count)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ImageCensus(c.cob), c.census);
  }
}

TEST(ImageCensus, EveryCutOfAValidFileEndsCleanly) {
  const Bytes full =
      CobFile()
          .Chunk("Mat1", 1, 0,
                 Material(Extension('t', "C:\\m\\wood.bmp") + Extension('b', "b.bmp")))
          .Chunk("Mat1", 2, 0, Material(Extension('e', "e.bmp") + Extension('t', "x/y.bmp")))
          .End()
          .bytes();
  for (std::size_t n = 0; n <= full.size(); ++n) {
    const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));  // for ASan
    const std::string census = ImageCensus(prefix);
    const std::string chunks = ChunkCensus(prefix);
    if (n >= 32) {
      EXPECT_NE(census.find("(followed by usage count)\n"), std::string::npos) << "prefix " << n;
    }
  }
}

TEST(ImageNames, LastComponentOfThePath) {
  struct Case {
    std::string path;
    std::string name;
  };
  const Case cases[] = {
      {"C:\\maps\\wood.bmp", "wood.bmp"},
      {"wood.bmp", "wood.bmp"},
      {"a/b\\c.jpg", "c.jpg"},
      {"a\\b/c.jpg", "c.jpg"},
      {"dir/", ""},
      {"", ""},
      {std::string("x\0/y", 4), "x"},
      {std::string(32, 'z'), std::string(31, 'z')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Bytes bytes(c.path.begin(), c.path.end());
    EXPECT_EQ(cob::ImageNameOfPath(bytes.data(), bytes.size()), c.name);
  }
}

TEST(DumpsOnCorpus, ChunkAndImageCensus) {
  struct Case {
    const char* file;
    const char* chunks;
    const char* images;
  };
  // Worked out by walking the chunk headers of each file.
  const Case cases[] = {
      {"dwarf.cob",
       "  BitM : 1\n  Grou : 1\n  Unit : 2\n  OLay : 6\n  Chan : 1481\n  PolH : 1\n"
       "  ObRQ : 1\n  Mat1 : 2\n  ShBx : 2\n  END  : 1\n",
       "  dwarf.jpg (1)\n  axe.jpg (1)\n  2 images (followed by usage count)\n"},
      {"molecule.cob",
       "  BitM : 1\n  Grou : 1\n  Unit : 5\n  OLay : 16\n  PolH : 4\n  ObRQ : 4\n"
       "  Mat1 : 4\n  ShBx : 4\n  PhAn : 1\n  END  : 1\n",
       "  0 image (followed by usage count)\n"},
      {"spider_4_3.cob",
       "  BitM : 1\n  RSOb : 1\n  PolH : 1\n  Unit : 1\n  ObRQ : 1\n  OLay : 6\n"
       "  Mat1 : 4\n  ShBx : 4\n  END  : 1\n",
       "  0 image (followed by usage count)\n"},
      {"spider_6_6.cob",
       "  BitM : 1\n  PolH : 1\n  Unit : 1\n  ObRQ : 1\n  OLay : 6\n  Mat1 : 4\n"
       "  ShBx : 4\n  END  : 1\n",
       "  0 image (followed by usage count)\n"},
      {"molecule_ascii.cob", "This program only supports Binary format COB files",
       "This program only supports Binary format COB files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::optional<Bytes> cob = ReadCorpus(c.file);
    if (!cob)
      GTEST_SKIP() << "needs the third-party corpus beside the clone: " << BOXTALLY_CORPUS
                   << "/cob/" << c.file;
    EXPECT_EQ(ChunkCensus(*cob), c.chunks);
    EXPECT_EQ(ImageCensus(*cob), c.images);
  }
}

}  // namespace
