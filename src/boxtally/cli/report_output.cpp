#include "boxtally/cli/report_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "boxtally/driver/csv_report.h"
#include "boxtally/driver/xlsx_report.h"
#include "platform/termination.h"

namespace cli {

namespace {
// The report into `fd`: a workbook when the file's name says so, else CSV. False with the reason
// in `error`.
bool WriteReport(const std::string& path, int fd, const driver::RunOutcome& outcome,
                 std::string& error) {
  if (driver::IsWorkbookName(path)) {
    const driver::XlsxOutcome written =
        driver::WriteXlsxReport(fd, outcome.results, driver::EnglishWording());
    error = driver::XlsxErrorText(written, outcome.results);
    return written.result == driver::kXlsxOk;
  }
  if (driver::WriteCsvReport(fd, outcome.results)) return true;
  error = std::strerror(errno);
  return false;
}

void Forget(ReportOutput& out) {
  if (out.signal_slot >= 0) platform::UnregisterRemoveOnSignal(out.signal_slot);
  out.signal_slot = -1;
}
}  // namespace

bool BeginReport(const std::string& path, ReportOutput& out, std::string& error) {
  out.path = path;
  if (path.empty() || path == kReportToStandardOutput) return true;
  platform::RemoveReplacementLeftovers(path);
  if (!platform::BeginReplacement(path, /*keep_content=*/false, out.replacement)) {
    error = std::strerror(errno);
    return false;
  }
  out.signal_slot = platform::RegisterRemoveOnSignal(out.replacement.temp);
  return true;
}

bool FinishReport(ReportOutput& out, const driver::RunOutcome& outcome, bool completed,
                  std::string& error) {
  if (out.path.empty()) return true;
  if (out.path == kReportToStandardOutput) {
    std::fflush(stdout);  // whatever went there before comes first
    return WriteReport(out.path, STDOUT_FILENO, outcome, error);
  }
  bool ok = true;
  if (!completed) {
    platform::AbandonReplacement(out.replacement);
  } else if (!WriteReport(out.path, out.replacement.fd, outcome, error)) {
    platform::AbandonReplacement(out.replacement);
    ok = false;
  } else if (!platform::CommitReplacement(out.replacement)) {
    error = std::strerror(errno);
    ok = false;
  }
  Forget(out);
  return ok;
}

}  // namespace cli
