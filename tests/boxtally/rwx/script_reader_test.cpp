#include "boxtally/rwx/script_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/numerals.h"

namespace rwx {
namespace {

// All lines ReadScriptLine gives for `bytes`, each followed by "|end" when the stream reached its
// end during that read; the stream reads through a buffer of `buffer` bytes.
std::vector<std::string> ReadAll(const std::string& bytes,
                                 std::size_t buffer = platform::kInBufferBytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  platform::InStream in(f, false, buffer);
  std::vector<std::string> lines;
  while (!in.AtEnd()) {
    const std::string text(ReadScriptLine(in));
    lines.push_back(in.AtEnd() ? text + "|end" : text);
  }
  return lines;
}

TEST(ReadScriptLine, AllLineEndsGiveTheSameLinesAndSkipEmptyOnes) {
  const std::vector<std::string> expected = {"vertex 1 2 3", "quad 1 2 3 4", "|end"};
  for (const char* bytes :
       {"vertex 1 2 3\r\nquad 1 2 3 4\r\n", "vertex 1 2 3\nquad 1 2 3 4\n",
        "vertex 1 2 3\rquad 1 2 3 4\r", "\n\nvertex 1 2 3\n\r\n\nquad 1 2 3 4\n\n"}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(ReadAll(bytes), expected);
  }
}

TEST(ReadScriptLine, LastLineWithoutLineEndIsReadAtTheEnd) {
  EXPECT_EQ(ReadAll("modelbegin\nmodelend"),
            (std::vector<std::string>{"modelbegin", "modelend|end"}));
  EXPECT_EQ(ReadAll(""), (std::vector<std::string>{"|end"}));
}

TEST(ReadScriptLine, LongLineIsCutAfter1255Characters) {
  const std::string long_line(1300, 'a');
  const std::vector<std::string> lines = ReadAll(long_line + "\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(1255, 'a'));
  EXPECT_EQ(lines[1], std::string(45, 'a'));
  EXPECT_EQ(lines[2], "|end");
}

TEST(NormaliseLine, LowersFoldsBlanksAndDropsLeadingOnes) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"   VERTEX\t1   2  3\n", "vertex 1 2 3\n"},
      {"\t\t Texture  Wood \n", "texture wood \n"},
      {"ClumpBegin\n", "clumpbegin\n"},
      {"  \t \n", "\n"},
      {"A\xC3\x89 b\n", "a\xC3\x89 b\n"},  // bytes beyond ASCII stay
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    ScriptLine line;
    line.length = std::string_view(c.in).copy(line.bytes.data(), line.bytes.size());
    NormaliseLine(line);
    EXPECT_EQ(line.View(), c.out);
  }
}

TEST(ClassifyLine, FollowsTheCommandTableInOrder) {
  struct Case {
    const char* line;
    CommandCode code;
  };
  const Case cases[] = {
      {"modelbegin\n", kCmdModelBegin},
      {"modelend", kCmdModelEnd},
      {"clumpbegin\n", kCmdClumpBegin},
      {"clumpend\n", kCmdClumpEnd},
      {"protobegin door\n", kCmdProtoBegin},
      {"protoend\n", kCmdProtoEnd},
      {"protoinstance door\n", kCmdProtoInstance},
      {"transformbegin\n", kCmdTransformBegin},
      {"identityjoint\n", kCmdNone},
      {"identity\n", kCmdIdentity},
      {"transformend\n", kCmdTransformEnd},
      {"translate 1 2 3\n", kCmdTranslate},
      {"rotate 0 1 0 90\n", kCmdRotate},
      {"scale 1 2 3\n", kCmdScale},
      {"transformjoint 1 0 0 0\n", kCmdTransformJoint},
      {"transform 1 0 0 0\n", kCmdTransform},
      {"hints\n", kCmdNone},
      {"surface .5 .3 .1\n", kCmdNone},
      {"color 1 0 0\n", kCmdColor},
      {"texture wood\n", kCmdTexture},
      {"texture\n", kCmdUnknown},  // no blank after the word: not the texture command
      {"opacity 0.5\n", kCmdNone},
      {"opacityfix on\n", kCmdNone},
      {"lightsampling vertex\n", kCmdNone},
      {"texturemodes lit\n", kCmdNone},
      {"sphere 1 2\n", kCmdSphere},
      {"block 1 2 3\n", kCmdBlock},
      {"blocky 1 2 3\n", kCmdBlock},  // prefix match, whatever follows
      {"hemisphere 1 2\n", kCmdHemisphere},
      {"cylinder 1 2 3 4\n", kCmdCylinder},
      {"cone 1 2 3\n", kCmdCone},
      {"disc 1 2 3\n", kCmdDisc},
      {"vertex 1 2 3\n", kCmdVertex},
      {"quad 1 2 3 4\n", kCmdPolygon},
      {"triangle 1 2 3\n", kCmdPolygon},
      {"polygon 3 1 2 3\n", kCmdPolygon},
      {"axisalignment zorienty\n", kCmdAxisAlignment},
      {"tag 200\n", kCmdNone},
      {"addmaterialmode double\n", kCmdNone},
      {"removematerialmode double\n", kCmdNone},
      {"geometrysampling solid\n", kCmdNone},
      {"#vertex 1 2 3\n", kCmdNone},  // a comment, whatever follows the "#"
      {"a\n", kCmdNone},              // shorter than 3 characters with its line feed
      {"ab\n", kCmdUnknown},          // long enough to be looked up, and unknown
      {"ambient .5\n", kCmdUnknown},
      {"\xEF\xBB\xBFmodelbegin\n", kCmdUnknown},  // a byte-order mark hides the word
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ClassifyLine(c.line), c.code);
  }
}

TEST(NextArgument, LandsJustPastTheFirstBlankOrAtTheEnd) {
  EXPECT_EQ(NextArgument("vertex 1 2\n"), 7u);
  EXPECT_EQ(NextArgument("vertex\n"), 7u);
  EXPECT_EQ(NextArgument(""), 0u);
  EXPECT_EQ(Argument("vertex 1 2 3\n", 3), "3\n");
  EXPECT_EQ(Argument("vertex 1\n", 3), "");
}

TEST(ParseReal, TakesTheLongestDecimalPrefix) {
  struct Case {
    const char* text;
    bool ok;
    float value;
  };
  const Case cases[] = {
      {"2.5cm", true, 2.5f}, {"100ergs", true, 100.0f}, {"1e", true, 1.0f},
      {"1e+", true, 1.0f},   {"1.5e2x", true, 150.0f},  {"-.25", true, -0.25f},
      {".5", true, 0.5f},    {"5.", true, 5.0f},        {"+3", true, 3.0f},
      {"1.5.5", true, 1.5f}, {"0.\n", true, 0.0f},      {"-0", true, -0.0f},
      {"inf", false, 7.0f},  {"nan", false, 7.0f},      {"0x10", true, 0.0f},
      {".", false, 7.0f},    {"-", false, 7.0f},        {"", false, 7.0f},
      {"e5", false, 7.0f},   {"x1", false, 7.0f},       {"1e-60", true, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    float value = 7.0f;
    EXPECT_EQ(ParseReal(c.text, value), c.ok);
    EXPECT_EQ(value, c.value);
  }
  float value = 0.0f;
  EXPECT_TRUE(ParseReal("-1e60", value));
  EXPECT_TRUE(std::isinf(value) && value < 0);
  EXPECT_TRUE(ParseReal("1" + std::string(400, '0'), value));
  EXPECT_TRUE(std::isinf(value) && value > 0);
  EXPECT_TRUE(ParseReal("0." + std::string(400, '0') + "1", value));
  EXPECT_EQ(value, 0.0f);
}

TEST(ParseInteger, ReadsSignAndDigitsOnly) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"8.0", true, 8},
      {"-12x", true, -12},
      {"+5", true, 5},
      {"x", false, 7},
      {"-", false, 7},
      {"", false, 7},
      {"99999999999", true, 2147483647},
      {"-99999999999", true, -2147483647 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int value = 7;
    EXPECT_EQ(ParseInteger(c.text, value), c.ok);
    EXPECT_EQ(value, c.value);
  }
}

TEST(ReadArguments, MissingNumbersLeaveTheirValuesAndNothingPastTheLineIsRead) {
  const std::string text = "translate 1 x\n9 9";
  float t[3] = {0.0f, 0.0f, 0.0f};
  ReadRealArguments(std::string_view(text).substr(0, 14), t, 3);
  EXPECT_EQ(t[0], 1.0f);
  EXPECT_EQ(t[1], 0.0f);
  EXPECT_EQ(t[2], 0.0f);

  float c[3] = {0.0f, 0.0f, 0.0f};
  ReadRealSequence("color 1.5.5 x 3\n", c, 3);  // one scanf run: 1.5, then .5, then stop at x
  EXPECT_EQ(c[0], 1.5f);
  EXPECT_EQ(c[1], 0.5f);
  EXPECT_EQ(c[2], 0.0f);
}

TEST(NameArgument, StopsAtBlanksControlsAndHighBytes) {
  EXPECT_EQ(NameArgument("door\n"), "door");
  EXPECT_EQ(NameArgument("door mask x\n"), "door");
  EXPECT_EQ(NameArgument("d\xC3\xA9j\n"), "d");
  EXPECT_EQ(NameArgument("\n"), "");
}

}  // namespace
}  // namespace rwx

TEST(ReadRealPrefix, ReadsWhatScanfReadsBitForBit) {
  // Random and adversarial numerals (bench/numeral_check runs tens of millions of them).
  testing_support::NumeralMaker maker(1);
  for (int i = 0; i < 5000; ++i) {
    const std::string text = maker.Next();
    const testing_support::NumeralReading expected = testing_support::ScanfReading(text);
    float value = 7.0f;
    const std::size_t length = rwx::ReadRealPrefix(text, value);
    ASSERT_EQ(length > 0, expected.ok) << text;
    if (!expected.ok) continue;
    ASSERT_EQ(length, expected.length) << text;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(value), expected.bits) << text;
  }
}

TEST(ParseReal, ShortNumbersReadAsFromCharsReadsThem) {
  // Script numbers of few digits take a quicker road than from_chars; both must give the same
  // float, bit for bit, for every kind of number a script holds.
  std::mt19937 rng(7);
  const char* const signs[] = {"", "-", "+"};
  for (int i = 0; i < 200000; ++i) {
    std::string text = signs[rng() % 3];
    const int int_digits = static_cast<int>(rng() % 9);
    const int frac_digits = static_cast<int>(rng() % 12);
    for (int d = 0; d < int_digits; ++d) text += static_cast<char>('0' + rng() % 10);
    if (frac_digits > 0 || rng() % 4 == 0) text += '.';
    for (int d = 0; d < frac_digits; ++d) text += static_cast<char>('0' + rng() % 10);
    if (int_digits == 0 && frac_digits == 0) continue;
    const char* first = text.c_str() + (text[0] == '+' ? 1 : 0);
    float expected = 0.0f;
    std::from_chars(first, text.c_str() + text.size(), expected);
    float value = 123.0f;
    ASSERT_TRUE(rwx::ParseReal(text + " 9", value)) << text;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(expected)) << text;
  }
}

TEST(NormaliseLine, AgreesWithTheByteByByteRuleOnAnyLine) {
  // The quick road works sixteen bytes at a time: blank runs across those blocks, tabs, letters
  // at the block edges and bytes beyond ASCII must come out as the one-byte-at-a-time rule says.
  auto reference = [](const std::string& in) {
    std::string out;
    std::size_t i = 0;
    while (i < in.size() && (in[i] == ' ' || in[i] == '\t')) ++i;
    for (; i < in.size(); ++i) {
      char c = in[i] == '\t' ? ' ' : in[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c == ' ' && !out.empty() && out.back() == ' ') continue;
      out += c;
    }
    return out;
  };
  const char alphabet[] = {' ', ' ', '\t', 'A', 'Z', 'a', '@', '[', '0', '.', '\x80', '\xC9'};
  std::mt19937 rng(11);
  for (int round = 0; round < 20000; ++round) {
    std::string in(rng() % 70, ' ');
    for (char& c : in) c = alphabet[rng() % sizeof alphabet];
    in += '\n';
    rwx::ScriptLine line;
    line.length = in.copy(line.bytes.data(), line.bytes.size());
    rwx::NormaliseLine(line);
    ASSERT_EQ(std::string(line.View()), reference(in)) << '"' << in << '"';
  }
}

namespace rwx {
namespace {

// Lines as the byte-by-byte reading cuts them: each with "|end" when the stream ended during its
// read, its line end left out.
std::vector<std::string> ReferenceLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t p = 0;
  for (;;) {
    std::string line;
    bool ended = false;
    while (p < bytes.size() && line.size() < kMaxLineLength) {
      const char c = bytes[p++];
      if (c == '\n' || c == '\r') {
        if (!line.empty()) {
          ended = true;
          break;
        }
        continue;
      }
      line += c;
    }
    const bool at_end = !ended && line.size() < kMaxLineLength && p == bytes.size();
    lines.push_back(at_end ? line + "|end" : line);
    if (at_end) return lines;
  }
}

TEST(ReadScriptLine, GivesTheByteByByteLinesWhereverTheBufferIsRefilled) {
  std::mt19937 rng(5);
  const char alphabet[] = {'a', 'b', ' ', '\t', '\r', '\n'};
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    const int pieces = static_cast<int>(rng() % 40);
    for (int i = 0; i < pieces; ++i) {
      // Mostly short runs, now and then one longer than a line may be.
      const std::size_t n = rng() % 8 == 0 ? 1000 + rng() % 2000 : rng() % 30;
      for (std::size_t k = 0; k < n; ++k) bytes += alphabet[rng() % (k % 50 == 0 ? 6 : 4)];
    }
    const std::vector<std::string> expected = ReferenceLines(bytes);
    for (const std::size_t buffer : {std::size_t{64}, kMaxLineLength, std::size_t{2000}}) {
      SCOPED_TRACE(std::to_string(round) + " " + std::to_string(buffer));
      ASSERT_EQ(ReadAll(bytes, buffer), expected);
    }
  }
}

TEST(ClassifyLine, ALineAsReadMeansWhatItMeansNormalised) {
  // A line is classified and its arguments read without normalising it: keywords in any case,
  // blanks and tabs in runs, bytes that are neither, must all come out as on the normalised line.
  const std::string words[] = {"vertex", "VERTEX", "Texture", "texture", "TransformEnd",
                               "transform", "IdentityJoint", "color", "COLOR", "RemoveMaterialMode",
                               "removematerialmod", "sphere", "1", "-2.5", "1E3", ".5", "0x1",
                               "5e", "#", "x", "\v", std::string(1, '\0'), "\xC9"};
  const char* const gaps[] = {" ", "  ", "\t", " \t ", ""};
  std::mt19937 rng(3);
  for (int round = 0; round < 20000; ++round) {
    std::string raw(gaps[rng() % 5]);
    for (int w = static_cast<int>(rng() % 7); w >= 0; --w) {
      raw += words[rng() % std::size(words)];
      raw += gaps[rng() % 5];
    }
    SCOPED_TRACE(raw);
    ScriptLine line;
    StoreLine(raw, line);
    NormaliseLine(line);
    const std::string_view normalised = line.View();
    const std::string_view as_read = SkipBlanks(raw);
    const CommandCode code = ClassifyLine(as_read);
    const CommandCode expected = ClassifyLine(normalised);
    ASSERT_EQ(code <= kCmdNone ? kCmdNone : code, expected <= kCmdNone ? kCmdNone : expected);
    for (int k = 1; k <= 4; ++k) {
      float a = 7.0f;
      float b = 7.0f;
      ASSERT_EQ(ParseReal(Argument(as_read, k), a), ParseReal(Argument(normalised, k), b)) << k;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(a), std::bit_cast<std::uint32_t>(b)) << k;
      int i = 7;
      int j = 7;
      ASSERT_EQ(ParseInteger(Argument(as_read, k), i), ParseInteger(Argument(normalised, k), j));
      ASSERT_EQ(i, j) << k;
    }
    float r[4] = {1, 2, 3, 4};
    float n[4] = {1, 2, 3, 4};
    ReadRealArguments(as_read, r, 4);
    ReadRealArguments(normalised, n, 4);
    ReadRealSequence(as_read, r + 1, 3);
    ReadRealSequence(normalised, n + 1, 3);
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(r[k]), std::bit_cast<std::uint32_t>(n[k])) << k;
    }
  }
}

}  // namespace
}  // namespace rwx
