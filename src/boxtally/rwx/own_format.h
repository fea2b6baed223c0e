// A format template's own formats ("<fleft%8.3f>"): checked before use, since text from a file
// must never reach printf unless it is one conversion that fits the value it is given.
#pragma once

#include <string>
#include <string_view>

namespace rwx {

enum class ValueKind {
  kInt,          // d i o u x X
  kReal,         // f F e E g G a A
  kText,         // s
  kTrimmedReal,  // for WriteTrimmed: "%f" or "%.Nf" (N 1..10, "%0.4f" too) first, text after it
};

inline constexpr int kMaxFormatWidth = 999;  // width and precision of an own format
inline constexpr int kMaxTrimmedPrecision = 10;

// True when `format` holds exactly one conversion that fits `kind` (flags "-+ #0", width and
// precision as digits; no "*", no length modifier, no "%n"), with "%%" allowed as text anywhere.
bool IsSafeConversion(std::string_view format, ValueKind kind);

// `format` applied to the value. The caller has checked it with IsSafeConversion.
std::string FormatInt(const std::string& format, int value);
std::string FormatReal(const std::string& format, double value);
std::string FormatText(const std::string& format, const std::string& value);

}  // namespace rwx
