#include "boxtally/ui/report_export.h"

#include <cerrno>
#include <cstring>

#include "boxtally/driver/xlsx_report.h"
#include "boxtally/ui/window_texts.h"
#include "platform/safe_replace.h"

namespace ui {

namespace {
QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

QString Number(std::size_t n) {
  return QLocale(QLocale::French, QLocale::France).toString(static_cast<qulonglong>(n));
}

std::string Fate(const driver::ModelOutcome& m) { return texts::FateText(m.fate).toStdString(); }
std::string Reason(const driver::ModelOutcome& m) { return texts::ReasonFrench(m).toStdString(); }
std::string Notes(const driver::ModelOutcome& m) { return texts::NotesText(m.flags).toStdString(); }

QString SystemError(int error_number) {
  return QString::fromLocal8Bit(std::strerror(error_number));
}

QString WorkbookFailure(const driver::XlsxOutcome& outcome,
                        const std::vector<driver::ModelOutcome>& rows) {
  switch (outcome.result) {
    case driver::kXlsxOk:
      return {};
    case driver::kXlsxTooManyModels:
      return Tr(texts::kWorkbookTooManyModels)
          .arg(Number(driver::kXlsxMaxModels), Number(rows.size()));
    case driver::kXlsxTextTooLong: {
      const std::string& name = rows[outcome.model].name;
      const QString model = name.size() <= driver::kXlsxNameShown
                                ? Tr("« %1 »").arg(QString::fromStdString(driver::CleanText(name)))
                                : Tr("n° %1").arg(Number(outcome.model + 1));
      return Tr(texts::kWorkbookTextTooLong)
          .arg(Tr(texts::kReportColumnTitles[outcome.column]), model,
               Number(driver::kXlsxMaxCellText));
    }
    case driver::kXlsxNoWorkFile:
      return Tr(texts::kWorkbookNoWorkFile).arg(SystemError(outcome.error_number));
    case driver::kXlsxLibraryFailed:
      return Tr(texts::kWorkbookFailed).arg(QString::fromStdString(outcome.detail));
    case driver::kXlsxWriteFailed:
      return SystemError(outcome.error_number);
  }
  return {};
}
}  // namespace

const driver::ReportWording& FrenchWording() {
  static const driver::ReportWording french = [] {
    driver::ReportWording words;
    for (std::size_t i = 0; i < driver::kReportColumnCount; ++i) {
      words.titles[i] = texts::kReportColumnTitles[i];
    }
    words.sheet = texts::kReportSheet;
    words.fate = Fate;
    words.reason = Reason;
    words.flags = Notes;
    return words;
  }();
  return french;
}

driver::CsvStyle SpreadsheetCsvStyle(const QLocale& locale) {
  driver::CsvStyle style;
  if (locale.decimalPoint() == QLatin1String(",")) {
    style.separator = ';';
    style.decimal_point = ',';
  }
  style.byte_order_mark = true;
  return style;
}

std::optional<QString> ExportResults(const QString& path,
                                     const std::vector<driver::ModelOutcome>& rows) {
  platform::Replacement replacement;
  if (!platform::BeginReplacement(path.toStdString(), false, replacement)) {
    return SystemError(errno);
  }
  QString failure;
  if (driver::IsWorkbookName(path.toStdString())) {
    failure = WorkbookFailure(driver::WriteXlsxReport(replacement.fd, rows, FrenchWording()), rows);
  } else if (!driver::WriteCsvReport(replacement.fd, rows, FrenchWording(),
                                     SpreadsheetCsvStyle(QLocale::system()))) {
    failure = SystemError(errno);
  }
  if (!failure.isEmpty()) {
    platform::AbandonReplacement(replacement);
    return failure;
  }
  if (!platform::CommitReplacement(replacement)) return SystemError(errno);
  return std::nullopt;
}

}  // namespace ui
