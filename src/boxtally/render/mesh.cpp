#include "boxtally/render/mesh.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {
bool IsFinite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
}  // namespace

std::optional<Bounds> MeshBounds(const Mesh& mesh) {
  std::optional<Bounds> bounds;
  for (const Vec3& v : mesh.vertices) {
    if (!IsFinite(v)) continue;
    if (!bounds) {
      bounds = Bounds{v, v};
      continue;
    }
    bounds->min = {std::min(bounds->min.x, v.x), std::min(bounds->min.y, v.y),
                   std::min(bounds->min.z, v.z)};
    bounds->max = {std::max(bounds->max.x, v.x), std::max(bounds->max.y, v.y),
                   std::max(bounds->max.z, v.z)};
  }
  return bounds;
}

bool IsUsable(const Bounds& bounds) {
  return IsFinite(bounds.min) && IsFinite(bounds.max) && bounds.min.x <= bounds.max.x &&
         bounds.min.y <= bounds.max.y && bounds.min.z <= bounds.max.z;
}

const Material& MaterialOf(const Mesh& mesh, const Triangle& triangle) {
  static const Material kDefault;
  return triangle.material < mesh.materials.size() ? mesh.materials[triangle.material] : kDefault;
}

}  // namespace render
