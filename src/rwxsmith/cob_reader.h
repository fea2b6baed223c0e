// The COB/SCN binary reader: turns a file held whole in memory into a tree of groups, each with
// its polyhedra (vertices, texture coordinates, faces, materials). Only the fields the converter
// uses are read; every chunk is skipped by its declared length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cob {

inline constexpr std::size_t kMaxNameLength = 199;  // characters of a stored name, suffix included
inline constexpr int kMaxGroupDepth = 1000;         // nesting levels below the root
inline constexpr std::uint8_t kFaceHole = 8;        // face flag: a hole in the face before it
inline constexpr std::int16_t kHiddenBit = 8;       // hidden word: the object is not drawn

struct Vec3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;
};
struct Vec2 {
  float u = 0.0f, v = 0.0f;
};

struct LocalAxes {
  Vec3 centre;
  Vec3 x_axis, y_axis, z_axis;
};

// The 3x4 current position matrix: rows[r][c]; column 3 is the translation.
struct Position {
  std::array<std::array<float, 4>, 3> rows{};
};

struct FaceVertex {
  std::int32_t vertex_index = 0;
  std::int32_t uv_index = 0;
  std::uint32_t colour = 0;  // packed: bits 0-7 red, 8-15 green, 16-23 blue; 0 = none
};

// A face's vertices live in the polyhedron's face_vertices, from `first` on.
struct Face {
  std::uint8_t flags = 0;
  std::int16_t vertex_count = 0;
  std::int16_t material_index = 0;  // 0 for a hole, which stores none
  std::size_t first = 0;
};

struct Material {
  std::int16_t number = 0;  // what faces name in material_index
  char shader = 0;          // 'f' flat, anything else lit
  char facet = 0;           // 'f' faceted, 'a' auto-facet, 's' smooth
  std::uint8_t autofacet_angle = 0;
  float red = 0.0f, green = 0.0f, blue = 0.0f;
  float opacity = 0.0f;
  float ambient = 0.0f;
  float specular = 0.0f;
  float highlight = 0.0f;
  float refraction = 0.0f;
  std::uint8_t texture_flags = 0;  // bit 0: the texture has a mask
  std::string texture_path;
  float texture_offset_u = 0.0f, texture_offset_v = 0.0f;
  float texture_repeat_u = 0.0f, texture_repeat_v = 0.0f;
  std::uint8_t bump_flags = 0;
  std::string bump_path;
  std::array<float, 5> bump{};
  std::uint8_t environment_flags = 0;
  std::string environment_path;
  std::int32_t chunk_id = 0;
};

struct Polyhedron {
  std::string name;
  LocalAxes local_axes;
  Position position;
  std::vector<Vec3> vertices;
  std::vector<Vec2> uvs;
  std::vector<Face> faces;
  std::vector<FaceVertex> face_vertices;
  std::int32_t chunk_id = 0;
  std::vector<Material> materials;  // file order
  std::int16_t hidden = 0;
};

struct Group {
  std::string name;
  LocalAxes local_axes;
  Position position;
  std::int32_t chunk_id = 0;
  std::int16_t hidden = 0;
  int depth = 0;                                 // 0 for the root
  Group* parent = nullptr;                       // nullptr for the root
  std::size_t index_in_parent = 0;               // position in parent->children
  std::vector<Polyhedron> polyhedra;             // file order
  std::vector<std::unique_ptr<Group>> children;  // file order
};

// The header check of the RWX path: true for a binary COB file. Otherwise prints
// "%s: ASCII format COB files are not supported - resave as binary\n" or
// "%s: Can not read header - file probably corrupted\n" (with `path`) to standard output.
bool AcceptHeader(const std::string& path, const std::uint8_t* data, std::size_t size);

// How the chunk walk of LoadGeometry ended.
struct SceneEnd {
  // A chunk could not be read whole: its declared length is negative or runs past the end of
  // the file, a field or count in it does not fit, or the file ends inside a chunk header.
  bool damaged = false;
  std::size_t damaged_chunk = 0;  // offset of that chunk's header
};

// Reads the COB file held in `data` (its path given for messages). On a rejected header prints
// AcceptHeader's message and returns nullptr. Otherwise returns the tree rooted at "Root_0":
// everything read before a damaged chunk stays in it, and `end` says where the walk stopped (a
// damaged chunk also prints "%s: Can not read the chunk at offset %zu whole - file probably
// corrupted or cut short\n"). A group that would nest deeper than kMaxGroupDepth is skipped.
std::unique_ptr<Group> LoadGeometry(const std::string& path, const std::uint8_t* data,
                                    std::size_t size, SceneEnd& end);
std::unique_ptr<Group> LoadGeometry(const std::string& path, const std::uint8_t* data,
                                    std::size_t size);

}  // namespace cob
