#include "boxtally/driver/model_geometry.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "boxtally/rwx/geometry_capture.h"
#include "platform/text_file.h"

namespace driver {

namespace {

// The host of one reading: the request's switches and folders, the log in memory, no window.
class GeometryHost : public RunHost {
 public:
  GeometryHost(const GeometryRequest& request, platform::TextFile& log)
      : request_(request), log_(log) {}

  platform::TextFile& Log() override { return log_; }
  bool ErrorsOnly() const override { return true; }
  bool CobDebug() const override { return false; }
  bool SkipHugeObjects() const override { return Switches() && Switches()->SkipHugeObjects(); }
  bool HandleFacers() const override { return Switches() && Switches()->HandleFacers(); }
  bool NonCentered() const override { return Switches() && Switches()->NonCentered(); }
  bool OverSized() const override { return Switches() && Switches()->OverSized(); }
  bool StopRequested() const override { return false; }
  void ClearStopRequest() override {}
  std::string ProgramDirectory() const override { return request_.program_dir; }
  std::string WorkDirectory() const override { return request_.work_dir; }
  int ConverterTimeLimitSeconds() const override { return request_.converter_time_limit; }
  std::uint64_t MaxEntryBytes() const override { return request_.max_entry_bytes; }
  void SetStatusText(int, const std::string&) override {}
  void ProcessMessages() override {}

 private:
  const rwx::SwitchSource* Switches() const { return request_.switches; }
  const GeometryRequest& request_;
  platform::TextFile& log_;
};

// What the extraction writes to standard error, dropped: a preview has no terminal.
struct DroppedNotes {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  ~DroppedNotes() {
    if (file != nullptr) std::fclose(file);
    std::free(data);
  }
};

// A template of one line, so the box goes through the model-end adjustments as for a registry
// line.
const std::shared_ptr<const std::string> kOneLineTemplate =
    std::make_shared<const std::string>("<ffile>\n");

}  // namespace

ModelGeometry ReadModelGeometry(const GeometryRequest& request) {
  ModelGeometry out;
  std::string registry_text;
  platform::TextFile log = platform::MemoryTextFile(out.log, /*crlf=*/false);
  platform::TextFile registry = platform::MemoryTextFile(registry_text, /*crlf=*/false);
  DroppedNotes notes;
  rwx::GeometryCapture capture;
  capture.cancel = request.cancel;
  RunState run;
  run.template_text = kOneLineTemplate;
  run.registry = &registry;
  run.password = request.password;
  run.work_dir = request.work_dir;
  run.notes = notes.file != nullptr ? notes.file : stderr;
  run.cancel = request.cancel;
  run.geometry = &capture;
  GeometryHost host(request, log);
  const ProcessedModel processed =
      ProcessModel(host, request.model_path, request.found_name, run);
  out.fate = processed.fate;
  out.reason = processed.reason;
  out.facts = processed.facts;
  out.mesh = std::move(capture.mesh);
  if (capture.model_ended) {
    const rwx::Box& box = capture.box;
    out.box = render::Bounds{{box.min[0], box.min[1], box.min[2]},
                             {box.max[0], box.max[1], box.max[2]}};
  }
  out.cut = capture.cut;
  out.cancelled = capture.cancelled || (request.cancel != nullptr && request.cancel->load());
  return out;
}

}  // namespace driver
