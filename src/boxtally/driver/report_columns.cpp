#include "boxtally/driver/report_columns.h"

#include <charconv>

namespace driver {

namespace {
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at `text[i]`, or 0 when it is not one (overlong forms,
// surrogates and code points past U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char b = byte(0);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < n) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

// Box, sizes, counts and flags are the measurement's: the other models have none.
bool HasMeasurement(const ModelOutcome& m) { return HasMeasures(m); }

std::string Name(const ModelOutcome& m, const ReportWording&) { return m.name; }
std::string FateCell(const ModelOutcome& m, const ReportWording& words) { return words.fate(m); }
std::string ReasonCell(const ModelOutcome& m, const ReportWording& words) {
  return words.reason(m);
}
std::string Source(const ModelOutcome& m, const ReportWording&) { return m.source; }

template <std::size_t kSide>
std::string BoxSide(const ModelOutcome& m, const ReportWording&) {
  return HasMeasurement(m) ? ReportNumber(m.box[kSide]) : std::string();
}

template <std::size_t kAxis>
std::string Size(const ModelOutcome& m, const ReportWording&) {
  return HasMeasurement(m) ? ReportNumber(BoxSize(m, kAxis)) : std::string();
}

template <std::int32_t ModelOutcome::*kCount>
std::string Count(const ModelOutcome& m, const ReportWording&) {
  return HasMeasurement(m) ? std::to_string(m.*kCount) : std::string();
}

std::string Flags(const ModelOutcome& m, const ReportWording& words) {
  return HasMeasurement(m) ? words.flags(m) : std::string();
}

std::string MissingTextures(const ModelOutcome& m, const ReportWording&) {
  std::string names;
  for (const std::string& name : m.missing_textures) {
    if (!names.empty()) names += ';';
    names += name;
  }
  return names;
}

std::string EnglishFate(const ModelOutcome& m) { return FateWord(m.fate); }
std::string EnglishReason(const ModelOutcome& m) { return ReasonText(m.reason, m.facts); }
std::string EnglishFlags(const ModelOutcome& m) { return FlagWords(m.flags); }
}  // namespace

const std::array<ReportColumn, kReportColumnCount> kReportColumns = {{
    {"name", CellKind::kText, Name},
    {"fate", CellKind::kText, FateCell},
    {"reason", CellKind::kText, ReasonCell},
    {"source", CellKind::kText, Source},
    {"left", CellKind::kNumber, BoxSide<0>},
    {"bottom", CellKind::kNumber, BoxSide<1>},
    {"back", CellKind::kNumber, BoxSide<2>},
    {"right", CellKind::kNumber, BoxSide<3>},
    {"top", CellKind::kNumber, BoxSide<4>},
    {"front", CellKind::kNumber, BoxSide<5>},
    {"size_x", CellKind::kNumber, Size<0>},
    {"size_y", CellKind::kNumber, Size<1>},
    {"size_z", CellKind::kNumber, Size<2>},
    {"vertices", CellKind::kNumber, Count<&ModelOutcome::vertices>},
    {"polygons", CellKind::kNumber, Count<&ModelOutcome::polygons>},
    {"textures", CellKind::kNumber, Count<&ModelOutcome::textures>},
    {"flags", CellKind::kText, Flags},
    {"missing_textures", CellKind::kText, MissingTextures},
}};

const ReportWording& EnglishWording() {
  static const ReportWording english = [] {
    ReportWording words;
    for (std::size_t i = 0; i < kReportColumnCount; ++i) words.titles[i] = kReportColumns[i].key;
    words.sheet = "results";
    words.fate = EnglishFate;
    words.reason = EnglishReason;
    words.flags = EnglishFlags;
    return words;
  }();
  return english;
}

std::string FlagWords(std::uint8_t flags) {
  std::string words;
  const auto add = [&words](const char* word) {
    if (!words.empty()) words += ' ';
    words += word;
  };
  if (flags & kFlagNotCentred) add("not_centred");
  if (flags & kFlagOversized) add("oversized");
  if (flags & kFlagFacer) add("facer");
  return words;
}

std::string ReportNumber(float value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc{}) return {};
  return std::string(text, end);
}

std::string CleanText(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      clean += kReplacement;
      ++i;
      continue;
    }
    const char c = text[i];
    const bool control = n == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
    if (control) {
      clean += '_';
    } else {
      clean.append(text, i, n);
    }
    i += n;
  }
  return clean;
}

std::size_t Utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) ++units;  // each sequence's first byte
    if (b >= 0xF0) ++units;           // past U+FFFF: a surrogate pair
  }
  return units;
}

}  // namespace driver
