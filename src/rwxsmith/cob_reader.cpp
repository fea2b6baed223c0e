#include "rwxsmith/cob_reader.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "rwxsmith/byte_cursor.h"
#include "rwxsmith/cob_format.h"

namespace cob {

namespace {

// Sizes of the fixed records, for checking counts against the bytes that remain.
constexpr std::size_t kVertexSize = 12;       // 3 floats
constexpr std::size_t kUvSize = 8;            // 2 floats
constexpr std::size_t kFaceMinSize = 3;       // flags byte + vertex count
constexpr std::size_t kFaceVertexSize = 8;    // vertex index + texture-coordinate index
constexpr std::size_t kExtensionMinRoom = 6;  // a material extension needs this much chunk

// Where a chunk identifier points: a group, or one of its polyhedra.
struct Location {
  Group* group = nullptr;
  std::size_t polyhedron = 0;
  bool is_polyhedron = false;
};

// Whether `a` comes before `b` in the depth-first order of the parent lookup: a group, then its
// polyhedra in order, then its child groups, each with all of its subtree.
bool Earlier(const Location& a, const Location& b) {
  const Group* ga = a.group;
  const Group* gb = b.group;
  if (ga == gb) {
    if (a.is_polyhedron != b.is_polyhedron) return !a.is_polyhedron;
    return a.polyhedron < b.polyhedron;
  }
  // Climb to the same depth; an ancestor and its own polyhedra come before its subtree.
  const Group* pa = ga;
  const Group* pb = gb;
  while (pa->depth > pb->depth) {
    if (pa->parent == gb) return false;  // b is gb itself or one of its polyhedra
    pa = pa->parent;
  }
  while (pb->depth > pa->depth) {
    if (pb->parent == ga) return true;
    pb = pb->parent;
  }
  while (pa->parent != pb->parent) {
    pa = pa->parent;
    pb = pb->parent;
  }
  return pa->index_in_parent < pb->index_in_parent;
}

// The first object in depth-first order for every chunk identifier, kept up to date as objects
// are added, so each parent lookup is one map lookup however many chunks share an identifier.
struct ParentIndex {
  Group* root = nullptr;
  std::unordered_map<std::int32_t, Location> first_by_id;
};

void AddLocation(ParentIndex& index, std::int32_t id, const Location& where) {
  const auto [it, added] = index.first_by_id.emplace(id, where);
  if (!added && Earlier(where, it->second)) it->second = where;
}

Location FindParent(const ParentIndex& index, std::int32_t id) {
  const auto found = index.first_by_id.find(id);
  if (found == index.first_by_id.end()) return Location{index.root, 0, false};
  return found->second;
}

// Short duplicate count, short length, the characters. Stored as "chars_count", cut to
// kMaxNameLength like a fixed name field would; characters after a NUL do not count.
bool ReadName(ByteCursor& cur, std::string& out) {
  std::int16_t duplicate = 0;
  std::int16_t length = 0;
  if (!ReadI16(cur, duplicate) || !ReadI16(cur, length) || length < 0) return false;
  const std::uint8_t* chars = nullptr;
  if (!ReadBytes(cur, static_cast<std::size_t>(length), chars)) return false;
  std::string name(reinterpret_cast<const char*>(chars), static_cast<std::size_t>(length));
  name.resize(std::string_view(name.c_str()).size());
  name += '_';
  name += std::to_string(duplicate);
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  out = std::move(name);
  return true;
}

bool ReadVec3(ByteCursor& cur, Vec3& v) {
  return ReadF32(cur, v.x) && ReadF32(cur, v.y) && ReadF32(cur, v.z);
}

bool ReadAxes(ByteCursor& cur, LocalAxes& axes) {
  return ReadVec3(cur, axes.centre) && ReadVec3(cur, axes.x_axis) && ReadVec3(cur, axes.y_axis) &&
         ReadVec3(cur, axes.z_axis);
}

bool ReadPosition(ByteCursor& cur, Position& position) {
  for (auto& row : position.rows) {
    for (float& value : row) {
      if (!ReadF32(cur, value)) return false;
    }
  }
  return true;
}

// A count of records of `record_size` bytes each, checked against what remains.
bool ReadCount(ByteCursor& cur, std::size_t record_size, std::size_t& count) {
  std::int32_t stored = 0;
  if (!ReadI32(cur, stored) || stored < 0) return false;
  // Divide rather than multiply: stored * record_size could wrap and pass the check.
  if (static_cast<std::size_t>(stored) > Remaining(cur) / record_size) return false;
  count = static_cast<std::size_t>(stored);
  return true;
}

bool ReadVertexList(ByteCursor& cur, std::vector<Vec3>& vertices) {
  std::size_t count = 0;
  if (!ReadCount(cur, kVertexSize, count)) return false;
  vertices.resize(count);
  for (Vec3& v : vertices) (void)ReadVec3(cur, v);  // the count check covers every read
  return true;
}

bool ReadUvList(ByteCursor& cur, std::vector<Vec2>& uvs) {
  std::size_t count = 0;
  if (!ReadCount(cur, kUvSize, count)) return false;
  uvs.resize(count);
  for (Vec2& uv : uvs) (void)(ReadF32(cur, uv.u) && ReadF32(cur, uv.v));
  return true;
}

bool ReadFaceList(ByteCursor& cur, Polyhedron& poly) {
  std::size_t count = 0;
  if (!ReadCount(cur, kFaceMinSize, count)) return false;
  poly.faces.reserve(count);
  for (std::size_t f = 0; f < count; ++f) {
    Face face;
    if (!ReadU8(cur, face.flags) || !ReadI16(cur, face.vertex_count) || face.vertex_count < 0) {
      return false;
    }
    if ((face.flags & kFaceHole) == 0 && !ReadI16(cur, face.material_index)) return false;
    const auto n = static_cast<std::size_t>(face.vertex_count);
    if (n > Remaining(cur) / kFaceVertexSize) return false;
    face.first = poly.face_vertices.size();
    for (std::size_t i = 0; i < n; ++i) {
      FaceVertex fv;
      (void)(ReadI32(cur, fv.vertex_index) && ReadI32(cur, fv.uv_index));
      poly.face_vertices.push_back(fv);
    }
    poly.faces.push_back(face);
  }
  return true;
}

// The polyhedron is already in the tree; a list that fails part-way is emptied and the
// polyhedron keeps what came before it.
bool ReadPolyhedron(ByteCursor& cur, Polyhedron& poly) {
  if (!ReadName(cur, poly.name) || !ReadAxes(cur, poly.local_axes) ||
      !ReadPosition(cur, poly.position)) {
    return false;
  }
  if (!ReadVertexList(cur, poly.vertices)) {
    poly.vertices.clear();
    return false;
  }
  if (!ReadUvList(cur, poly.uvs)) {
    poly.uvs.clear();
    return false;
  }
  if (!ReadFaceList(cur, poly)) {
    poly.faces.clear();
    poly.face_vertices.clear();
    return false;
  }
  return true;
}

bool ReadGroup(ByteCursor& cur, Group& group, bool name_only) {
  if (!ReadName(cur, group.name)) return false;
  if (name_only) return true;
  return ReadAxes(cur, group.local_axes) && ReadPosition(cur, group.position);
}

bool ReadPath(ByteCursor& cur, std::string& path) {
  std::int16_t length = 0;
  if (!ReadI16(cur, length) || length < 0) return false;
  const std::uint8_t* chars = nullptr;
  if (!ReadBytes(cur, static_cast<std::size_t>(length), chars)) return false;
  path.assign(reinterpret_cast<const char*>(chars), static_cast<std::size_t>(length));
  path.resize(std::string_view(path.c_str()).size());
  return true;
}

bool ReadMaterial(ByteCursor& cur, const ChunkHeader& chunk, Material& m) {
  std::uint8_t shader = 0;
  std::uint8_t facet = 0;
  if (!ReadI16(cur, m.number) || !ReadU8(cur, shader) || !ReadU8(cur, facet) ||
      !ReadU8(cur, m.autofacet_angle) || !ReadF32(cur, m.red) || !ReadF32(cur, m.green) ||
      !ReadF32(cur, m.blue) || !ReadF32(cur, m.opacity) || !ReadF32(cur, m.ambient) ||
      !ReadF32(cur, m.specular) || !ReadF32(cur, m.highlight) || !ReadF32(cur, m.refraction)) {
    return false;
  }
  m.shader = static_cast<char>(shader);
  m.facet = static_cast<char>(facet);
  // The declared end, even when the buffer ends sooner: reads past the buffer fail on their own.
  const std::int64_t chunk_end =
      static_cast<std::int64_t>(chunk.data_start) + static_cast<std::int64_t>(chunk.data_length);
  while (static_cast<std::int64_t>(cur.pos + kExtensionMinRoom - 1) < chunk_end) {
    std::uint8_t id = 0;
    std::uint8_t colon = 0;
    std::uint8_t flags = 0;
    if (!ReadU8(cur, id) || !ReadU8(cur, colon) || !ReadU8(cur, flags)) return false;
    switch (id) {
      case 't':
        m.texture_flags = flags;
        if (!ReadPath(cur, m.texture_path) || !ReadF32(cur, m.texture_offset_u) ||
            !ReadF32(cur, m.texture_offset_v) || !ReadF32(cur, m.texture_repeat_u) ||
            !ReadF32(cur, m.texture_repeat_v)) {
          return false;
        }
        break;
      case 'b':
        m.bump_flags = flags;
        if (!ReadPath(cur, m.bump_path)) return false;
        for (float& value : m.bump) {
          if (!ReadF32(cur, value)) return false;
        }
        break;
      case 'e':
        m.environment_flags = flags;
        if (!ReadPath(cur, m.environment_path)) return false;
        break;
      default:
        return false;
    }
  }
  return static_cast<std::int64_t>(cur.pos) <= chunk_end;
}

bool ReadVertexColours(ByteCursor& cur, Polyhedron& poly) {
  std::int32_t entries = 0;
  if (!ReadI32(cur, entries) || entries < 0 ||
      static_cast<std::size_t>(entries) > poly.faces.size()) {
    return false;
  }
  for (std::int32_t e = 0; e < entries; ++e) {
    std::int32_t face_index = 0;
    std::int32_t values = 0;
    if (!ReadI32(cur, face_index) || face_index < 0 ||
        static_cast<std::size_t>(face_index) >= poly.faces.size()) {
      return false;
    }
    if (!ReadI32(cur, values) || values < 0) return false;
    const Face& face = poly.faces[static_cast<std::size_t>(face_index)];
    for (std::int32_t j = 0; j < values; ++j) {
      std::uint32_t colour = 0;
      if (!ReadU32(cur, colour)) return false;  // each value costs 4 bytes: the loop is bounded
      if (j < face.vertex_count)
        poly.face_vertices[face.first + static_cast<std::size_t>(j)].colour = colour;
    }
  }
  return true;
}

enum class ChunkKind {
  kGroup,
  kScene,
  kMetaball,
  kPolyhedron,
  kEnd,
  kHidden,
  kMaterial,
  kColours,
  kOther
};

ChunkKind KindOf(const ChunkHeader& chunk) {
  struct Tag {
    const char* text;
    ChunkKind kind;
  };
  static constexpr Tag kTags[] = {
      {"Grou", ChunkKind::kGroup},    {"Scen", ChunkKind::kScene},
      {"MBal", ChunkKind::kMetaball}, {"PolH", ChunkKind::kPolyhedron},
      {"END ", ChunkKind::kEnd},      {"Hidn", ChunkKind::kHidden},
      {"Mat1", ChunkKind::kMaterial}, {"VCol", ChunkKind::kColours},
  };
  for (const Tag& tag : kTags) {
    if (ChunkTypeIs(chunk, tag.text)) return tag.kind;
  }
  return ChunkKind::kOther;
}

// Reads one known chunk under its parent. False stops the chunk loop.
bool ReadChunk(ByteCursor& cur, const ChunkHeader& chunk, ChunkKind kind, ParentIndex& index) {
  const Location parent = FindParent(index, chunk.parent_id);
  switch (kind) {
    case ChunkKind::kGroup:
    case ChunkKind::kScene:
    case ChunkKind::kMetaball: {
      if (parent.is_polyhedron || parent.group->depth >= kMaxGroupDepth) return true;
      parent.group->children.push_back(std::make_unique<Group>());
      Group& group = *parent.group->children.back();
      group.chunk_id = chunk.chunk_id;
      group.depth = parent.group->depth + 1;
      group.parent = parent.group;
      group.index_in_parent = parent.group->children.size() - 1;
      AddLocation(index, chunk.chunk_id, Location{&group, 0, false});
      return ReadGroup(cur, group, kind == ChunkKind::kScene);
    }
    case ChunkKind::kPolyhedron: {
      if (parent.is_polyhedron) return true;
      Group& owner = *parent.group;
      owner.polyhedra.emplace_back();
      owner.polyhedra.back().chunk_id = chunk.chunk_id;
      AddLocation(index, chunk.chunk_id, Location{&owner, owner.polyhedra.size() - 1, true});
      return ReadPolyhedron(cur, owner.polyhedra.back());
    }
    case ChunkKind::kHidden: {
      std::int16_t hidden = 0;
      if (!ReadI16(cur, hidden)) return false;
      if (parent.is_polyhedron) {
        parent.group->polyhedra[parent.polyhedron].hidden = hidden;
      } else {
        parent.group->hidden = hidden;
      }
      return true;
    }
    case ChunkKind::kMaterial: {
      if (!parent.is_polyhedron) return true;
      Polyhedron& poly = parent.group->polyhedra[parent.polyhedron];
      poly.materials.emplace_back();
      poly.materials.back().chunk_id = chunk.chunk_id;
      return ReadMaterial(cur, chunk, poly.materials.back());
    }
    case ChunkKind::kColours:
      if (!parent.is_polyhedron) return true;
      return ReadVertexColours(cur, parent.group->polyhedra[parent.polyhedron]);
    case ChunkKind::kEnd:
    case ChunkKind::kOther:
      break;
  }
  return true;
}

}  // namespace

bool AcceptHeader(const std::string& path, const std::uint8_t* data, std::size_t size) {
  switch (ClassifyHeader(data, size)) {
    case HeaderKind::kBinary:
      return true;
    case HeaderKind::kAscii:
      std::printf("%s: ASCII format COB files are not supported - resave as binary\n",
                  path.c_str());
      return false;
    case HeaderKind::kOtherFormat:
    case HeaderKind::kNotCob:
      break;
  }
  std::printf("%s: Can not read header - file probably corrupted\n", path.c_str());
  return false;
}

std::unique_ptr<Group> LoadGeometry(const std::string& path, const std::uint8_t* data,
                                    std::size_t size, SceneEnd& end) {
  end = SceneEnd{};
  if (!AcceptHeader(path, data, size)) return nullptr;
  auto root = std::make_unique<Group>();
  root->name = "Root_0";
  ParentIndex index;
  index.root = root.get();
  AddLocation(index, 0, Location{root.get(), 0, false});

  std::size_t offset = kFileHeaderSize;
  ChunkHeader chunk;
  bool damaged = false;
  bool ended = false;  // "END " was met
  std::size_t chunk_start = offset;
  while (!damaged && !ended && ReadChunkHeader(data, size, offset, chunk)) {
    chunk_start = offset;
    offset = chunk.next_offset;
    const ChunkKind kind = KindOf(chunk);
    if (kind == ChunkKind::kEnd) {
      ended = true;
      continue;
    }
    // A chunk that claims more bytes than the file holds was cut short, whatever its type.
    damaged = chunk.data_length < 0 ||
              chunk.data_available != static_cast<std::size_t>(chunk.data_length);
    if (kind != ChunkKind::kOther) {
      ByteCursor cur = MakeCursor(data, size, chunk.data_start);
      if (!ReadChunk(cur, chunk, kind, index)) damaged = true;
    }
  }
  // The walk also ends when fewer bytes than a chunk header remain: a header cut short.
  if (!damaged && !ended && offset < size) {
    damaged = true;
    chunk_start = offset;
  }
  if (damaged) {
    end.damaged = true;
    end.damaged_chunk = chunk_start;
    std::printf(
        "%s: Can not read the chunk at offset %zu whole - file probably corrupted or cut "
        "short\n",
        path.c_str(), chunk_start);
  }
  return root;
}

std::unique_ptr<Group> LoadGeometry(const std::string& path, const std::uint8_t* data,
                                    std::size_t size) {
  SceneEnd end;
  return LoadGeometry(path, data, size, end);
}

}  // namespace cob
