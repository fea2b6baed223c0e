// The model record: the measurement of one model (bounding box, counts, texture and mask lists,
// colour sums, facer flag, model state) and the model-end adjustments of the box (FinishBox).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "boxtally/rwx/matrix.h"
#include "boxtally/rwx/measure.h"

namespace rwx {

inline constexpr float kBoxStartMin = 100.0f;      // the box starts at minimum +100, maximum -100
inline constexpr std::size_t kMaxNameList = 2047;  // characters of the texture and mask lists
inline constexpr std::size_t kNameCompareLength = 64;  // characters of a name compared with a list
inline constexpr int kHugeLimit = 20000;               // inset box in thousandths beyond it: huge
inline constexpr int kOversizeLimit = 1415;  // footprint side in thousandths beyond it: oversized
inline constexpr int kSphereDensities = 22;  // densities 0..21; others are clamped into it

struct Box {
  std::array<float, 3> min{kBoxStartMin, kBoxStartMin, kBoxStartMin};
  std::array<float, 3> max{-kBoxStartMin, -kBoxStartMin, -kBoxStartMin};
};

enum ModelState : int { kModelWritten = -1, kModelNone = 0, kModelOpen = 1 };

struct ModelRecord {
  Box box;
  std::int64_t vertex_count = 0;
  std::int64_t polygon_count = 0;
  std::string texture_list;  // names separated by ",", at most kMaxNameList characters
  std::string mask_list;
  std::array<std::int64_t, 3> colour_sums{};  // red, green, blue: 255 * each colour, summed
  std::int64_t colour_count = 0;
  bool facer = false;           // the last "axisalignment" said zorienty
  bool facer_widening = false;  // facer, and HandleFacers was on at that "axisalignment"
  int model_state = kModelNone;
  bool model_open = false;
  bool huge = false;
  bool oversized = false;
  bool not_centred = false;
};

// The box in thousandths, each side moved inward by 5 (FinishBox step 1).
struct InsetBox {
  std::array<std::int64_t, 3> lo{};
  std::array<std::int64_t, 3> hi{};
};

// Everything cleared, as at the start of a model file.
void ResetModelRecord(ModelRecord& record);
// What "modelbegin" clears: box, counts, texture and mask lists (not the colour sums).
void ResetModelContents(ModelRecord& record);

void ResetBox(Box& box);
// A coordinate moves the minimum only when below it and the maximum only when above it. Inline:
// every point of a script goes through it.
inline void ExtendBox(Box& box, const Point4& point) {
  const float c[3] = {point.x, point.y, point.z};
  for (std::size_t i = 0; i < 3; ++i) {
    if (box.min[i] > c[i]) box.min[i] = c[i];
    if (box.max[i] < c[i]) box.max[i] = c[i];
  }
}

// real -> integer, toward zero, saturating at +-2^53 (NaN gives 0) so no input can overflow.
std::int64_t TruncToInt(double value);
// Widens [lo, hi] (swapped when reversed) to at least 10 wide, keeping its middle.
void WidenInset(std::int64_t& lo, std::int64_t& hi);

InsetBox ComputeInsetBox(const Box& box);

// The "texture" command on the text after the keyword: adds the texture name and, when the rest
// of the line says "mask", the mask name to their lists (names already present are not repeated;
// names that no longer fit a list are dropped whole).
void AddTexture(ModelRecord& record, std::string_view arguments);

// The "color" command: 255 * each component, truncated, added to the sums.
void AddColour(ModelRecord& record, float red, float green, float blue);
// At a model end: each sum := sum / count (integer division) when count > 0.
void AverageColours(ModelRecord& record);

// The "axisalignment" command with its word.
void SetAxisAlignment(ModelRecord& record, std::string_view word, bool handle_facers);

// Model-end adjustments run before each template line: computes the huge, oversize and
// not-centred flags, squares the footprint of facers and centres the box when the switches say
// so. Returns true when the model is huge and SkipHugeObjects is on (no output for it).
bool FinishBox(ModelRecord& record, const SwitchSource* switches);

}  // namespace rwx
