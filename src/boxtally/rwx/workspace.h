// The state one measurement works on: the matrix stack, the prototype table and the model record,
// with the reading buffers. Made once per run and reused for every model file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/rwx/matrix.h"
#include "boxtally/rwx/measure.h"
#include "boxtally/rwx/model_record.h"
#include "boxtally/rwx/prototype_table.h"
#include "boxtally/rwx/script_reader.h"

namespace rwx {

inline constexpr int kMaxSides =
    10000;  // side counts of cylinder, cone and disc are clamped to 0..it
inline constexpr std::size_t kMaxWarnedTemplateLines = 64;  // template lines remembered as warned
// Points one model file may put through a matrix (vertices, primitive corners, instanced
// prototype points). Real models stay far below; a few kilobytes of instanced prototypes could
// otherwise keep a run busy for minutes.
inline constexpr std::uint64_t kMaxTransformedPoints = std::uint64_t{1} << 28;

// A warning a run gives only once (a template line with an unusable tag format), as a worker
// wrote it into its model's log text: the thread that commits the models keeps it the first time
// in the run and drops it after, so the log reads the same for any number of workers.
struct OnceNotice {
  std::size_t offset = 0;  // where the line starts in the model's log text
  std::size_t length = 0;  // its bytes, line end included
  std::string key;         // what makes two notices the same (the template line)
};

struct Workspace {
  MatrixStack stack;
  PrototypeTable prototypes;
  ModelRecord record;
  bool definition_mode = false;                    // between "protobegin" and "protoend"
  int clump_depth = 0;                             // open "clumpbegin" blocks
  bool line_failed = false;                        // the line being handled could not be completed
  std::uint64_t transformed_points = 0;            // points put through a matrix in this file
  bool points_exhausted = false;                   // kMaxTransformedPoints passed: the file stops
  ScriptLine line;                                 // the script line being handled
  std::string template_line;                       // the template line being expanded
  std::string registry_lines;                      // the model's registry lines, written at once
  std::vector<std::string> warned_template_lines;  // each bad template line is warned about once
  // A worker's workspace: every once-per-run warning is written into the log (which must be a
  // memory text) and noted here, for the committing thread to keep or drop.
  bool defer_once_notices = false;
  std::vector<OnceNotice> once_notices;
  MeasureTally tally;  // of the file being measured
  GeometryCapture* capture = nullptr;  // the geometry's sink while a file is read, if any
};

// Remembers `line` as warned about; false when it was already (a run remembers at most
// kMaxWarnedTemplateLines lines: later ones are warned about every time).
bool RememberWarnedLine(std::vector<std::string>& warned, std::string_view line);

// Everything a measurement starts from: level 0 with the identity, an empty prototype table, an
// empty model record (colour sums and facer flag included), definition mode off, clump depth 0,
// no points transformed, an empty tally.
void ResetWorkspace(Workspace& workspace);

// The point (x, y, z, 1) through the current matrix: into the open prototype definition in
// definition mode, otherwise into the box and the vertex count. When the prototype table holds
// kMaxStoredPoints the point is not stored and `line_failed` is set. Past kMaxTransformedPoints
// nothing happens but `points_exhausted`.
void AddPoint(Workspace& workspace, float x, float y, float z);
// n polygons: to the open definition in definition mode, otherwise to the model.
void AddPolygons(Workspace& workspace, std::int64_t n);
// The 8 corners x in {+w/2, -w/2}, y in {+h/2, -h/2} (or {h, 0} when `based`), z in {+d/2, -d/2},
// x varying slowest and z fastest.
void AddBoxCorners(Workspace& workspace, float w, float h, float d, bool based);

// Geometry commands, each with its arguments as read from the line.
void AddBlock(Workspace& workspace, float w, float h, float d);
void AddSphere(Workspace& workspace, float radius, int density);
void AddHemisphere(Workspace& workspace, float radius, int density);
void AddCylinder(Workspace& workspace, float height, float bottom_radius, float top_radius,
                 int sides);
void AddCone(Workspace& workspace, float height, float radius, int sides);
void AddDisc(Workspace& workspace, float y, float radius, int sides);

}  // namespace rwx
