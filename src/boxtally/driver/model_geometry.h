// One model's geometry for a preview, read the way a run reads the model (a plain RWX script, the
// first entry of a zip archive, or a COB model converted by rwxsmith), with the box its registry
// line takes. It talks to no window and keeps nothing between calls, so it may run on any
// thread, several at once when each has its own work folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "boxtally/driver/model_results.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/render/mesh.h"
#include "boxtally/rwx/measure.h"

namespace driver {

struct GeometryRequest {
  std::string model_path;   // the file as the run found it
  std::string found_name;   // its name as found: it decides the branch and the registry name
  std::string password;     // of encrypted zip archives
  std::string work_dir;     // a private folder of this reading alone, ending with '/'
  std::string program_dir;  // where rwxsmith is, ending with '/'
  const std::atomic<bool>* cancel = nullptr;  // set: the reading ends soon, a converter at once
  // The run's switches (facers, centring, huge models), so the box is the registry's; none: all
  // off, the box as the model's points give it.
  const rwx::SwitchSource* switches = nullptr;
  int converter_time_limit = kDefaultConverterTimeLimit;  // seconds; 0: none
  std::uint64_t max_entry_bytes = kDefaultMaxEntryBytes;
};

struct ModelGeometry {
  Fate fate = Fate::kNotModelFile;  // as the run's results give it
  Reason reason = Reason::kNone;    // why, when the model failed (ReasonText words it)
  std::string facts;                // the reason's particulars
  std::string log;                  // the lines the run's log would get for the model
  render::Mesh mesh;                  // the last model of the file, in model units
  std::optional<render::Bounds> box;  // that model's box as its registry line took it
  bool cut = false;        // past rwx::kMaxCapturedVertices or ...Triangles: the rest left out
  bool cancelled = false;  // `cancel` was set: the result is partial and not to be shown
};

ModelGeometry ReadModelGeometry(const GeometryRequest& request);

}  // namespace driver
