#include "boxtally/cli/report_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "boxtally/driver/csv_report.h"
#include "platform/termination.h"

namespace cli {

namespace {
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
    if (driver::WriteCsvReport(STDOUT_FILENO, outcome.results)) return true;
    error = std::strerror(errno);
    return false;
  }
  bool ok = true;
  if (!completed) {
    platform::AbandonReplacement(out.replacement);
  } else if (!driver::WriteCsvReport(out.replacement.fd, outcome.results)) {
    error = std::strerror(errno);
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
