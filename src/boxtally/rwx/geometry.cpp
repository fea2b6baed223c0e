#include <algorithm>
#include <cmath>

#include "boxtally/rwx/workspace.h"

namespace rwx {

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

int ClampDensity(int density) { return std::clamp(density, 0, kSphereDensities - 1); }

// Polygons of a sphere by density: 6 for density 0, 8 n^2 above.
std::int64_t SpherePolygons(int density) {
  return density == 0 ? 6 : 8 * static_cast<std::int64_t>(density) * density;
}

// Vertices of a hemisphere by density: 2 n^2 + 2 n + 1.
std::int64_t HemisphereVertices(int density) {
  return 2 * static_cast<std::int64_t>(density) * density + 2 * density + 1;
}

// Primitives count more vertices than their box corners; the rest repeat one corner.
void RepeatCorner(Workspace& workspace, float r, std::int64_t from, std::int64_t to) {
  for (std::int64_t i = from; i < to; ++i) AddPoint(workspace, r, r, r);
}

// A point at `radius` on the circle at height y, angle i / n of a turn (single precision).
void AddCirclePoint(Workspace& workspace, float radius, float y, int i, int n) {
  const float angle = static_cast<float>(i) / static_cast<float>(n) * kTwoPi;
  const double a = static_cast<double>(angle);
  const float x = static_cast<float>(static_cast<double>(radius) * std::sin(a));
  const float z = static_cast<float>(static_cast<double>(radius) * std::cos(a));
  AddPoint(workspace, x, y, z);
}

}  // namespace

void ResetWorkspace(Workspace& workspace) {
  ResetMatrixStack(workspace.stack);
  ClearPrototypeTable(workspace.prototypes);
  ResetModelRecord(workspace.record);
  workspace.definition_mode = false;
  workspace.clump_depth = 0;
  workspace.transformed_points = 0;
  workspace.points_exhausted = false;
  workspace.tally = MeasureTally{};
}

void AddPoint(Workspace& workspace, float x, float y, float z) {
  if (++workspace.transformed_points > kMaxTransformedPoints) {
    workspace.points_exhausted = true;
    return;
  }
  const Point4 p = TransformPoint(Point4{x, y, z, 1.0f}, CurrentMatrix(workspace.stack));
  if (workspace.definition_mode) {
    if (!StorePoint(workspace.prototypes, p)) workspace.line_failed = true;
    return;
  }
  ExtendBox(workspace.record.box, p);
  ++workspace.record.vertex_count;
}

void AddPolygons(Workspace& workspace, std::int64_t n) {
  if (workspace.definition_mode) {
    PrototypeTable& table = workspace.prototypes;
    table.definitions[static_cast<std::size_t>(table.count)].polygon_count += n;
    return;
  }
  workspace.record.polygon_count += n;
}

void AddBoxCorners(Workspace& workspace, float w, float h, float d, bool based) {
  const float xs[2] = {w / 2, -w / 2};
  const float ys[2] = {based ? h : h / 2, based ? 0.0f : -h / 2};
  const float zs[2] = {d / 2, -d / 2};
  for (float x : xs) {
    for (float y : ys) {
      for (float z : zs) AddPoint(workspace, x, y, z);
    }
  }
}

void AddBlock(Workspace& workspace, float w, float h, float d) {
  AddBoxCorners(workspace, std::fabs(w), std::fabs(h), std::fabs(d), false);
  AddPolygons(workspace, 6);
}

void AddSphere(Workspace& workspace, float radius, int density) {
  const float r = std::fabs(radius);
  const int n = ClampDensity(density);
  AddBoxCorners(workspace, 2 * r, 2 * r, 2 * r, false);
  AddPolygons(workspace, SpherePolygons(n));
  RepeatCorner(workspace, r, 8, SpherePolygons(n) / 2 + 2);
}

void AddHemisphere(Workspace& workspace, float radius, int density) {
  const float r = std::fabs(radius);
  const int n = ClampDensity(density);
  AddBoxCorners(workspace, 2 * r, r, 2 * r, true);
  AddPolygons(workspace, SpherePolygons(n) / 2);
  RepeatCorner(workspace, r, 8, HemisphereVertices(n));
}

void AddCylinder(Workspace& workspace, float height, float bottom_radius, float top_radius,
                 int sides) {
  const float r = std::max(std::fabs(bottom_radius), std::fabs(top_radius));
  const int n = std::clamp(sides, 0, kMaxSides);
  AddBoxCorners(workspace, 2 * r, height, 2 * r, true);
  AddPolygons(workspace, n);
  if (n <= 4) return;
  if (!workspace.definition_mode) {
    workspace.record.vertex_count += 2 * static_cast<std::int64_t>(n - 4);  // the box stays
    return;
  }
  for (int i = 4; i < n; ++i) {
    AddPoint(workspace, -r, height, -r);
    AddPoint(workspace, -r, height / 2, -r);
  }
}

void AddCone(Workspace& workspace, float height, float radius, int sides) {
  const int n = std::clamp(sides, 0, kMaxSides);
  AddPoint(workspace, 0.0f, height, 0.0f);
  AddPolygons(workspace, n);
  for (int i = 0; i < n; ++i) AddCirclePoint(workspace, radius, 0.0f, i, n);
}

void AddDisc(Workspace& workspace, float y, float radius, int sides) {
  const int n = std::clamp(sides, 0, kMaxSides);
  AddPoint(workspace, 0.0f, y, 0.0f);
  AddPolygons(workspace, n);
  for (int i = 0; i < n; ++i) AddCirclePoint(workspace, radius, y, i, n);
}

}  // namespace rwx
