#include "boxtally/cli/cli_host.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>

#include "platform/paths.h"
#include "platform/termination.h"

namespace cli {

namespace {
constexpr std::size_t kWebLineWidth = 79;  // bytes of the progress line in web mode

// The log on standard error shares the terminal with the progress line: every log write first
// erases that line, so the two never mix.
ssize_t WriteLogToStderr(void* cookie, const char* data, std::size_t size) {
  auto* host = static_cast<CliHost*>(cookie);
  host->ClearProgressLine();
  host->NoteLogLineOpen(size > 0 && data[size - 1] != '\n');
  return static_cast<ssize_t>(std::fwrite(data, 1, size, stderr));
}
}  // namespace

CliHost::CliHost(const CliSettings& settings) : settings_(settings) {
  settings_.web_controls.log_file = settings_.log_path;
  thumbnails_.dir = settings_.thumbnail_dir;
  thumbnails_.size = settings_.thumbnail_size;
  progress_enabled_ = !settings_.quiet && isatty(STDERR_FILENO) != 0;
  http_.SetMessagePump([this] { ProcessMessages(); });
  // Ctrl-C is the stop button, as SIGTERM and SIGHUP are; a second one ends the program at once.
  platform::InstallTerminationHandlers(/*interrupt=*/true);
}

void CliHost::SetRegistryOnStandardOutput(bool on_stdout) {
  if (on_stdout && isatty(STDOUT_FILENO) != 0) progress_enabled_ = false;
}

bool CliHost::LogIntact() { return log_ != nullptr && platform::FlushTextFile(*log_); }

int CliHost::TerminationSignal() { return platform::TerminationSignal(); }

CliHost::~CliHost() {
  ClearProgressLine();
  platform::CloseTextFile(log_);
}

bool CliHost::OpenLog(bool* locked) {
  *locked = false;
  if (!settings_.log_path.empty()) {
    log_ = platform::OpenLogFile(
        settings_.log_path,
        settings_.new_log ? platform::OpenMode::kCreate : platform::OpenMode::kAppend, locked);
    return log_ != nullptr;
  }
  cookie_io_functions_t io{};
  io.write = WriteLogToStderr;
  std::FILE* stream = fopencookie(this, "w", io);
  if (stream == nullptr) return false;
  std::setvbuf(stream, nullptr, _IOLBF, 0);
  log_ = new platform::TextFile{stream, /*crlf=*/false, /*owned=*/true};
  return true;
}

bool CliHost::StopRequested() const { return platform::TerminationSignal() != 0; }
void CliHost::ClearStopRequest() {}
std::string CliHost::ProgramDirectory() const { return platform::ProgramDirectory(); }
std::string CliHost::WorkDirectory() const { return platform::WorkDirectory(); }

void CliHost::ProcessMessages() {
  if (StopRequested()) http_.Abort();
}

void CliHost::SetStatusText(int panel, const std::string& text) {
  // In file mode the progress line says more than the status texts; in web mode it shows them,
  // as the window's status bar does.
  if (!settings_.web || panel < 0 || panel > 1) return;
  if (panel == 1) panels_[0].clear();  // a new step: the last one's event is over
  panels_[panel] = text;
  DrawWebLine(true);
}

void CliHost::ShowEvent(const std::string& text, bool force) {
  if (!settings_.web) return;
  panels_[0] = text;
  DrawWebLine(force);
}

void CliHost::ShowStatusNow(int panel, const std::string& text) { SetStatusText(panel, text); }

void CliHost::OnRedirect(bool& handled) {
  handled = false;  // follow it
  ShowStatusNow(0, "Redirected");
}

void CliHost::DrawWebLine(bool force) {
  if (!progress_enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && progress_shown_ && now - last_progress_ < std::chrono::milliseconds(100)) return;
  last_progress_ = now;
  EndOpenLogLine();
  std::string line = std::to_string(web_done_);
  if (web_total_ > 0) line += " of " + std::to_string(web_total_);
  line += " done  " + panels_[1];
  if (!panels_[0].empty()) line += "  " + panels_[0];
  line = platform::WithoutControls(line).substr(0, kWebLineWidth);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  progress_shown_ = true;
}

void CliHost::ModelCommitted(const driver::ModelOutcome& outcome) {
  if (settings_.web && outcome.fate != driver::Fate::kNotReached) ++web_done_;
}

void CliHost::ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) {
  if (!progress_enabled_) return;
  // The line shows the web fetch's steps too, and counts the list's entries done: those that
  // gave no model (missing, say) as well as the models measured.
  if (settings_.web) {
    web_total_ = total;
    DrawWebLine(true);
    return;
  }
  // A terminal redrawn for every model would cost more than small models take to measure; the
  // last count is always drawn, so the line ends at "N of N".
  const auto now = std::chrono::steady_clock::now();
  const bool last = done >= total;
  if (!last && progress_shown_ && now - last_progress_ < std::chrono::milliseconds(100)) return;
  last_progress_ = now;
  EndOpenLogLine();
  const std::string shown = platform::WithoutControls(found_name);
  std::fprintf(stderr, "\r\033[K%zu of %zu done  %.60s", done, total, shown.c_str());
  std::fflush(stderr);
  progress_shown_ = true;
}

void CliHost::EndOpenLogLine() {
  if (!log_line_open_) return;
  std::fputc('\n', stderr);
  log_line_open_ = false;
}

void CliHost::ClearProgressLine() {
  if (!progress_shown_) return;
  std::fputs("\r\033[K", stderr);
  progress_shown_ = false;
}

}  // namespace cli
