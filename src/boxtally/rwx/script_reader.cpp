#include "boxtally/rwx/script_reader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <system_error>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// The number matched by DecimalRealLength, `length` bytes, read by from_chars.
bool ParseRealExactly(std::string_view text, std::size_t length, float& value) {
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

// Powers of ten that single precision holds exactly.
constexpr float kExactPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                       1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr std::uint64_t kExactMantissaLimit = std::uint64_t{1}
                                              << 24;  // float holds every integer up to it
constexpr std::size_t kMaxAccumulatedDigits =
    19;  // digits a 64-bit mantissa takes without overflow

// The longest decimal number at the start of `text` (as DecimalRealLength) into `value`; its
// length, 0 (value unchanged) when there is none. Most script numbers have few digits and no
// exponent: their digits make an integer below 2^24 and the divisor is an exact power of ten, so
// one single-precision division rounds the decimal value correctly (Clinger's fast path). Every
// other number goes through from_chars.
// Takes the run of digits at `p` into `mantissa` (which wraps when the run is too long for it:
// callers count the digits first) and returns where the run ends.
const char* TakeDigits(const char* p, const char* end, std::uint64_t& mantissa) {
  for (; p < end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p - '0');
    if (digit >= 10) break;
    mantissa = mantissa * 10 + digit;
  }
  return p;
}

std::size_t ReadRealPrefix(std::string_view text, float& value) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  std::uint64_t mantissa = 0;
  const char* const int_start = p;
  const char* const int_end = TakeDigits(int_start, end, mantissa);
  const char* frac_start = int_end;
  const char* frac_end = int_end;
  if (int_end < end && *int_end == '.') {
    frac_start = int_end + 1;
    frac_end = TakeDigits(frac_start, end, mantissa);
  }
  const std::size_t int_digits = static_cast<std::size_t>(int_end - int_start);
  const std::size_t frac_digits = static_cast<std::size_t>(frac_end - frac_start);
  if (int_digits + frac_digits == 0) return 0;
  // A lone point after digits belongs to the number ("5." is 5).
  const char* const number_end = frac_start > int_end ? frac_end : int_end;
  bool exponent = false;
  if (number_end < end && (*number_end == 'e' || *number_end == 'E')) {
    const char* e = number_end + 1;
    if (e < end && (*e == '+' || *e == '-')) ++e;
    exponent = e < end && IsDigit(*e);
  }
  if (!exponent && int_digits + frac_digits <= kMaxAccumulatedDigits &&
      frac_digits < std::size(kExactPowersOfTen) && mantissa <= kExactMantissaLimit) {
    const float magnitude = static_cast<float>(mantissa) / kExactPowersOfTen[frac_digits];
    value = negative ? -magnitude : magnitude;
    return static_cast<std::size_t>(number_end - begin);
  }
  const std::size_t length = DecimalRealLength(text);
  return ParseRealExactly(text, length, value) ? length : 0;
}

// The command table's entries grouped by the first byte of their keyword, table order kept
// within a group.
constexpr std::size_t kCommandCount = std::size(kCommandTable);
struct KeywordRange {
  std::uint8_t begin = 0;
  std::uint8_t end = 0;
};
struct KeywordIndex {
  std::array<std::uint8_t, kCommandCount> order{};  // table indices, grouped
  std::array<KeywordRange, 256> ranges{};           // each first byte's part of `order`
};
constexpr KeywordIndex kKeywordIndex = [] {
  KeywordIndex index;
  std::size_t next = 0;
  for (int byte = 0; byte < 256; ++byte) {
    index.ranges[static_cast<std::size_t>(byte)].begin = static_cast<std::uint8_t>(next);
    for (std::size_t k = 0; k < kCommandCount; ++k) {
      if (static_cast<unsigned char>(kCommandTable[k].keyword[0]) == byte) {
        index.order[next++] = static_cast<std::uint8_t>(k);
      }
    }
    index.ranges[static_cast<std::size_t>(byte)].end = static_cast<std::uint8_t>(next);
  }
  return index;
}();

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

// The index of the first CR or LF among the `size` bytes at `text`, or `size` when there is none.
std::size_t LineEndIn(const char* text, std::size_t size) {
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; i + 16 <= size; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const int ends = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, lf), _mm_cmpeq_epi8(x, cr)));
    if (ends != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(ends)));
  }
#endif
  while (i < size && text[i] != '\n' && text[i] != '\r') ++i;
  return i;
}

// How many blanks and tabs `text` starts with, among its first `n` of `capacity` bytes (script
// lines are often indented by several).
std::size_t LeadingBlanks(const char* text, std::size_t n, std::size_t capacity) {
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');
  for (; i < n && i + 16 <= capacity; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const unsigned blanks = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, blank), _mm_cmpeq_epi8(x, tab))));
    if (blanks != 0xFFFF) {
      return std::min(n, i + static_cast<std::size_t>(__builtin_ctz(~blanks)));
    }
  }
#endif
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  return std::min(i, n);
}

// Lowers ASCII letters and turns tabs into blanks in place, in the first `n` of the `capacity`
// bytes at `text`; true when the result holds two blanks in a row. Sixteen bytes at a time where
// the processor allows: the last block may reach past `n` (never past `capacity`), and what it
// changes there is not part of the line.
bool MapAndFindDoubleBlanks(char* text, std::size_t n, std::size_t capacity) {
  std::size_t i = 0;
  bool previous_blank = false;
  bool doubled = false;
#ifdef __SSE2__
  const __m128i upper_low = _mm_set1_epi8('A' - 1);
  const __m128i upper_high = _mm_set1_epi8('Z' + 1);
  const __m128i case_bit = _mm_set1_epi8(0x20);
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i blank = _mm_set1_epi8(' ');
  unsigned carry = 0;  // the last byte of the previous block was a blank
  for (; i < n && i + 16 <= capacity; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i upper =
        _mm_and_si128(_mm_cmpgt_epi8(x, upper_low), _mm_cmpgt_epi8(upper_high, x));
    x = _mm_add_epi8(x, _mm_and_si128(upper, case_bit));
    const __m128i tabs = _mm_cmpeq_epi8(x, tab);
    x = _mm_or_si128(_mm_andnot_si128(tabs, x), _mm_and_si128(tabs, blank));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(text + i), x);
    unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, blank)));
    if (n - i < 16) blanks &= (1u << (n - i)) - 1;  // bytes past the line do not count
    if ((blanks & ((blanks << 1) | carry)) != 0) doubled = true;
    carry = blanks >> 15;
  }
  previous_blank = carry != 0;
#endif
  for (; i < n; ++i) {
    const char c = kNormalised[static_cast<unsigned char>(text[i])];
    text[i] = c;
    const bool is_blank = c == ' ';
    if (is_blank && previous_blank) doubled = true;
    previous_blank = is_blank;
  }
  return doubled;
}

}  // namespace

void ReadScriptLine(platform::InStream& in, ScriptLine& line) {
  // Whole runs of bytes are taken from the stream's buffer at once. CR and LF both end a line and
  // empty lines are skipped, so the stream's own CR LF handling makes no difference here.
  char* out = line.bytes.data();
  std::size_t n = 0;
  while (!in.AtEnd()) {
    const std::string_view chunk = in.Buffered();
    if (chunk.empty()) break;
    std::size_t skipped = 0;
    if (n == 0) {
      while (skipped < chunk.size() && (chunk[skipped] == '\n' || chunk[skipped] == '\r')) {
        ++skipped;
      }
      if (skipped == chunk.size()) {
        in.Consume(skipped);
        continue;
      }
    }
    const char* start = chunk.data() + skipped;
    const std::size_t window = std::min(chunk.size() - skipped, kMaxLineLength - n);
    const std::size_t length = LineEndIn(start, window);
    std::memcpy(out + n, start, length);
    n += length;
    if (length < window) {  // the line end: stored as a line feed
      out[n++] = '\n';
      in.Consume(skipped + length + 1);
      break;
    }
    in.Consume(skipped + length);
    if (n >= kMaxLineLength) break;
  }
  line.length = n;
}

void NormaliseLine(ScriptLine& line) {
  char* text = line.bytes.data();
  std::size_t n = line.length;
  const std::size_t start = LeadingBlanks(text, n, line.bytes.size());
  if (start > 0) {
    std::memmove(text, text + start, n - start);
    n -= start;
  }
  // Most lines hold single blanks only: they just need their letters lowered and tabs made
  // blanks. Runs of blanks are folded in a second pass, only where there are any.
  if (MapAndFindDoubleBlanks(text, n, line.bytes.size())) {
    std::size_t out = 0;
    char previous = '\0';
    for (std::size_t i = 0; i < n; ++i) {
      const char c = text[i];
      text[out] = c;
      out += static_cast<std::size_t>(!(c == ' ' && previous == ' '));
      previous = c;
    }
    n = out;
  }
  line.length = n;
}

CommandCode ClassifyLine(std::string_view line) {
  if (!line.empty() && line[0] == '#') return kCmdNone;
  if (line.size() < 3) return kCmdNone;
  // Only keywords with the line's first byte can match; they are tried in table order.
  const KeywordRange range = kKeywordIndex.ranges[static_cast<unsigned char>(line[0])];
  for (std::size_t k = range.begin; k < range.end; ++k) {
    const CommandEntry& entry = kCommandTable[kKeywordIndex.order[k]];
    const std::string_view keyword = entry.keyword;
    if (line.size() < keyword.size()) continue;
    std::size_t i = 1;  // the first byte chose the group
    while (i < keyword.size() && line[i] == keyword[i]) ++i;
    if (i == keyword.size()) return entry.code;
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

bool ParseReal(std::string_view text, float& value) { return ReadRealPrefix(text, value) > 0; }

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
  // Argument k + 1 starts after the first blank from the start of argument k; a number holds no
  // blank, so that blank is looked for from where the number ended.
  std::size_t scanned = 0;  // bytes of `line` known to hold no blank of the current argument
  for (int k = 0; k < count; ++k) {
    while (scanned < line.size() && line[scanned] != ' ') ++scanned;  // mostly at once
    line.remove_prefix(std::min(scanned + 1, line.size()));
    scanned = ReadRealPrefix(line, values[k]);
  }
}

void ReadRealSequence(std::string_view line, float* values, int count) {
  std::string_view rest = Argument(line, 1);
  for (int k = 0; k < count; ++k) {
    while (!rest.empty() &&
           (rest[0] == ' ' || rest[0] == '\t' || rest[0] == '\v' || rest[0] == '\f')) {
      rest.remove_prefix(1);
    }
    const std::size_t length = ReadRealPrefix(rest, values[k]);
    if (length == 0) return;
    rest.remove_prefix(length);
  }
}

std::string_view NameArgument(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && static_cast<signed char>(text[n]) > 32) ++n;
  return text.substr(0, n);
}

}  // namespace rwx
