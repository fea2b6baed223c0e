// Shared pieces of the RWX measurement tests: fake switches, and a harness that runs
// MeasureModelFile on an in-test script with a template, a registry file and a log file in a
// fresh temporary folder, and hands back the bytes written.
#pragma once

#include <string>

#include "../../support/temp_dir.h"
#include "boxtally/rwx/measure.h"
#include "platform/text_file.h"

namespace rwx_test {

inline constexpr const char* kDefaultTemplate =
    "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n";

class FakeSwitches : public rwx::SwitchSource {
 public:
  bool skip_huge = false;
  bool handle_facers = false;
  bool non_centered = false;
  bool oversized = false;
  bool SkipHugeObjects() const override { return skip_huge; }
  bool HandleFacers() const override { return handle_facers; }
  bool NonCentered() const override { return non_centered; }
  bool OverSized() const override { return oversized; }
};

struct MeasureOutput {
  rwx::MeasureResult result = rwx::MeasureResult::kDone;
  std::string registry;  // bytes of the registry file (CR LF line ends)
  std::string log;       // bytes of the log file
};

class MeasureHarness {
 public:
  FakeSwitches switches;
  testing_support::TempDir dir;
  rwx::WorkspacePtr workspace = rwx::CreateWorkspace();
  std::string format = kDefaultTemplate;
  std::string model_name = "box.rwx";
  std::string found_name = "Box.RWX";
  bool integer_mode = true;
  bool debug_trace = false;
  rwx::GeometryCapture* geometry = nullptr;  // also take the geometry

  // Measures `script` (written as it is, read in binary mode like a model file).
  MeasureOutput Run(const std::string& script) {
    const std::string model_path = dir / "model.rwx";
    testing_support::WriteFile(model_path, script);
    return RunFile(model_path);
  }

  MeasureOutput RunFile(const std::string& model_path) {
    const std::string format_path = dir / "format.txt";
    testing_support::WriteFile(format_path, format);
    const std::string registry_path = dir / "registry.txt";
    const std::string log_path = dir / "log.txt";
    platform::TextFilePtr registry(
        platform::OpenTextFile(registry_path, platform::OpenMode::kCreate));
    platform::TextFilePtr log(platform::OpenTextFile(log_path, platform::OpenMode::kCreate));
    rwx::MeasureInput input;
    input.model_path = model_path;
    input.work_path = "work.rwx";
    input.model_name = model_name;
    input.found_name = found_name;
    input.format_path = format_path;
    input.registry = registry.get();
    input.log = log.get();
    input.integer_mode = integer_mode;
    input.debug_trace = debug_trace;
    input.switches = &switches;
    input.geometry = geometry;
    MeasureOutput out;
    out.result =
        rwx::MeasureModelFile(platform::OpenInStream(model_path, false), input, *workspace);
    registry.reset();
    log.reset();
    out.registry = testing_support::ReadFile(registry_path);
    out.log = testing_support::ReadFile(log_path);
    return out;
  }
};

}  // namespace rwx_test
