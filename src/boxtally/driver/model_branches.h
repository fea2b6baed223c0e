// The two branches of the per-model pipeline: the first entry of a zip archive, and the
// conversion of a COB model by the converter program.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_host.h"
#include "platform/text_file.h"

namespace driver {

inline constexpr const char* kUnzipWorkFile = "unzipwk.$$$";
inline constexpr const char* kCobWorkFile = "unzipwk.cob";
inline constexpr const char* kRwxWorkFile = "unzipwk.rwx";
inline constexpr const char* kConverterName = "rwxsmith";
// Bytes of the converter's last message quoted in the log and the results.
inline constexpr std::size_t kMaxConverterMessage = 255;

// One model on its way through the pipeline.
struct ModelJob {
  std::string model_path;
  std::string found_name;
  std::string work_dir;  // this run's private folder, ending with '/'
  std::string model_name;
  std::string suffix;          // decides the branch: "zip", "cob", anything else is RWX text
  std::string work_path;       // the file the measurement reads; named in its messages
  bool work_path_set = false;  // set by extraction or conversion: the clean-up removes it
  bool from_zip = false;
  bool entry_in_memory = false;  // the extracted entry never became the work file
  bool cob_debug = false;
  const std::atomic<bool>* cancel = nullptr;  // the run no longer wants this model
  std::function<bool()> poll;  // on the host's thread: its messages, and whether it stops
  // Why the model failed, set by the branch that logged it.
  Reason reason = Reason::kNone;
  std::string facts;
};

// Notes why the model failed; returns nullptr for the branches' `return Fail(...)`.
inline std::nullptr_t Fail(ModelJob& job, Reason reason, std::string facts) {
  job.reason = reason;
  job.facts = std::move(facts);
  return nullptr;
}

// Reduces the zip archive at job.model_path to its first entry in the work file. Returns the
// entry opened for reading, with job.suffix taken from the entry's name, or nullptr after the
// log line (the model then goes to clean-up).
std::unique_ptr<platform::InStream> OpenZipEntry(RunHost& host, const RunState& run, ModelJob& job,
                                                 std::unique_ptr<platform::InStream> archive);

// Converts the COB model (plain or just extracted) with the converter program and returns the
// converted RWX file opened for reading, or nullptr after the log line. The conversion happens in
// the work folder: a plain model is copied there first, so nothing is ever written beside it.
std::unique_ptr<platform::InStream> ConvertCobModel(RunHost& host, ModelJob& job,
                                                    std::unique_ptr<platform::InStream> model);

}  // namespace driver
