// Assembles binary COB files for the converter's tests: the file header, chunk headers and the
// data of Grou, PolH, Mat1 (with its extensions), VCol, Hidn and Chan chunks, so each rule gets a
// small, readable fixture.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace cobtest {

// Little-endian bytes, appended field by field.
struct Bytes {
  std::vector<std::uint8_t> data;

  Bytes& U8(std::uint8_t v) {
    data.push_back(v);
    return *this;
  }
  Bytes& I16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    data.push_back(static_cast<std::uint8_t>(u & 0xFF));
    data.push_back(static_cast<std::uint8_t>(u >> 8));
    return *this;
  }
  Bytes& I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
    return *this;
  }
  Bytes& U32(std::uint32_t v) { return I32(static_cast<std::int32_t>(v)); }
  Bytes& F32(float v) {
    std::uint32_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return U32(u);
  }
  Bytes& Raw(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Append(const Bytes& other) {
    data.insert(data.end(), other.data.begin(), other.data.end());
    return *this;
  }
  // Name field: duplicate count, length, characters.
  Bytes& Name(const std::string& name, std::int16_t duplicate = 0) {
    return I16(duplicate).I16(static_cast<std::int16_t>(name.size())).Raw(name);
  }
};

struct V3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;
};

// Local axes with the given centre and unit axes.
inline Bytes Axes(V3 centre = {}) {
  Bytes b;
  b.F32(centre.x).F32(centre.y).F32(centre.z);
  b.F32(1).F32(0).F32(0).F32(0).F32(1).F32(0).F32(0).F32(0).F32(1);
  return b;
}

// Current position: identity rotation and the given translation, row by row.
inline Bytes PositionRows(V3 t = {}) {
  Bytes b;
  b.F32(1).F32(0).F32(0).F32(t.x);
  b.F32(0).F32(1).F32(0).F32(t.y);
  b.F32(0).F32(0).F32(1).F32(t.z);
  return b;
}

inline Bytes GroupData(const std::string& name, V3 centre = {}, std::int16_t duplicate = 0) {
  Bytes b;
  b.Name(name, duplicate).Append(Axes(centre)).Append(PositionRows());
  return b;
}

struct FaceDef {
  std::vector<std::pair<std::int32_t, std::int32_t>> vertices;  // (vertex index, uv index)
  std::int16_t material = 0;
  std::uint8_t flags = 0;  // 8: hole (no material index stored)
};

// A face whose uv index equals its vertex index at every corner.
inline FaceDef Face(std::vector<std::int32_t> indices, std::int16_t material = 0) {
  FaceDef f;
  for (const std::int32_t i : indices) f.vertices.emplace_back(i, i);
  f.material = material;
  return f;
}

inline FaceDef Hole(std::vector<std::int32_t> indices) {
  FaceDef f = Face(std::move(indices));
  f.flags = 8;
  return f;
}

struct PolyDef {
  std::string name = "Poly";
  std::int16_t duplicate = 0;
  V3 centre;
  V3 translation;
  std::vector<V3> vertices;
  std::vector<std::pair<float, float>> uvs;
  std::vector<FaceDef> faces;
};

inline Bytes PolyData(const PolyDef& p) {
  Bytes b;
  b.Name(p.name, p.duplicate).Append(Axes(p.centre)).Append(PositionRows(p.translation));
  b.I32(static_cast<std::int32_t>(p.vertices.size()));
  for (const V3& v : p.vertices) b.F32(v.x).F32(v.y).F32(v.z);
  b.I32(static_cast<std::int32_t>(p.uvs.size()));
  for (const auto& [u, v] : p.uvs) b.F32(u).F32(v);
  b.I32(static_cast<std::int32_t>(p.faces.size()));
  for (const FaceDef& f : p.faces) {
    b.U8(f.flags).I16(static_cast<std::int16_t>(f.vertices.size()));
    if ((f.flags & 8) == 0) b.I16(f.material);
    for (const auto& [vi, ti] : f.vertices) b.I32(vi).I32(ti);
  }
  return b;
}

struct MatDef {
  std::int16_t number = 0;
  char shader = 'p';  // 'f' flat (unlit)
  char facet = 'f';
  float red = 1.0f, green = 1.0f, blue = 1.0f;
  float opacity = 1.0f;
  float ambient = 0.1f;
  float highlight = 0.0f;
  std::string texture;  // empty: no texture extension
  std::uint8_t texture_flags = 0;
  float offset_u = 0.0f, offset_v = 0.0f, repeat_u = 1.0f, repeat_v = 1.0f;
  std::string extra_extensions;  // raw bytes appended after the texture extension
};

inline Bytes MatData(const MatDef& m) {
  Bytes b;
  b.I16(m.number).U8(static_cast<std::uint8_t>(m.shader)).U8(static_cast<std::uint8_t>(m.facet));
  b.U8(30);  // auto-facet angle
  b.F32(m.red).F32(m.green).F32(m.blue).F32(m.opacity).F32(m.ambient).F32(0.5f).F32(m.highlight);
  b.F32(1.0f);  // refraction
  if (!m.texture.empty()) {
    b.U8('t').U8(':').U8(m.texture_flags).I16(static_cast<std::int16_t>(m.texture.size()));
    b.Raw(m.texture).F32(m.offset_u).F32(m.offset_v).F32(m.repeat_u).F32(m.repeat_v);
  }
  b.Raw(m.extra_extensions);
  return b;
}

// A Mat1 extension as raw bytes for MatDef::extra_extensions: identifier, ':', flags, path
// length, path, then the floats the identifier carries (a texture 't' offsets 0 0 and repeats
// 1 1, a bump map 'b' those and an amplitude of 1, any other none).
inline std::string Extension(char identifier, const std::string& path, std::uint8_t flags = 0) {
  Bytes b;
  b.U8(static_cast<std::uint8_t>(identifier)).U8(':').U8(flags);
  b.I16(static_cast<std::int16_t>(path.size())).Raw(path);
  if (identifier == 't' || identifier == 'b') b.F32(0).F32(0).F32(1).F32(1);
  if (identifier == 'b') b.F32(1);
  return std::string(b.data.begin(), b.data.end());
}

// VCol data: per entry a face index and its packed colours.
inline Bytes VColData(
    const std::vector<std::pair<std::int32_t, std::vector<std::uint32_t>>>& entries) {
  Bytes b;
  b.I32(static_cast<std::int32_t>(entries.size()));
  for (const auto& [face, colours] : entries) {
    b.I32(face).I32(static_cast<std::int32_t>(colours.size()));
    for (const std::uint32_t c : colours) b.U32(c);
  }
  return b;
}

// Chan data: an animation set name, the channel name, two unread bytes, the keyframe count
// (`declared`, or the number of keys when negative), then per key {frame, values...} the frame,
// 16 unread bytes (0xAB, to catch a misplaced read) and the values: four make a 36-byte rotate
// keyframe, three a 32-byte move keyframe.
inline Bytes ChanData(const std::string& name, const std::vector<std::vector<float>>& keys,
                      int declared = -1) {
  Bytes b;
  b.I16(13).Raw("AnimationSet0").I16(static_cast<std::int16_t>(name.size())).Raw(name);
  b.U8(1).U8(0).I16(
      static_cast<std::int16_t>(declared < 0 ? static_cast<int>(keys.size()) : declared));
  for (const std::vector<float>& key : keys) {
    b.F32(key.at(0));
    for (int i = 0; i < 16; ++i) b.U8(0xAB);
    for (std::size_t i = 1; i < key.size(); ++i) b.F32(key[i]);
  }
  return b;
}

// A whole file: header, then chunks as added.
class CobFile {
 public:
  explicit CobFile(char format = 'B') {
    std::string header = "Caligari V00.01";
    header += format;
    header += "LH";
    header.resize(32, ' ');
    bytes_.Raw(header);
  }

  // A chunk whose declared length is its data's size, plus `extra_length` (which may be negative).
  CobFile& Chunk(const char* type, std::int32_t id, std::int32_t parent, const Bytes& data,
                 std::int32_t extra_length = 0) {
    bytes_.Raw(std::string(type, 4)).I16(0).I16(1).I32(id).I32(parent);
    bytes_.I32(static_cast<std::int32_t>(data.data.size()) + extra_length).Append(data);
    return *this;
  }
  CobFile& Group(std::int32_t id, std::int32_t parent, const std::string& name, V3 centre = {}) {
    return Chunk("Grou", id, parent, GroupData(name, centre));
  }
  CobFile& Poly(std::int32_t id, std::int32_t parent, const PolyDef& def) {
    return Chunk("PolH", id, parent, PolyData(def));
  }
  CobFile& Mat(std::int32_t id, std::int32_t parent, const MatDef& def) {
    return Chunk("Mat1", id, parent, MatData(def));
  }
  CobFile& Hidden(std::int32_t parent, std::int16_t word) {
    Bytes b;
    b.I16(word);
    return Chunk("Hidn", 0, parent, b);
  }
  CobFile& End() { return Chunk("END ", 0, 0, Bytes{}); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_.data; }

 private:
  Bytes bytes_;
};

// A triangle (0,0,0) (1,0,0) (0,1,0) with one face on material 0.
inline PolyDef Triangle(const std::string& name) {
  PolyDef p;
  p.name = name;
  p.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  p.uvs = {{0, 0}, {1, 0}, {0, 1}};
  p.faces = {Face({0, 1, 2})};
  return p;
}

}  // namespace cobtest
