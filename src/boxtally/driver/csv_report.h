// The report of a run as CSV (RFC 4180: UTF-8, each record ended by CR LF, a header line first),
// one row per model, the columns of report_columns.h. boxtally-cli --report writes it for
// scripts: comma separated, decimal points, the English keys. The results window's export writes
// it for the desktop's spreadsheet: its French words, the separator and decimal mark of the
// desktop's locale, a byte order mark.
#pragma once

#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/driver/report_columns.h"

namespace driver {

inline constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";

struct CsvStyle {
  char separator = ',';
  char decimal_point = '.';      // replaces the point of the numbers
  bool byte_order_mark = false;  // the file starts with kByteOrderMark
};

// One field as RFC 4180 wants it, cleaned as CleanText does: quoted (with its quotes doubled)
// when it holds the separator or a quote.
std::string CsvField(const std::string& text, char separator = ',');

// The header line, CR LF included (the byte order mark is not part of it).
std::string CsvHeader(const ReportWording& words, const CsvStyle& style);

// One row, CR LF included. Box, sizes, counts and flags are empty for models not measured.
void AppendCsvRow(const ModelOutcome& model, const ReportWording& words, const CsvStyle& style,
                  std::string& out);
// The same in English keys, comma separated.
void AppendCsvRow(const ModelOutcome& model, std::string& out);

// The byte order mark when the style has one, the header and every row into `fd` (a file, a pipe,
// standard output), in chunks. False, with errno set, when a write failed.
bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results, const ReportWording& words,
                    const CsvStyle& style);
// The same in English keys, comma separated: boxtally-cli's report.
bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results);

}  // namespace driver
