#include "boxtally/rwx/prototype_table.h"

#include <algorithm>

namespace rwx {

namespace {
// Point lists up to this size keep their storage between files; larger ones are given back.
constexpr std::size_t kKeptPointCapacity = 4096;

void EmptyDefinition(PrototypeTable& table, PrototypeDefinition& definition) {
  table.stored_points -= definition.points.size();
  definition.name.clear();
  definition.points.clear();
  if (definition.points.capacity() > kKeptPointCapacity) definition.points.shrink_to_fit();
  definition.polygon_count = 0;
}
}  // namespace

void InitPrototypeTable(PrototypeTable& table) {
  table.definitions.assign(kMaxPrototypes, PrototypeDefinition{});
  table.count = 0;
  table.used = 0;
}

void ClearPrototypeTable(PrototypeTable& table) {
  for (int i = 0; i < table.used; ++i) {
    EmptyDefinition(table, table.definitions[static_cast<std::size_t>(i)]);
  }
  table.count = 0;
  table.used = 0;
}

PrototypeDefinition& OpenDefinition(PrototypeTable& table, std::string_view name) {
  PrototypeDefinition& definition = table.definitions[static_cast<std::size_t>(table.count)];
  EmptyDefinition(table, definition);
  definition.name.assign(name);
  table.used = std::max(table.used, table.count + 1);
  return definition;
}

void EmptyOpenDefinition(PrototypeTable& table) {
  EmptyDefinition(table, table.definitions[static_cast<std::size_t>(table.count)]);
  table.used = std::max(table.used, table.count + 1);
}

bool StorePoint(PrototypeTable& table, const Point4& point) {
  if (table.stored_points >= kMaxStoredPoints) return false;
  table.definitions[static_cast<std::size_t>(table.count)].points.push_back(point);
  ++table.stored_points;
  return true;
}

int FindPrototype(const PrototypeTable& table, std::string_view name, int skip) {
  if (name.empty()) return -1;
  for (int i = 0; i < table.count; ++i) {
    if (i != skip && table.definitions[static_cast<std::size_t>(i)].name == name) return i;
  }
  return -1;
}

}  // namespace rwx
