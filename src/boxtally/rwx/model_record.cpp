#include "boxtally/rwx/model_record.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "boxtally/rwx/script_reader.h"

namespace rwx {

namespace {

constexpr double kTruncLimit = 9007199254740992.0;  // 2^53: beyond it nothing is exact anyway

// Appends `name` to a comma-separated list unless its first kNameCompareLength characters occur
// anywhere in the list already. Returns false when it was found in the list (or is empty).
bool AddToList(std::string& list, std::string_view name, bool& found) {
  found = name.empty() || list.find(name.substr(0, kNameCompareLength)) != std::string::npos;
  if (found) return false;
  const std::size_t needed = name.size() + (list.empty() ? 0 : 1);
  if (list.size() + needed > kMaxNameList) return false;  // does not fit: dropped whole
  if (!list.empty()) list.push_back(',');
  list.append(name);
  return true;
}

std::int64_t ColourPart(float component) {
  const long double scaled = 255.0L * static_cast<long double>(component);
  // One line adds at most what an int holds, so no run of lines can overflow the sum.
  constexpr long double kLimit = 2147483647.0L;
  if (!(scaled == scaled)) return 0;
  return static_cast<std::int64_t>(std::clamp(scaled, -kLimit, kLimit));
}

// FinishBox step 5: a facer turns about the vertical axis, so its footprint becomes square.
void WidenFacer(Box& box) {
  const float lo = std::min(box.min[0], box.min[2]);
  const float hi = std::max(box.max[0], box.max[2]);
  box.min[0] = box.min[2] = lo;
  box.max[0] = box.max[2] = hi;
}

// FinishBox step 6 with NonCentered on: each of x and z not centred is made symmetric about 0.
void CentreBox(ModelRecord& record, const InsetBox& inset, bool oversized_switch) {
  record.not_centred = false;
  for (int axis : {0, 2}) {
    const std::int64_t lo = std::llabs(inset.lo[static_cast<std::size_t>(axis)]);
    const std::int64_t hi = std::llabs(inset.hi[static_cast<std::size_t>(axis)]);
    if (lo == hi) continue;
    record.not_centred = true;
    float& min = record.box.min[static_cast<std::size_t>(axis)];
    float& max = record.box.max[static_cast<std::size_t>(axis)];
    if (lo < hi) {
      min = -std::fabs(max);
      max = std::fabs(max);
    } else {
      max = std::fabs(min);
      min = -std::fabs(min);
    }
  }
  if (oversized_switch) {
    const Box& b = record.box;
    const double x = (static_cast<double>(b.max[0]) - b.min[0]) * 1000.0;
    const double z = (static_cast<double>(b.max[2]) - b.min[2]) * 1000.0;
    record.oversized = x > kOversizeLimit || z > kOversizeLimit;
  }
}

}  // namespace

void ResetBox(Box& box) { box = Box{}; }

void ResetModelContents(ModelRecord& record) {
  ResetBox(record.box);
  record.vertex_count = 0;
  record.polygon_count = 0;
  record.texture_list.clear();
  record.mask_list.clear();
  record.image_names.clear();
}

void ResetModelRecord(ModelRecord& record) {
  std::string texture_list = std::move(record.texture_list);  // keep the storage
  std::string mask_list = std::move(record.mask_list);
  record = ModelRecord{};
  record.texture_list = std::move(texture_list);
  record.mask_list = std::move(mask_list);
  record.texture_list.clear();
  record.mask_list.clear();
}

std::int64_t TruncToInt(double value) {
  if (!(value == value)) return 0;
  return static_cast<std::int64_t>(std::clamp(value, -kTruncLimit, kTruncLimit));
}

void WidenInset(std::int64_t& lo, std::int64_t& hi) {
  if (lo > hi) std::swap(lo, hi);
  if (hi - lo < 10) {
    const std::int64_t d = 5 - (hi - lo) / 2;
    hi += d;
    lo -= d;
  }
}

InsetBox ComputeInsetBox(const Box& box) {
  InsetBox inset;
  for (std::size_t i = 0; i < 3; ++i) {
    inset.lo[i] = TruncToInt(static_cast<double>(box.min[i]) * 1000.0 + 5.0);
    inset.hi[i] = TruncToInt(static_cast<double>(box.max[i]) * 1000.0 - 5.0);
    WidenInset(inset.lo[i], inset.hi[i]);
  }
  return inset;
}

namespace {
// Each name once, compared whole: the lists' quick test would take "wood" for a part of
// "woodfloor" and never look for it.
void NoteImage(std::vector<std::string>& names, std::string_view name) {
  if (name.empty() || names.size() >= kMaxImageNames) return;
  if (!names.empty() && names.back() == name) return;
  if (std::find(names.begin(), names.end(), name) != names.end()) return;
  names.emplace_back(name);
}
}  // namespace

bool StartsWithNull(std::string_view name) {
  if (name.size() < 4) return false;
  const char* null = "null";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != null[i]) return false;
  }
  return true;
}

TextureNames ReadTextureNames(std::string_view arguments) {
  TextureNames names;
  names.texture = NameArgument(arguments);
  std::string_view rest = arguments.substr(names.texture.size());
  if (rest.find("mask") != std::string_view::npos) {
    for (int i = 0; i < 2; ++i) rest.remove_prefix(NextArgument(rest));
    names.mask = NameArgument(rest);
  }
  return names;
}

void AddTexture(ModelRecord& record, std::string_view arguments) {
  const TextureNames names = ReadTextureNames(arguments);
  if (StartsWithNull(names.texture)) return;
  if (record.collect_images) {
    NoteImage(record.image_names, names.texture);
    NoteImage(record.image_names, names.mask);
  }
  bool found = false;
  AddToList(record.texture_list, names.texture, found);
  if (found || names.mask.data() == nullptr) return;
  AddToList(record.mask_list, names.mask, found);
}

void MergeImageNames(std::vector<std::string>& into, const std::vector<std::string>& names) {
  for (const std::string& name : names) NoteImage(into, name);
}

void AddColour(ModelRecord& record, float red, float green, float blue) {
  record.colour_sums[0] += ColourPart(red);
  record.colour_sums[1] += ColourPart(green);
  record.colour_sums[2] += ColourPart(blue);
  ++record.colour_count;
}

void AverageColours(ModelRecord& record) {
  if (record.colour_count <= 0) return;
  for (std::int64_t& sum : record.colour_sums) sum /= record.colour_count;
}

void SetAxisAlignment(ModelRecord& record, std::string_view word, bool handle_facers) {
  record.facer = word.substr(0, 8) == "zorienty";
  record.facer_widening = record.facer && handle_facers;
}

bool FinishBox(ModelRecord& record, const SwitchSource* switches) {
  const bool skip_huge = switches != nullptr && switches->SkipHugeObjects();
  const bool handle_facers = switches != nullptr && switches->HandleFacers();
  const bool non_centered = switches != nullptr && switches->NonCentered();
  const bool oversized_switch = switches != nullptr && switches->OverSized();

  const InsetBox inset = ComputeInsetBox(record.box);
  record.huge = false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (inset.lo[i] > kHugeLimit || inset.lo[i] < -kHugeLimit || inset.hi[i] > kHugeLimit ||
        inset.hi[i] < -kHugeLimit) {
      record.huge = true;
    }
  }
  record.oversized = oversized_switch && (inset.hi[0] - inset.lo[0] > kOversizeLimit ||
                                          inset.hi[2] - inset.lo[2] > kOversizeLimit);
  if (!skip_huge) record.huge = false;
  if (record.huge) return true;

  if (handle_facers && record.facer_widening) WidenFacer(record.box);
  if (non_centered) {
    CentreBox(record, inset, oversized_switch);
  } else {
    record.not_centred = std::llabs(inset.lo[0]) != std::llabs(inset.hi[0]) ||
                         std::llabs(inset.lo[2]) != std::llabs(inset.hi[2]);
  }
  return false;
}

}  // namespace rwx
