#include "boxtally/rwx/own_format.h"

#include <cstdio>

namespace rwx {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to three digits at format[i]; false when there are more.
bool ReadSmallNumber(std::string_view format, std::size_t& i, int& value, bool& present) {
  value = 0;
  present = false;
  int digits = 0;
  while (i < format.size() && IsDigit(format[i])) {
    if (++digits > 3) return false;
    value = value * 10 + (format[i] - '0');
    present = true;
    ++i;
  }
  return true;
}

bool FitsKind(char conversion, ValueKind kind) {
  const std::string_view allowed = kind == ValueKind::kInt    ? "diouxX"
                                   : kind == ValueKind::kText ? "s"
                                   : kind == ValueKind::kReal ? "fFeEgGaA"
                                                              : "fF";
  return allowed.find(conversion) != std::string_view::npos;
}

// One conversion starting at format[i] == '%' (not "%%"); i moves past it.
bool ReadConversion(std::string_view format, std::size_t& i, ValueKind kind) {
  const std::size_t start = i++;
  bool sign_or_layout_flags = false;  // any flag but "0", which does nothing without a width
  while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
    if (format[i] != '0') sign_or_layout_flags = true;
    ++i;
  }
  int width = 0;
  int precision = -1;
  bool has_width = false;
  if (!ReadSmallNumber(format, i, width, has_width)) return false;
  if (i < format.size() && format[i] == '.') {
    ++i;
    bool has_precision = false;
    if (!ReadSmallNumber(format, i, precision, has_precision)) return false;
  }
  if (i >= format.size() || !FitsKind(format[i], kind)) return false;
  ++i;
  if (kind == ValueKind::kTrimmedReal) {
    // A plain decimal number with a point, first in the text: what the trimming understands.
    if (start != 0 || sign_or_layout_flags || has_width) return false;
    if (precision == 0 || precision > kMaxTrimmedPrecision) return false;
  }
  return true;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"  // each format is one checked conversion
template <typename T>
std::string FormatChecked(const std::string& format, T value) {
  const int n = std::snprintf(nullptr, 0, format.c_str(), value);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, format.c_str(), value);
  return out;
}
#pragma GCC diagnostic pop

}  // namespace

bool IsSafeConversion(std::string_view format, ValueKind kind) {
  int conversions = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      i += 2;
      continue;
    }
    if (!ReadConversion(format, i, kind)) return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string FormatInt(const std::string& format, int value) { return FormatChecked(format, value); }

std::string FormatReal(const std::string& format, double value) {
  return FormatChecked(format, value);
}

std::string FormatText(const std::string& format, const std::string& value) {
  return FormatChecked(format, value.c_str());
}

}  // namespace rwx
