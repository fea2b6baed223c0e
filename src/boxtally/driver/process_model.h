// The per-model pipeline: turns one found file into an RWX text stream (directly, through the
// first entry of a zip archive, or through the converter for COB models), measures it, and
// removes the work files again.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/render/texture.h"
#include "boxtally/rwx/measure.h"
#include "platform/text_file.h"

namespace driver {

// A plain script is read in blocks of this many bytes (a smaller file whole), so the memory a
// model takes stays the same for any file size. Bigger blocks measured no faster.
inline constexpr std::size_t kScriptBufferBytes = std::size_t{1} << 18;

// What carries over from one model to the next during a run.
struct RunState {
  std::string format_path;
  // The template's bytes, read once when the run starts: a template changed or removed during
  // the run changes nothing.
  std::shared_ptr<const std::string> template_text;
  // "bmpcolor.txt" as read when the run starts, when the template asks for it: a table changed
  // during the run changes nothing.
  std::shared_ptr<const std::optional<std::string>> colour_table;
  platform::TextFile* registry = nullptr;
  bool integer_mode = false;
  bool debug_trace = false;
  std::string password;
  std::string work_dir;  // the private folder of the work files, ending with '/'
  rwx::WorkspacePtr workspace = rwx::CreateWorkspace();
  std::FILE* notes = stderr;                  // the extraction's two notes that never reach the log
  const std::atomic<bool>* cancel = nullptr;  // set: a converter still running is ended
  int thumbnail_size = 0;                     // above 0: each measured model's picture is drawn
  rwx::GeometryCapture* geometry = nullptr;   // takes the model's geometry as it is measured
  // Where pictures find the textures and masks models name; none: surfaces in their colours.
  std::shared_ptr<render::TextureSource> textures;
};

enum class ModelResult { kDone, kAbort };  // kAbort: the measurement hit a stack limit

// What became of one model, for the run's results.
struct ProcessedModel {
  ModelResult result = ModelResult::kDone;
  Fate fate = Fate::kNotModelFile;
  Reason reason = Reason::kNone;
  std::string facts;          // the reason's particulars
  std::string model_name;     // the registry name, "cob" once converted
  // Measured: the last model whose lines were written; skipped as huge: the last huge model.
  rwx::ModelSummary summary;
  Thumbnail thumbnail;        // with RunState::thumbnail_size, the picture of a measured model
  // With RunState::textures: the textures and masks a measured model names that they lack.
  std::vector<std::string> missing_textures;
};

// The registry name of a found file: lower-cased, its last three characters replaced by `suffix`
// ("rwx", or "cob" after a conversion); names of three characters or fewer only lower-cased.
std::string ModelName(const std::string& found_name, const char* suffix);

// The last three characters of `name`, lower-cased (the whole name when it is shorter).
std::string TypeSuffix(const std::string& name);

ProcessedModel ProcessModel(RunHost& host, const std::string& model_path,
                            const std::string& found_name, RunState& run);

}  // namespace driver
