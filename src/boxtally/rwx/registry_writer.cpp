#include "boxtally/rwx/registry_writer.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "boxtally/rwx/own_format.h"
#include "boxtally/rwx/script_reader.h"

namespace rwx {

namespace {

const std::string kTrimmedDefault = "%0.4f";

[[gnu::format(printf, 2, 3)]] void AppendF(std::string& out, const char* format, ...) {
  char buffer[256];
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n > 0) out.append(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
}

// double -> float; a value beyond the float range becomes an infinity instead of undefined
// behaviour.
float ToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// What one tag needs besides the record: the run's names and mode, and where it writes.
struct TagContext {
  const ModelRecord& record;
  const MeasureInput& input;
  std::string& out;
  bool& bad_format;
};

// The own format when it is usable for `kind`; otherwise (after noting the bad format) nothing.
bool UsableOwnFormat(const std::string& own, ValueKind kind, TagContext& ctx) {
  if (own.empty()) return false;
  if (IsSafeConversion(own, kind)) return true;
  ctx.bad_format = true;
  return false;
}

// An integer with a default format: "%d", or "%4d" (`width` 4), right-aligned with blanks.
void AppendInt(TagContext& ctx, const std::string& own, std::size_t width, std::int64_t value) {
  if (UsableOwnFormat(own, ValueKind::kInt, ctx)) {
    ctx.out += FormatInt(own, ClampToInt(value));
    return;
  }
  char digits[16];
  const std::size_t n =
      static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, ClampToInt(value)).ptr - digits);
  if (n < width) ctx.out.append(width - n, ' ');
  ctx.out.append(digits, n);
}

void AppendText(TagContext& ctx, const std::string& own, const std::string& value) {
  if (UsableOwnFormat(own, ValueKind::kText, ctx)) {
    ctx.out += FormatText(own, value);
    return;
  }
  ctx.out += value;
}

void AppendBox(const TagEntry& entry, const std::string& own, TagContext& ctx) {
  const Box& box = ctx.record.box;
  const float min = box.min[static_cast<std::size_t>(entry.axis)];
  const float max = box.max[static_cast<std::size_t>(entry.axis)];
  if (ctx.input.integer_mode) {
    if (entry.trimmed) return;
    const IntegerSide side = IntegerBoxSide(min, max);
    const std::int64_t value = entry.part == BoxPart::kMin   ? side.lo
                               : entry.part == BoxPart::kMax ? side.hi
                                                             : side.size;
    AppendInt(ctx, own, 0, value);
    return;
  }
  const double value = entry.part == BoxPart::kMin   ? static_cast<double>(min) * 10.0
                       : entry.part == BoxPart::kMax ? static_cast<double>(max) * 10.0
                                                     : (static_cast<double>(max) - min) * 10.0;
  if (entry.trimmed) {
    const bool usable = UsableOwnFormat(own, ValueKind::kTrimmedReal, ctx);
    AppendTrimmed(ctx.out, usable ? own : kTrimmedDefault, ToFloat(value));
    return;
  }
  if (UsableOwnFormat(own, ValueKind::kReal, ctx)) {
    ctx.out += FormatReal(own, value);
    return;
  }
  AppendF(ctx.out, "%5.2f", value);
}

void AppendList(TagKind kind, const std::string& own, TagContext& ctx) {
  const std::string& list =
      kind == TagKind::kTextures ? ctx.record.texture_list : ctx.record.mask_list;
  if (!ctx.input.integer_mode) {
    if (UsableOwnFormat(own, ValueKind::kText, ctx)) {
      ctx.out += FormatText(own, list);
    } else if (!list.empty()) {
      ctx.out += list;
    } else if (kind == TagKind::kTextures) {
      ctx.out += "null";
    }
    return;
  }
  const bool usable = UsableOwnFormat(own, ValueKind::kText, ctx);
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = list.substr(start, comma - start);
    if (start > 0) ctx.out += ',';
    ctx.out += usable ? FormatText(own, name) : name;
    start = comma + 1;
  }
}

int LowByte(std::int64_t sum) { return static_cast<int>(sum & 0xff); }

void AppendHexColour(TagContext& ctx) {
  const auto& sums = ctx.record.colour_sums;
  AppendF(ctx.out, "0x%02x%02x%02x", LowByte(sums[0]), LowByte(sums[1]), LowByte(sums[2]));
}

void AppendColour(const std::string& own, TagContext& ctx) {
  if (!UsableOwnFormat(own, ValueKind::kTrimmedReal, ctx)) {
    AppendHexColour(ctx);
    return;
  }
  for (std::int64_t sum : ctx.record.colour_sums) {
    AppendTrimmed(ctx.out, own, static_cast<float>(sum) / 255.0f);
  }
}

// The colour table line for `key` (a blank right after the key), without its line end and the
// blanks before it; false when the table cannot be opened (`found` tells whether a line matched).
bool LookUpColourTable(std::string_view key, const MeasureInput& input, std::string& text,
                       bool& found) {
  found = false;
  std::unique_ptr<platform::InStream> in;
  if (input.colour_table == nullptr) {
    in = platform::OpenInStream(kColourTableName, true);
  } else if (input.colour_table->has_value()) {
    in = platform::ViewInStream(**input.colour_table, true);
  }
  if (!in) return false;
  std::string line;
  for (;;) {
    const bool complete = platform::ReadTextLine(*in, kMaxColourLine, line);
    if (line.size() > key.size() && line[key.size()] == ' ' &&
        line.compare(0, key.size(), key) == 0) {
      std::string_view kept = WithoutLineEnd(line);
      while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
      text.assign(kept.substr(std::min(key.size(), kept.size())));
      found = true;
      return true;
    }
    if (!complete) return true;
  }
}

void AppendTableColour(TagContext& ctx) {
  const std::string& list = ctx.record.texture_list;
  std::size_t key_length = 0;
  while (key_length < list.size() && static_cast<signed char>(list[key_length]) >= '0')
    ++key_length;
  const std::string_view key(list.data(), key_length);
  if (!list.empty() && key.empty()) return;
  const bool integer_mode = ctx.input.integer_mode;
  if (!integer_mode && list.empty()) return;
  std::string text;
  bool found = false;
  if (!LookUpColourTable(key, ctx.input, text, found)) return;
  if (!integer_mode) {
    if (found) ctx.out += text;
    return;
  }
  if (!list.empty() && found) {
    ctx.out += ctx.input.model_name + "  " + text;
    return;
  }
  const auto& sums = ctx.record.colour_sums;
  if (sums[0] == 0 && sums[1] == 0 && sums[2] == 0) return;
  ctx.out += ctx.input.model_name + "  ";
  AppendHexColour(ctx);
}

void AppendTagValue(const TagEntry& entry, const std::string& own, TagContext& ctx) {
  const ModelRecord& record = ctx.record;
  const bool integer_mode = ctx.input.integer_mode;
  switch (entry.kind) {
    case TagKind::kBox:
      return AppendBox(entry, own, ctx);
    case TagKind::kFile:
      return AppendText(ctx, own, ctx.input.model_name);
    case TagKind::kFoundName:
      if (integer_mode) AppendText(ctx, own, ctx.input.found_name);
      return;
    case TagKind::kVertices:
      return AppendInt(ctx, own, integer_mode ? 0 : 4, record.vertex_count);
    case TagKind::kPolygons:
      return AppendInt(ctx, own, integer_mode ? 0 : 4, record.polygon_count);
    case TagKind::kTextures:
    case TagKind::kMasks:
      return AppendList(entry.kind, own, ctx);
    case TagKind::kColour:
      return AppendColour(own, ctx);
    case TagKind::kNoValue:
      return;
    case TagKind::kTableColour:
      return AppendTableColour(ctx);
    case TagKind::kNonCentred: {
      const char* comment = integer_mode ? "# Not Centered!" : "Not Centered!";
      return AppendText(ctx, own, record.not_centred ? comment : "");
    }
    case TagKind::kOversized:
      return AppendText(ctx, own, record.oversized ? "OverSized!" : "");
    case TagKind::kFacer:
      if (integer_mode) AppendText(ctx, own, record.facer ? "# Facer" : "");
      return;
  }
}

// "<fx" must not take the start of "<fxcolor>", which is a tag of its own.
bool EntryMatches(const TagEntry& entry, std::string_view rest) {
  // Every entry starts with "<f": its third character tells most of them apart at once.
  if (rest.size() < entry.text.size() || rest[2] != entry.text[2]) return false;
  if (rest.substr(0, entry.text.size()) != entry.text) return false;
  return !(entry.text == "<fx" && rest.substr(3, 5) == "color");
}

void WarnOnce(Workspace& workspace, const MeasureInput& input, std::string_view line,
              int line_number) {
  std::string* log_text = workspace.defer_once_notices ? input.log->memory : nullptr;
  if (log_text == nullptr && !RememberWarnedLine(workspace.warned_template_lines, line)) return;
  const std::size_t offset = log_text != nullptr ? log_text->size() : 0;
  const std::string shown(WithoutLineEnd(line));
  platform::LogF(*input.log, "Warning: Unusable tag format in template line %d: %s\n", line_number,
                 shown.c_str());
  if (log_text != nullptr) {
    workspace.once_notices.push_back({offset, log_text->size() - offset, std::string(line)});
  }
}

}  // namespace

bool RememberWarnedLine(std::vector<std::string>& warned, std::string_view line) {
  if (std::find(warned.begin(), warned.end(), line) != warned.end()) return false;
  if (warned.size() < kMaxWarnedTemplateLines) warned.emplace_back(line);
  return true;
}

IntegerSide IntegerBoxSide(float min, float max) {
  std::int64_t a = std::llabs(TruncToInt(static_cast<double>(min) * 10000.0));
  if (a % 10 == 9) ++a;
  if (min < 0) a = -a;
  std::int64_t b = std::llabs(TruncToInt(static_cast<double>(max) * 10000.0));
  if (b % 10 == 9) ++b;
  if (max < 0) b = -b;
  IntegerSide side;
  side.lo = a / 10 + 5;
  side.hi = b / 10 - 5;
  WidenInset(side.lo, side.hi);
  side.size =
      TruncToInt(static_cast<double>(max) * 1000.0) - TruncToInt(static_cast<double>(min) * 1000.0);
  return side;
}

void AppendTrimmed(std::string& out, const std::string& format, float value) {
  char buffer[kMaxTrimmedText + 1];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"  // a checked "%f" format or the default
  const int n = std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<double>(value));
#pragma GCC diagnostic pop
  if (n < 0) return;
  const std::string_view text(buffer, std::min(static_cast<std::size_t>(n), kMaxTrimmedText));
  if (!std::isfinite(value)) {  // "inf" or "nan": nothing to trim
    out += text;
    return;
  }
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  float v = 0.0f;
  ParseReal(text.substr(i), v);
  if (v == 0.0f) {
    out += '0';
    while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.' ||
                               text[i] == '-' || text[i] == '+')) {
      ++i;
    }
    out += text.substr(i);
    return;
  }
  i = 0;
  if (text[0] == '-') {
    out += '-';
    i = 1;
  }
  if (v >= 1.0f || v <= -1.0f) {
    const std::size_t point = std::min(text.find('.', i), text.size());
    out += text.substr(i, point - i);
    i = point;
  } else {
    ++i;  // the "0" in front of the point
  }
  std::size_t end = text.size();
  while (end > i && text[end - 1] == '0') --end;
  if (end > i && text[end - 1] == '.') --end;
  if (end > i) out += text.substr(i, end - i);
}

void WriteTrimmed(platform::TextFile& out, const std::string& format, float value) {
  std::string text;
  AppendTrimmed(text, format, value);
  platform::WriteText(out, text);
}

void ExpandTemplateLine(std::string_view line, const ModelRecord& record, const MeasureInput& input,
                        std::string& out, bool& bad_format) {
  TagContext ctx{record, input, out, bad_format};
  std::string own;
  std::size_t p = 0;
  while (p < line.size()) {
    for (const TagEntry& entry : kTagTable) {
      if (p >= line.size() || line[p] != '<') break;  // every tag starts so: none can match here
      if (!EntryMatches(entry, line.substr(p))) continue;
      const std::size_t own_start = p + entry.text.size();
      const std::size_t close = line.find('>', own_start);
      if (close == std::string_view::npos) {  // no ">": not a tag, the text stays as it is
        bad_format = true;
        continue;
      }
      own.assign(line.substr(own_start, close - own_start));
      p = close + 1;
      AppendTagValue(entry, own, ctx);
    }
    if (p < line.size()) out += line[p];
    ++p;
  }
}

bool WriteRegistryLines(Workspace& workspace, const MeasureInput& input) {
  std::unique_ptr<platform::InStream> in =
      input.template_text != nullptr ? platform::ViewInStream(*input.template_text, true)
                                     : platform::OpenInStream(input.format_path, true);
  if (!in) return false;
  // The model's lines are written with one write once they are all complete, so a run killed in
  // the middle never leaves a torn line behind.
  std::string& lines = workspace.registry_lines;
  lines.clear();
  int line_number = 0;
  while (!in->AtEnd()) {
    if (FinishBox(workspace.record, input.switches)) break;
    if (!platform::ReadTextLine(*in, kMaxTemplateLine, workspace.template_line)) break;
    ++line_number;
    bool bad_format = false;
    ExpandTemplateLine(workspace.template_line, workspace.record, input, lines, bad_format);
    if (bad_format) WarnOnce(workspace, input, workspace.template_line, line_number);
  }
  platform::WriteWhole(*input.registry, lines);
  return true;
}

std::optional<std::string> ReadColourTable() {
  return platform::ReadRegularFile(kColourTableName, kMaxColourTableBytes);
}

}  // namespace rwx
