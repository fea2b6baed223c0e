#include "boxtally/rwx/own_format.h"

#include <gtest/gtest.h>

namespace rwx {
namespace {

TEST(IsSafeConversion, AcceptsOneConversionThatFitsTheValue) {
  struct Case {
    const char* format;
    ValueKind kind;
    bool ok;
  };
  const Case cases[] = {
      {"%d", ValueKind::kInt, true},
      {"%-08d", ValueKind::kInt, true},
      {"[%5x]", ValueKind::kInt, true},
      {"%8.3f", ValueKind::kReal, true},
      {"%+.2e", ValueKind::kReal, true},
      {"%s.bmp", ValueKind::kText, true},
      {"100%% %s", ValueKind::kText, true},  // "%%" is text
      {"%-20.5s", ValueKind::kText, true},
      {"%s", ValueKind::kReal, false},  // wrong type for the value
      {"%d", ValueKind::kText, false},
      {"%f", ValueKind::kInt, false},
      {"%*d", ValueKind::kInt, false},  // width from the argument list
      {"%.*f", ValueKind::kReal, false},
      {"%n", ValueKind::kInt, false},  // writes through a pointer
      {"%s%n", ValueKind::kText, false},
      {"%d%d", ValueKind::kInt, false},  // two conversions
      {"%ld", ValueKind::kInt, false},   // length modifiers read other types
      {"%lf", ValueKind::kReal, false},
      {"color", ValueKind::kReal, false},  // no conversion at all
      {"", ValueKind::kInt, false},
      {"%", ValueKind::kInt, false},
      {"%%", ValueKind::kInt, false},
      {"%1000d", ValueKind::kInt, false},  // width beyond three digits
      {"%.1000f", ValueKind::kReal, false},
      {"%999d", ValueKind::kInt, true},
      // For WriteTrimmed: a plain "%f" first, optionally with a precision, then text.
      {"%f", ValueKind::kTrimmedReal, true},
      {"%0.4f", ValueKind::kTrimmedReal, true},
      {"%.2f", ValueKind::kTrimmedReal, true},
      {"%.2fm", ValueKind::kTrimmedReal, true},
      {"%.2f%%", ValueKind::kTrimmedReal, true},
      {"%.10f", ValueKind::kTrimmedReal, true},
      {"%.11f", ValueKind::kTrimmedReal, false},
      {"%.0f", ValueKind::kTrimmedReal, false},  // no point: trimming would eat digits
      {"%8.2f", ValueKind::kTrimmedReal, false},
      {"%+.2f", ValueKind::kTrimmedReal, false},
      {"x%.2f", ValueKind::kTrimmedReal, false},  // text before the number
      {"%e", ValueKind::kTrimmedReal, false},
      {"%g", ValueKind::kTrimmedReal, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(IsSafeConversion(c.format, c.kind), c.ok);
  }
}

TEST(FormatWithOwnFormat, AppliesTheCheckedConversion) {
  EXPECT_EQ(FormatInt("[%5d]", 42), "[   42]");
  EXPECT_EQ(FormatReal("%8.3f", -9.95), "  -9.950");
  EXPECT_EQ(FormatText("%s.bmp", "wood"), "wood.bmp");
  EXPECT_EQ(FormatText("100%% %s", ""), "100% ");
}

}  // namespace
}  // namespace rwx
