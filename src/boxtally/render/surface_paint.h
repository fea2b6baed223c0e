// What a triangle's pixels are painted with: its material's colour, or its texture through the
// texture coordinates of its corners (repeated, sampled bilinearly unless the material says
// otherwise; a texture's alpha below half is not drawn), cut by its mask (its nearest texel
// black: not drawn), shaded by how squarely it meets the light.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxtally/render/mesh.h"
#include "boxtally/render/texture.h"

namespace render {

// A material with its pictures found.
struct Look {
  const Material* material = nullptr;
  const Texture* texture = nullptr;
  const Texture* mask = nullptr;
  bool missing = false;  // a texture is named and not found: its colour under a checker
  bool see_through = false;  // the texture has texels whose alpha leaves them out
};

// The looks of a mesh's materials, and one more (the last) for triangles whose material is past
// the table. Each distinct name a triangle's material uses is asked of `source` once; `kept`
// holds the pictures for as long as they are drawn. With no source, no picture is looked for.
std::vector<Look> LookUp(const Mesh& mesh, TextureSource* source,
                         std::vector<std::shared_ptr<const Texture>>& kept);
const Look& LookOf(const std::vector<Look>& looks, const Triangle& t);

// How squarely faces meet the light (0..1, both sides alike: scripts wind polygons either way):
// each face's is worked out when it is painted; for vertex light sampling the same at each
// vertex, from the faces about it that sample light there, weighted by their areas.
struct Facing {
  Vec3 light;                 // unit length, model space
  std::vector<float> vertex;  // empty when no material samples light at vertices
};
Facing WorkOutFacing(const Mesh& mesh, const std::vector<Look>& looks, const Vec3& light);

struct Paint {
  enum Kind { kFlat, kTextured, kMissing } kind = kFlat;
  std::uint32_t rgb = 0;       // kFlat without vertex light: the shaded colour; else unshaded
  float light[3] = {1, 1, 1};  // at the corners a, b, c
  bool shaded = false;         // the light differs between the corners
  TexCoord uv[3];
  const Texture* texture = nullptr;
  const Texture* mask = nullptr;
  bool filter = true;
  bool lit = true;
  bool see_through = false;  // the texture's alpha leaves some of its texels out
  float opacity = 1;
  int checker = 4;  // side of the missing texture's checker cells, in pixels

  bool Plain() const { return kind == kFlat && !shaded && mask == nullptr; }
  // Drawn wherever it lies: neither a mask nor the texture's alpha leaves a point out.
  bool Solid() const { return mask == nullptr && !see_through; }
};

// The paint of triangle `index` of the mesh; `checker`: the missing texture's cell side.
Paint PaintOf(const Mesh& mesh, const Look& look, const Facing& facing, std::size_t index,
              int checker);

// Whether the point of the triangle with weights w (of corners a, b, c) is drawn: false where
// the mask, or the texture's own alpha, leaves it out (as PaintPoint says there).
bool Covers(const Paint& p, const float w[3]);

// Four points side by side, as GCC's vector extensions lay them out: a lane's bits are all set
// (-1) or all clear.
using Lanes = float __attribute__((vector_size(16)));
using LaneBits = std::int32_t __attribute__((vector_size(16)));

// Covers for the four points of weights w[0..2] (lanes of corners a, b, c) whose lanes are set
// in `in`: the same answers, at a fraction of the cost for masked paint.
LaneBits CoversLanes(const Paint& p, const Lanes w[3], LaneBits in);

// The colour at a point of the triangle with weights w (of corners a, b, c) in pixel (x, y);
// false where the mask, or the texture's own alpha, leaves it out.
bool PaintPoint(const Paint& p, const float w[3], int x, int y, std::uint32_t& rgb);
// The same where Covers said the mask leaves the point in: the mask is not looked at again.
bool PaintCovered(const Paint& p, const float w[3], int x, int y, std::uint32_t& rgb);
inline bool PaintAt(const Paint& p, const float w[3], int x, int y, std::uint32_t& rgb) {
  if (p.Plain()) {
    rgb = p.rgb;
    return true;
  }
  return PaintPoint(p, w, x, y, rgb);
}

// 0xRRGGBB colours: each channel times `intensity` (at most 255); `over` laid on `under`.
std::uint32_t Scale(std::uint32_t rgb, float intensity);
std::uint32_t Mix(std::uint32_t under, std::uint32_t over, float alpha);

}  // namespace render
