// The geometry of a model, taken from the same reading that measures it: every vertex through
// the matrix in force (the point the box gets) with its texture coordinates, every triangle, quad
// and polygon of the clump by its vertex indices, in the material in force (colour, texture and
// mask, opacity, surface, light sampling, texture modes), the primitives as triangles, and the
// prototypes' geometry where they are instanced. A measurement that is handed no capture does
// none of this.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "boxtally/render/mesh.h"
#include "boxtally/rwx/model_record.h"

namespace rwx {

// Vertices and triangles one file may capture, its prototypes' included (about 112 MB).
// Geometry past them is left out and `cut` is set; the measurement goes on as ever.
inline constexpr std::size_t kMaxCapturedVertices = std::size_t{1} << 22;
inline constexpr std::size_t kMaxCapturedTriangles = std::size_t{1} << 22;
// Distinct materials, and bytes of the distinct texture and mask names, likewise.
inline constexpr std::size_t kMaxCapturedMaterials = std::size_t{1} << 16;
inline constexpr std::size_t kMaxCapturedNameBytes = std::size_t{1} << 20;
// Point-in-triangle tests one file may spend cutting concave polygons into triangles (about a
// tenth of a second); polygons past it are cut into fans.
inline constexpr std::size_t kMaxEarClippingWork = std::size_t{1} << 25;
// Tessellation where the script gives none: a sphere or hemisphere of density 0 or less, and a
// cylinder, cone or disc of fewer than 3 sides. Densities above the measurement's table count as
// its last one, side counts above kMaxSides as kMaxSides.
inline constexpr int kFixedDensity = 4;
inline constexpr int kFixedSides = 16;

struct Workspace;

struct GeometryCapture {
  const std::atomic<bool>* cancel = nullptr;  // set by the caller: the reading stops at a line

  // The result: the geometry of the last model the file began, in model units.
  render::Mesh mesh;
  Box box;                   // the box of the last model end that wrote, as the registry took it
  bool model_ended = false;  // a model end wrote (or skipped as huge) the model
  bool cut = false;          // past the limits: geometry after them is left out
  bool cancelled = false;    // `cancel` ended the reading

  // Working state of one file. The materials and names of the prototypes' triangles are those of
  // `mesh` too, so an instance copies its triangles as they are.
  struct Scope {
    std::vector<std::uint32_t> vertices;  // the clump's "vertex" lines, as indices into its mesh
    render::Material material_before;     // restored when the clump ends
  };
  std::vector<Scope> scopes;  // the open clumps, innermost last; scopes[0] is the file's own
  std::size_t definition_scope = 0;   // scopes.size() when the open prototype began
  render::Material material;          // of the faces that follow
  std::uint32_t material_index = 0;   // its place in mesh.materials, if `material_known`
  bool material_known = false;
  std::unordered_map<std::string, std::uint32_t> material_places;  // by MaterialKey
  std::unordered_map<std::string, std::uint32_t> name_places;      // in mesh.names
  std::size_t name_bytes = 0;
  std::vector<render::Mesh> prototypes;  // by definition index, in the prototype's own space
  std::size_t stored_vertices = 0;       // in `mesh` and `prototypes`
  std::size_t stored_triangles = 0;
  std::size_t ear_work_left = kMaxEarClippingWork;
  std::vector<std::uint32_t> face;       // the face being read, reused
  std::vector<std::uint32_t> cut_face;   // its triangles, reused
};

// Everything cleared, as at the start of a file and at "modelbegin" (`cancel` stays).
void ResetCapture(GeometryCapture& capture);

// Hooks of the reading, each called after the measurement's own handling of the line.
void CaptureModelEnd(GeometryCapture& capture, const Box& box);
// "vertex x y z", with "uv u v" after the coordinates when the line gives them.
void CaptureVertex(Workspace& workspace, std::string_view line, float x, float y, float z);
// "quad", "triangle" or "polygon" on the normalised line. A face with an index outside the
// clump's vertices, or fewer indices than it names, is left out; the others are cut into
// triangles by ear clipping (a convex face into a fan).
void CaptureFace(Workspace& workspace, std::string_view line);
void CaptureColour(GeometryCapture& capture, float red, float green, float blue);
// "texture NAME [mask MASK]" (the text after the keyword); a name starting with "null" clears both.
void CaptureTexture(GeometryCapture& capture, std::string_view arguments);
// A line the measurement skips: "surface", "ambient", "diffuse", "opacity", "lightsampling" and
// "texturemode(s)" change the material in force; other lines change nothing.
void CaptureMaterialLine(GeometryCapture& capture, std::string_view line);
void CaptureClumpBegin(GeometryCapture& capture);
void CaptureClumpEnd(Workspace& workspace);
// `was_defining`: definition mode before the line.
void CaptureProtoBegin(Workspace& workspace, bool was_defining);
void CaptureProtoEnd(Workspace& workspace, bool was_defining);
void CaptureProtoInstance(Workspace& workspace, std::string_view line);

// Primitives, with the arguments the measurement read (primitive_mesh.cpp).
void CaptureBlock(Workspace& workspace, float w, float h, float d);
void CaptureSphere(Workspace& workspace, float radius, int density, bool hemisphere);
void CaptureCylinder(Workspace& workspace, float height, float bottom_radius, float top_radius,
                     int sides);
void CaptureCone(Workspace& workspace, float height, float radius, int sides);
void CaptureDisc(Workspace& workspace, float y, float radius, int sides);

// Where primitives put their geometry: a point through the matrix in force into the open
// prototype (definition mode) or the model, and a triangle of such points. A point past the
// limits gives kNoVertex, and a triangle with one is left out.
inline constexpr std::uint32_t kNoVertex = 0xFFFFFFFF;
std::uint32_t EmitPoint(Workspace& workspace, float x, float y, float z, render::TexCoord uv = {});
void EmitTriangle(Workspace& workspace, std::uint32_t a, std::uint32_t b, std::uint32_t c);

}  // namespace rwx
