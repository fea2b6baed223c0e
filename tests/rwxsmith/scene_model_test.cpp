#include "rwxsmith/scene_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "cob_test_builder.h"
#include "rwxsmith/cob_reader.h"

namespace {

using cobtest::CobFile;

struct Converted {
  std::unique_ptr<cob::Group> tree;
  cob::SceneResult scene;
  std::vector<std::shared_ptr<cob::Prototype>> prototypes;  // in the order they were finished
  std::string console;
};

Converted Convert(const CobFile& file) {
  Converted c;
  testing::internal::CaptureStdout();
  c.tree = cob::LoadGeometry("s.cob", file.bytes().data(), file.bytes().size());
  cob::SplitSettings split;
  if (c.tree != nullptr) {
    c.scene = cob::ConvertTree(*c.tree, "s.cob", split,
                               [&](cob::ClumpNode& node, std::shared_ptr<cob::Prototype> proto) {
                                 node.instances.push_back(proto);
                                 c.prototypes.push_back(proto);
                               });
  }
  c.console = testing::internal::GetCapturedStdout();
  return c;
}

// One group holding one polyhedron with the given materials.
CobFile OnePolyhedron(const cobtest::PolyDef& poly, const std::vector<cobtest::MatDef>& materials,
                      const std::string& group = "G") {
  CobFile file;
  file.Group(10, 0, group).Poly(20, 10, poly);
  int id = 30;
  for (const cobtest::MatDef& m : materials) file.Mat(id++, 20, m);
  return file;
}

cobtest::MatDef Textured(float repeat_u = 1.0f, float repeat_v = 1.0f) {
  cobtest::MatDef m;
  m.texture = "wood.bmp";
  m.repeat_u = repeat_u;
  m.repeat_v = repeat_v;
  return m;
}

// Two triangles sharing the edge 1-2: (0 1 2) and (2 1 3).
cobtest::PolyDef TwoTriangles() {
  cobtest::PolyDef p;
  p.name = "Pair";
  p.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
  p.uvs = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0.5f, 0.5f}};
  p.faces = {cobtest::Face({0, 1, 2}), cobtest::Face({2, 1, 3})};
  return p;
}

TEST(SceneMerge, SharesAVertexOnlyWhenEverythingMatches) {
  struct Case {
    const char* what;
    std::int32_t second_face_uv_of_vertex_1;
    std::int16_t second_face_material;
    std::size_t vertices;
  };
  const Case cases[] = {
      {"same vertex, uv, colour and material", 1, 0, 4},
      {"other texture-coordinate index", 4, 0, 5},
      {"other material: every corner of the second face is new", 1, 1, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cobtest::PolyDef p = TwoTriangles();
    p.faces[1].vertices[1].second = c.second_face_uv_of_vertex_1;
    p.faces[1].material = c.second_face_material;
    cobtest::MatDef other;
    other.number = 1;
    const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}, other}));
    std::size_t vertices = 0;
    for (const auto& proto : conv.prototypes) vertices += proto->vertices.size();
    EXPECT_EQ(vertices, c.vertices);
  }
}

TEST(SceneMerge, VertexColoursKeepVerticesApart) {
  CobFile file = OnePolyhedron(TwoTriangles(), {cobtest::MatDef{}});
  // Vertex 1 of the second face (COB vertex 1) gets a colour the first face's corner lacks.
  file.Chunk("VCol", 40, 20, cobtest::VColData({{1, {0, 0x00FF8040}}}));
  const Converted conv = Convert(file);
  ASSERT_EQ(conv.prototypes.size(), 1u);
  const cob::Prototype& proto = *conv.prototypes[0];
  ASSERT_EQ(proto.vertices.size(), 5u);
  EXPECT_TRUE(proto.prelit);
  // Merged in order: the first face's three corners, then the coloured copy of vertex 1.
  EXPECT_EQ(proto.vertices[3].red, 0x40);
  EXPECT_EQ(proto.vertices[3].green, 0x80);
  EXPECT_EQ(proto.vertices[3].blue, 0xFF);
  EXPECT_EQ(proto.vertices[1].red, 0);
}

TEST(SceneMerge, OptvertsMergesDistinctVerticesAtOnePlace) {
  cobtest::PolyDef p = TwoTriangles();
  p.vertices.push_back({1.0f + 0.5e-6f, 0, 0});  // vertex 4: where vertex 1 is, within 1e-6
  p.faces[1].vertices[1] = {4, 1};               // same texture-coordinate index as vertex 1
  const CobFile file = OnePolyhedron(p, {});
  const Converted conv = Convert(file);
  const cob::Polyhedron& read = conv.tree->children.at(0)->polyhedra.at(0);
  EXPECT_EQ(cob::MergeFaceVertices(read, false), (std::vector<std::int64_t>{0, 1, 2, 2, 3, 4}));
  EXPECT_EQ(cob::MergeFaceVertices(read, true), (std::vector<std::int64_t>{0, 1, 2, 2, 1, 3}));
  // Another texture-coordinate index keeps them apart even with optverts.
  cobtest::PolyDef q = p;
  q.faces[1].vertices[1] = {4, 4};
  const Converted other = Convert(OnePolyhedron(q, {}));
  EXPECT_EQ(cob::MergeFaceVertices(other.tree->children.at(0)->polyhedra.at(0), true),
            (std::vector<std::int64_t>{0, 1, 2, 2, 3, 4}));
}

// The rule as stated, one comparison after another, to check the hashed merging against.
std::vector<std::int64_t> MergeByScanning(const cob::Polyhedron& poly, bool optverts) {
  struct M {
    std::int32_t vi, ti;
    std::uint32_t colour;
    std::int32_t material;
    cob::Vec3 p;
  };
  std::vector<M> merged;
  std::vector<std::int64_t> out(poly.face_vertices.size(), -1);
  const auto materials = static_cast<std::int32_t>(poly.materials.size());
  std::int32_t material = 0;
  for (std::size_t f = 0; f < poly.faces.size(); ++f) {
    const cob::Face& face = poly.faces[f];
    if (f == 0 || (face.flags & 8) == 0) {
      material = face.material_index;
      if (material < 0 || material > materials) material = 0;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(face.vertex_count); ++i) {
      const cob::FaceVertex& fv = poly.face_vertices[face.first + i];
      const cob::Vec3& p = poly.vertices[static_cast<std::size_t>(fv.vertex_index)];
      std::int64_t found = -1;
      for (std::size_t m = 0; m < merged.size() && found < 0; ++m) {
        const M& c = merged[m];
        const bool same = c.vi == fv.vertex_index && c.ti == fv.uv_index && c.colour == fv.colour &&
                          c.material == material;
        const bool near = optverts && c.ti == fv.uv_index && std::fabs(c.p.x - p.x) <= 1e-6 &&
                          std::fabs(c.p.y - p.y) <= 1e-6 && std::fabs(c.p.z - p.z) <= 1e-6;
        if (same || near) found = static_cast<std::int64_t>(m);
      }
      if (found < 0) {
        found = static_cast<std::int64_t>(merged.size());
        merged.push_back(M{fv.vertex_index, fv.uv_index, fv.colour, material, p});
      }
      out[face.first + i] = found;
    }
  }
  return out;
}

TEST(SceneMerge, HashedMergingMatchesTheFirstMatchRule) {
  // Positions crowd a few spots, a fraction of 1e-6 apart, near cell borders and beyond the
  // grid's range, so chains (a near b near c, a not near c) and ties occur often.
  std::mt19937 rng(12345);
  const float spots[] = {0.0f, 1e-6f, -3e-6f, 0.5f, 31.999998f, 32.0f, 100.0f, -2048.5f};
  std::uniform_int_distribution<int> spot(0, 7);
  std::uniform_int_distribution<int> jitter(-3, 3);
  std::uniform_int_distribution<int> small(0, 3);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    cob::Polyhedron poly;
    for (int v = 0; v < 60; ++v) {
      auto coord = [&] { return spots[spot(rng)] + static_cast<float>(jitter(rng)) * 0.45e-6f; };
      poly.vertices.push_back(cob::Vec3{coord(), coord(), coord()});
    }
    poly.materials.resize(2);
    for (int f = 0; f < 80; ++f) {
      cob::Face face;
      face.flags = (f > 0 && small(rng) == 0) ? 8 : 0;
      face.material_index = static_cast<std::int16_t>(small(rng));
      face.vertex_count = 3;
      face.first = poly.face_vertices.size();
      for (int i = 0; i < 3; ++i) {
        cob::FaceVertex fv;
        fv.vertex_index = static_cast<std::int32_t>(rng() % poly.vertices.size());
        fv.uv_index = small(rng);
        fv.colour = small(rng) == 0 ? 0x10u : 0u;
        poly.face_vertices.push_back(fv);
      }
      poly.faces.push_back(face);
    }
    EXPECT_EQ(cob::MergeFaceVertices(poly, false), MergeByScanning(poly, false));
    EXPECT_EQ(cob::MergeFaceVertices(poly, true), MergeByScanning(poly, true));
  }
}

TEST(SceneTexture, MapsThroughRepeatAndOffsetThenShiftsNegativeOnesUp) {
  cobtest::PolyDef p = TwoTriangles();
  p.uvs = {{0.25f, 0.25f}, {0.25f, 0.25f}, {0.25f, 0.25f}, {0.25f, 0.25f}};
  const Converted plain = Convert(OnePolyhedron(p, {Textured(2, 2)}));
  ASSERT_EQ(plain.prototypes.size(), 1u);
  EXPECT_TRUE(plain.prototypes[0]->has_uv);
  EXPECT_EQ(plain.prototypes[0]->vertices[0].u, 0.5f);
  EXPECT_EQ(plain.prototypes[0]->vertices[0].v, 1.5f);

  // u' = -0.75 for the first vertex moves every u up by one.
  cobtest::MatDef offset = Textured(1, 1);
  offset.offset_u = -0.75f;
  const Converted shifted = Convert(OnePolyhedron(TwoTriangles(), {offset}));
  const cob::Prototype& proto = *shifted.prototypes.at(0);
  EXPECT_EQ(proto.vertices[0].u, 0.25f);  // 0 * 1 - 0.75 + 1
  EXPECT_EQ(proto.vertices[1].u, 1.25f);  // 1 * 1 - 0.75 + 1
  EXPECT_EQ(proto.vertices[2].v, 0.0f);   // (1 - 1) * 1: v needs no shift
}

TEST(SceneTexture, MissingOrBadTextureCoordinatesGiveZero) {
  struct Case {
    const char* what;
    std::vector<std::pair<float, float>> uvs;
    std::int32_t uv_of_first_corner;
  };
  const Case cases[] = {
      {"no texture-coordinate list", {}, 0},
      {"index past the list", {{0.5f, 0.5f}}, 7},
      {"negative index", {{0.5f, 0.5f}}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cobtest::PolyDef p = cobtest::Triangle("T");
    p.uvs = c.uvs;
    p.faces[0].vertices[0].second = c.uv_of_first_corner;
    p.faces[0].vertices[1].second = 0;
    p.faces[0].vertices[2].second = 0;
    const Converted conv = Convert(OnePolyhedron(p, {Textured(2, 2)}));
    const cob::Prototype& proto = *conv.prototypes.at(0);
    ASSERT_EQ(proto.vertices.size(), 3u);
    EXPECT_EQ(proto.vertices[0].u, 0.0f);
    EXPECT_EQ(proto.vertices[0].v, 0.0f);
  }
}

TEST(SceneFaces, FacesWithBadVertexIndicesAreDropped) {
  cobtest::PolyDef p;
  p.name = "Drop";
  p.vertices = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}};
  p.faces = {
      cobtest::Face({0, 1, 99, 3}),  // bad: dropped with the hole that follows it
      cobtest::Hole({4, 5, 6}),     cobtest::Face({0, 1, 2}),
      cobtest::Hole({4, 5, -1}),  // bad hole: dropped alone
      cobtest::Face({0, 2, 3}),
  };
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 2u);
  EXPECT_EQ(proto.polygons[0].count, 3u);
  EXPECT_EQ(proto.polygons[1].count, 3u);
  EXPECT_EQ(proto.vertices.size(), 4u);
}

TEST(SceneFaces, HoleBecomesABridgedPolygon) {
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0},
                {1, 1, 0}, {3, 1, 0},  {3, 3, 0},   {1, 3, 0}};
  p.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Hole({4, 5, 6, 7})};
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 1u);
  const std::vector<std::uint32_t> expected = {3, 2, 1, 0, 4, 7, 6, 5, 4, 0};
  EXPECT_EQ(proto.polygon_indices, expected);
}

TEST(SceneFaces, SecondHoleMayBridgeToTheFirst) {
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {1, 1, 0},
                {2, 1, 0}, {2, 2, 0},  {1, 3, 0},   {2, 3, 0},  {2, 4, 0}};
  p.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Hole({4, 5, 6}), cobtest::Hole({7, 8, 9})};
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 1u);
  // Round one: vertex 4 to corner 0 (distance 2) gives 3 2 1 0 [4 6 5 4] 0. Round two: the
  // first hole's vertices are polygon vertices now, and vertex 8 (2,3) is nearest to 6 (2,2).
  const std::vector<std::uint32_t> expected = {3, 2, 1, 0, 4, 6, 8, 7, 9, 8, 6, 5, 4, 0};
  EXPECT_EQ(proto.polygon_indices, expected);
}

TEST(SceneFaces, BridgeEndsAreNotReused) {
  // The second hole is nearest to corner 0, which already ends the first bridge.
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0},  {1, 1, 0},
                {2, 1, 0}, {2, 2, 0},  {-1, -2, 0}, {-2, -2, 0}, {-2, -3, 0}};
  p.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Hole({4, 5, 6}), cobtest::Hole({7, 8, 9})};
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 1u);
  // Vertex 7 (-1,-2) is 5 from corner 0 but 13 from vertex 4 (1,1), the nearest free one.
  const std::vector<std::uint32_t> expected = {3, 2, 1, 0, 4, 7, 9, 8, 7, 4, 6, 5, 4, 0};
  EXPECT_EQ(proto.polygon_indices, expected);
}

TEST(SceneFaces, FarHoleIsStillSpliced) {
  // Every pair lies further apart than the start distance of the search.
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5000, 0, 0}, {5001, 0, 0}, {5000, 1, 0}};
  p.faces = {cobtest::Face({0, 1, 2}), cobtest::Hole({3, 4, 5})};
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 1u);
  EXPECT_EQ(proto.polygons[0].count, 3u + 3u + 2u);
}

TEST(SceneFaces, FaceWithCountlessHolesIsBridgedInOnePass) {
  // 600 holes: the nearest-pair search would compare billions of pairs.
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {1000, 0, 0}, {0, 1000, 0}};
  p.faces = {cobtest::Face({0, 1, 2})};
  for (int h = 0; h < 600; ++h) {
    const auto base = static_cast<std::int32_t>(p.vertices.size());
    const float x = 1.0f + static_cast<float>(h);
    p.vertices.push_back({x, 1, 0});
    p.vertices.push_back({x + 0.5f, 1, 0});
    p.vertices.push_back({x, 2, 0});
    p.faces.push_back(cobtest::Hole({base, base + 1, base + 2}));
  }
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  const cob::Prototype& proto = *conv.prototypes.at(0);
  ASSERT_EQ(proto.polygons.size(), 1u);
  ASSERT_EQ(proto.polygon_indices.size(), 3u + 600u * 5u);
  // Outer polygon 2 1 0: the last hole comes first after vertex 2, from its first vertex.
  const std::uint32_t last = 3 + 599 * 3;
  const std::vector<std::uint32_t> head = {2, last, last + 2, last + 1, last, 2};
  EXPECT_EQ(
      std::vector<std::uint32_t>(proto.polygon_indices.begin(), proto.polygon_indices.begin() + 6),
      head);
  EXPECT_EQ(proto.polygon_indices[proto.polygon_indices.size() - 2], 1u);
}

TEST(SceneSplit, OnlyPrototypeWideChangesStartAContinuation) {
  struct Case {
    const char* what;
    cobtest::MatDef second;
    std::size_t prototypes;
  };
  cobtest::MatDef colour;
  colour.red = 0.2f;
  cobtest::MatDef transparent;
  transparent.opacity = 0.5f;
  cobtest::MatDef unlit;
  unlit.shader = 'f';
  cobtest::MatDef masked = Textured();
  masked.texture_flags = 1;
  const Case cases[] = {
      {"colour only", colour, 1},
      {"opacity", transparent, 2},
      {"lit to flat", unlit, 2},
      {"masked texture", masked, 2},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.what);
    cobtest::PolyDef p = TwoTriangles();
    p.faces[1].material = 1;
    c.second.number = 1;
    const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}, c.second}));
    ASSERT_EQ(conv.prototypes.size(), c.prototypes);
    if (c.prototypes == 2) {
      EXPECT_FALSE(conv.prototypes[0]->continuation);
      EXPECT_TRUE(conv.prototypes[1]->continuation);
      EXPECT_EQ(conv.prototypes[0]->polygons.size(), 1u);
      EXPECT_EQ(conv.prototypes[1]->polygons.size(), 1u);
      EXPECT_EQ(conv.prototypes[0]->vertices.size(), 3u);  // compacted to what each one uses
      EXPECT_EQ(conv.prototypes[1]->vertices.size(), 3u);
    }
  }
}

TEST(SceneSurface, AutoFacetTurnsSmoothAboveFiftyVertices) {
  for (const int n : {50, 51}) {
    SCOPED_TRACE(n);
    cobtest::PolyDef p;
    std::vector<std::int32_t> ring;
    for (int i = 0; i < n; ++i) {
      const double a = 6.283185307179586 * i / n;
      p.vertices.push_back({static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)), 0});
      ring.push_back(i);
    }
    p.faces = {cobtest::Face(ring)};
    cobtest::MatDef m;
    m.facet = 'a';
    const Converted conv = Convert(OnePolyhedron(p, {m}));
    const cob::Prototype& proto = *conv.prototypes.at(0);
    EXPECT_EQ(proto.surfaces.at(0).light_sampling, n > 50 ? 1 : 0);
  }
}

TEST(SceneSurface, MaterialFieldsBecomeSurfaceBytes) {
  cobtest::MatDef m;
  m.red = 1.0f;
  m.green = 0.5f;
  m.blue = 2.0f;  // out of range: kept at 255 rather than wrapping
  m.opacity = -0.25f;
  m.highlight = 0.25f;
  m.ambient = 0.3f;
  m.texture = "C:\\maps\\brick.old.bmp";
  m.texture_flags = 1;
  const Converted conv = Convert(OnePolyhedron(cobtest::Triangle("T"), {m}));
  const cob::Surface& s = conv.prototypes.at(0)->surfaces.at(0);
  EXPECT_EQ(s.red, 255);
  EXPECT_EQ(s.green, 127);
  EXPECT_EQ(s.blue, 255);
  EXPECT_EQ(s.opacity, 0);
  EXPECT_EQ(s.diffuse, 0.75f);
  EXPECT_EQ(s.ambient, 0.3f);
  EXPECT_EQ(s.texture, "brick");
  EXPECT_EQ(s.mask, "brickm");
}

TEST(SceneSurface, MissingMaterialWarnsAndKeepsTheStartingSurface) {
  cobtest::PolyDef p = cobtest::Triangle("Lonely");
  p.faces[0].material = 3;
  const Converted conv = Convert(OnePolyhedron(p, {cobtest::MatDef{}}));
  EXPECT_EQ(conv.console, "s.cob: Warning: 'Lonely_0' chunk has no material\n");
  const cob::Surface& s = conv.prototypes.at(0)->surfaces.at(0);
  EXPECT_EQ(s.red, 255);
  EXPECT_EQ(s.green, 0);
  EXPECT_EQ(s.opacity, 255);
}

TEST(SceneWalk, RootPolyhedraCountOnlyWithoutGroups) {
  CobFile alone;
  alone.Poly(20, 0, cobtest::Triangle("Alone"));
  const Converted a = Convert(alone);
  ASSERT_EQ(a.prototypes.size(), 1u);
  EXPECT_EQ(a.prototypes[0]->name, "alone_0");
  EXPECT_TRUE(a.scene.base_rotation);

  CobFile with_group;
  with_group.Poly(20, 0, cobtest::Triangle("Ignored")).Group(10, 0, "G");
  with_group.Poly(21, 10, cobtest::Triangle("Kept"));
  const Converted b = Convert(with_group);
  ASSERT_EQ(b.prototypes.size(), 1u);
  EXPECT_EQ(b.prototypes[0]->name, "kept_0");
}

TEST(SceneWalk, HiddenPolyhedraAreSkipped) {
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("Shown"));
  file.Poly(21, 10, cobtest::Triangle("Hidden")).Hidden(21, 8);
  const Converted conv = Convert(file);
  ASSERT_EQ(conv.prototypes.size(), 1u);
  EXPECT_EQ(conv.prototypes[0]->name, "shown_0");
}

TEST(SceneWalk, NameWordsSetOptions) {
  struct Case {
    const char* group;
    const char* poly;
    bool wireframe;
    bool collision;
    bool opacity_fix;
    int address_mode;
    int mipmap;
    bool facer;
  };
  const Case cases[] = {
      {"G", "P", false, true, false, 1, 1, false},
      {"gm_g_wireframe", "P", true, true, false, 1, 1, false},
      {"gm_g_wireframe", "gm_p_solid", false, true, false, 1, 1, false},
      {"gm_g_solid_wireframe", "P", true, true, false, 1, 1, false},  // the later row wins
      {"gm_g_collisionoff", "P", false, false, false, 1, 1, false},
      {"gm_g_collisionoff_collisionon", "P", false, false, false, 1, 1, false},
      {"gm_g_tammirror_tamclamp", "P", false, true, false, 2, 1, false},
      {"G", "gm_p_tamclamp_mipmapoff", false, true, false, 3, 0, false},
      {"G", "gm_p_opacityfixon", false, true, true, 1, 1, false},
      {"GM_G_FACER", "P", false, true, false, 1, 1, true},          // compared after lower-casing
      {"g_wireframe", "p_facer", false, true, false, 1, 1, false},  // no "gm_" prefix
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.group) + " / " + c.poly);
    CobFile file;
    file.Group(10, 0, c.group).Poly(20, 10, cobtest::Triangle(c.poly)).Mat(30, 20, Textured());
    const Converted conv = Convert(file);
    ASSERT_EQ(conv.prototypes.size(), 1u);
    const cob::Prototype& proto = *conv.prototypes[0];
    const cob::ClumpNode& node = *conv.scene.root->children.at(0);
    EXPECT_EQ(proto.wireframe, c.wireframe);
    EXPECT_EQ(node.collision, c.collision);
    EXPECT_EQ(node.opacity_fix, c.opacity_fix);
    EXPECT_EQ(proto.surfaces.at(0).address_mode, c.address_mode);
    EXPECT_EQ(proto.surfaces.at(0).mipmap, c.mipmap);
    EXPECT_EQ(conv.scene.axis_alignment, c.facer);
  }
}

TEST(SceneWalk, PolyhedronWordsDoNotReachOtherPolyhedra) {
  CobFile file;
  file.Group(10, 0, "G");
  file.Poly(20, 10, cobtest::Triangle("gm_a_wireframe")).Poly(21, 10, cobtest::Triangle("b"));
  const Converted conv = Convert(file);
  ASSERT_EQ(conv.prototypes.size(), 2u);
  EXPECT_TRUE(conv.prototypes[0]->wireframe);
  EXPECT_FALSE(conv.prototypes[1]->wireframe);
}

TEST(SceneWalk, AvatarPartsGetPivotsJointsAndTheirOwnNodes) {
  CobFile file;
  file.Group(10, 0, "gm_man_avatar", {0, 1, 0});
  cobtest::PolyDef pelvis = cobtest::Triangle("gm_pelvis_x");
  pelvis.centre = {5, 5, 5};
  file.Poly(20, 10, pelvis).Poly(21, 10, cobtest::Triangle("gm_lfear_x"));
  file.Group(11, 10, "gm_head_v3");
  cobtest::PolyDef ear = cobtest::Triangle("gm_LFEAR_y");
  ear.centre = {0, 2, 0};
  file.Poly(22, 11, ear);
  const Converted conv = Convert(file);
  ASSERT_EQ(conv.prototypes.size(), 3u);
  EXPECT_FALSE(conv.scene.base_rotation);
  EXPECT_EQ(conv.prototypes[0]->joint_tag, 1);
  EXPECT_EQ(conv.prototypes[0]->pivot.y, 1.0f);  // the group's centre, not its own
  EXPECT_EQ(conv.prototypes[1]->joint_tag, 0);   // the group already found its joint
  EXPECT_EQ(conv.prototypes[1]->pivot.y, 0.0f);
  EXPECT_EQ(conv.prototypes[2]->joint_tag, 42);  // v3: every part looks, case ignored
  EXPECT_EQ(conv.prototypes[2]->pivot.y, 2.0f);
  const cob::ClumpNode& man = *conv.scene.root->children.at(0);
  ASSERT_EQ(man.instances.size(), 1u);
  ASSERT_EQ(man.children.size(), 2u);  // the second part's own node, then the head group
  EXPECT_EQ(man.children[0]->instances.at(0)->name, "gm_lfear_x_0");
}

}  // namespace
