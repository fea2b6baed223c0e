// The report's rows over any name, source and facts: the bytes are split into those three at
// their first two NUL bytes. Whatever they hold, a row is valid UTF-8, ends with its only CR LF,
// holds no other control character, and reads back as exactly one field per column, separated by
// commas or, as a French spreadsheet wants them, by semicolons.
#include <cstddef>
#include <cstdint>
#include <string>

#include "boxtally/driver/csv_report.h"

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The fields of one RFC 4180 record (without its CR LF); -1 when its quotes are malformed.
int FieldCount(const std::string& record, char separator) {
  int fields = 1;
  bool quoted = false;
  for (std::size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (quoted) {
      if (c != '"') continue;
      if (i + 1 < record.size() && record[i + 1] == '"') {
        ++i;
      } else {
        quoted = false;
        if (i + 1 < record.size() && record[i + 1] != separator) return -1;
      }
    } else if (c == '"') {
      if (i > 0 && record[i - 1] != separator) return -1;
      quoted = true;
    } else if (c == separator) {
      ++fields;
    }
  }
  return quoted ? -1 : fields;
}

bool ValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    std::size_t n = b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    if (n == 0 || text.size() - i < n) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    const unsigned char second = n > 1 ? static_cast<unsigned char>(text[i + 1]) : 0x80;
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
        (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
      return false;
    }
    i += n;
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  driver::ModelOutcome m;
  const std::size_t first = bytes.find('\0');
  m.name = bytes.substr(0, first);
  if (first != std::string::npos) {
    const std::size_t second = bytes.find('\0', first + 1);
    m.source = bytes.substr(first + 1, second == std::string::npos ? second : second - first - 1);
    if (second != std::string::npos) m.facts = bytes.substr(second + 1);
  }
  m.fate = static_cast<driver::Fate>(size % driver::kFateCount);
  m.reason =
      static_cast<driver::Reason>(size % (static_cast<int>(driver::Reason::kRunEndedEarly) + 1));
  m.flags = static_cast<std::uint8_t>(size & 7);
  m.missing_textures = {m.source, m.facts};
  const driver::CsvStyle style =
      (size & 8) != 0 ? driver::CsvStyle{';', ',', true} : driver::CsvStyle{};
  std::string row;
  driver::AppendCsvRow(m, driver::EnglishWording(), style, row);
  Check(row.size() >= 2 && row.compare(row.size() - 2, 2, "\r\n") == 0);
  const std::string record = row.substr(0, row.size() - 2);
  for (const char c : record) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  Check(ValidUtf8(record));
  Check(FieldCount(record, style.separator) == static_cast<int>(driver::kReportColumnCount));
  return 0;
}
