// The geometry the measuring read hands to its capture: the same points as the box, faces by the
// clump's vertex numbers, prototypes where they are placed, primitives as triangles.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

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
                  t.rgb);
    out += text;
  }
  return out;
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
    rwx_test::MeasureHarness harness;
    rwx::GeometryCapture capture;
    harness.geometry = &capture;
    harness.Run("modelbegin\n" + c.body + "modelend\n");
    EXPECT_EQ(Describe(capture.mesh), c.triangles);
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
    rwx_test::MeasureHarness harness;
    rwx::GeometryCapture capture;
    harness.geometry = &capture;
    harness.Run(std::string("modelbegin\nrotate 0 1 0 30\n") + c.line + "\nmodelend\n");
    EXPECT_EQ(capture.mesh.triangles.size(), c.triangles);
    const rwx::Box box = BoxOf(capture.mesh);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_GE(box.min[i], capture.box.min[i] - 1e-6f);
      EXPECT_LE(box.max[i], capture.box.max[i] + 1e-6f);
    }
    if (c.same_box) {
      EXPECT_EQ(box.min, capture.box.min);
      EXPECT_EQ(box.max, capture.box.max);
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
