// The registry lines of one model: the format template expanded with the model record's values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "boxtally/rwx/measure.h"
#include "boxtally/rwx/workspace.h"
#include "platform/text_file.h"

namespace rwx {

inline constexpr std::size_t kMaxTemplateLine = 1254;  // characters, line feed included
inline constexpr std::size_t kMaxColourLine = 255;     // characters of a "bmpcolor.txt" line
inline constexpr std::size_t kMaxTrimmedText = 63;     // characters WriteTrimmed formats into
inline constexpr const char* kColourTableName = "bmpcolor.txt";  // read from the working directory
inline constexpr std::size_t kMaxColourTableBytes = std::size_t{64} << 20;  // read once per run

enum class TagKind {
  kBox,   // a box value: minimum, maximum or size of one axis
  kFile,  // model name
  kFoundName,
  kVertices,
  kPolygons,
  kTextures,
  kMasks,
  kColour,
  kNoValue,  // "<fxcolor": writes nothing
  kTableColour,
  kNonCentred,
  kOversized,
  kFacer,
};

enum class BoxPart { kMin, kMax, kSize };

struct TagEntry {
  std::string_view text;  // from "<" up to where the own format starts
  TagKind kind;
  int axis = 0;  // kBox: 0 x, 1 y, 2 z
  BoxPart part = BoxPart::kMin;
  bool trimmed = false;  // the "~" entries: written by WriteTrimmed
};

// Searched in this order at every position; after a replaced tag only the later entries are tried.
inline constexpr TagEntry kTagTable[] = {
    {"<fleft~", TagKind::kBox, 0, BoxPart::kMin, true},
    {"<fright~", TagKind::kBox, 0, BoxPart::kMax, true},
    {"<fbottom~", TagKind::kBox, 1, BoxPart::kMin, true},
    {"<ftop~", TagKind::kBox, 1, BoxPart::kMax, true},
    {"<fback~", TagKind::kBox, 2, BoxPart::kMin, true},
    {"<ffront~", TagKind::kBox, 2, BoxPart::kMax, true},
    {"<fx~", TagKind::kBox, 0, BoxPart::kSize, true},
    {"<fy~", TagKind::kBox, 1, BoxPart::kSize, true},
    {"<fz~", TagKind::kBox, 2, BoxPart::kSize, true},
    {"<fleft", TagKind::kBox, 0, BoxPart::kMin},
    {"<fright", TagKind::kBox, 0, BoxPart::kMax},
    {"<fbottom", TagKind::kBox, 1, BoxPart::kMin},
    {"<ftop", TagKind::kBox, 1, BoxPart::kMax},
    {"<fback", TagKind::kBox, 2, BoxPart::kMin},
    {"<ffront", TagKind::kBox, 2, BoxPart::kMax},
    {"<fx", TagKind::kBox, 0, BoxPart::kSize},  // not where "<fxcolor" stands
    {"<fy", TagKind::kBox, 1, BoxPart::kSize},
    {"<fz", TagKind::kBox, 2, BoxPart::kSize},
    {"<ffile", TagKind::kFile},
    {"<ffname", TagKind::kFoundName},
    {"<fvert", TagKind::kVertices},
    {"<fpoly", TagKind::kPolygons},
    {"<ftext", TagKind::kTextures},
    {"<fmask", TagKind::kMasks},
    {"<fcolor", TagKind::kColour},
    {"<fxcolor", TagKind::kNoValue},
    {"<ftcolor", TagKind::kTableColour},
    {"<fnoncent", TagKind::kNonCentred},
    {"<foversized", TagKind::kOversized},
    {"<ffacer", TagKind::kFacer},
};

// Integer-mode box values of one axis: lo and hi in thousandths moved inward by 5 (at least 10
// apart), and the size trunc(max * 1000) - trunc(min * 1000).
struct IntegerSide {
  std::int64_t lo = 0;
  std::int64_t hi = 0;
  std::int64_t size = 0;
};
IntegerSide IntegerBoxSide(float min, float max);

// Writes `value` with `format` (a checked "%f"-style format, or "%0.4f") into at most 63
// characters and trims it: 3.0000 -> 3, 12.3400 -> 12.34, 0.5000 -> .5, -0.2500 -> -.25,
// 0.0000 -> 0.
void WriteTrimmed(platform::TextFile& out, const std::string& format, float value);
void AppendTrimmed(std::string& out, const std::string& format, float value);

// Expands one template line (tags replaced by the model's values) into `out`. Sets `bad_format`
// when a tag's own format could not be used (its default was written instead) or a tag lacked
// its ">" (it was copied as text).
void ExpandTemplateLine(std::string_view line, const ModelRecord& record, const MeasureInput& input,
                        std::string& out, bool& bad_format);

// Writes the model's registry lines: the template at input.format_path is opened afresh and each
// of its complete lines expanded, FinishBox running before each; a huge model (SkipHugeObjects)
// stops the output. A template line with an unusable tag is warned about once per workspace.
// Returns false when the template cannot be opened (nothing written).
bool WriteRegistryLines(Workspace& workspace, const MeasureInput& input);

// "bmpcolor.txt" from the working directory, for a run to read once: nullopt when it is not a
// regular file that can be read, or holds more than kMaxColourTableBytes.
std::optional<std::string> ReadColourTable();

}  // namespace rwx
