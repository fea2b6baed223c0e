// A model's geometry as the renderer draws it: points in model units and flat-coloured triangles
// that index them, with the axis-aligned box the drawing is fitted to.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace render {

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

inline constexpr std::uint32_t kGrey = 0xA8A8A8;  // 0xRRGGBB of faces whose script gives no colour

struct Triangle {
  std::uint32_t a = 0;  // indices into Mesh::vertices
  std::uint32_t b = 0;
  std::uint32_t c = 0;
  std::uint32_t rgb = kGrey;  // 0xRRGGBB
};

// A mesh without triangles is drawn as its points.
struct Mesh {
  std::vector<Vec3> vertices;
  std::vector<Triangle> triangles;
};

struct Bounds {
  Vec3 min;
  Vec3 max;
};

// The bounds of the mesh's vertices; nothing for a mesh without any (non-finite ones are left
// out).
std::optional<Bounds> MeshBounds(const Mesh& mesh);

// True when min <= max on every axis and every value is finite.
bool IsUsable(const Bounds& bounds);

}  // namespace render
