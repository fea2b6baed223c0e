#include "boxtally/rwx/geometry_capture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "boxtally/render/polygon.h"
#include "boxtally/rwx/script_reader.h"
#include "boxtally/rwx/workspace.h"

namespace rwx {

namespace {

// The mesh that points and faces go to: the open prototype's in definition mode, else the
// model's.
render::Mesh& Target(Workspace& workspace) {
  GeometryCapture& capture = *workspace.capture;
  if (!workspace.definition_mode) return capture.mesh;
  const std::size_t index = static_cast<std::size_t>(workspace.prototypes.count);
  if (capture.prototypes.size() <= index) capture.prototypes.resize(index + 1);
  return capture.prototypes[index];
}

// Once past the limits, the capture takes nothing more until the next model, so the vertex
// numbers of the clumps never go out of step with the script's.
bool Room(GeometryCapture& capture, std::size_t vertices, std::size_t triangles) {
  if (capture.cut) return false;
  if (vertices > kMaxCapturedVertices - capture.stored_vertices ||
      triangles > kMaxCapturedTriangles - capture.stored_triangles) {
    capture.cut = true;
    return false;
  }
  capture.stored_vertices += vertices;
  capture.stored_triangles += triangles;
  return true;
}

void Empty(GeometryCapture& capture, render::Mesh& mesh) {
  capture.stored_vertices -= mesh.vertices.size();
  capture.stored_triangles -= mesh.triangles.size();
  mesh.vertices.clear();
  mesh.uvs.clear();
  mesh.triangles.clear();
}

void SetMaterial(GeometryCapture& capture, const render::Material& material) {
  if (material == capture.material) return;
  capture.material = material;
  capture.material_known = false;
}

// Closes the clumps (and the prototype) opened after the first `keep` scopes; the file's own
// scope always stays.
void KeepScopes(GeometryCapture& capture, std::size_t keep) {
  keep = std::max<std::size_t>(keep, 1);
  if (capture.scopes.size() <= keep) return;
  SetMaterial(capture, capture.scopes[keep].material_before);
  capture.scopes.resize(keep);
}

std::uint32_t Channel(float value) {
  if (!(value > 0.0f)) return 0;  // NaN too
  if (value >= 1.0f) return 255;
  return static_cast<std::uint32_t>(value * 255.0f + 0.5f);
}

float Unit(float value) { return value > 0.0f ? std::min(value, 1.0f) : 0.0f; }  // NaN: 0

// The material's bytes, field by field (no padding), as the key of the table of materials.
std::string MaterialKey(const render::Material& m) {
  std::string key(26, '\0');
  char* p = key.data();
  const auto put = [&p](const void* field, std::size_t size) {
    std::memcpy(p, field, size);
    p += size;
  };
  put(&m.rgb, 4);
  put(&m.opacity, 4);
  put(&m.ambient, 4);
  put(&m.diffuse, 4);
  put(&m.light_sampling, 1);
  put(&m.texture_modes, 1);
  put(&m.texture, 4);
  put(&m.mask, 4);
  return key;
}

// The place of the material in force in the model's table, added there at its first face; false
// past kMaxCapturedMaterials.
bool PlaceMaterial(GeometryCapture& capture) {
  if (capture.material_known) return true;
  const std::string key = MaterialKey(capture.material);
  const auto found = capture.material_places.find(key);
  if (found != capture.material_places.end()) {
    capture.material_index = found->second;
  } else {
    std::vector<render::Material>& table = capture.mesh.materials;
    if (table.size() >= kMaxCapturedMaterials) {
      capture.cut = true;
      return false;
    }
    capture.material_index = static_cast<std::uint32_t>(table.size());
    table.push_back(capture.material);
    capture.material_places.emplace(key, capture.material_index);
  }
  capture.material_known = true;
  return true;
}

// The place of a texture or mask name in the model's table of names; kNoName past
// kMaxCapturedNameBytes (the capture is then cut).
std::uint32_t PlaceName(GeometryCapture& capture, std::string_view name) {
  std::string text(name);
  const auto found = capture.name_places.find(text);
  if (found != capture.name_places.end()) return found->second;
  if (name.size() > kMaxCapturedNameBytes - capture.name_bytes) {
    capture.cut = true;
    return render::kNoName;
  }
  capture.name_bytes += name.size();
  const auto place = static_cast<std::uint32_t>(capture.mesh.names.size());
  capture.mesh.names.push_back(text);
  capture.name_places.emplace(std::move(text), place);
  return place;
}

// "uv u v" after a vertex's three coordinates: the texture coordinates, else 0, 0.
render::TexCoord VertexUv(std::string_view line) {
  render::TexCoord uv;
  // Argument 4, blank by blank (the line is normalised: one blank between words).
  std::size_t at = 0;
  for (int k = 0; k < 4; ++k) {
    at = line.find(' ', at);
    if (at == std::string_view::npos) return uv;
    ++at;
  }
  const std::string_view rest = line.substr(at);
  if (rest.substr(0, 3) != "uv ") return uv;
  ParseReal(Argument(rest, 1), uv.u);
  ParseReal(Argument(rest, 2), uv.v);
  if (!std::isfinite(uv.u)) uv.u = 0.0f;
  if (!std::isfinite(uv.v)) uv.v = 0.0f;
  return uv;
}

bool StartsWith(std::string_view line, std::string_view word) {
  return line.substr(0, word.size()) == word;
}

// "texturemodes WORD...": the modes the words name, of those the renderer draws.
std::uint8_t TextureModes(std::string_view line) {
  std::uint8_t modes = 0;
  for (std::string_view rest = Argument(line, 1); !rest.empty();
       rest.remove_prefix(NextArgument(rest))) {
    const std::string_view word = NameArgument(rest);
    if (word == "lit") modes |= render::kTextureLit;
    if (word == "foreshorten") modes |= render::kTextureForeshorten;
    if (word == "filter") modes |= render::kTextureFilter;
  }
  return modes;
}

}  // namespace

void ResetCapture(GeometryCapture& capture) {
  capture.mesh.vertices.clear();
  capture.mesh.uvs.clear();
  capture.mesh.triangles.clear();
  capture.mesh.materials.clear();
  capture.mesh.names.clear();
  for (render::Mesh& prototype : capture.prototypes) {
    prototype.vertices.clear();
    prototype.uvs.clear();
    prototype.triangles.clear();
  }
  capture.box = Box{};
  capture.model_ended = false;
  capture.cut = false;
  capture.cancelled = false;
  capture.scopes.assign(1, GeometryCapture::Scope{});
  capture.definition_scope = 0;
  capture.material = render::Material{};
  capture.material_known = false;
  capture.material_places.clear();
  capture.name_places.clear();
  capture.name_bytes = 0;
  capture.stored_vertices = 0;
  capture.stored_triangles = 0;
  capture.ear_work_left = kMaxEarClippingWork;
}

void CaptureModelEnd(GeometryCapture& capture, const Box& box) {
  capture.box = box;
  capture.model_ended = true;
}

std::uint32_t EmitPoint(Workspace& workspace, float x, float y, float z, render::TexCoord uv) {
  GeometryCapture& capture = *workspace.capture;
  render::Mesh& target = Target(workspace);
  if (!Room(capture, 1, 0)) return kNoVertex;
  // The point the box gets, through the same function.
  const Point4 p = TransformPoint(Point4{x, y, z, 1.0f}, CurrentMatrix(workspace.stack));
  target.vertices.push_back({p.x, p.y, p.z});
  // Texture coordinates are kept from the first point that has some on (the points before it
  // at 0, 0).
  if (!target.uvs.empty() || uv.u != 0.0f || uv.v != 0.0f) {
    target.uvs.resize(target.vertices.size() - 1);
    target.uvs.push_back(uv);
  }
  return static_cast<std::uint32_t>(target.vertices.size() - 1);
}

void EmitTriangle(Workspace& workspace, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (a == kNoVertex || b == kNoVertex || c == kNoVertex) return;
  GeometryCapture& capture = *workspace.capture;
  render::Mesh& target = Target(workspace);
  if (!PlaceMaterial(capture) || !Room(capture, 0, 1)) return;
  target.triangles.push_back({a, b, c, capture.material_index});
}

void CaptureVertex(Workspace& workspace, std::string_view line, float x, float y, float z) {
  const std::uint32_t index = EmitPoint(workspace, x, y, z, VertexUv(line));
  if (index != kNoVertex) workspace.capture->scopes.back().vertices.push_back(index);
}

void CaptureFace(Workspace& workspace, std::string_view line) {
  GeometryCapture& capture = *workspace.capture;
  if (capture.cut || line.empty()) return;
  int count = line[0] == 'q' ? 4 : 3;
  std::string_view rest = Argument(line, 1);
  if (line[0] == 'p') {  // "polygon n i1 ... in"
    if (!ParseInteger(rest, count)) return;
    rest = Argument(line, 2);
  }
  // Every index takes at least two characters of the line: a longer count cannot be met.
  if (count < 3 || static_cast<std::size_t>(count) > line.size() / 2) return;
  const std::vector<std::uint32_t>& vertices = capture.scopes.back().vertices;
  const render::Mesh& target = Target(workspace);
  std::vector<std::uint32_t>& face = capture.face;
  face.clear();
  for (int k = 0; k < count; ++k) {
    int number = 0;
    if (!ParseInteger(rest, number) || number < 1 ||
        static_cast<std::size_t>(number) > vertices.size()) {
      return;
    }
    const std::uint32_t index = vertices[static_cast<std::size_t>(number - 1)];
    if (index >= target.vertices.size()) return;
    face.push_back(index);
    rest.remove_prefix(NextArgument(rest));
  }
  std::vector<std::uint32_t>& cut = capture.cut_face;
  cut.clear();
  render::CutPolygon(target.vertices, face, capture.ear_work_left, cut);
  for (std::size_t k = 0; k + 2 < cut.size(); k += 3) {
    EmitTriangle(workspace, cut[k], cut[k + 1], cut[k + 2]);
  }
}

void CaptureColour(GeometryCapture& capture, float red, float green, float blue) {
  render::Material m = capture.material;
  m.rgb = (Channel(red) << 16) | (Channel(green) << 8) | Channel(blue);
  SetMaterial(capture, m);
}

void CaptureTexture(GeometryCapture& capture, std::string_view arguments) {
  const TextureNames names = ReadTextureNames(arguments);
  render::Material m = capture.material;
  m.texture = m.mask = render::kNoName;
  if (!names.texture.empty() && !StartsWithNull(names.texture)) {
    m.texture = PlaceName(capture, names.texture);
    if (!names.mask.empty() && !StartsWithNull(names.mask)) m.mask = PlaceName(capture, names.mask);
  }
  SetMaterial(capture, m);
}

void CaptureMaterialLine(GeometryCapture& capture, std::string_view line) {
  render::Material m = capture.material;
  float v[3] = {m.ambient, m.diffuse, 0.0f};
  switch (line.empty() ? '\0' : line[0]) {
    case 's':
      if (!StartsWith(line, "surface")) return;
      ReadRealArguments(line, v, 2);
      m.ambient = Unit(v[0]);
      m.diffuse = Unit(v[1]);
      break;
    case 'a':
      if (!StartsWith(line, "ambient")) return;
      ReadRealArguments(line, v, 1);
      m.ambient = Unit(v[0]);
      break;
    case 'd':
      if (!StartsWith(line, "diffuse")) return;
      ReadRealArguments(line, v + 1, 1);
      m.diffuse = Unit(v[1]);
      break;
    case 'o':
      if (!StartsWith(line, "opacity")) return;
      v[0] = m.opacity;
      ReadRealArguments(line, v, 1);
      m.opacity = Unit(v[0]);
      break;
    case 'l': {
      if (!StartsWith(line, "lightsampling")) return;
      const std::string_view word = NameArgument(Argument(line, 1));
      if (word == "facet") m.light_sampling = render::LightSampling::kFacet;
      if (word == "vertex") m.light_sampling = render::LightSampling::kVertex;
      break;
    }
    case 't':
      if (!StartsWith(line, "texturemode")) return;
      m.texture_modes = TextureModes(line);
      break;
    default:
      return;
  }
  SetMaterial(capture, m);
}

void CaptureClumpBegin(GeometryCapture& capture) {
  capture.scopes.push_back({{}, capture.material});
}

void CaptureClumpEnd(Workspace& workspace) {
  GeometryCapture& capture = *workspace.capture;
  // A stray "clumpend" never closes the open prototype or the file's own scope.
  const std::size_t floor = workspace.definition_mode ? capture.definition_scope + 1 : 1;
  if (capture.scopes.size() > floor) KeepScopes(capture, capture.scopes.size() - 1);
}

void CaptureProtoBegin(Workspace& workspace, bool was_defining) {
  GeometryCapture& capture = *workspace.capture;
  // A "protobegin" inside a definition reopens the same definition.
  if (was_defining) KeepScopes(capture, capture.definition_scope);
  capture.definition_scope = capture.scopes.size();
  capture.scopes.push_back({{}, capture.material});
  SetMaterial(capture, render::Material{});
  Empty(capture, Target(workspace));
}

void CaptureProtoEnd(Workspace& workspace, bool was_defining) {
  GeometryCapture& capture = *workspace.capture;
  if (was_defining) {
    KeepScopes(capture, capture.definition_scope);
    return;
  }
  // A "protoend" that closes nothing leaves an empty definition, as the measurement does.
  const std::size_t closed = static_cast<std::size_t>(workspace.prototypes.count - 1);
  if (closed < capture.prototypes.size()) Empty(capture, capture.prototypes[closed]);
}

void CaptureProtoInstance(Workspace& workspace, std::string_view line) {
  GeometryCapture& capture = *workspace.capture;
  const int index = FindPrototype(workspace.prototypes, NameArgument(Argument(line, 1)));
  if (index < 0 || workspace.points_exhausted ||
      static_cast<std::size_t>(index) >= capture.prototypes.size()) {
    return;
  }
  // As for the box, an instance goes into the model, also inside an open definition. Its
  // triangles keep the materials they were defined with.
  const render::Mesh& prototype = capture.prototypes[static_cast<std::size_t>(index)];
  if (!Room(capture, prototype.vertices.size(), prototype.triangles.size())) return;
  render::Mesh& mesh = capture.mesh;
  const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
  if (!prototype.uvs.empty() && mesh.uvs.empty()) mesh.uvs.resize(mesh.vertices.size());
  const Matrix4& m = CurrentMatrix(workspace.stack);
  for (const render::Vec3& v : prototype.vertices) {
    const Point4 p = TransformPoint(Point4{v.x, v.y, v.z, 1.0f}, m);
    mesh.vertices.push_back({p.x, p.y, p.z});
  }
  if (!prototype.uvs.empty()) {
    mesh.uvs.insert(mesh.uvs.end(), prototype.uvs.begin(), prototype.uvs.end());
  } else if (!mesh.uvs.empty()) {
    mesh.uvs.resize(mesh.vertices.size());
  }
  for (const render::Triangle& t : prototype.triangles) {
    mesh.triangles.push_back({t.a + base, t.b + base, t.c + base, t.material});
  }
}

}  // namespace rwx
