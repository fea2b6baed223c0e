#include "boxtally/rwx/geometry_capture.h"

#include <algorithm>

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
  mesh.triangles.clear();
}

// Closes the clumps (and the prototype) opened after the first `keep` scopes; the file's own
// scope always stays.
void KeepScopes(GeometryCapture& capture, std::size_t keep) {
  keep = std::max<std::size_t>(keep, 1);
  if (capture.scopes.size() <= keep) return;
  capture.colour = capture.scopes[keep].colour_before;
  capture.scopes.resize(keep);
}

std::uint32_t Channel(float value) {
  if (!(value > 0.0f)) return 0;  // NaN too
  if (value >= 1.0f) return 255;
  return static_cast<std::uint32_t>(value * 255.0f + 0.5f);
}

}  // namespace

void ResetCapture(GeometryCapture& capture) {
  capture.mesh.vertices.clear();
  capture.mesh.triangles.clear();
  for (render::Mesh& prototype : capture.prototypes) {
    prototype.vertices.clear();
    prototype.triangles.clear();
  }
  capture.box = Box{};
  capture.model_ended = false;
  capture.cut = false;
  capture.cancelled = false;
  capture.scopes.assign(1, GeometryCapture::Scope{});
  capture.definition_scope = 0;
  capture.colour = render::kGrey;
  capture.stored_vertices = 0;
  capture.stored_triangles = 0;
}

void CaptureModelEnd(GeometryCapture& capture, const Box& box) {
  capture.box = box;
  capture.model_ended = true;
}

std::uint32_t EmitPoint(Workspace& workspace, float x, float y, float z) {
  GeometryCapture& capture = *workspace.capture;
  render::Mesh& target = Target(workspace);
  if (!Room(capture, 1, 0)) return kNoVertex;
  // The point the box gets, through the same function.
  const Point4 p = TransformPoint(Point4{x, y, z, 1.0f}, CurrentMatrix(workspace.stack));
  target.vertices.push_back({p.x, p.y, p.z});
  return static_cast<std::uint32_t>(target.vertices.size() - 1);
}

void EmitTriangle(Workspace& workspace, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (a == kNoVertex || b == kNoVertex || c == kNoVertex) return;
  GeometryCapture& capture = *workspace.capture;
  render::Mesh& target = Target(workspace);
  if (!Room(capture, 0, 1)) return;
  target.triangles.push_back({a, b, c, capture.colour});
}

void CaptureVertex(Workspace& workspace, float x, float y, float z) {
  const std::uint32_t index = EmitPoint(workspace, x, y, z);
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
  const std::size_t target_size = Target(workspace).vertices.size();
  std::vector<std::uint32_t>& face = capture.face;
  face.clear();
  for (int k = 0; k < count; ++k) {
    int number = 0;
    if (!ParseInteger(rest, number) || number < 1 ||
        static_cast<std::size_t>(number) > vertices.size()) {
      return;
    }
    const std::uint32_t index = vertices[static_cast<std::size_t>(number - 1)];
    if (index >= target_size) return;
    face.push_back(index);
    rest.remove_prefix(NextArgument(rest));
  }
  for (std::size_t k = 1; k + 1 < face.size(); ++k) {
    EmitTriangle(workspace, face[0], face[k], face[k + 1]);
  }
}

void CaptureColour(GeometryCapture& capture, float red, float green, float blue) {
  capture.colour = (Channel(red) << 16) | (Channel(green) << 8) | Channel(blue);
}

void CaptureClumpBegin(GeometryCapture& capture) {
  capture.scopes.push_back({{}, capture.colour});
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
  capture.scopes.push_back({{}, capture.colour});
  capture.colour = render::kGrey;
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
  // As for the box, an instance goes into the model, also inside an open definition.
  const render::Mesh& prototype = capture.prototypes[static_cast<std::size_t>(index)];
  if (!Room(capture, prototype.vertices.size(), prototype.triangles.size())) return;
  render::Mesh& mesh = capture.mesh;
  const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
  const Matrix4& m = CurrentMatrix(workspace.stack);
  for (const render::Vec3& v : prototype.vertices) {
    const Point4 p = TransformPoint(Point4{v.x, v.y, v.z, 1.0f}, m);
    mesh.vertices.push_back({p.x, p.y, p.z});
  }
  for (const render::Triangle& t : prototype.triangles) {
    mesh.triangles.push_back({t.a + base, t.b + base, t.c + base, t.rgb});
  }
}

}  // namespace rwx
