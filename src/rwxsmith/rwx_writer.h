// The RWX writer of the Rwx output mode: header and model frame, one prototype block per
// prototype of the scene model (written as each is finished), then the clump section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "rwxsmith/scene_model.h"

namespace cob {

inline constexpr int kVersionMajor = 3;
inline constexpr int kVersionMinor = 3;
inline constexpr int kVersionBuild = 352;
inline constexpr std::time_t kVrtOffsetSeconds = 7200;    // the timestamp runs this far behind
inline constexpr std::size_t kOutputBlockSize = 1 << 16;  // bytes gathered before each fwrite

// Where RWX text goes. Every "\n" becomes "\r\n" (the files are text files in the Windows sense
// on every platform). With a file, text is written in blocks; without one it stays in `text`.
struct RwxOutput {
  std::FILE* file = nullptr;  // not owned
  std::string text;
  bool failed = false;  // a write to `file` fell short
};

void Emit(RwxOutput& out, std::string_view text);
void FlushOutput(RwxOutput& out);  // writes what `text` holds to `file`, if any

// State that lives for the whole program run: the counter that makes prototype names unique and
// the settings that decide prototype splits. Neither is reset between conversions.
struct ConverterState {
  int prototype_counter = 0;
  SplitSettings split;
};

// The number format: values within +-0.000001 print as 0; others with six decimals, trailing
// zeros removed down to the point ("1.", "0.5", "-0.25", "0.333333").
std::string FormatNumber(float value);

// `now` as the converter's timestamp: weekday, month, day, time and year in UTC, 24 characters
// ("Tue Dec  8 00:40:20 2026"), no line end. The caller subtracts kVrtOffsetSeconds.
std::string FormatTimestamp(std::time_t now);

// Records `proto` on `node`, gives it its unique name and writes its block; then drops its
// geometry, which nothing needs any more.
void WritePrototype(RwxOutput& out, ClumpNode& node, const std::shared_ptr<Prototype>& proto,
                    ConverterState& state);

// The clump walk from the root clump node (indentation 2, parent collision on).
void WriteClumpSection(RwxOutput& out, const ClumpNode& root);

// What WriteModelFile could read of the scene.
enum class ModelFileResult {
  kComplete,        // the whole scene
  kHeaderRejected,  // nothing: the text holds only the model's frame
  kDamaged,         // a chunk could not be read whole: the model holds what came before it
};

// The whole model file for the COB file held in `data` (read from `input_path`, which the
// header repeats as given). `now` is the moment of conversion; the header shows it minus
// kVrtOffsetSeconds. Reader messages go to standard output. A rejected file still gets its frame
// (callers that must not write it check AcceptHeader first).
ModelFileResult WriteModelFile(RwxOutput& out, const std::string& input_path,
                               const std::uint8_t* data, std::size_t size, std::time_t now,
                               ConverterState& state);

}  // namespace cob
