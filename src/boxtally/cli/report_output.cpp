#include "boxtally/cli/report_output.h"

#include <sys/mman.h>
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

// A workbook's bytes: it is made whole before any of it can go out.
bool WorkbookBytes(const driver::RunOutcome& outcome, std::string& bytes, std::string& error) {
  const int fd = memfd_create("report", MFD_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  const driver::XlsxOutcome written =
      driver::WriteXlsxReport(fd, outcome.results, driver::EnglishWording());
  error = driver::XlsxErrorText(written, outcome.results);
  bool ok = written.result == driver::kXlsxOk && lseek(fd, 0, SEEK_SET) == 0;
  char buffer[1 << 16];
  for (ssize_t n = 0; ok && (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      ok = false;
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok;
}

// The report into a stream, in chunks: its writes give up when a stop has come and nobody reads.
bool WriteStreamReport(platform::TextFile& stream, const std::string& path,
                       const driver::RunOutcome& outcome, std::string& error) {
  if (driver::IsWorkbookName(path)) {
    std::string bytes;
    if (!WorkbookBytes(outcome, bytes, error)) return false;
    platform::WriteText(stream, bytes);
  } else {
    constexpr std::size_t kChunkBytes = 64 * 1024;
    std::string chunk = driver::CsvHeader(driver::EnglishWording(), driver::CsvStyle{});
    for (const driver::ModelOutcome& model : outcome.results) {
      driver::AppendCsvRow(model, chunk);
      if (chunk.size() < kChunkBytes) continue;
      platform::WriteText(stream, chunk);
      chunk.clear();
    }
    platform::WriteText(stream, chunk);
  }
  if (platform::FlushTextFile(stream)) return true;
  error = "its reader did not take every byte";
  return false;
}
}  // namespace

bool BeginReport(const std::string& path, ReportOutput& out, std::string& error) {
  out.path = path;
  if (path.empty() || path == kReportToStandardOutput) return true;
  if (platform::IsStreamOutput(path)) {
    out.stream.reset(platform::OpenStreamOutput(path, /*crlf=*/false));
    if (out.stream == nullptr) error = platform::OutputOpenError(errno);
    return out.stream != nullptr;
  }
  platform::RemoveReplacementLeftovers(path);
  if (!platform::BeginReplacement(path, /*keep_content=*/false, out.replacement,
                                  &out.signal_slot)) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool FinishReport(ReportOutput& out, const driver::RunOutcome& outcome, bool completed,
                  std::string& error) {
  if (out.path.empty()) return true;
  if (out.path == kReportToStandardOutput) {
    std::fflush(stdout);  // whatever went there before comes first
    return WriteReport(out.path, STDOUT_FILENO, outcome, error);
  }
  if (out.stream != nullptr) return WriteStreamReport(*out.stream, out.path, outcome, error);
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
