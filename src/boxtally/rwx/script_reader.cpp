#include "boxtally/rwx/script_reader.h"

#include <algorithm>
#include <bit>
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
bool IsBlank(char c) { return c == ' ' || c == '\t'; }  // a tab is a blank once normalised
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

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
constexpr std::uint32_t kIntegerPowersOfTen[] = {1,      10,      100,      1000,
                                                 10000,  100000,  1000000,  10000000};
constexpr std::uint64_t kExactMantissaLimit = std::uint64_t{1}
                                              << 24;  // float holds every integer up to it
constexpr std::size_t kMaxAccumulatedDigits =
    19;  // digits a 64-bit mantissa takes without overflow

// Eight bytes at a time, the first in the lowest byte.
constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;
constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7F;

// The eight bytes from `p`, zeros for those at or past `end`.
std::uint64_t LoadEight(const char* p, const char* end) {
  std::uint64_t chunk = 0;
  if (end - p >= 8) {
    std::memcpy(&chunk, p, 8);
  } else if (p < end) {
    std::memcpy(&chunk, p, static_cast<std::size_t>(end - p));
  }
  return chunk;
}

// How many of the chunk's bytes, from the first, are digits.
unsigned LeadingDigits(std::uint64_t chunk) {
  const std::uint64_t t = chunk ^ (kEveryByte * '0');  // digits become 0..9
  const std::uint64_t not_digits = (((t & kLowBits) + kEveryByte * (0x80 - 10)) | t) & kHighBits;
  return not_digits == 0 ? 8 : static_cast<unsigned>(__builtin_ctzll(not_digits)) / 8;
}

// The value of the chunk's first `n` bytes (1..8), all digits: the digits are moved to the top,
// behind zeros, and eight of them are combined in three multiplications.
std::uint32_t DigitsValue(std::uint64_t chunk, unsigned n) {
  std::uint64_t v = (chunk - kEveryByte * '0') << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
      32;
  return static_cast<std::uint32_t>(v);
}

// Whether `p` starts an exponent that belongs to a number: "e" or "E", a sign, a digit.
bool ExponentAt(const char* p, const char* end) {
  if (p >= end || (*p != 'e' && *p != 'E')) return false;
  ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  return p < end && IsDigit(*p);
}

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

// ReadRealPrefix for any number: exponents and long runs of digits too.
std::size_t ReadAnyRealPrefix(std::string_view text, float& value) {
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
  if (!ExponentAt(number_end, end) && int_digits + frac_digits <= kMaxAccumulatedDigits &&
      frac_digits < std::size(kExactPowersOfTen) && mantissa <= kExactMantissaLimit) {
    const float magnitude = static_cast<float>(mantissa) / kExactPowersOfTen[frac_digits];
    value = negative ? -magnitude : magnitude;
    return static_cast<std::size_t>(number_end - begin);
  }
  const std::size_t length = DecimalRealLength(text);
  return ParseRealExactly(text, length, value) ? length : 0;
}

// The command table's entries grouped by the first byte of their keyword. The first keyword of
// the table that begins a line is the longest one that does (every keyword that is another's
// prefix stands after it), so within a group the words most lines begin with are tried first:
// a triangle need not be tried against the five transform words.
constexpr std::size_t kCommandCount = std::size(kCommandTable);
struct KeywordRange {
  std::uint8_t begin = 0;
  std::uint8_t end = 0;
};
struct KeywordIndex {
  std::array<std::uint8_t, kCommandCount> order{};  // table indices, grouped
  std::array<KeywordRange, 256> ranges{};           // each first byte's part of `order`
};
constexpr bool IsFrequentKeyword(std::string_view keyword) {
  return keyword == "vertex" || keyword == "triangle" || keyword == "quad" || keyword == "polygon";
}
constexpr KeywordIndex kKeywordIndex = [] {
  KeywordIndex index;
  std::size_t next = 0;
  for (int byte = 0; byte < 256; ++byte) {
    index.ranges[static_cast<std::size_t>(byte)].begin = static_cast<std::uint8_t>(next);
    for (const bool frequent : {true, false}) {
      for (std::size_t k = 0; k < kCommandCount; ++k) {
        if (static_cast<unsigned char>(kCommandTable[k].keyword[0]) == byte &&
            IsFrequentKeyword(kCommandTable[k].keyword) == frequent) {
          index.order[next++] = static_cast<std::uint8_t>(k);
        }
      }
    }
    index.ranges[static_cast<std::size_t>(byte)].end = static_cast<std::uint8_t>(next);
  }
  return index;
}();
// Whatever the order within a group, a keyword is tried before every keyword that is its prefix.
constexpr bool kLongerKeywordsFirst = [] {
  for (std::size_t i = 0; i < kCommandCount; ++i) {
    for (std::size_t j = i + 1; j < kCommandCount; ++j) {
      const std::string_view a = kCommandTable[kKeywordIndex.order[i]].keyword;
      const std::string_view b = kCommandTable[kKeywordIndex.order[j]].keyword;
      if (b.size() > a.size() && b.substr(0, a.size()) == a) return false;
    }
  }
  return true;
}();
static_assert(kLongerKeywordsFirst);

// Each keyword as eight-byte chunks with masks over its bytes, to meet a line eight bytes at a
// time.
constexpr std::size_t kKeywordChunks = 3;  // the longest keyword has 18 bytes
struct KeywordPattern {
  std::array<std::uint64_t, kKeywordChunks> bytes{};
  std::array<std::uint64_t, kKeywordChunks> masks{};
};
constexpr std::array<KeywordPattern, kCommandCount> kKeywordPatterns = [] {
  std::array<KeywordPattern, kCommandCount> patterns{};
  for (std::size_t k = 0; k < kCommandCount; ++k) {
    const std::string_view keyword = kCommandTable[k].keyword;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
      const int shift = static_cast<int>(8 * (i % 8));
      patterns[k].bytes[i / 8] |= std::uint64_t{static_cast<unsigned char>(keyword[i])} << shift;
      patterns[k].masks[i / 8] |= std::uint64_t{0xFF} << shift;
    }
  }
  return patterns;
}();

// Eight bytes of a line as normalising makes them: letters lowered, tabs made blanks.
std::uint64_t NormalisedEight(std::uint64_t x) {
  const std::uint64_t h = x & kLowBits;
  const std::uint64_t upper =
      (h + kEveryByte * (0x80 - 'A')) & ~(h + kEveryByte * (0x80 - 'Z' - 1)) & ~x & kHighBits;
  x |= upper >> 2;                                    // 0x80 >> 2 is the case bit
  const std::uint64_t t = x ^ (kEveryByte * '\t');   // tabs become zero bytes
  const std::uint64_t tabs = ~(((t & kLowBits) + kLowBits) | t | kLowBits);
  return x ^ ((tabs >> 7) * ('\t' ^ ' '));
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

// A byte as normalising makes it, which is how it meets a keyword's byte.
char NormalisedByte(char c) { return kNormalised[static_cast<unsigned char>(c)]; }

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

std::string_view ReadScriptLine(platform::InStream& in) {
  for (;;) {
    // A whole line fits the window unless the stream ends first.
    const std::string_view window = in.Window(kMaxLineLength);
    if (window.empty()) return {};
    std::size_t start = 0;
    while (start < window.size() && IsLineEnd(window[start])) ++start;
    if (start > 0) {  // the ends of empty lines
      in.Consume(start);
      continue;
    }
    const std::size_t limit = std::min(window.size(), kMaxLineLength);
    const std::size_t length = LineEndIn(window.data(), limit);
    if (length < limit) {
      in.Consume(length + 1);
      return window.substr(0, length);
    }
    in.Consume(limit);
    // Short of the limit without a line end: the last line of the stream, whose end this read
    // reaches.
    if (limit < kMaxLineLength) in.Window(1);
    return window.substr(0, limit);
  }
}

std::string_view SkipBlanks(std::string_view text) {
  return text.substr(LeadingBlanks(text.data(), text.size(), text.size()));
}

void StoreLine(std::string_view text, ScriptLine& line) {
  const std::size_t n = text.copy(line.bytes.data(), kMaxLineLength);
  line.length = n;
  if (n < kMaxLineLength) line.bytes[line.length++] = '\n';
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
  // Only keywords with the line's first letter can match; they are tried in table order.
  const KeywordRange range =
      kKeywordIndex.ranges[static_cast<unsigned char>(NormalisedByte(line[0]))];
  const char* const end = line.data() + line.size();
  std::array<std::uint64_t, kKeywordChunks> chunks{};
  chunks[0] = NormalisedEight(LoadEight(line.data(), end));
  std::size_t loaded = 1;
  for (std::size_t k = range.begin; k < range.end; ++k) {
    const std::size_t entry = kKeywordIndex.order[k];
    const std::size_t size = kCommandTable[entry].keyword.size();
    if (line.size() < size) continue;
    const KeywordPattern& pattern = kKeywordPatterns[entry];
    const std::size_t needed = (size + 7) / 8;
    for (; loaded < needed; ++loaded) {
      chunks[loaded] = NormalisedEight(LoadEight(line.data() + 8 * loaded, end));
    }
    std::size_t c = 0;
    while (c < needed && (chunks[c] & pattern.masks[c]) == pattern.bytes[c]) ++c;
    if (c == needed) return kCommandTable[entry].code;
  }
  return kCmdUnknown;
}

std::size_t NextArgument(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && !IsBlank(text[i])) ++i;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

std::string_view Argument(std::string_view line, int k) {
  for (int i = 0; i < k; ++i) line.remove_prefix(NextArgument(line));
  return line;
}

// Most script numbers are short, without an
// exponent: fewer than eight digits before and after the point, each run read eight bytes at a
// once. When their digits make an integer up to 2^24, the divisor is an exact power of ten and
// one single-precision division rounds the decimal value correctly (Clinger's fast path). Every
// other number goes through ReadAnyRealPrefix, and from_chars where it must.
std::size_t ReadRealPrefix(std::string_view text, float& value) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  // Signs come in any order in a script: they are taken without a branch to guess wrong.
  const char first = begin < end ? *begin : '\0';
  const bool negative = first == '-';
  const char* const p = begin + static_cast<int>(negative || first == '+');
  const std::uint64_t int_chunk = LoadEight(p, end);
  const unsigned int_digits = LeadingDigits(int_chunk);
  if (int_digits == 8) return ReadAnyRealPrefix(text, value);
  const char* number_end = p + int_digits;
  std::uint64_t mantissa = int_digits > 0 ? DigitsValue(int_chunk, int_digits) : 0;
  unsigned frac_digits = 0;
  if (number_end < end && *number_end == '.') {
    const std::uint64_t frac_chunk = LoadEight(number_end + 1, end);
    frac_digits = LeadingDigits(frac_chunk);
    if (frac_digits == 8) return ReadAnyRealPrefix(text, value);
    if (int_digits + frac_digits == 0) return 0;
    if (frac_digits > 0) {
      mantissa = mantissa * kIntegerPowersOfTen[frac_digits] + DigitsValue(frac_chunk, frac_digits);
    }
    number_end += 1 + frac_digits;  // a lone point after digits belongs to the number ("5.")
  } else if (int_digits == 0) {
    return 0;
  }
  if (mantissa > kExactMantissaLimit || ExponentAt(number_end, end)) {
    return ReadAnyRealPrefix(text, value);
  }
  const float magnitude = static_cast<float>(mantissa) / kExactPowersOfTen[frac_digits];
  value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) |
                               (std::uint32_t{negative} << 31));
  return static_cast<std::size_t>(number_end - begin);
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
  // A number holds no blank: the next argument is looked for from where the number ended.
  for (int k = 0; k < count; ++k) {
    line.remove_prefix(NextArgument(line));
    line.remove_prefix(ReadRealPrefix(line, values[k]));
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
