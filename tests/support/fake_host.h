// A RunHost for tests: switches are plain fields, the log is a file in a temporary folder.
#pragma once

#include <string>
#include <vector>

#include "boxtally/driver/run_host.h"
#include "platform/text_file.h"

namespace testing_support {

class FakeHost : public driver::RunHost {
 public:
  explicit FakeHost(const std::string& log_path, const std::string& work_dir)
      : log_path_(log_path),
        log_(platform::OpenTextFile(log_path, platform::OpenMode::kCreate)),
        work_dir_(work_dir) {}

  // Starts the log file anew, as a new run of the window with "append" unticked would.
  void ResetLog() { log_.reset(platform::OpenTextFile(log_path_, platform::OpenMode::kCreate)); }

  platform::TextFile& Log() override { return *log_; }
  bool ErrorsOnly() const override { return errors_only; }
  bool CobDebug() const override { return cob_debug; }
  bool SkipHugeObjects() const override { return skip_huge; }
  bool HandleFacers() const override { return handle_facers; }
  bool NonCentered() const override { return non_centered; }
  bool OverSized() const override { return over_sized; }
  bool StopRequested() const override { return stop_after_models >= 0 && processed >= stop_after_models; }
  void ClearStopRequest() override {}
  std::string ProgramDirectory() const override { return program_dir; }
  std::string WorkDirectory() const override { return work_dir_; }
  void SetStatusText(int panel, const std::string& text) override {
    status.push_back(std::to_string(panel) + ":" + text);
  }
  void ProcessMessages() override { ++processed; }
  std::size_t Jobs() const override { return jobs > 0 ? jobs : RunHost::Jobs(); }

  bool errors_only = true, cob_debug = false, skip_huge = true, handle_facers = false,
       non_centered = false, over_sized = false;
  int stop_after_models = -1;  // the stop request is seen once this many models have started
  int processed = 0;
  std::size_t jobs = 0;  // models measured at once; 0: the default
  std::string program_dir;
  std::vector<std::string> status;

 private:
  std::string log_path_;
  platform::TextFilePtr log_;
  std::string work_dir_;
};

}  // namespace testing_support
