#include "boxtally/rwx/script_reader.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace rwx {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipDigits(std::string_view text, std::size_t i) {
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i;
}

// Length of the longest prefix of `text` that is a decimal real, 0 when there is none.
std::size_t DecimalRealLength(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t int_start = i;
  i = SkipDigits(text, i);
  std::size_t digits = i - int_start;
  if (i < text.size() && text[i] == '.') {
    const std::size_t frac_start = i + 1;
    const std::size_t frac_end = SkipDigits(text, frac_start);
    digits += frac_end - frac_start;
    // A lone point after the digits belongs to the number ("5." is 5), but not without digits.
    if (digits > 0) i = frac_end;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t exp_end = SkipDigits(text, j);
    if (exp_end > j) i = exp_end;
  }
  return i;
}

// The decimal order of magnitude of a non-zero number matched by DecimalRealLength: 0 for
// 1..9.99, -1 for 0.1..0.99, 3 for 1000..9999 (saturating for absurd exponents).
long long DecimalOrder(std::string_view number) {
  std::size_t i = 0;
  if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
  long long order = 0;
  bool significant = false;
  for (; i < number.size() && IsDigit(number[i]); ++i) {
    if (number[i] != '0') significant = true;
    if (significant) ++order;
  }
  if (significant) {
    order -= 1;
  } else if (i < number.size() && number[i] == '.') {
    order = -1;
    for (++i; i < number.size() && number[i] == '0'; ++i) --order;
  }
  while (i < number.size() && number[i] != 'e' && number[i] != 'E') ++i;
  if (i < number.size()) {
    int exponent = 0;
    ParseInteger(number.substr(i + 1), exponent);
    order += exponent;
  }
  return order;
}

// Lower case for ASCII letters and a blank for a tab; every other byte stays.
constexpr std::array<char, 256> kNormalised = [] {
  std::array<char, 256> table{};
  for (int i = 0; i < 256; ++i) {
    char c = static_cast<char>(i);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '\t') c = ' ';
    table[static_cast<std::size_t>(i)] = c;
  }
  return table;
}();

}  // namespace

void ReadScriptLine(platform::InStream& in, ScriptLine& line) {
  char* out = line.bytes.data();
  std::size_t n = 0;
  while (!in.AtEnd()) {
    int c = in.Get();
    if (c < 0) break;
    if (c == '\r') c = '\n';
    if (c == '\n') {
      if (n == 0) continue;  // an empty line: start again
      out[n++] = '\n';
      break;
    }
    out[n++] = static_cast<char>(c);
    if (n >= kMaxLineLength) break;
  }
  line.length = n;
}

void NormaliseLine(ScriptLine& line) {
  char* text = line.bytes.data();
  const std::size_t n = line.length;
  std::size_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t out = 0;
  bool after_blank = false;
  for (; i < n; ++i) {
    const char c = kNormalised[static_cast<unsigned char>(text[i])];
    if (c == ' ') {
      if (after_blank) continue;  // every blank after a blank goes
      after_blank = true;
    } else {
      after_blank = false;
    }
    text[out++] = c;
  }
  line.length = out;
}

CommandCode ClassifyLine(std::string_view line) {
  if (!line.empty() && line[0] == '#') return kCmdNone;
  if (line.size() < 3) return kCmdNone;
  for (const CommandEntry& entry : kCommandTable) {
    if (entry.keyword[0] == line[0] && line.size() >= entry.keyword.size() &&
        std::memcmp(line.data(), entry.keyword.data(), entry.keyword.size()) == 0) {
      return entry.code;
    }
  }
  return kCmdUnknown;
}

std::size_t NextArgument(std::string_view text) {
  const std::size_t blank = text.find(' ');
  return blank == std::string_view::npos ? text.size() : blank + 1;
}

std::string_view Argument(std::string_view line, int k) {
  for (int i = 0; i < k; ++i) line.remove_prefix(NextArgument(line));
  return line;
}

bool ParseReal(std::string_view text, float& value) {
  const std::size_t length = DecimalRealLength(text);
  if (length == 0) return false;
  const char* first = text.data();
  const char* last = first + length;
  if (*first == '+') ++first;  // from_chars takes no leading '+'
  float parsed = 0.0f;
  const auto [end, ec] = std::from_chars(first, last, parsed);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the float range: an infinity, or zero for a tiny number, as strtof gives.
    const bool negative = *first == '-';
    if (DecimalOrder(std::string_view(first, static_cast<std::size_t>(last - first))) < 0) {
      parsed = negative ? -0.0f : 0.0f;
    } else {
      parsed = negative ? -std::numeric_limits<float>::infinity()
                        : std::numeric_limits<float>::infinity();
    }
  } else if (ec != std::errc{} || end != last) {
    return false;
  }
  value = parsed;
  return true;
}

bool ParseInteger(std::string_view text, int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t start = i;
  long long magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1)
      magnitude = magnitude * 10 + (text[i] - '0');
  }
  if (i == start) return false;
  long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT_MAX) signed_value = INT_MAX;
  if (signed_value < INT_MIN) signed_value = INT_MIN;
  value = static_cast<int>(signed_value);
  return true;
}

void ReadRealArguments(std::string_view line, float* values, int count) {
  for (int k = 0; k < count; ++k) {
    line.remove_prefix(NextArgument(line));
    ParseReal(line, values[k]);
  }
}

void ReadRealSequence(std::string_view line, float* values, int count) {
  std::string_view rest = Argument(line, 1);
  for (int k = 0; k < count; ++k) {
    while (!rest.empty() &&
           (rest[0] == ' ' || rest[0] == '\t' || rest[0] == '\v' || rest[0] == '\f')) {
      rest.remove_prefix(1);
    }
    const std::size_t length = DecimalRealLength(rest);
    if (length == 0 || !ParseReal(rest, values[k])) return;
    rest.remove_prefix(length);
  }
}

std::string_view NameArgument(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && static_cast<signed char>(text[n]) > 32) ++n;
  return text.substr(0, n);
}

}  // namespace rwx
