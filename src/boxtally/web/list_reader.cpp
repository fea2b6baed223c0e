#include "boxtally/web/list_reader.h"

#include <cstdint>

namespace web {

namespace {
// The bytes fscanf's "%d" skips in front of a number.
bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Larger values only have to stay larger than any length a record may give.
constexpr std::int64_t kNumberCeiling = std::int64_t{1} << 40;

// Reads up to and including the next line feed; false when the stream ended first.
bool DropRestOfLine(platform::InStream& in, int c) {
  while (c != '\n') {
    if (c < 0) return false;
    c = in.Get();
  }
  return true;
}

// Reads one number as "%d" does: blanks and line ends, an optional sign, at least one digit.
// `c` is the byte in hand and becomes the first byte after the number (or the byte that stopped
// it). False when no digit came.
bool ReadNumber(platform::InStream& in, int& c, std::int64_t& value) {
  while (IsSpace(c)) c = in.Get();
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    c = in.Get();
  }
  if (!IsDigit(c)) return false;
  value = 0;
  while (IsDigit(c)) {
    if (value < kNumberCeiling) value = value * 10 + (c - '0');
    c = in.Get();
  }
  if (negative) value = -value;
  return true;
}

// Reads `count` bytes into `out` (when not null); false when the stream ended first.
bool ReadBytes(platform::InStream& in, std::int64_t count, std::string* out) {
  for (std::int64_t i = 0; i < count; ++i) {
    const int c = in.Get();
    if (c < 0) return false;
    if (out != nullptr) out->push_back(static_cast<char>(c));
  }
  return true;
}
}  // namespace

EntryRead ReadListLine(platform::InStream& in, std::string& text) {
  text.clear();
  int c = in.Get();
  if (c < 0) return EntryRead::kEnd;
  bool too_long = false;
  while (c >= 0 && c != '\n') {
    if (text.size() < kMaxListLine) {
      text.push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
    c = in.Get();
  }
  return too_long ? EntryRead::kTooLong : EntryRead::kEntry;
}

EntryRead ReadPropdumpRecord(platform::InStream& in, std::string& text) {
  text.clear();
  int c = in.Get();
  if (c < 0) return EntryRead::kEnd;
  std::int64_t numbers[kPropdumpNumbers] = {};
  for (std::int64_t& number : numbers) {
    if (!ReadNumber(in, c, number)) {
      DropRestOfLine(in, c);
      return EntryRead::kDropped;
    }
  }
  const std::int64_t name_length = numbers[8];
  const std::int64_t second_length = numbers[9];
  const std::int64_t third_length = numbers[10];
  const auto fits = [](std::int64_t length, std::size_t room) {
    return length >= 0 && length <= static_cast<std::int64_t>(room);
  };
  if (!fits(name_length, kMaxPropdumpName) || !fits(second_length, kMaxPropdumpText) ||
      !fits(third_length, kMaxPropdumpText)) {
    DropRestOfLine(in, c);
    return EntryRead::kDropped;
  }
  // `c` is the separator byte after the eleventh number: it is skipped. A record that ends right
  // after its numbers has no texts.
  if (c < 0) return EntryRead::kDropped;
  std::string name;
  if (!ReadBytes(in, name_length, &name) || !ReadBytes(in, second_length, nullptr) ||
      !ReadBytes(in, third_length, nullptr)) {
    return EntryRead::kDropped;
  }
  // The line end: the last record of a file may lack it.
  (void)ReadBytes(in, kPropdumpLineEnd, nullptr);
  text = name.substr(0, name.find('\0'));
  return EntryRead::kEntry;
}

}  // namespace web
