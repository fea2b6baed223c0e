#include "boxtally/driver/xlsx_report.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/paths.h"
#include "platform/safe_replace.h"

namespace driver {

namespace {
constexpr std::size_t kHeaderPadding = 3;  // characters beside a title: the filter's button

XlsxOutcome Failed(XlsxResult result) {
  XlsxOutcome outcome;
  outcome.result = result;
  outcome.error_number = errno;
  return outcome;
}

XlsxOutcome LibraryFailed(lxw_error error) {
  XlsxOutcome outcome;
  outcome.result = kXlsxLibraryFailed;
  outcome.detail = lxw_strerror(error);
  return outcome;
}

// The characters a text shows: its code points.
std::size_t Characters(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// A text as a cell may hold it: CleanText's, and without U+FFFE and U+FFFF, which XML refuses.
std::string CellText(const std::string& text) {
  std::string clean = CleanText(text);
  for (std::size_t at = 0; (at = clean.find("\xEF\xBF", at)) != std::string::npos; at += 3) {
    if (at + 2 < clean.size() && (clean[at + 2] == '\xBE' || clean[at + 2] == '\xBF')) {
      clean[at + 2] = '\xBD';
    }
  }
  return clean;
}

// The workbook being made, and the widest text of each column so far.
struct Sheet {
  lxw_workbook* book = nullptr;
  lxw_worksheet* sheet = nullptr;
  std::array<std::size_t, kReportColumnCount> widths{};
};

// One cell of the model's row, or why it cannot be written.
XlsxResult WriteCell(Sheet& s, lxw_row_t row, std::size_t column, const std::string& cell,
                     lxw_error& error) {
  const auto col = static_cast<lxw_col_t>(column);
  if (kReportColumns[column].kind == CellKind::kNumber) {
    double value = 0;
    const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
    if (ec == std::errc{} && end == cell.data() + cell.size() && std::isfinite(value)) {
      s.widths[column] = std::max(s.widths[column], cell.size());
      error = worksheet_write_number(s.sheet, row, col, value, nullptr);
      return error == LXW_NO_ERROR ? kXlsxOk : kXlsxLibraryFailed;
    }
  }
  const std::string text = CellText(cell);
  if (Utf16Length(text) > kXlsxMaxCellText) return kXlsxTextTooLong;
  s.widths[column] = std::max(s.widths[column], Characters(text));
  error = worksheet_write_string(s.sheet, row, col, text.c_str(), nullptr);
  return error == LXW_NO_ERROR ? kXlsxOk : kXlsxLibraryFailed;
}

XlsxOutcome WriteRows(Sheet& s, const std::vector<ModelOutcome>& results,
                      const ReportWording& words) {
  lxw_format* bold = workbook_add_format(s.book);
  format_set_bold(bold);
  for (std::size_t c = 0; c < kReportColumnCount; ++c) {
    const std::string title = CellText(words.titles[c]);
    s.widths[c] = Characters(title) + kHeaderPadding;
    const lxw_error error =
        worksheet_write_string(s.sheet, 0, static_cast<lxw_col_t>(c), title.c_str(), bold);
    if (error != LXW_NO_ERROR) return LibraryFailed(error);
  }
  for (std::size_t i = 0; i < results.size(); ++i) {
    const auto row = static_cast<lxw_row_t>(i + 1);
    for (std::size_t c = 0; c < kReportColumnCount; ++c) {
      const std::string cell = kReportColumns[c].cell(results[i], words);
      if (cell.empty()) continue;
      lxw_error error = LXW_NO_ERROR;
      const XlsxResult result = WriteCell(s, row, c, cell, error);
      if (result == kXlsxTextTooLong) {
        XlsxOutcome outcome;
        outcome.result = result;
        outcome.model = i;
        outcome.column = c;
        return outcome;
      }
      if (result != kXlsxOk) return LibraryFailed(error);
    }
  }
  return {};
}

void Finish(Sheet& s, std::size_t rows) {
  for (std::size_t c = 0; c < kReportColumnCount; ++c) {
    const double width = static_cast<double>(std::min(s.widths[c] + 1, kXlsxMaxColumnWidth));
    (void)worksheet_set_column(s.sheet, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width,
                               nullptr);
  }
  worksheet_freeze_panes(s.sheet, 1, 0);
  (void)worksheet_autofilter(s.sheet, 0, 0, static_cast<lxw_row_t>(rows),
                             static_cast<lxw_col_t>(kReportColumnCount - 1));
}

// The workbook into the file `path`; its temporary files go into `folder`.
XlsxOutcome MakeWorkbook(const std::string& path, std::string folder,
                         const std::vector<ModelOutcome>& results, const ReportWording& words) {
  lxw_workbook_options options{};
  // Rows go out to a temporary file as they are written: 100,000 models take little memory.
  options.constant_memory = LXW_TRUE;
  options.tmpdir = folder.data();
  Sheet s;
  s.book = workbook_new_opt(path.c_str(), &options);
  if (s.book == nullptr) return LibraryFailed(LXW_ERROR_MEMORY_MALLOC_FAILED);
  lxw_error error = workbook_validate_sheet_name(s.book, words.sheet.c_str());
  if (error == LXW_NO_ERROR) {
    s.sheet = workbook_add_worksheet(s.book, words.sheet.c_str());
    if (s.sheet == nullptr) error = LXW_ERROR_MEMORY_MALLOC_FAILED;
  }
  if (error != LXW_NO_ERROR) {
    lxw_workbook_free(s.book);
    return LibraryFailed(error);
  }
  const XlsxOutcome outcome = WriteRows(s, results, words);
  if (outcome.result != kXlsxOk) {
    lxw_workbook_free(s.book);  // nothing is written
    return outcome;
  }
  Finish(s, results.size());
  error = workbook_close(s.book);
  return error == LXW_NO_ERROR ? XlsxOutcome{} : LibraryFailed(error);
}

XlsxOutcome CopyInto(const std::string& path, int fd) {
  const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return Failed(kXlsxWriteFailed);
  const bool copied = platform::CopyContent(in, fd);
  const XlsxOutcome outcome = copied ? XlsxOutcome{} : Failed(kXlsxWriteFailed);
  close(in);
  return outcome;
}
}  // namespace

bool IsWorkbookName(std::string_view path) {
  constexpr std::string_view kSuffix = ".xlsx";
  if (path.size() < kSuffix.size()) return false;
  return strncasecmp(path.data() + path.size() - kSuffix.size(), kSuffix.data(), kSuffix.size()) ==
         0;
}

XlsxOutcome WriteXlsxReport(int fd, const std::vector<ModelOutcome>& results,
                            const ReportWording& words) {
  if (results.size() > kXlsxMaxModels) return Failed(kXlsxTooManyModels);
  const std::string folder = platform::WorkDirectory();
  if (folder.empty()) return Failed(kXlsxNoWorkFile);
  const std::string path = platform::CreateUniqueFile(folder + "report-");
  if (path.empty()) return Failed(kXlsxNoWorkFile);
  XlsxOutcome outcome = MakeWorkbook(path, folder, results, words);
  if (outcome.result == kXlsxOk) outcome = CopyInto(path, fd);
  platform::RemoveFile(path);
  return outcome;
}

std::string XlsxErrorText(const XlsxOutcome& outcome, const std::vector<ModelOutcome>& results) {
  const std::string as_csv = ": write the report as CSV (a file name not ending in .xlsx)";
  switch (outcome.result) {
    case kXlsxOk:
      return {};
    case kXlsxTooManyModels:
      return "a workbook holds at most " + std::to_string(kXlsxMaxModels) +
             " models (this run has " + std::to_string(results.size()) + ")" + as_csv;
    case kXlsxTextTooLong: {
      std::string name = outcome.model < results.size() ? results[outcome.model].name : "";
      if (name.size() > kXlsxNameShown) name = "";  // the long text itself, maybe
      const std::string model = "model " + std::to_string(outcome.model + 1) +
                                (name.empty() ? "" : " (" + CleanText(name) + ")");
      return "the " + std::string(kReportColumns[outcome.column].key) + " of " + model +
             " is longer than " + std::to_string(kXlsxMaxCellText) +
             " characters, the most a workbook cell holds" + as_csv;
    }
    case kXlsxNoWorkFile:
      return std::string("no work file for the workbook: ") + std::strerror(outcome.error_number);
    case kXlsxLibraryFailed:
      return "libxlsxwriter: " + outcome.detail;
    case kXlsxWriteFailed:
      return std::strerror(outcome.error_number);
  }
  return {};
}

}  // namespace driver
