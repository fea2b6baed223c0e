// Measurement of one RWX script: reads it line by line, keeps the model record, and writes the
// registry lines of every model end into the registry stream.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/text_file.h"

namespace rwx {

// The window's live check boxes, read at the moment they are needed (they may change during a run).
class SwitchSource {
 public:
  virtual ~SwitchSource() = default;
  virtual bool SkipHugeObjects() const = 0;
  virtual bool HandleFacers() const = 0;
  virtual bool NonCentered() const = 0;
  virtual bool OverSized() const = 0;
};

struct GeometryCapture;  // geometry_capture.h

struct MeasureInput {
  std::string model_path;   // "(file:%s)" of warnings and errors
  std::string work_path;    // "Application error in %s line=%s\n"
  std::string model_name;   // <ffile>
  std::string found_name;   // <ffname>
  std::string format_path;  // the template file, read at every model end unless...
  const std::string* template_text = nullptr;  // ...its bytes are given here, read once per run
  // The colour table as read once per run (nullopt: it could not be read); none: it is read at
  // every model end that asks for it.
  const std::optional<std::string>* colour_table = nullptr;
  platform::TextFile* registry = nullptr;      // registry lines and the debug trace
  platform::TextFile* log = nullptr;           // warnings and errors
  bool integer_mode = false;                   // run option r
  bool debug_trace = false;                    // run option d
  const SwitchSource* switches = nullptr;
  GeometryCapture* geometry = nullptr;     // also take the geometry (none: measure only)
  bool collect_images = false;  // also note every texture and mask name (MeasureTally)
};

enum class MeasureResult { kDone, kAbort };  // kAbort: a stack or prototype limit ends the run

// A model as its registry lines showed it: the box in model units (left, bottom, back, right,
// top, front) after the model-end adjustments, its counts and its flags.
struct ModelSummary {
  std::array<float, 6> box{};
  std::int64_t vertices = 0;
  std::int64_t polygons = 0;
  int textures = 0;
  bool not_centred = false;
  bool oversized = false;
  bool facer = false;
};

// What the measurement of one file came to, for the run's results.
struct MeasureTally {
  int models_written = 0;     // model ends whose registry lines were written
  int models_huge = 0;        // model ends that wrote nothing: huge, with SkipHugeObjects on
  int models_empty = 0;       // of those, models without a single vertex
  int error_lines = 0;        // error lines: a line that failed, the point limit, a stack limit
  bool limit_error = false;   // the first error line was a limit's (stack, prototypes, points)
  std::string first_error;    // the first error line, without its line end
  ModelSummary last_written;  // the last model whose lines were written
  // With MeasureInput::collect_images: the texture and mask names of the models whose lines
  // were written, each once, in the order of the script.
  std::vector<std::string> image_names;
  // The last model left out as huge that has a vertex: its box as measured, before the model-end
  // adjustments its lines would have had (not centred is not known of it).
  ModelSummary last_huge;
};

struct Workspace;  // the matrix stack and the prototype table, made once and reused
struct WorkspaceDeleter {
  void operator()(Workspace* w) const;
};
using WorkspacePtr = std::unique_ptr<Workspace, WorkspaceDeleter>;
WorkspacePtr CreateWorkspace();

// Measures the script in `stream` (taken over and closed here). The colour sums, the facer flag
// and the facer widening switch are cleared at the start, as for every model of a run.
MeasureResult MeasureModelFile(std::unique_ptr<platform::InStream> stream,
                               const MeasureInput& input, Workspace& workspace);

// The tally of the last MeasureModelFile on `workspace`.
const MeasureTally& LastTally(const Workspace& workspace);

}  // namespace rwx
