// The results window's export: the rows shown, in the table's French words, as a workbook or as
// CSV for the desktop's spreadsheet.
#pragma once

#include <QLocale>
#include <QString>
#include <optional>
#include <vector>

#include "boxtally/driver/csv_report.h"
#include "boxtally/driver/model_results.h"
#include "boxtally/driver/report_columns.h"

namespace ui {

// The report in the table's words: its column titles, fates, reasons and notes.
const driver::ReportWording& FrenchWording();

// CSV as a desktop's spreadsheet reads it in `locale`: where the locale writes decimals with a
// comma (French, German, ...), fields separated by ';' and numbers with a decimal comma, else ','
// and '.'; a byte order mark always, so the spreadsheet takes the text as UTF-8.
driver::CsvStyle SpreadsheetCsvStyle(const QLocale& locale);

// Writes `rows` into `path`, replacing it in one step: a workbook when the name ends in .xlsx,
// else CSV for the desktop's locale as Qt reports it (QLocale::system()). Why not, in French.
std::optional<QString> ExportResults(const QString& path,
                                     const std::vector<driver::ModelOutcome>& rows);

}  // namespace ui
