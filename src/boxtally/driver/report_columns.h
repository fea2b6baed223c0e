// The report's columns: one table, read by the CSV writer and the workbook writer alike, each
// column with its stable English key and the way a model gives its cell. The words a report is
// written in (titles, fates, reasons, flags) come apart from the table: English keys for scripts
// (the terminal's report), or the results window's French.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "boxtally/driver/model_results.h"

namespace driver {

inline constexpr std::size_t kReportColumnCount = 18;

enum class CellKind : std::uint8_t { kText, kNumber };

// The words of a report. `fate`, `reason` and `flags` give a model's as UTF-8 text.
struct ReportWording {
  std::array<std::string, kReportColumnCount> titles;  // the header, one per column
  std::string sheet;                                   // the workbook's sheet name
  std::string (*fate)(const ModelOutcome& m) = nullptr;
  std::string (*reason)(const ModelOutcome& m) = nullptr;
  std::string (*flags)(const ModelOutcome& m) = nullptr;
};

struct ReportColumn {
  const char* key;  // the English title: scripts read it, so it never changes
  CellKind kind;
  // The model's cell. Numbers in the C locale (a point), as ReportNumber writes them; empty when
  // the model has none (the box, sizes, counts and flags of a model that was not measured).
  std::string (*cell)(const ModelOutcome& m, const ReportWording& words);
};

// name, fate, reason, source, left, bottom, back, right, top, front, size_x, size_y, size_z,
// vertices, polygons, textures, flags, missing_textures. New columns go at the end: scripts may
// count them.
extern const std::array<ReportColumn, kReportColumnCount> kReportColumns;

// The keys as titles, FateWord, ReasonText and FlagWords; the sheet "results".
const ReportWording& EnglishWording();

// The flags as words separated by blanks, in this order: "not_centred oversized facer".
std::string FlagWords(std::uint8_t flags);

// The shortest decimal text that reads back as the same float, locale-free ("-0.5", "1e+30").
std::string ReportNumber(float value);

// `text` as valid UTF-8 on one line: control characters become '_' and bytes that are not UTF-8
// become U+FFFD.
std::string CleanText(std::string_view text);

// The UTF-16 code units of valid UTF-8 `text`: the length a spreadsheet cell counts.
std::size_t Utf16Length(std::string_view text);

}  // namespace driver
