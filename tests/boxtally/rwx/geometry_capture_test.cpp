// The geometry the measuring read hands to its capture: the same points as the box, faces by the
// clump's vertex numbers, prototypes where they are placed, primitives as triangles.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <utility>
#include <vector>
#include <string>

#include "boxtally/render/rasteriser.h"
#include "boxtally/rwx/geometry_capture.h"
#include "boxtally/rwx/workspace.h"
#include "rwx_test_support.h"

namespace {

// "a b c rrggbb" for each triangle, joined by ';'.
std::string Describe(const render::Mesh& mesh) {
  std::string out;
  for (const render::Triangle& t : mesh.triangles) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%u %u %u %06x", out.empty() ? "" : ";", t.a, t.b, t.c,
                  render::MaterialOf(mesh, t).rgb);
    out += text;
  }
  return out;
}

// The geometry of a model whose script is `body` between "modelbegin" and "modelend".
std::unique_ptr<rwx::GeometryCapture> Captured(const std::string& body) {
  rwx_test::MeasureHarness harness;
  auto capture = std::make_unique<rwx::GeometryCapture>();
  harness.geometry = capture.get();
  harness.Run("modelbegin\n" + body + "modelend\n");
  return capture;
}

rwx::Box BoxOf(const render::Mesh& mesh) {
  rwx::Box box;
  for (const render::Vec3& v : mesh.vertices) rwx::ExtendBox(box, {v.x, v.y, v.z, 1.0f});
  return box;
}

// A script of vertices and polygons only (no primitive, no nested clump): transforms, transform
// blocks and prototypes placed by them, coordinates well inside the box's start values.
std::string RandomScript(std::mt19937& rng) {
  const auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  const auto real = [&](int scale) { return std::to_string(pick(-scale, scale) / 10.0); };
  const auto vertex = [&] { return "vertex " + real(90) + " " + real(90) + " " + real(90) + "\n"; };
  std::string s = "modelbegin\n";
  const int prototypes = pick(0, 2);
  for (int p = 0; p < prototypes; ++p) {
    s += "protobegin p" + std::to_string(p) + "\ntranslate " + real(20) + " 0 " + real(20) + "\n";
    for (int v = pick(0, 4); v > 0; --v) s += vertex();
    s += "triangle 1 2 3\nprotoend\n";
  }
  s += "clumpbegin\n";
  int open = 0;
  for (int line = pick(1, 40); line > 0; --line) {
    switch (pick(0, 8)) {
      case 0: s += "rotate " + std::to_string(pick(0, 1)) + " 1 0 " + real(900) + "\n"; break;
      case 1: s += "scale " + std::to_string(pick(5, 20) / 10.0) + " 1 " + real(20) + "\n"; break;
      case 2: s += "translate " + real(50) + " " + real(50) + " " + real(50) + "\n"; break;
      case 3: s += "transformbegin\n"; ++open; break;
      case 4: if (open > 0) { s += "transformend\n"; --open; } break;
      case 5: s += "protoinstance p" + std::to_string(pick(0, 2)) + "\n"; break;
      case 6: s += "quad 1 2 3 " + std::to_string(pick(0, 9)) + "\n"; break;
      default: s += vertex(); break;
    }
  }
  return s + "clumpend\nmodelend\n";
}

}  // namespace

TEST(GeometryCapture, CapturedVerticesGiveTheMeasuredBoxAndChangeNothingElse) {
  std::mt19937 rng(25);
  for (int seed = 0; seed < 300; ++seed) {
    const std::string script = RandomScript(rng);
    SCOPED_TRACE(script);
    rwx_test::MeasureHarness harness;
    harness.integer_mode = false;
    const rwx_test::MeasureOutput without = harness.Run(script);
    rwx::GeometryCapture capture;
    harness.geometry = &capture;
    const rwx_test::MeasureOutput with = harness.Run(script);
    EXPECT_EQ(with.registry, without.registry);
    EXPECT_EQ(with.log, without.log);
    ASSERT_TRUE(capture.model_ended);
    const rwx::Box box = BoxOf(capture.mesh);
    EXPECT_EQ(box.min, capture.box.min);
    EXPECT_EQ(box.max, capture.box.max);
    EXPECT_EQ(capture.mesh.vertices.size(),
              static_cast<std::size_t>(harness.workspace->record.vertex_count));
  }
}

TEST(GeometryCapture, FacesUseTheClumpsVertexNumbersAndTheColourInForce) {
  const std::string square = "vertex 0 0 0\nvertex 1 0 0\nvertex 1 1 0\nvertex 0 1 0\n";
  const std::string triangle = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n";
  struct Case {
    const char* what;
    std::string body;  // between "modelbegin" and "modelend"
    const char* triangles;
  };
  const Case cases[] = {
      {"quad", "clumpbegin\ncolor 1 0 0\n" + square + "quad 1 2 3 4\nclumpend\n",
       "0 1 2 ff0000;0 2 3 ff0000"},
      {"nested clump", "clumpbegin\n" + triangle + "clumpbegin\ncolor 0 0 2\n" + triangle +
                           "triangle 3 2 1\nclumpend\ntriangle 1 2 3\nclumpend\n",
       "5 4 3 0000ff;0 1 2 a8a8a8"},
      {"fan and bad faces", "clumpbegin\n" + square + "vertex 2 2 0\npolygon 5 1 2 3 4 5 tag 1\n" +
                                "triangle 1 2 6\nquad 0 1 2 3\npolygon 4 1 2 3\ntriangle 1 2 x\n",
       "0 1 2 a8a8a8;0 2 3 a8a8a8;0 3 4 a8a8a8"},
      {"prototype placed twice", "protobegin leg\ncolor 0 1 0\n" + triangle +
                                     "triangle 1 2 3\nprotoend\nclumpbegin\nprotoinstance LEG\n"
                                     "translate 10 0 0\nprotoinstance leg\nclumpend\n",
       "0 1 2 00ff00;3 4 5 00ff00"},
      {"points only, the last model", "block 1 1 1\nmodelend\nmodelbegin\n" + triangle, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Describe(Captured(c.body)->mesh), c.triangles);
  }
}

TEST(GeometryCapture, PrimitivesAreTessellatedInsideTheirMeasuredBox) {
  struct Case {
    const char* line;
    std::size_t triangles;
    bool same_box;  // the measurement takes the very points the tessellation uses
  };
  const Case cases[] = {
      {"block 1 2 -3", 12, true},
      {"sphere 1 2", 32, false},
      {"sphere 1", 8 * rwx::kFixedDensity * rwx::kFixedDensity, false},  // no density given
      {"sphere 1 30", 8 * 21 * 21, false},                                 // the table's last
      {"hemisphere 2 3", 36, false},
      {"cylinder 2 1 .5 10", 20, false},
      {"cylinder 2 1 .5 2", 2 * rwx::kFixedSides, false},
      {"cone 2 1 4", 4, true},
      {"disc .5 -1 5", 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto capture = Captured(std::string("rotate 0 1 0 30\n") + c.line + "\n");
    EXPECT_EQ(capture->mesh.triangles.size(), c.triangles);
    const rwx::Box box = BoxOf(capture->mesh);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_GE(box.min[i], capture->box.min[i] - 1e-6f);
      EXPECT_LE(box.max[i], capture->box.max[i] + 1e-6f);
    }
    if (c.same_box) {
      EXPECT_EQ(box.min, capture->box.min);
      EXPECT_EQ(box.max, capture->box.max);
    }
  }
}

TEST(GeometryCapture, StopsTakingGeometryPastItsLimitWhileTheMeasurementGoesOn) {
  std::string script = "modelbegin\n";
  for (int i = 0; i < 420; ++i) script += "cone 1 1 10000\n";  // 10,001 points each
  script += "vertex 50 50 50\nmodelend\n";
  rwx_test::MeasureHarness harness;
  rwx::GeometryCapture capture;
  harness.geometry = &capture;
  EXPECT_EQ(harness.Run(script).registry, "box.rwx 1 -995 5 -995 49995 49995 49995\r\n");
  EXPECT_TRUE(capture.cut);
  // The 420th cone passed the limit on its ring: its points up to the limit stay, its triangles
  // and everything after it do not.
  EXPECT_EQ(capture.mesh.vertices.size(), rwx::kMaxCapturedVertices);
  EXPECT_EQ(capture.mesh.triangles.size(), 419u * 10000u);
  EXPECT_NE(capture.mesh.vertices.back().x, 50.0f);
}

namespace {

// "rrggbb opacity ambient/diffuse sampling modes texture/mask" of each triangle, joined by ';'
// ("-" for no texture or mask; sampling f or v; modes as their bits).
std::string DescribeMaterials(const render::Mesh& mesh) {
  std::string out;
  for (const render::Triangle& t : mesh.triangles) {
    const render::Material& m = render::MaterialOf(mesh, t);
    const auto name = [&mesh](std::uint32_t i) {
      return i < mesh.names.size() ? mesh.names[i] : std::string("-");
    };
    char text[96];
    std::snprintf(text, sizeof text, "%06x %g %g/%g %c %d ", m.rgb, m.opacity, m.ambient,
                  m.diffuse, m.light_sampling == render::LightSampling::kVertex ? 'v' : 'f',
                  m.texture_modes);
    out += (out.empty() ? "" : ";") + std::string(text) + name(m.texture) + "/" + name(m.mask);
  }
  return out;
}

const std::string kTriangle = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\ntriangle 1 2 3\n";

}  // namespace

TEST(GeometryCapture, FacesTakeTheMaterialInForce) {
  struct Case {
    const char* what;
    std::string body;  // between "modelbegin" and "modelend"
    const char* materials;
  };
  const Case cases[] = {
      {"nothing said", kTriangle, "a8a8a8 1 0.4/0.6 f 7 -/-"},
      {"texture and mask", "texture Wood mask leaf\n" + kTriangle, "a8a8a8 1 0.4/0.6 f 7 wood/leaf"},
      {"texture, then null", "texture wood\n" + kTriangle + "texture NULL mask leaf\n" + kTriangle,
       "a8a8a8 1 0.4/0.6 f 7 wood/-;a8a8a8 1 0.4/0.6 f 7 -/-"},
      {"surface, opacity, light, modes",
       "color 1 0 0\nsurface .2 .7 .5\nopacity .25\nlightsampling vertex\ntexturemodes lit "
       "filter\n" + kTriangle,
       "ff0000 0.25 0.2/0.7 v 5 -/-"},
      {"out of range, and words not drawn",
       "surface -1 3\nopacity 2\ntexturemode foreshorten mipmap\nlightsampling none\n" + kTriangle,
       "a8a8a8 1 0/1 f 2 -/-"},
      {"ambient and diffuse alone, texturemodes null",
       "ambient .3\ndiffuse .5\ntexturemodes null\n" + kTriangle, "a8a8a8 1 0.3/0.5 f 0 -/-"},
      {"a clump gives its material back",
       "texture a\nopacity .5\nclumpbegin\ntexture b mask c\nopacity 1\n" + kTriangle +
           "clumpend\n" + kTriangle,
       "a8a8a8 1 0.4/0.6 f 7 b/c;a8a8a8 0.5 0.4/0.6 f 7 a/-"},
      {"a prototype keeps its own",
       "protobegin p\ntexture wood\n" + kTriangle + "protoend\ncolor 0 0 1\ntexture stone\n" +
           "protoinstance p\n" + kTriangle,
       "a8a8a8 1 0.4/0.6 f 7 wood/-;0000ff 1 0.4/0.6 f 7 stone/-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DescribeMaterials(Captured(c.body)->mesh), c.materials);
  }
}

TEST(GeometryCapture, VerticesKeepTheirTextureCoordinates) {
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::pair<float, float>> uvs;  // empty: the mesh keeps none
  };
  const Case cases[] = {
      {"none given", kTriangle, {}},
      {"given after the first", "vertex 0 0 0\nvertex 1 0 0 uv .5 .25\nVertex 0 1 0 UV 2 -1 # x\n",
       {{0, 0}, {0.5f, 0.25f}, {2, -1}}},
      {"half given, or not numbers", "vertex 0 0 0 uv 1\nvertex 1 0 0 uv x y\nvertex 0 1 0 uvw 1 1\n",
       {{1, 0}, {0, 0}, {0, 0}}},
      {"an instance brings its own",
       "protobegin p\nvertex 0 0 0 uv .5 .5\nprotoend\nvertex 9 9 9\nprotoinstance p\n",
       {{0, 0}, {0.5f, 0.5f}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::unique_ptr<rwx::GeometryCapture> capture = Captured(c.body);
    std::vector<std::pair<float, float>> uvs;
    for (const render::TexCoord& uv : capture->mesh.uvs) uvs.emplace_back(uv.u, uv.v);
    EXPECT_EQ(uvs, c.uvs);
  }
}

TEST(GeometryCapture, AnLShapeGivesOnePictureFromEveryCorner) {
  // An L of three unit squares, written from each of its six corners, both ways round. A fan
  // from the corner beside the notch covers the notch too.
  const char* corners[6] = {"0 0 0", "2 0 0", "2 1 0", "1 1 0", "1 2 0", "0 2 0"};
  const render::Bounds box{{0, 0, 0}, {2, 2, 0}};
  std::vector<render::Image> pictures;
  for (int first = 0; first < 6; ++first) {
    for (const int way : {1, 5}) {
      std::string clump = "clumpbegin\n";
      for (int k = 0; k < 6; ++k) clump += "vertex " + std::string(corners[(first + way * k) % 6]) + "\n";
      clump += "polygon 6 1 2 3 4 5 6\nclumpend\n";
      pictures.push_back(render::DrawScene(Captured(clump)->mesh, &box, render::Camera{0, 0}, 64,
                                           64, {false, false, false}));
    }
  }
  for (std::size_t i = 1; i < pictures.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pictures[i].rgba, pictures[0].rgba);
  }
  // The notch, at the top right, shows the background.
  const render::Projection view = render::FitProjection(render::Camera{0, 0}, box, 64, 64);
  const render::ScreenPoint notch = render::Project(view, {1.5f, 1.5f, 0});
  EXPECT_EQ(render::PixelAt(pictures[0], static_cast<int>(notch.x), static_cast<int>(notch.y)),
            render::kBackground);
}

TEST(GeometryCapture, StopsPastItsMaterialsAndNames) {
  struct Case {
    const char* what;
    std::string script;
  };
  std::string colours = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n";
  for (std::size_t i = 0; i <= rwx::kMaxCapturedMaterials; ++i) {
    colours += "color " + std::to_string(i % 256 / 255.0) + " " +
               std::to_string(i / 256 % 256 / 255.0) + " " + std::to_string(i / 65536 / 255.0) +
               "\ntriangle 1 2 3\n";
  }
  std::string names = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n";
  const std::string long_name(1000, 'n');
  for (std::size_t i = 0; i <= rwx::kMaxCapturedNameBytes / 1000; ++i) {
    names += "texture " + long_name + std::to_string(i) + "\ntriangle 1 2 3\n";
  }
  for (const Case& c : {Case{"materials", colours}, Case{"names", names}}) {
    SCOPED_TRACE(c.what);
    const auto capture = Captured(c.script);
    EXPECT_TRUE(capture->cut);
    EXPECT_LE(capture->mesh.materials.size(), rwx::kMaxCapturedMaterials);
    EXPECT_GT(capture->mesh.triangles.size(), 900u);
    for (const render::Triangle& t : capture->mesh.triangles) {
      ASSERT_LT(t.material, capture->mesh.materials.size());
    }
  }
}
