// One batch run: checks the format file and the run options, searches the models, opens the
// registry and hands each model to the per-model pipeline.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/render/texture.h"

namespace driver {

// How a run ended. Every ending but kCompleted and kStopped gives the result 1.
enum class RunEnd {
  kCompleted,           // the search ran out, or a web run its list ("Done!")
  kStopped,             // a stop request ended the run after a model ("Done!")
  kMissingArguments,    // fewer than three run arguments
  kNoWorkFolder,        // the host has no private work folder
  kFormatUnreadable,    // "Unable to open format file %s"
  kFormatWithoutLines,  // "Format file %s gives no registry line: ..."
  kPatternTooLong,
  kRegistryTwice,        // "Output file already defined"
  kNoMatch,              // no file matches the pattern (no log line)
  kRegistryUnopenable,   // "Unable to create/append output file %s"
  kRegistryLocked,       // "Output file %s is in use by another run"
  kRegistryReadOnly,     // "Output file %s is read-only": the user made it so
  kMeasurementAbort,     // a stack or prototype limit of the measurement
  kRegistryWriteFailed,  // "Unable to write to output file %s"
  kListUnopenable,       // web mode: the list file cannot be opened (no log line)
  kNoWebModel,           // web mode: the list yields no model (its entries' own log lines)
  // Every model failed for one cause outside the models (the converter cannot be started, the
  // work folder is full): `about` names it.
  kNothingCouldBeMeasured,
};

// What a run did with its models, counted as each model is committed (so the same for any
// number of workers). Every model committed is in exactly one of the four kinds.
struct RunCounts {
  std::size_t found = 0;          // models the search found; 0 in web mode (not known ahead)
  std::size_t measured = 0;       // registry lines written, no error line
  std::size_t failed = 0;         // an error line of the file, archive, conversion or measurement
  std::size_t skipped_huge = 0;   // huge, left out with SkipHugeObjects on
  std::size_t without_model = 0;  // no line and no error: the file held no model
  std::size_t Done() const { return measured + failed + skipped_huge + without_model; }
};

struct RunOutcome {
  int result = 1;  // what BatchMain returns
  RunEnd end = RunEnd::kMissingArguments;
  // The file the ending concerns: format file, pattern, registry, list, or the model whose
  // measurement hit a limit.
  std::string about;
  std::string why;  // kRegistryUnopenable: the reason, as the log line gives it
  RunCounts counts;
  // One record per model the run met, in the order of the registry (see model_results.h).
  std::vector<ModelOutcome> results;
  double seconds = 0.0;  // from the start of the run to its end
  // The run began to write a new registry file and left the old one as it was (stopped, ended
  // early, or failed to write: only a completed run replaces it), or a stop ended it before.
  bool registry_unchanged = false;
  // Where the run found its models' textures, for pictures drawn after it (the preview); nullptr
  // when no textures folder was known.
  std::shared_ptr<render::TextureSource> textures;
};

// args: program name, model pattern, format file, run options and registry name (at least 3).
// Nothing is created or truncated before the arguments are checked and a first model is found.
// "Stopped" is one rule for every moment of the run, its first milliseconds and the moments after
// its last model included: a stop request seen before the registry is replaced ends the run as
// kStopped, and then no result file changes (registry, thumbnails, the web records; the front
// end's report follows `end`).
// In web mode (host.GetFromWeb()) the models come from the web fetch: the list file is the
// host's, and the run goes through the whole list (kCompleted) unless it is stopped.
RunOutcome RunBatch(RunHost& host, const std::vector<std::string>& args);

// RunBatch's result: 0 when the search or the list ran out or a stop request ended the run
// ("Done!" shown), 1 otherwise.
int BatchMain(RunHost& host, const std::vector<std::string>& args);

// The name registry messages give the standard output.
inline constexpr const char* kStandardOutputName = "standard output";

}  // namespace driver
