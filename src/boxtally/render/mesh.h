// A model's geometry as the renderer draws it: points in model units, their texture coordinates,
// and triangles that index them, each with its material (colour, texture and mask, opacity,
// surface, light sampling), with the axis-aligned box the drawing is fitted to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace render {

struct Vec3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

// A point in a texture: u across from its left edge, v down from its top row, 1 a whole image;
// outside 0..1 the image repeats.
struct TexCoord {
  float u = 0.0f;
  float v = 0.0f;
};

inline constexpr std::uint32_t kGrey = 0xA8A8A8;  // 0xRRGGBB of faces whose script gives no colour
// The light a face gets without any (ambient) and from the light facing it square on (diffuse),
// where the script gives no surface: a face the light meets at 60 degrees gets 0.7 of its colour.
inline constexpr float kDefaultAmbient = 0.4f;
inline constexpr float kDefaultDiffuse = 0.6f;
inline constexpr std::uint32_t kNoName = 0xFFFFFFFF;  // a material without texture or mask

enum class LightSampling : std::uint8_t {
  kFacet,   // one shade per face
  kVertex,  // shades worked out at the corners and blended across the face
};

// Texture modes a material may carry (bits); the others a script names are not drawn.
inline constexpr std::uint8_t kTextureLit = 1;          // the texture is shaded like a colour
inline constexpr std::uint8_t kTextureForeshorten = 2;  // drawn in perspective (all views are flat)
inline constexpr std::uint8_t kTextureFilter = 4;       // sampled bilinearly, else the nearest texel
inline constexpr std::uint8_t kDefaultTextureModes =
    kTextureLit | kTextureForeshorten | kTextureFilter;

struct Material {
  std::uint32_t rgb = kGrey;  // 0xRRGGBB, for faces without a texture
  float opacity = 1.0f;       // 0..1; below 1 the face is blended over what is behind it
  float ambient = kDefaultAmbient;  // 0..1
  float diffuse = kDefaultDiffuse;  // 0..1
  LightSampling light_sampling = LightSampling::kFacet;
  std::uint8_t texture_modes = kDefaultTextureModes;
  std::uint32_t texture = kNoName;  // index into Mesh::names
  std::uint32_t mask = kNoName;     // likewise; the mask's black is not drawn

  friend bool operator==(const Material&, const Material&) = default;
};

struct Triangle {
  std::uint32_t a = 0;  // indices into Mesh::vertices
  std::uint32_t b = 0;
  std::uint32_t c = 0;
  std::uint32_t material = 0;  // index into Mesh::materials; past them: Material{}
};

// A mesh without triangles is drawn as its points.
struct Mesh {
  std::vector<Vec3> vertices;
  std::vector<Triangle> triangles;
  std::vector<TexCoord> uvs;  // one per vertex, or none at all (every point at 0, 0)
  std::vector<Material> materials;
  std::vector<std::string> names;  // the textures and masks the materials name, each once
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

// The material of a triangle: its own, or the default one when its index is past the table.
const Material& MaterialOf(const Mesh& mesh, const Triangle& triangle);

}  // namespace render
