#include "boxtally/driver/csv_report.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace driver {

namespace {
constexpr std::size_t kChunkBytes = 64 * 1024;  // bytes gathered before each write

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}
}  // namespace

std::string CsvField(const std::string& text, char separator) {
  const std::string clean = CleanText(text);
  if (clean.find_first_of(std::string{separator, '"'}) == std::string::npos) return clean;
  std::string quoted = "\"";
  for (const char c : clean) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

std::string CsvHeader(const ReportWording& words, const CsvStyle& style) {
  std::string line;
  for (const std::string& title : words.titles) {
    if (!line.empty()) line += style.separator;
    line += CsvField(title, style.separator);
  }
  return line + "\r\n";
}

void AppendCsvRow(const ModelOutcome& model, const ReportWording& words, const CsvStyle& style,
                  std::string& out) {
  for (std::size_t i = 0; i < kReportColumnCount; ++i) {
    if (i > 0) out += style.separator;
    const ReportColumn& column = kReportColumns[i];
    std::string cell = column.cell(model, words);
    if (column.kind == CellKind::kNumber) {
      std::replace(cell.begin(), cell.end(), '.', style.decimal_point);
    }
    out += CsvField(cell, style.separator);
  }
  out += "\r\n";
}

void AppendCsvRow(const ModelOutcome& model, std::string& out) {
  AppendCsvRow(model, EnglishWording(), CsvStyle{}, out);
}

bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results, const ReportWording& words,
                    const CsvStyle& style) {
  std::string chunk = style.byte_order_mark ? kByteOrderMark : "";
  chunk += CsvHeader(words, style);
  for (const ModelOutcome& m : results) {
    AppendCsvRow(m, words, style, chunk);
    if (chunk.size() < kChunkBytes) continue;
    if (!WriteAll(fd, chunk)) return false;
    chunk.clear();
  }
  return WriteAll(fd, chunk);
}

bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results) {
  return WriteCsvReport(fd, results, EnglishWording(), CsvStyle{});
}

}  // namespace driver
