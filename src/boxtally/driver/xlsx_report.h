// The report of a run as a workbook (.xlsx) for a spreadsheet, written with libxlsxwriter: one
// sheet, the columns of report_columns.h, numbers as number cells (the spreadsheet's own locale
// shows them), every text as a text cell (a name such as "=1+1" never becomes a formula), the
// header row in bold and frozen, an autofilter over the table, columns as wide as their texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/driver/report_columns.h"

namespace driver {

inline constexpr std::size_t kXlsxMaxModels = 1048575;  // a sheet's rows (1,048,576) less one
inline constexpr std::size_t kXlsxMaxCellText = 32767;  // UTF-16 code units of a cell's text
inline constexpr std::size_t kXlsxMaxColumnWidth = 80;  // characters: wider texts are cut in view
inline constexpr std::size_t kXlsxNameShown = 100;      // bytes of a name that a message quotes

enum [[nodiscard]] XlsxResult : int{
    kXlsxOk = 0,
    kXlsxTooManyModels = -1,  // more than kXlsxMaxModels models
    kXlsxTextTooLong = -2,    // a text passes kXlsxMaxCellText (XlsxOutcome::model, column)
    kXlsxNoWorkFile = -3,     // no file could be made in the private work folder (error_number)
    kXlsxLibraryFailed = -4,  // libxlsxwriter failed (detail: its message)
    kXlsxWriteFailed = -5,    // the workbook could not be copied into the output (error_number)
};

struct XlsxOutcome {
  XlsxResult result = kXlsxOk;
  std::size_t model = 0;   // kXlsxTextTooLong: the model's index in the results
  std::size_t column = 0;  // kXlsxTextTooLong: the column's index in kReportColumns
  int error_number = 0;    // kXlsxNoWorkFile, kXlsxWriteFailed: errno
  std::string detail;      // kXlsxLibraryFailed
};

// Whether a report named `path` is a workbook: its name ends in ".xlsx", in any letter case.
bool IsWorkbookName(std::string_view path);

// Writes the workbook of `results` in `words` into `fd` (a new file, a pipe, standard output). The
// workbook is made whole in the private work folder first, so a failure writes nothing into `fd`.
XlsxOutcome WriteXlsxReport(int fd, const std::vector<ModelOutcome>& results,
                            const ReportWording& words);

// What went wrong, in English for the terminal: "a workbook holds at most 1048575 models (this
// run has 1200000): write the report as CSV".
std::string XlsxErrorText(const XlsxOutcome& outcome, const std::vector<ModelOutcome>& results);

}  // namespace driver
