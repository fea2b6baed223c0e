// The model record: the measurement of one model (bounding box, counts, texture and mask lists,
// colour sums, facer flag, model state) and the model-end adjustments of the box (FinishBox).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/rwx/matrix.h"
#include "boxtally/rwx/measure.h"

namespace rwx {

inline constexpr float kBoxStartMin = 100.0f;      // the box starts at minimum +100, maximum -100
inline constexpr std::size_t kMaxNameList = 2047;  // characters of the texture and mask lists
inline constexpr std::size_t kNameCompareLength = 64;  // characters of a name compared with a list
inline constexpr int kHugeLimit = 20000;               // inset box in thousandths beyond it: huge
inline constexpr int kOversizeLimit = 1415;  // footprint side in thousandths beyond it: oversized
inline constexpr int kSphereDensities = 22;  // densities 0..21; others are clamped into it
inline constexpr std::size_t kMaxImageNames = 512;  // distinct texture and mask names kept

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
  // With collect_images: every texture and mask name since "modelbegin", each once, in the
  // order of the script (at most kMaxImageNames), for the run's missing-textures check.
  bool collect_images = false;
  std::vector<std::string> image_names;
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

// Whether a texture or mask name starts with "null" in any letter case: it names no picture.
bool StartsWithNull(std::string_view name);

// The names of a "texture" line, from the text after the keyword: the texture, and the mask when
// the rest of the line says "mask" anywhere (then the second word after the texture; a null
// view when the line says no "mask").
struct TextureNames {
  std::string_view texture;
  std::string_view mask;
};
TextureNames ReadTextureNames(std::string_view arguments);

// The "texture" command on the text after the keyword: adds the texture name and, when the rest
// of the line says "mask", the mask name to their lists (names already present are not repeated;
// names that no longer fit a list are dropped whole), and with collect_images to image_names.
void AddTexture(ModelRecord& record, std::string_view arguments);
// Adds the names `into` lacks, in their order (at most kMaxImageNames in all).
void MergeImageNames(std::vector<std::string>& into, const std::vector<std::string>& names);

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
