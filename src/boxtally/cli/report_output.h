// boxtally-cli --report: the run's results as CSV or, for a name ending in .xlsx, as a workbook,
// into a file (replaced only when the run completes, as a result file must be) or onto standard
// output.
#pragma once

#include <string>

#include "boxtally/driver/batch_main.h"
#include "platform/safe_replace.h"
#include "platform/text_file.h"

namespace cli {

inline constexpr const char* kReportToStandardOutput = "-";

struct ReportOutput {
  std::string path;  // empty: no report; "-": standard output
  platform::Replacement replacement;
  int signal_slot = -1;  // the new file, removed by a signal that ends the program at once
  platform::TextFilePtr stream;  // a device, a FIFO or a socket: written into, never replaced
};

// Before the run: the new file beside `path` (leftovers of killed runs removed first), or the
// stream opened when `path` is no regular file (a FIFO that no process reads is refused), so a
// report that cannot be written stops the run before it starts. False with the system's reason
// in `error`. Nothing to do for standard output or no report.
bool BeginReport(const std::string& path, ReportOutput& out, std::string& error);

// After the run: standard output and a stream get the report of any run; a file is written and
// put in place when `completed`, else left as it was. False with the system's reason in `error`.
bool FinishReport(ReportOutput& out, const driver::RunOutcome& outcome, bool completed,
                  std::string& error);

}  // namespace cli
