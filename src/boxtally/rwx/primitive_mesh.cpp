// The primitives as triangles, in the frame the measurement gives them: a block about its centre,
// a sphere about the origin, a hemisphere, cylinder and cone standing on y = 0, a disc at height y.
// Circles are divided as the measurement divides them (point i at i / n of a turn, x = r sin,
// z = r cos); spheres are octahedra whose faces are cut into density^2 triangles each, which are
// the polygon and vertex counts the measurement gives them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "boxtally/rwx/geometry_capture.h"
#include "boxtally/rwx/workspace.h"

namespace rwx {

namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

int Sides(int sides) { return sides < 3 ? kFixedSides : std::min(sides, kMaxSides); }
int Density(int density) {
  return density <= 0 ? kFixedDensity : std::min(density, kSphereDensities - 1);
}

// The n points of a circle of `radius` at height y.
std::vector<std::uint32_t> Ring(Workspace& workspace, float radius, float y, int n) {
  std::vector<std::uint32_t> ring(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double angle = static_cast<float>(i) / static_cast<float>(n) * kTwoPi;
    ring[static_cast<std::size_t>(i)] =
        EmitPoint(workspace, static_cast<float>(radius * std::sin(angle)), y,
                  static_cast<float>(radius * std::cos(angle)));
  }
  return ring;
}

// One eighth of a sphere: the octahedron's face with the signs (sx, sy, sz), cut into n^2
// triangles whose corners are pushed out onto the sphere.
void Octant(Workspace& workspace, float radius, int n, float sx, float sy, float sz) {
  // Row i holds the points j = 0..n-i; point (i, j) lies at (i, j, n-i-j) / n on the face.
  std::vector<std::vector<std::uint32_t>> rows(static_cast<std::size_t>(n) + 1);
  for (int i = 0; i <= n; ++i) {
    for (int j = 0; j <= n - i; ++j) {
      const float x = sx * static_cast<float>(i);
      const float y = sy * static_cast<float>(j);
      const float z = sz * static_cast<float>(n - i - j);
      const float scale = radius / std::sqrt(x * x + y * y + z * z);
      rows[static_cast<std::size_t>(i)].push_back(EmitPoint(workspace, x * scale, y * scale,
                                                            z * scale));
    }
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    for (std::size_t j = 0; j + i < static_cast<std::size_t>(n); ++j) {
      EmitTriangle(workspace, rows[i][j], rows[i + 1][j], rows[i][j + 1]);
      if (j + i + 1 < static_cast<std::size_t>(n)) {
        EmitTriangle(workspace, rows[i + 1][j], rows[i + 1][j + 1], rows[i][j + 1]);
      }
    }
  }
}

}  // namespace

void CaptureBlock(Workspace& workspace, float w, float h, float d) {
  const float x = std::fabs(w) / 2, y = std::fabs(h) / 2, z = std::fabs(d) / 2;
  std::uint32_t corner[8];  // bit 2: +x, bit 1: +y, bit 0: +z
  for (int i = 0; i < 8; ++i) {
    corner[i] = EmitPoint(workspace, (i & 4) ? x : -x, (i & 2) ? y : -y, (i & 1) ? z : -z);
  }
  // Each face by its four corners in turn around it.
  constexpr int kFaces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                                {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  for (const auto& f : kFaces) {
    EmitTriangle(workspace, corner[f[0]], corner[f[1]], corner[f[2]]);
    EmitTriangle(workspace, corner[f[0]], corner[f[2]], corner[f[3]]);
  }
}

void CaptureSphere(Workspace& workspace, float radius, int density, bool hemisphere) {
  const float r = std::fabs(radius);
  const int n = Density(density);
  for (const float sy : {1.0f, -1.0f}) {
    if (hemisphere && sy < 0) break;
    for (const float sx : {1.0f, -1.0f}) {
      for (const float sz : {1.0f, -1.0f}) Octant(workspace, r, n, sx, sy, sz);
    }
  }
}

void CaptureCylinder(Workspace& workspace, float height, float bottom_radius, float top_radius,
                     int sides) {
  // The sides only, as the measurement counts one polygon per side.
  const int n = Sides(sides);
  const std::vector<std::uint32_t> bottom = Ring(workspace, bottom_radius, 0.0f, n);
  const std::vector<std::uint32_t> top = Ring(workspace, top_radius, height, n);
  for (std::size_t i = 0; i < bottom.size(); ++i) {
    const std::size_t next = (i + 1) % bottom.size();
    EmitTriangle(workspace, bottom[i], bottom[next], top[next]);
    EmitTriangle(workspace, bottom[i], top[next], top[i]);
  }
}

void CaptureCone(Workspace& workspace, float height, float radius, int sides) {
  const std::uint32_t apex = EmitPoint(workspace, 0.0f, height, 0.0f);
  const std::vector<std::uint32_t> ring = Ring(workspace, radius, 0.0f, Sides(sides));
  for (std::size_t i = 0; i < ring.size(); ++i) {
    EmitTriangle(workspace, apex, ring[i], ring[(i + 1) % ring.size()]);
  }
}

void CaptureDisc(Workspace& workspace, float y, float radius, int sides) {
  const std::uint32_t centre = EmitPoint(workspace, 0.0f, y, 0.0f);
  const std::vector<std::uint32_t> ring = Ring(workspace, radius, y, Sides(sides));
  for (std::size_t i = 0; i < ring.size(); ++i) {
    EmitTriangle(workspace, centre, ring[i], ring[(i + 1) % ring.size()]);
  }
}

}  // namespace rwx
