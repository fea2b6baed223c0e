// The prototype table: geometry stored by "protobegin" ... "protoend" for later instancing. Made
// once and reused for every model file; only the entries a file used are cleared after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/rwx/matrix.h"

namespace rwx {

inline constexpr int kMaxPrototypes = 5120;  // closing definition number 5,120 ends the run
// Points stored in all definitions of one file (128 MB). A few bytes of script can store
// thousands of points ("cone 1 1 10000"), so memory is bounded here rather than by the file size.
inline constexpr std::size_t kMaxStoredPoints = std::size_t{1} << 23;

struct PrototypeDefinition {
  std::string name;            // empty: can no longer be found
  std::vector<Point4> points;  // in the order stored; an instance takes the most recent first
  std::int64_t polygon_count = 0;
};

struct PrototypeTable {
  std::vector<PrototypeDefinition> definitions;  // kMaxPrototypes entries, made once
  int count = 0;  // index of the next free definition (the open one in definition mode)
  int used = 0;   // entries [0, used) may hold data of the current file
  std::size_t stored_points = 0;  // points held by all definitions
};

// Makes the table's kMaxPrototypes entries (done once per workspace).
void InitPrototypeTable(PrototypeTable& table);

// Empties the entries the file used and frees their point lists; count and used become 0.
void ClearPrototypeTable(PrototypeTable& table);

// Opens the definition at index `count` under `name`, with no points and no polygons.
PrototypeDefinition& OpenDefinition(PrototypeTable& table, std::string_view name);

// Empties the definition at index `count` (a "protoend" that closes nothing that was opened).
void EmptyOpenDefinition(PrototypeTable& table);

// Stores `point` in the open definition; false (nothing stored) when kMaxStoredPoints are held.
bool StorePoint(PrototypeTable& table, const Point4& point);

// The first of the definitions 0..count-1 (excluding `skip`) whose name equals `name`, or -1.
// An empty name finds nothing.
int FindPrototype(const PrototypeTable& table, std::string_view name, int skip = -1);

}  // namespace rwx
