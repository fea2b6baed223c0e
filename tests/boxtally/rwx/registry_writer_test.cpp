#include "boxtally/rwx/registry_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "rwx_test_support.h"

namespace rwx {
namespace {

TEST(IntegerBoxSide, RoundsNinesUpAndInsetsBy5) {
  struct Case {
    float min;
    float max;
    std::int64_t lo;
    std::int64_t hi;
    std::int64_t size;
  };
  const Case cases[] = {
      {-1.0f, 1.0f, -995, 995, 2000},
      {0.0f, 0.0f, -5, 5, 0},  // 5 and -5 swapped; already 10 apart
      {0.5f, 2.0f, 505, 1995, 1500},
      {0.49999997f, 2.0f, 505, 1995, 1501},   // 4,999 ends in 9: 5,000; the size has no such step
      {0.00390625f, 1.0f, 9, 995, 997},       // 39.0625 -> 39 -> 40 -> 4 + 5
      {-0.00390625f, 0.00390625f, -5, 5, 6},  // 1 and -1 swapped, then widened to 10
      {0.0f, 0.001f, -5, 6, 1},               // -4..5 is 9 wide: d = 5 - 4 = 1
      {-2.5f, -1.0f, -2495, -1005, 1500},
      {1.5f, 1.5f, 1495, 1505, 0},
      {-100.0f, 150.0f, -99995, 149995, 250000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.min << " .. " << c.max);
    const IntegerSide side = IntegerBoxSide(c.min, c.max);
    EXPECT_EQ(side.lo, c.lo);
    EXPECT_EQ(side.hi, c.hi);
    EXPECT_EQ(side.size, c.size);
  }
}

TEST(WriteTrimmed, CutsTrailingZerosAndTheLeadingZero) {
  struct Case {
    const char* format;
    float value;
    const char* out;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {"%0.4f", 3.0f, "3"},
      {"%0.4f", 12.34f, "12.34"},
      {"%0.4f", 0.5f, ".5"},
      {"%0.4f", -0.25f, "-.25"},
      {"%0.4f", -2.5f, "-2.5"},
      {"%0.4f", 0.0f, "0"},
      {"%0.4f", -0.0f, "0"},
      {"%0.4f", 0.00001f, "0"},
      {"%0.4f", -0.00001f, "0"},
      {"%0.4f", 100.0f, "100"},  // zeros before the point stay
      {"%0.4f", 1e10f, "10000000000"},
      {"%.2fm", 3.0f, "3.00m"},  // zeros are trimmed only at the very end
      {"%.2fm", 0.0f, "0m"},
      {"%.1f", 0.05f, ".1"},
      {"%0.4f", inf, "inf"},
      {"%0.4f", -inf, "-inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.value);
    std::string out;
    AppendTrimmed(out, c.format, c.value);
    EXPECT_EQ(out, c.out);
  }
}

TEST(WriteTrimmed, KeepsItsTextWithin63Characters) {
  std::string out;
  AppendTrimmed(out, "%.2f" + std::string(100, 'x'), 1.5f);
  EXPECT_EQ(out, "1.50" + std::string(59, 'x'));
}

class TagExpansion : public ::testing::Test {
 protected:
  ModelRecord record;
  rwx_test::FakeSwitches switches;
  MeasureInput input;

  void SetUp() override {
    record.box.min = {-1.0f, 0.0f, -0.5f};
    record.box.max = {3.0f, 2.0f, 0.5f};
    record.vertex_count = 12;
    record.polygon_count = 6;
    record.texture_list = "a,b,c";
    record.mask_list = "m";
    record.colour_sums = {255, 0, 127};
    record.not_centred = true;
    record.oversized = true;
    record.facer = true;
    input.model_name = "box.rwx";
    input.found_name = "Box.RWX";
    input.switches = &switches;
  }

  std::string Expand(const std::string& line, bool integer_mode, bool* bad = nullptr) {
    input.integer_mode = integer_mode;
    std::string out;
    bool bad_format = false;
    ExpandTemplateLine(line, record, input, out, bad_format);
    if (bad != nullptr) *bad = bad_format;
    return out;
  }
};

struct TagCase {
  const char* line;
  const char* decimal;
  const char* integer;
};

TEST_F(TagExpansion, EveryTagInBothModes) {
  const TagCase cases[] = {
      {"<fleft~>", "-10", ""},
      {"<fright~>", "30", ""},
      {"<fbottom~>", "0", ""},
      {"<ftop~>", "20", ""},
      {"<fback~>", "-5", ""},
      {"<ffront~>", "5", ""},
      {"<fx~>", "40", ""},
      {"<fy~>", "20", ""},
      {"<fz~>", "10", ""},
      {"<fleft~%.1fm>", "-10.0m", ""},  // text after the number stops the trimming
      {"<fleft>", "-10.00", "-995"},
      {"<fright>", "30.00", "2995"},
      {"<fbottom>", " 0.00", "5"},
      {"<ftop>", "20.00", "1995"},
      {"<fback>", "-5.00", "-495"},
      {"<ffront>", " 5.00", "495"},
      {"<fx>", "40.00", "4000"},
      {"<fy>", "20.00", "2000"},
      {"<fz>", "10.00", "1000"},
      {"<fleft%8.3f>", " -10.000", "-995"},  // a real format in integer mode: the default
      {"<fright%6d>", "30.00", "  2995"},
      {"<ffile>", "box.rwx", "box.rwx"},
      {"<ffile%-9s|>", "box.rwx  |", "box.rwx  |"},
      {"<ffname>", "", "Box.RWX"},
      {"<fvert>", "  12", "12"},
      {"<fpoly>", "   6", "6"},
      {"<fvert%03d>", "012", "012"},
      {"<ftext>", "a,b,c", "a,b,c"},
      {"<ftext%s.bmp>", "a,b,c.bmp", "a.bmp,b.bmp,c.bmp"},
      {"<fmask>", "m", "m"},
      {"<fcolor>", "0xff007f", "0xff007f"},
      {"<fcolor%.2f>", "10.5", "10.5"},  // 1.00, 0.00 and 0.50 trimmed, nothing between
      {"<fxcolor>", "", ""},
      {"<fxcolor%d>", "", ""},
      {"<fnoncent>", "Not Centered!", "# Not Centered!"},
      {"<foversized>", "OverSized!", "OverSized!"},
      {"<ffacer>", "", "# Facer"},
      {"<ffacer%s;>", "", "# Facer;"},
      {"<FLEFT>", "<FLEFT>", "<FLEFT>"},  // tags are lower case
      {"x <fleft> y\n", "x -10.00 y\n", "x -995 y\n"},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.line);
    bool bad = true;
    EXPECT_EQ(Expand(c.line, false, &bad), c.decimal);
    EXPECT_EQ(Expand(c.line, true), c.integer);
  }
}

TEST_F(TagExpansion, DefaultTemplateInBothModes) {
  record.box.min = {-1.0f, -1.0f, -1.0f};
  record.box.max = {1.0f, 1.0f, 1.0f};
  EXPECT_EQ(Expand(rwx_test::kDefaultTemplate, true), "box.rwx 1 -995 -995 -995 995 995 995\n");
  EXPECT_EQ(Expand(rwx_test::kDefaultTemplate, false),
            "box.rwx 1 -10.00 -10.00 -10.00 10.00 10.00 10.00\n");
}

TEST_F(TagExpansion, SecondTagDirectlyAfterIsReplacedOnlyWhenItStandsLaterInTheTable) {
  EXPECT_EQ(Expand("<fleft><fright>", false), "-10.0030.00");
  EXPECT_EQ(Expand("<fright><fleft>", false), "30.00<fleft>");
  EXPECT_EQ(Expand("<fright>;<fleft>", false), "30.00;-10.00");
  EXPECT_EQ(Expand("<ffile>;<fvert>;<fpoly>\n", false), "box.rwx;  12;   6\n");
}

TEST_F(TagExpansion, BoxValuesBeyondTheFloatRangeStayDefined) {
  record.box.min[0] = -3e38f;  // times 10 is no float any more
  record.box.max[0] = std::numeric_limits<float>::infinity();
  EXPECT_EQ(Expand("<fleft~> <fright~> <fx~>", false), "-inf inf inf");
  // Integer mode saturates: the values are written as ints.
  EXPECT_EQ(Expand("<fleft> <fright> <fx>", true), "-2147483648 2147483647 2147483647");
}

TEST_F(TagExpansion, EmptyListsInDecimalMode) {
  record.texture_list.clear();
  record.mask_list.clear();
  EXPECT_EQ(Expand("[<ftext>][<fmask>][<ftext%s>]", false), "[null][][]");
  EXPECT_EQ(Expand("[<ftext>][<fmask>][<ftext%s.bmp>]", true), "[][][]");
}

TEST_F(TagExpansion, UnusableOwnFormatsFallBackToTheDefaultAndAreReported) {
  struct Case {
    const char* line;
    bool integer_mode;
    const char* out;
  };
  const Case cases[] = {
      {"<ffile%d>", true, "box.rwx"},
      {"<fvert%s%n>", true, "12"},
      {"<fleft%n>", false, "-10.00"},
      {"<fleft~%e>", false, "-10"},
      {"<fcolor%d>", false, "0xff007f"},
      {"<fleft 5\n", false, "<fleft 5\n"},  // no ">": the text stays as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    bool bad = false;
    EXPECT_EQ(Expand(c.line, c.integer_mode, &bad), c.out);
    EXPECT_TRUE(bad);
  }
  bool bad = true;
  Expand("<fleft%8.3f> <ffile>\n", false, &bad);
  EXPECT_FALSE(bad);
}

// Runs the test body in a fresh folder holding `bmpcolor` (or no colour table when null).
class TableColour : public TagExpansion {
 protected:
  testing_support::TempDir dir;
  std::string old_cwd;

  void UseColourTable(const char* bmpcolor) {
    if (bmpcolor != nullptr) testing_support::WriteFile(dir / "bmpcolor.txt", bmpcolor);
    char buffer[4096];
    old_cwd = getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
  }
  void TearDown() override {
    if (!old_cwd.empty()) {
      EXPECT_EQ(chdir(old_cwd.c_str()), 0);
    }
  }
};

TEST_F(TableColour, LooksUpTheFirstTextureUpToItsFirstPunctuation) {
  UseColourTable("woodfloor 0x112233\nstone 0x808080\nwood 0x8b4513  \r\n");
  record.texture_list = "wood.jpg,stone";
  EXPECT_EQ(Expand("<ftcolor>", false), " 0x8b4513");  // the colour's last digit stays
  EXPECT_EQ(Expand("<ftcolor>", true), "box.rwx   0x8b4513");
  EXPECT_EQ(Expand("<ftcolor%d>", true), "box.rwx   0x8b4513");  // own format not used

  record.texture_list = "brick";
  EXPECT_EQ(Expand("<ftcolor>", false), "");
  EXPECT_EQ(Expand("<ftcolor>", true), "box.rwx  0xff007f");
  record.colour_sums = {0, 0, 0};
  EXPECT_EQ(Expand("<ftcolor>", true), "");

  record.colour_sums = {1, 2, 3};
  record.texture_list.clear();
  EXPECT_EQ(Expand("<ftcolor>", false), "");
  EXPECT_EQ(Expand("<ftcolor>", true), "box.rwx  0x010203");

  record.texture_list = ".x";  // empty key
  EXPECT_EQ(Expand("<ftcolor>", true), "");
}

TEST_F(TableColour, WritesNothingWithoutTheTable) {
  UseColourTable(nullptr);
  record.texture_list = "wood";
  EXPECT_EQ(Expand("<ftcolor>", false), "");
  EXPECT_EQ(Expand("<ftcolor>", true), "");
}

TEST_F(TableColour, LastTableLineWithoutLineEndIsFound) {
  UseColourTable("stone 0x808080\nwood 0x8b4513");
  record.texture_list = "wood";
  EXPECT_EQ(Expand("<ftcolor>", false), " 0x8b4513");
}

TEST_F(TableColour, ATableReadOnceIsWhatEveryModelSees) {
  UseColourTable("wood 0x8b4513\n");
  const std::optional<std::string> table = ReadColourTable();
  ASSERT_TRUE(table.has_value());
  testing_support::WriteFile(dir / "bmpcolor.txt", "wood 0x000000\n");  // changed during the run
  record.texture_list = "wood";
  input.colour_table = &table;
  EXPECT_EQ(Expand("<ftcolor>", false), " 0x8b4513");

  // A table missing when the run started stays missing; a FIFO is never waited for.
  ASSERT_EQ(unlink((dir / "bmpcolor.txt").c_str()), 0);
  const std::optional<std::string> missing = ReadColourTable();
  EXPECT_FALSE(missing.has_value());
  ASSERT_EQ(mkfifo((dir / "bmpcolor.txt").c_str(), 0600), 0);
  EXPECT_FALSE(ReadColourTable().has_value());
  input.colour_table = &missing;
  EXPECT_EQ(Expand("<ftcolor>", true), "");
}

}  // namespace
}  // namespace rwx
