#include "rwxsmith/scene_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "rwxsmith/joint_table.h"

namespace cob {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kAutoFacetVertexLimit = 50;   // more vertices than this: smooth shading
constexpr float kBridgeStartDistance = 1000000.0f;  // squared distance a bridge must beat
// Pairs the nearest-pair search of one face may compare (about a second of work). The search
// grows with holes x hole vertices x polygon size per round; a face past this bound (only a
// crafted file has one) bridges every hole from its first vertex to the polygon's first vertex.
constexpr double kMaxBridgeComparisons = 2e8;

// ---- Options from name words ------------------------------------------------------------------

// Inherited from a group to its child groups and its polyhedra.
struct Options {
  bool avatar = false;
  bool optverts = false;
  bool v3 = false;
  bool collision = true;
  bool wireframe = false;
  int mipmap = 1;
  int address_mode = kAddressWrap;
  bool opacity_fix = false;
};

// What one polyhedron is built with: the inherited options plus its own words.
struct PolyOptions {
  bool optverts = false;
  bool wireframe = false;
  int mipmap = 1;
  int address_mode = kAddressWrap;
  bool sign = false;
  bool picture = false;
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool StartsWithGm(const std::string& lower) { return lower.compare(0, 3, "gm_") == 0; }

bool Has(const std::string& lower, const char* word) {
  return lower.find(word) != std::string::npos;
}

// Words shared by groups and polyhedra. Of a pair, the word checked later wins when both occur.
void ApplySharedWords(const std::string& lower, bool& wireframe, int& mipmap, int& address_mode,
                      bool& opacity_fix, bool& facer) {
  if (Has(lower, "_solid")) wireframe = false;
  if (Has(lower, "_wireframe")) wireframe = true;
  if (Has(lower, "_mipmapon")) mipmap = 1;
  if (Has(lower, "_mipmapoff")) mipmap = 0;
  if (Has(lower, "_tamwrap")) address_mode = kAddressWrap;
  if (Has(lower, "_tamclamp")) address_mode = kAddressClamp;
  if (Has(lower, "_tammirror")) address_mode = kAddressMirror;
  if (Has(lower, "_opacityfixon")) opacity_fix = true;
  if (Has(lower, "_opacityfixoff")) opacity_fix = false;
  if (Has(lower, "_facer")) facer = true;
}

void ApplyGroupWords(const std::string& lower, Options& o, bool& facer) {
  if (!StartsWithGm(lower)) return;
  if (Has(lower, "_avatar")) o.avatar = true;
  if (Has(lower, "_optverts")) o.optverts = true;
  if (Has(lower, "_v3")) o.v3 = true;
  if (Has(lower, "_collisionon")) o.collision = true;
  if (Has(lower, "_collisionoff")) o.collision = false;
  ApplySharedWords(lower, o.wireframe, o.mipmap, o.address_mode, o.opacity_fix, facer);
}

// Polyhedron words hold for this polyhedron only, except the opacity fix, which lives on the
// group's clump node.
PolyOptions ApplyPolyWords(const std::string& lower, const Options& o, ClumpNode& group_node,
                           bool& facer) {
  PolyOptions p;
  p.optverts = o.optverts;
  p.wireframe = o.wireframe;
  p.mipmap = o.mipmap;
  p.address_mode = o.address_mode;
  if (!StartsWithGm(lower)) return p;
  if (Has(lower, "_optverts")) p.optverts = true;
  ApplySharedWords(lower, p.wireframe, p.mipmap, p.address_mode, group_node.opacity_fix, facer);
  p.sign = Has(lower, "_sign");
  p.picture = Has(lower, "_picture");
  return p;
}

// The first "_"-separated piece after "gm_" that names a joint, without regard to case.
int JointInName(const std::string& lower) {
  std::string_view rest = std::string_view(lower).substr(3);
  while (true) {
    const std::size_t cut = rest.find('_');
    const int joint = JointNumber(rest.substr(0, cut), JointCase::kIgnoreCase);
    if (joint != 0) return joint;
    if (cut == std::string_view::npos) return 0;
    rest.remove_prefix(cut + 1);
  }
}

// ---- Vertex merging ---------------------------------------------------------------------------

struct Merged {
  std::int32_t vertex_index = 0;
  std::int32_t uv_index = 0;
  std::uint32_t colour = 0;
  std::int32_t material = 0;
  Vec3 position;
};

struct MergeKey {
  std::int32_t vertex_index;
  std::int32_t uv_index;
  std::uint32_t colour;
  std::int32_t material;
  bool operator==(const MergeKey&) const = default;
};

struct CellKey {
  std::int64_t x, y, z;
  std::int32_t uv_index;
  bool operator==(const CellKey&) const = default;
};

std::size_t Mix(std::size_t seed, std::uint64_t value) {
  return seed ^
         (static_cast<std::size_t>(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

struct MergeKeyHash {
  std::size_t operator()(const MergeKey& k) const {
    std::size_t h = Mix(0, static_cast<std::uint32_t>(k.vertex_index));
    h = Mix(h, static_cast<std::uint32_t>(k.uv_index));
    h = Mix(h, k.colour);
    return Mix(h, static_cast<std::uint32_t>(k.material));
  }
};

struct CellKeyHash {
  std::size_t operator()(const CellKey& k) const {
    std::size_t h = Mix(0, static_cast<std::uint64_t>(k.x));
    h = Mix(h, static_cast<std::uint64_t>(k.y));
    h = Mix(h, static_cast<std::uint64_t>(k.z));
    return Mix(h, static_cast<std::uint32_t>(k.uv_index));
  }
};

// The grid that finds optverts matches in constant time. Within +-32 a cell is 2e-6 wide, wider
// than the tolerance, so any match lies in a neighbouring cell. Beyond that, neighbouring floats
// are more than 1e-6 apart and only equal values match: a value's own bits name its cell, placed
// far outside the grid's range. NaN lands there too and never matches, as in the comparison.
std::int64_t CellOf(float value) {
  if (value >= -32.0f && value <= 32.0f) {
    return static_cast<std::int64_t>(std::floor(static_cast<double>(value) * 500000.0));
  }
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return (std::int64_t{1} << 40) + bits;
}

bool Near(const Vec3& a, const Vec3& b) {
  return std::fabs(a.x - b.x) <= 1e-6 && std::fabs(a.y - b.y) <= 1e-6 &&
         std::fabs(a.z - b.z) <= 1e-6;
}

// ---- Building one polyhedron ------------------------------------------------------------------

std::uint8_t ToByte(float value) {
  if (!(value >= 0.0f)) return 0;  // negative or NaN
  if (value >= 255.0f) return 255;
  return static_cast<std::uint8_t>(static_cast<int>(value));
}

// The texture path's last component cut at its first ".".
std::string TextureName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

bool HasRepeat(const Material* m) {
  return m != nullptr && (m->texture_repeat_u != 0.0f || m->texture_repeat_v != 0.0f);
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool SameSurface(const Surface& a, const Surface& b) {
  return a.light_sampling == b.light_sampling && a.mipmap == b.mipmap &&
         a.address_mode == b.address_mode && a.red == b.red && a.green == b.green &&
         a.blue == b.blue && a.opacity == b.opacity && a.ambient == b.ambient &&
         a.diffuse == b.diffuse && SameName(a.texture, b.texture) && SameName(a.mask, b.mask);
}

// A prototype being filled. Vertices are those of the whole polyhedron (`base`); a prototype
// keeps only the ones its polygons use, found through `stamp` without scanning all of them, so
// material changes that split a large polyhedron many times stay linear.
struct Build {
  std::shared_ptr<Prototype> proto;
  std::uint32_t serial = 0;          // stamp value that marks a vertex as used by this prototype
  std::vector<std::uint32_t> used;   // merged indices in order of first use
  std::size_t surface_slot = kNone;  // the current surface's index in proto->surfaces
};

class PolyhedronBuilder {
 public:
  PolyhedronBuilder(const Polyhedron& poly, const PolyOptions& options, const std::string& path,
                    SplitSettings& split, const PrototypeSink& sink, ClumpNode& node)
      : poly_(poly), options_(options), path_(path), split_(split), sink_(sink), node_(node) {}

  // Fills `proto` (and any continuation prototypes, which go to the sink as they are finished);
  // returns the last prototype, compacted but not yet handed to the sink.
  std::shared_ptr<Prototype> Run(std::shared_ptr<Prototype> proto);
  // Only the merging step; see MergeFaceVertices.
  std::vector<std::int64_t> MergeOnly();

 private:
  void SelectFaces();
  void MergeVertices();
  void MakeBaseVertices();
  void ShiftTextureCoordinates();
  void ProcessFaces();
  void ChangeMaterial(std::int16_t number);
  void Split();
  void Finish(Build& build);
  void AddPolygon(const std::vector<std::uint32_t>& indices);
  void BridgeHoles(std::vector<std::uint32_t>& polygon, const std::vector<std::size_t>& holes,
                   std::int32_t material);
  void BridgeHolesQuickly(std::vector<std::uint32_t>& polygon,
                          const std::vector<std::size_t>& holes, std::int32_t material);
  std::uint32_t SpliceVertex(std::size_t face_vertex, std::int32_t material);
  const Material* FindMaterial(std::int32_t number) const;

  const Polyhedron& poly_;
  const PolyOptions& options_;
  const std::string& path_;
  SplitSettings& split_;
  const PrototypeSink& sink_;
  ClumpNode& node_;

  std::vector<bool> keep_;                 // faces that take part (all their vertex indices valid)
  std::vector<std::int32_t> material_of_;  // per face: the material index its vertices merge with
  std::vector<Merged> merged_;
  std::vector<std::uint32_t> merged_of_;  // per face vertex
  std::vector<ProtoVertex> base_;
  std::unordered_map<std::int32_t, std::size_t> material_by_number_;
  std::vector<std::uint32_t> stamp_;
  std::uint32_t next_serial_ = 1;
  Build build_;

  // Face walk state.
  bool first_face_ = true;
  std::int16_t previous_index_ = 0;
  const Material* material_ = nullptr;
  Surface surface_;
  bool transparent_ = false;
  std::vector<bool> bridge_end_;
  std::unordered_map<std::int32_t, std::uint32_t> first_by_vertex_;
  std::unordered_map<MergeKey, std::uint32_t, MergeKeyHash> first_by_uv_;  // colour left 0
  bool splice_maps_ready_ = false;
};

const Material* PolyhedronBuilder::FindMaterial(std::int32_t number) const {
  const auto it = material_by_number_.find(number);
  return it == material_by_number_.end() ? nullptr : &poly_.materials[it->second];
}

// A face whose vertex index lies outside the vertex list is dropped, with the holes that belong
// to it; a hole with a bad index is dropped alone.
void PolyhedronBuilder::SelectFaces() {
  const std::size_t faces = poly_.faces.size();
  keep_.assign(faces, false);
  material_of_.assign(faces, 0);
  const auto materials = static_cast<std::int32_t>(poly_.materials.size());
  bool owner_kept = true;
  std::int32_t owner_material = 0;
  for (std::size_t f = 0; f < faces; ++f) {
    const Face& face = poly_.faces[f];
    bool valid = true;
    for (std::int16_t i = 0; i < face.vertex_count; ++i) {
      const std::int32_t vi =
          poly_.face_vertices[face.first + static_cast<std::size_t>(i)].vertex_index;
      if (vi < 0 || static_cast<std::size_t>(vi) >= poly_.vertices.size()) valid = false;
    }
    const bool starts_group = f == 0 || (face.flags & kFaceHole) == 0;
    if (starts_group) {
      owner_kept = valid;
      owner_material = face.material_index;  // a hole that starts the list has 0 here
      if (owner_material < 0 || owner_material > materials) owner_material = 0;
    }
    keep_[f] = valid && owner_kept;
    material_of_[f] = owner_material;
  }
}

void PolyhedronBuilder::MergeVertices() {
  merged_of_.assign(poly_.face_vertices.size(), 0);
  std::unordered_map<MergeKey, std::uint32_t, MergeKeyHash> exact;
  std::unordered_map<CellKey, std::vector<std::uint32_t>, CellKeyHash> cells;
  for (std::size_t f = 0; f < poly_.faces.size(); ++f) {
    if (!keep_[f]) continue;
    const Face& face = poly_.faces[f];
    for (std::int16_t i = 0; i < face.vertex_count; ++i) {
      const std::size_t slot = face.first + static_cast<std::size_t>(i);
      const FaceVertex& fv = poly_.face_vertices[slot];
      const MergeKey key{fv.vertex_index, fv.uv_index, fv.colour, material_of_[f]};
      const Vec3& position = poly_.vertices[static_cast<std::size_t>(fv.vertex_index)];
      // The first merged vertex that matches wins: the earliest with the same key, or with
      // optverts the earliest close enough that shares the texture-coordinate index.
      std::size_t best = kNone;
      if (const auto it = exact.find(key); it != exact.end()) best = it->second;
      CellKey cell{};
      if (options_.optverts) {
        cell = CellKey{CellOf(position.x), CellOf(position.y), CellOf(position.z), fv.uv_index};
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
          for (std::int64_t dy = -1; dy <= 1; ++dy) {
            for (std::int64_t dz = -1; dz <= 1; ++dz) {
              const auto near =
                  cells.find(CellKey{cell.x + dx, cell.y + dy, cell.z + dz, fv.uv_index});
              if (near == cells.end()) continue;
              for (const std::uint32_t index : near->second) {
                if (index >= best) break;  // lists grow in index order
                if (Near(merged_[index].position, position)) {
                  best = index;
                  break;
                }
              }
            }
          }
        }
      }
      if (best == kNone) {
        best = merged_.size();
        merged_.push_back(
            Merged{fv.vertex_index, fv.uv_index, fv.colour, material_of_[f], position});
        exact.emplace(key, static_cast<std::uint32_t>(best));
        if (options_.optverts) cells[cell].push_back(static_cast<std::uint32_t>(best));
      }
      merged_of_[slot] = static_cast<std::uint32_t>(best);
    }
  }
}

void PolyhedronBuilder::MakeBaseVertices() {
  Prototype& proto = *build_.proto;
  base_.reserve(merged_.size());
  for (const Merged& m : merged_) {
    ProtoVertex pv;
    pv.x = std::fabs(m.position.x) < 1e-6 ? 0.0f : m.position.x;
    pv.y = std::fabs(m.position.y) < 1e-6 ? 0.0f : m.position.y;
    pv.z = std::fabs(m.position.z) < 1e-6 ? 0.0f : m.position.z;
    const Material* material = FindMaterial(m.material);
    // A texture-coordinate index outside the list (or a missing list) maps to (0, 0), like an
    // untextured vertex, rather than reading past the list.
    if (HasRepeat(material) && m.uv_index >= 0 &&
        static_cast<std::size_t>(m.uv_index) < poly_.uvs.size()) {
      const Vec2& uv = poly_.uvs[static_cast<std::size_t>(m.uv_index)];
      pv.u = uv.u * material->texture_repeat_u + material->texture_offset_u;
      pv.v = (1.0f - uv.v) * material->texture_repeat_v + material->texture_offset_v;
    }
    if (pv.u != 0.0f || pv.v != 0.0f) proto.has_uv = true;
    if (m.colour != 0) {
      pv.red = static_cast<std::uint8_t>(m.colour & 0xFF);
      pv.green = static_cast<std::uint8_t>((m.colour >> 8) & 0xFF);
      pv.blue = static_cast<std::uint8_t>((m.colour >> 16) & 0xFF);
      if (pv.red != 0 || pv.green != 0 || pv.blue != 0) proto.prelit = true;
    }
    base_.push_back(pv);
  }
}

// Moves the texture coordinates up by whole units so that none is negative.
void PolyhedronBuilder::ShiftTextureCoordinates() {
  float min_u = -1e-6f;
  float min_v = -1e-6f;
  for (const ProtoVertex& pv : base_) {
    min_u = std::min(min_u, pv.u);
    min_v = std::min(min_v, pv.v);
  }
  const float shift_u = min_u < -1e-6 ? -std::floor(min_u) : 0.0f;
  const float shift_v = min_v < -1e-6 ? -std::floor(min_v) : 0.0f;
  if (!(shift_u > 0.0f) && !(shift_v > 0.0f)) return;
  for (ProtoVertex& pv : base_) {
    pv.u += shift_u;
    pv.v += shift_v;
    if (pv.u != 0.0f || pv.v != 0.0f) build_.proto->has_uv = true;
  }
}

void PolyhedronBuilder::Finish(Build& build) {
  Prototype& proto = *build.proto;
  std::sort(build.used.begin(), build.used.end());
  std::vector<std::uint32_t> remap(build.used.empty() ? 0 : build.used.back() + 1, 0);
  proto.vertices.reserve(build.used.size());
  for (std::size_t k = 0; k < build.used.size(); ++k) {
    remap[build.used[k]] = static_cast<std::uint32_t>(k);
    proto.vertices.push_back(base_[build.used[k]]);
  }
  for (std::uint32_t& index : proto.polygon_indices) index = remap[index];
  build.used.clear();
  build.used.shrink_to_fit();
}

// Finishes the current prototype and goes on in a continuation that shares its settings.
void PolyhedronBuilder::Split() {
  const Prototype& current = *build_.proto;
  auto next = std::make_shared<Prototype>();
  next->continuation = true;
  next->joint_tag = current.joint_tag;
  next->lit = current.lit;
  next->wireframe = current.wireframe;
  next->has_uv = current.has_uv;
  next->prelit = current.prelit;
  next->pivot = current.pivot;
  next->position = current.position;
  Finish(build_);
  sink_(node_, build_.proto);
  build_ = Build{std::move(next), next_serial_++, {}, kNone};
}

void PolyhedronBuilder::ChangeMaterial(std::int16_t number) {
  const Material* m = FindMaterial(number);
  if (m == nullptr) {
    std::printf("%s: Warning: '%s' chunk has no material\n", path_.c_str(), poly_.name.c_str());
    return;
  }
  Surface s;
  s.texture = TextureName(m->texture_path);
  if (!s.texture.empty() && (m->texture_flags & 1) != 0) s.mask = s.texture + "m";
  s.opacity = ToByte(m->opacity * 255.0f);
  s.ambient = m->ambient;
  s.diffuse = 1.0f - m->highlight;
  const bool smooth = m->facet == 's' || (m->facet == 'a' && base_.size() > kAutoFacetVertexLimit);
  s.light_sampling = smooth ? 1 : 0;
  s.red = ToByte(m->red * 255.0f);
  s.green = ToByte(m->green * 255.0f);
  s.blue = ToByte(m->blue * 255.0f);
  s.address_mode = options_.address_mode;
  s.mipmap = options_.mipmap;
  if (!s.texture.empty()) build_.proto->has_uv = true;

  const bool lit = m->shader != 'f';
  const bool transparent = s.opacity < 255 || !s.mask.empty();
  if (!build_.proto->polygons.empty() &&
      (lit != split_.lit || options_.address_mode != split_.address_mode ||
       options_.mipmap != split_.mipmap || transparent != transparent_)) {
    Split();
  }
  split_.lit = lit;
  split_.address_mode = options_.address_mode;
  split_.mipmap = options_.mipmap;
  transparent_ = transparent;
  build_.proto->lit = lit;
  material_ = m;
  if (!SameSurface(s, surface_)) {
    surface_ = std::move(s);
    build_.surface_slot = kNone;
  }
}

void PolyhedronBuilder::AddPolygon(const std::vector<std::uint32_t>& indices) {
  Prototype& proto = *build_.proto;
  if (build_.surface_slot == kNone) {
    build_.surface_slot = proto.surfaces.size();
    proto.surfaces.push_back(surface_);
  }
  proto.polygons.push_back(
      ProtoPolygon{proto.polygon_indices.size(), indices.size(), build_.surface_slot});
  for (const std::uint32_t index : indices) {
    proto.polygon_indices.push_back(index);
    if (stamp_[index] != build_.serial) {
      stamp_[index] = build_.serial;
      build_.used.push_back(index);
    }
  }
}

// The merged vertex a hole vertex stands for in the splice: the first with the same vertex index
// (and, for a textured material, the same texture-coordinate index and material). With optverts
// a hole vertex may have merged into another vertex index; then its own merged vertex is used.
std::uint32_t PolyhedronBuilder::SpliceVertex(std::size_t face_vertex, std::int32_t material) {
  if (!splice_maps_ready_) {
    for (std::size_t i = 0; i < merged_.size(); ++i) {
      const Merged& m = merged_[i];
      first_by_vertex_.emplace(m.vertex_index, static_cast<std::uint32_t>(i));
      first_by_uv_.emplace(MergeKey{m.vertex_index, m.uv_index, 0, m.material},
                           static_cast<std::uint32_t>(i));
    }
    splice_maps_ready_ = true;
  }
  const FaceVertex& fv = poly_.face_vertices[face_vertex];
  if (HasRepeat(material_)) {
    const auto it = first_by_uv_.find(MergeKey{fv.vertex_index, fv.uv_index, 0, material});
    if (it != first_by_uv_.end()) return it->second;
  } else {
    const auto it = first_by_vertex_.find(fv.vertex_index);
    if (it != first_by_vertex_.end()) return it->second;
  }
  return merged_of_[face_vertex];
}

// Each hole in turn, from its first vertex to the polygon's first vertex: the splices all go
// after position 0, so the result is built in one pass, the last hole first.
void PolyhedronBuilder::BridgeHolesQuickly(std::vector<std::uint32_t>& polygon,
                                           const std::vector<std::size_t>& holes,
                                           std::int32_t material) {
  if (polygon.empty()) return;
  std::vector<std::uint32_t> out;
  out.push_back(polygon[0]);
  for (auto it = holes.rbegin(); it != holes.rend(); ++it) {
    const Face& hole = poly_.faces[*it];
    const auto m = static_cast<std::size_t>(hole.vertex_count);
    if (m == 0) continue;
    std::size_t j = 0;
    for (std::size_t k = 0; k <= m; ++k) {
      out.push_back(SpliceVertex(hole.first + j, material));
      j = j == 0 ? m - 1 : j - 1;
    }
    out.push_back(polygon[0]);
  }
  out.insert(out.end(), polygon.begin() + 1, polygon.end());
  polygon = std::move(out);
}

float SquaredDistance(const ProtoVertex& a, const ProtoVertex& b) {
  const float dx = a.x - b.x;
  const float dy = a.y - b.y;
  const float dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}

// Joins each hole to the outer polygon by a bridge from the nearest pair of a hole vertex and a
// polygon vertex that has not ended a bridge yet.
void PolyhedronBuilder::BridgeHoles(std::vector<std::uint32_t>& polygon,
                                    const std::vector<std::size_t>& holes, std::int32_t material) {
  double hole_vertices = 0;
  for (const std::size_t h : holes) hole_vertices += poly_.faces[h].vertex_count;
  const double final_size =
      static_cast<double>(polygon.size()) + hole_vertices + 2.0 * static_cast<double>(holes.size());
  if (static_cast<double>(holes.size()) * hole_vertices * final_size > kMaxBridgeComparisons) {
    BridgeHolesQuickly(polygon, holes, material);
    return;
  }
  std::vector<bool> bridged(holes.size(), false);
  for (std::size_t round = 0; round < holes.size(); ++round) {
    float best = kBridgeStartDistance;
    std::size_t best_hole = kNone;
    std::size_t best_vertex = 0;
    std::size_t best_position = 0;
    for (std::size_t h = 0; h < holes.size(); ++h) {
      if (bridged[h]) continue;
      const Face& hole = poly_.faces[holes[h]];
      for (std::size_t j = 0; j < static_cast<std::size_t>(hole.vertex_count); ++j) {
        const ProtoVertex& hv = base_[merged_of_[hole.first + j]];
        for (std::size_t p = 0; p < polygon.size(); ++p) {
          if (bridge_end_[polygon[p]]) continue;
          const float d = SquaredDistance(hv, base_[polygon[p]]);
          if (d < best - 1e-6) {
            best = d;
            best_hole = h;
            best_vertex = j;
            best_position = p;
          }
        }
      }
    }
    if (best_hole == kNone) {
      // Nothing nearer than the start distance (a far hole, or every polygon vertex already
      // ends a bridge): bridge the next hole from its first vertex to the first position.
      for (std::size_t h = 0; h < holes.size() && best_hole == kNone; ++h) {
        if (!bridged[h]) best_hole = h;
      }
      best_vertex = 0;
      best_position = 0;
    } else {
      bridge_end_[polygon[best_position]] = true;
    }
    bridged[best_hole] = true;
    const Face& hole = poly_.faces[holes[best_hole]];
    const auto m = static_cast<std::size_t>(hole.vertex_count);
    if (m == 0 || polygon.empty()) continue;  // nothing to splice, or nothing to splice into
    std::vector<std::uint32_t> spliced;
    spliced.reserve(polygon.size() + m + 2);
    spliced.insert(spliced.end(), polygon.begin(),
                   polygon.begin() + static_cast<std::ptrdiff_t>(best_position) + 1);
    std::size_t j = best_vertex;
    for (std::size_t k = 0; k <= m; ++k) {
      spliced.push_back(SpliceVertex(hole.first + j, material));
      j = j == 0 ? m - 1 : j - 1;
    }
    spliced.push_back(polygon[best_position]);
    spliced.insert(spliced.end(), polygon.begin() + static_cast<std::ptrdiff_t>(best_position) + 1,
                   polygon.end());
    polygon = std::move(spliced);
  }
}

void PolyhedronBuilder::ProcessFaces() {
  bridge_end_.assign(merged_.size(), false);
  std::vector<std::uint32_t> polygon;
  std::vector<std::size_t> holes;
  const std::size_t faces = poly_.faces.size();
  std::size_t f = 0;
  while (f < faces) {
    // A face and the hole faces that follow it are one polygon.
    const std::size_t start = f++;
    holes.clear();
    while (f < faces && (poly_.faces[f].flags & kFaceHole) != 0) {
      if (keep_[f]) holes.push_back(f);
      ++f;
    }
    if (!keep_[start]) continue;
    const Face& face = poly_.faces[start];
    if (first_face_ || face.material_index != previous_index_) {
      first_face_ = false;
      previous_index_ = face.material_index;
      ChangeMaterial(face.material_index);
    }
    if ((options_.sign || options_.picture) && material_ != nullptr && material_->opacity == 0.0f) {
      continue;
    }
    polygon.clear();
    for (std::size_t i = static_cast<std::size_t>(face.vertex_count); i > 0; --i) {
      polygon.push_back(merged_of_[face.first + i - 1]);
    }
    if (!holes.empty()) BridgeHoles(polygon, holes, material_of_[start]);
    AddPolygon(polygon);
  }
}

std::shared_ptr<Prototype> PolyhedronBuilder::Run(std::shared_ptr<Prototype> proto) {
  build_ = Build{std::move(proto), next_serial_++, {}, kNone};
  for (std::size_t i = 0; i < poly_.materials.size(); ++i) {
    material_by_number_.emplace(poly_.materials[i].number, i);
  }
  SelectFaces();
  MergeVertices();
  MakeBaseVertices();
  ShiftTextureCoordinates();
  stamp_.assign(base_.size(), 0);
  ProcessFaces();
  Finish(build_);
  return build_.proto;
}

std::vector<std::int64_t> PolyhedronBuilder::MergeOnly() {
  SelectFaces();
  MergeVertices();
  std::vector<std::int64_t> out(poly_.face_vertices.size(), -1);
  for (std::size_t f = 0; f < poly_.faces.size(); ++f) {
    if (!keep_[f]) continue;
    const Face& face = poly_.faces[f];
    for (std::size_t i = 0; i < static_cast<std::size_t>(face.vertex_count); ++i) {
      out[face.first + i] = merged_of_[face.first + i];
    }
  }
  return out;
}

// ---- The group walk ---------------------------------------------------------------------------

struct Walk {
  const std::string& path;
  SplitSettings& split;
  const PrototypeSink& sink;
  SceneResult& result;
  bool top_seen = false;
};

bool IsVisible(const Polyhedron& poly) { return (poly.hidden & kHiddenBit) == 0; }

void VisitGroup(const Group& group, ClumpNode& parent_node, Options options, bool ancestor_visible,
                Walk& walk) {
  auto owned_node = std::make_unique<ClumpNode>();
  ClumpNode& node = *owned_node;
  ApplyGroupWords(Lower(group.name), options, walk.result.axis_alignment);
  node.collision = options.collision;
  node.opacity_fix = options.opacity_fix;

  const bool has_visible = std::any_of(group.polyhedra.begin(), group.polyhedra.end(), IsVisible);
  const bool is_top = !walk.top_seen;
  walk.top_seen = true;
  if ((is_top || !ancestor_visible) && !options.avatar) walk.result.base_rotation = true;

  bool joint_found = false;
  bool first_visible = true;
  for (const Polyhedron& poly : group.polyhedra) {
    if (!IsVisible(poly)) continue;
    const std::string name = Lower(poly.name);
    const PolyOptions poly_options =
        ApplyPolyWords(name, options, node, walk.result.axis_alignment);
    auto proto = std::make_shared<Prototype>();
    proto->name = name;
    proto->position = poly.position;
    if (options.avatar) {
      if (options.v3) {
        proto->pivot = poly.local_axes.centre;
      } else if (first_visible) {
        proto->pivot = group.local_axes.centre;
      }
      if (StartsWithGm(name) && (!joint_found || options.v3)) {
        const int joint = JointInName(name);
        if (joint != 0) {
          proto->joint_tag = joint;
          joint_found = true;
        }
      }
    }
    proto->wireframe = poly_options.wireframe;
    ClumpNode* target = &node;
    if (options.avatar && !options.v3 && !first_visible) {
      node.children.push_back(std::make_unique<ClumpNode>());
      target = node.children.back().get();
    }
    first_visible = false;
    PolyhedronBuilder builder(poly, poly_options, walk.path, walk.split, walk.sink, *target);
    walk.sink(*target, builder.Run(std::move(proto)));
    target->collision = options.collision;
  }

  parent_node.children.push_back(std::move(owned_node));
  for (const auto& child : group.children) {
    VisitGroup(*child, node, options, ancestor_visible || has_visible, walk);
  }
}

}  // namespace

std::vector<std::int64_t> MergeFaceVertices(const Polyhedron& poly, bool optverts) {
  PolyOptions options;
  options.optverts = optverts;
  SplitSettings split;
  ClumpNode node;
  const PrototypeSink sink = [](ClumpNode&, std::shared_ptr<Prototype>) {};
  const std::string path;
  PolyhedronBuilder builder(poly, options, path, split, sink, node);
  return builder.MergeOnly();
}

SceneResult ConvertTree(const Group& root, const std::string& path, SplitSettings& split,
                        const PrototypeSink& sink) {
  SceneResult result;
  result.root = std::make_unique<ClumpNode>();
  Walk walk{path, split, sink, result};
  if (root.children.empty()) {
    // Polyhedra directly under the root count only when there is no group at all.
    VisitGroup(root, *result.root, Options{}, false, walk);
  } else {
    for (const auto& group : root.children)
      VisitGroup(*group, *result.root, Options{}, false, walk);
  }
  return result;
}

}  // namespace cob
