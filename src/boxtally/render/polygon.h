// Cutting a polygon into triangles: right for concave polygons (an L, a star, a U), which a fan
// from one corner covers wrongly. Holes are not a polygon's business here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "boxtally/render/mesh.h"

namespace render {

// Cuts the polygon `corners` (indices into `points`, in order around it, all valid) into
// triangles, appended to `out` as index triples wound as the polygon is: a convex polygon into a
// fan from its first corner, any other by ear clipping in the plane it mostly lies in. Each ear
// tried spends a point-in-triangle test per corner left from `work_left`; once it runs out, the
// rest of the polygon is cut into a fan. A polygon without area (or not finite) becomes a fan.
void CutPolygon(const std::vector<Vec3>& points, std::span<const std::uint32_t> corners,
                std::size_t& work_left, std::vector<std::uint32_t>& out);

}  // namespace render
