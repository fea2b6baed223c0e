#include "boxtally/driver/model_geometry.h"

#include <cstdio>
#include <cstdlib>

#include "boxtally/rwx/geometry_capture.h"
#include "platform/paths.h"
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

// A template of one line, so the box goes through the model-end adjustments as once for a
// registry line.
bool WriteGeometryFormat(const std::string& path) {
  platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
  if (!f) return false;
  platform::WriteText(*f, "<ffile>\n");
  return platform::FlushTextFile(*f);
}

std::string WithoutLastLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

ModelGeometry ReadModelGeometry(const GeometryRequest& request) {
  ModelGeometry out;
  std::string log_text;
  std::string registry_text;
  platform::TextFile log = platform::MemoryTextFile(log_text, /*crlf=*/false);
  platform::TextFile registry = platform::MemoryTextFile(registry_text, /*crlf=*/false);
  RunState run;
  run.format_path = request.work_dir + kGeometryFormatFile;
  if (request.work_dir.empty() || !WriteGeometryFormat(run.format_path)) {
    out.fate = ModelFate::kFailed;
    out.failure = "Unable to write " + run.format_path;
    return out;
  }
  DroppedNotes notes;
  rwx::GeometryCapture capture;
  capture.cancel = request.cancel;
  run.registry = &registry;
  run.password = request.password;
  run.work_dir = request.work_dir;
  run.notes = notes.file != nullptr ? notes.file : stderr;
  run.cancel = request.cancel;
  run.geometry = &capture;
  GeometryHost host(request, log);
  out.fate = ProcessModel(host, request.model_path, request.found_name, run).fate;
  platform::RemoveFile(run.format_path);
  out.mesh = std::move(capture.mesh);
  if (capture.model_ended) {
    const rwx::Box& box = capture.box;
    out.box = render::Bounds{{box.min[0], box.min[1], box.min[2]},
                             {box.max[0], box.max[1], box.max[2]}};
  }
  out.cut = capture.cut;
  out.cancelled = capture.cancelled || (request.cancel != nullptr && request.cancel->load());
  if (out.fate == ModelFate::kFailed) out.failure = WithoutLastLineEnd(log_text);
  return out;
}

}  // namespace driver
