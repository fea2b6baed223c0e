// The report of a run: one CSV row per model (RFC 4180: UTF-8, comma separated, each record
// ended by CR LF, a header line first), written by boxtally-cli --report and by the results
// window's export. Column names are stable: scripts read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"

namespace driver {

// name, fate, reason, source, left, bottom, back, right, top, front, size_x, size_y, size_z,
// vertices, polygons, textures, flags
inline constexpr const char* kCsvHeader =
    "name,fate,reason,source,left,bottom,back,right,top,front,size_x,size_y,size_z,vertices,"
    "polygons,textures,flags\r\n";

// The flags as words separated by blanks, in this order: "not_centred oversized facer".
std::string FlagWords(std::uint8_t flags);

// The shortest decimal text that reads back as the same float, locale-free ("-0.5", "1e+30").
std::string CsvNumber(float value);

// One field as RFC 4180 wants it: quoted (with its quotes doubled) when it holds a comma or a
// quote. Control characters become '_' and bytes that are not UTF-8
// become U+FFFD, so the report is one line per record and valid UTF-8.
std::string CsvField(const std::string& text);

// One row, CR LF included. Box, sizes, counts and flags are empty for models not measured.
void AppendCsvRow(const ModelOutcome& model, std::string& out);

// The header and every row into `fd` (a file, a pipe, standard output), in chunks. False, with
// errno set, when a write failed.
bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results);

}  // namespace driver
