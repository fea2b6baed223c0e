// The scene model: turns the COB object tree into RWX-ready prototypes (vertices with texture
// coordinates and prelight, polygons with shared surfaces) and a tree of clump nodes that
// mirrors the COB groups. Prototypes are handed to a sink the moment each is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rwxsmith/cob_reader.h"

namespace cob {

inline constexpr float kMergeTolerance = 1e-6f;  // optverts: positions this close merge

enum AddressMode : int { kAddressWrap = 1, kAddressMirror = 2, kAddressClamp = 3 };

struct Surface {
  int light_sampling = 0;  // 1 vertex (smooth), 0 facet
  int mipmap = 1;          // 1 on
  int address_mode = kAddressWrap;
  std::uint8_t red = 255, green = 0, blue = 0;
  std::uint8_t opacity = 255;
  float ambient = 0.0f;
  float diffuse = 0.0f;
  std::string texture;  // empty: no texture
  std::string mask;     // empty: no mask
};

struct ProtoVertex {
  float x = 0.0f, y = 0.0f, z = 0.0f;
  float u = 0.0f, v = 0.0f;
  std::uint8_t red = 0, green = 0, blue = 0;  // prelight
};

// A polygon's vertex indices are polygon_indices[first .. first + count), 0-based into the
// prototype's vertices; `surface` indexes the prototype's surfaces.
struct ProtoPolygon {
  std::size_t first = 0;
  std::size_t count = 0;
  std::size_t surface = 0;
};

struct Prototype {
  std::string name;           // lower-cased polyhedron name; the writer makes it unique
  bool continuation = false;  // split off after a material change: written as "Internal"
  int joint_tag = 0;          // avatar joint 1..42, or 0
  bool lit = false;
  bool wireframe = false;
  bool has_uv = false;
  bool prelit = false;
  Vec3 pivot;         // translation of the prototype's transform (avatar pivots)
  Position position;  // the source polyhedron's current position: the "Transform" line
  std::vector<ProtoVertex> vertices;  // compacted: every one is used by some polygon
  std::vector<std::uint32_t> polygon_indices;
  std::vector<ProtoPolygon> polygons;  // creation order; they are written last first
  std::vector<Surface> surfaces;
};

struct ClumpNode {
  bool collision = true;
  bool opacity_fix = false;
  // Instances and children in the order they were added; the writer walks both from the last
  // added to the first, as a list that puts every new entry at its front would.
  std::vector<std::shared_ptr<Prototype>> instances;
  std::vector<std::unique_ptr<ClumpNode>> children;
};

// The settings that decide a prototype split. They carry over from one polyhedron to the next
// and from one conversion to the next in the same program run.
struct SplitSettings {
  bool lit = false;
  int address_mode = kAddressWrap;
  int mipmap = 1;
};

struct SceneResult {
  std::unique_ptr<ClumpNode> root;  // the root clump node; top-level groups are its children
  bool axis_alignment = false;      // a "_facer" name word was seen
  bool base_rotation = false;
};

// Receives each finished prototype with the clump node that lists it. The sink records the
// instance on the node (ClumpNode::instances) and may then drop the geometry.
using PrototypeSink = std::function<void(ClumpNode&, std::shared_ptr<Prototype>)>;

// The vertex merging step alone: for every face vertex of `poly` (in face_vertices order) the
// index of the merged vertex it becomes, or -1 when its face is dropped for a vertex index
// outside the vertex list. Merged vertices are numbered in order of creation.
std::vector<std::int64_t> MergeFaceVertices(const Polyhedron& poly, bool optverts);

// Converts the tree read from `path` (named in warnings on standard output).
SceneResult ConvertTree(const Group& root, const std::string& path, SplitSettings& split,
                        const PrototypeSink& sink);

}  // namespace cob
