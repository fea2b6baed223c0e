// The terminal's RunHost: switches from the command line, the log on a file or standard error,
// an optional progress line on a terminal, and Ctrl-C as the stop button.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "boxtally/driver/run_host.h"
#include "platform/text_file.h"

namespace cli {

struct CliSettings {
  std::string log_path;  // empty: the log goes to standard error
  bool new_log = false;  // create the log anew instead of appending
  bool errors_only = true;
  bool skip_huge_objects = true;
  bool handle_facers = false;
  bool non_centered = false;
  bool over_sized = false;
  bool cob_debug = false;
  bool quiet = false;
  int converter_time_limit = driver::kDefaultConverterTimeLimit;  // seconds; 0: none
};

class CliHost : public driver::RunHost {
 public:
  explicit CliHost(const CliSettings& settings);
  ~CliHost() override;

  // Opens the log; false when the log file cannot be opened (the run must not start then).
  bool OpenLog();
  // True when the log goes to standard error (no --log).
  bool LogOnStandardError() const { return settings_.log_path.empty(); }
  // Flushes the log; false when a message could not be written.
  bool LogIntact();

  // No progress line when the registry lines go to the same terminal: the two would mix.
  void SetRegistryOnStandardOutput(bool on_stdout);

  platform::TextFile& Log() override { return *log_; }
  bool ErrorsOnly() const override { return settings_.errors_only; }
  bool CobDebug() const override { return settings_.cob_debug; }
  bool SkipHugeObjects() const override { return settings_.skip_huge_objects; }
  bool HandleFacers() const override { return settings_.handle_facers; }
  bool NonCentered() const override { return settings_.non_centered; }
  bool OverSized() const override { return settings_.over_sized; }
  bool StopRequested() const override;
  void ClearStopRequest() override;
  std::string ProgramDirectory() const override;
  std::string WorkDirectory() const override;
  int ConverterTimeLimitSeconds() const override { return settings_.converter_time_limit; }
  void SetStatusText(int panel, const std::string& text) override;
  void ProcessMessages() override {}
  void ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) override;

  // Erases the progress line, if one is shown, so other text starts on a clean line.
  void ClearProgressLine();

  // The termination signal that stopped the run (SIGTERM, SIGHUP), or 0.
  static int TerminationSignal();

 private:
  CliSettings settings_;
  platform::TextFile* log_ = nullptr;
  bool progress_enabled_ = false;
  bool progress_shown_ = false;
  std::chrono::steady_clock::time_point last_progress_{};
};

}  // namespace cli
