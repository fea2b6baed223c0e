#include "rwxsmith/rwx_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cob_test_builder.h"

namespace {

using cobtest::CobFile;

// The frame of every converted file, for `path`, converted at 02:00 on 1 January 1970 UTC, so
// the timestamp shows the epoch itself.
constexpr std::time_t kConvertedAt = 7200;

std::string Head(const std::string& path) {
  return "#####  Rwxsmith:      V3.03.352 by the boxtally project (see README.md)\n"
         "#####  Source File:   " +
         path +
         "\n"
         "#####  VRT Timestamp: Thu Jan  1 00:00:00 1970\n"
         "ModelBegin\n";
}

const char* const kRotatedFrame =
    " ClumpBegin\n"
    "  Rotate 0 1 0 180\n"
    "  Rotate 1 0 0 -90\n"
    "  Scale .1 .1 .1\n";

const char* const kTail =
    " ClumpEnd\n"
    "ModelEnd\n";

// Converts and checks that every line ends in CR LF; returns the text with LF line ends.
std::string ConvertFile(const CobFile& file, cob::ConverterState& state,
                        const std::string& path = "t.cob") {
  cob::RwxOutput out;
  testing::internal::CaptureStdout();
  cob::WriteModelFile(out, path, file.bytes().data(), file.bytes().size(), kConvertedAt, state);
  testing::internal::GetCapturedStdout();
  std::string lf;
  for (std::size_t i = 0; i < out.text.size(); ++i) {
    if (out.text[i] == '\r') {
      EXPECT_EQ(out.text[i + 1], '\n') << "bare CR at " << i;
      continue;
    }
    if (out.text[i] == '\n') {
      EXPECT_TRUE(i > 0 && out.text[i - 1] == '\r') << "bare LF at " << i;
    }
    lf += out.text[i];
  }
  return lf;
}

std::string ConvertFile(const CobFile& file) {
  cob::ConverterState state;
  return ConvertFile(file, state);
}

cobtest::MatDef Flat() {
  cobtest::MatDef m;
  m.shader = 'f';
  return m;
}

// The block of cobtest::Triangle with a Flat() material, as the writer must print it.
std::string TriangleBlock(const std::string& name) {
  return " ProtoBegin " + name +
         "\n"
         "  TextureModes Foreshorten\n"
         "OpacityFix off\n"
         "  Transform 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1.\n"
         "  Vertex 0. 0. 0. # 1\n"
         "  Vertex 1. 0. 0. # 2\n"
         "  Vertex 0. 1. 0. # 3\n"
         "  Surface 1. 0. 0.\n"
         "  Color 1. 1. 1.\n"
         "  Opacity 1.\n"
         "  Texture NULL\n"
         "  LightSampling Facet\n"
         "  Triangle 3 2 1\n"
         " ProtoEnd # " +
         name + "\n";
}

TEST(RwxNumber, PrintsSixDecimalsWithoutTrailingZeros) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {1.0f, "1."},
      {0.0f, "0."},
      {-0.0f, "0."},
      {0.5f, "0.5"},
      {-0.25f, "-0.25"},
      {100.0f, "100."},
      {1.0f / 3, "0.333333"},
      {0.0000004f, "0."},
      {0.0000005f, "0."},
      {-0.000001f, "0."},
      {0.0000015f, "0.000002"},
      {-1.0f, "-1."},
      {2.707019f, "2.707019"},
      {1e20f, "100000002004087734272."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(cob::FormatNumber(c.value), c.text);
  }
}

TEST(RwxTimestamp, IsTheCalendarTimeInUtc) {
  EXPECT_EQ(cob::FormatTimestamp(0), "Thu Jan  1 00:00:00 1970");
  EXPECT_EQ(cob::FormatTimestamp(1700000000), "Tue Nov 14 22:13:20 2023");
  EXPECT_EQ(cob::FormatTimestamp(951782400), "Tue Feb 29 00:00:00 2000");
}

TEST(RwxModel, RejectedFileKeepsItsFrame) {
  const std::string text = ConvertFile(CobFile('A'));
  EXPECT_EQ(text, Head("t.cob") + " ClumpBegin\n  Scale .1 .1 .1\n" + kTail);
}

TEST(RwxModel, SingleTexturedBox) {
  cobtest::PolyDef cube;
  cube.name = "Cube";
  cube.translation = {1, 2, 3};
  cube.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                   {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  for (int i = 0; i < 8; ++i) cube.uvs.emplace_back(0.25f * static_cast<float>(i), 0.5f);
  cube.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Face({4, 5, 6, 7}),
                cobtest::Face({0, 1, 5, 4}), cobtest::Face({1, 2, 6, 5}),
                cobtest::Face({2, 3, 7, 6}), cobtest::Face({3, 0, 4, 7})};
  cobtest::MatDef brick;
  brick.red = 1.0f;
  brick.green = 0.5f;
  brick.blue = 0.25f;
  brick.ambient = 0.2f;
  brick.highlight = 0.3f;
  brick.texture = "C:\\maps\\brick.old.bmp";
  brick.texture_flags = 1;
  CobFile file;
  file.Group(10, 0, "Box").Poly(20, 10, cube).Mat(30, 20, brick).End();

  // u' = u, v' = 1 - v; the corners merge to the eight COB vertices; each face is written
  // reversed, and the last face first. 127 = trunc(0.5 * 255), 63 = trunc(0.25 * 255).
  const std::string expected = Head("box.cob") +
                               " ProtoBegin cube_0_0\n"
                               "  TextureModes Lit Foreshorten\n"
                               "OpacityFix off\n"
                               "  Transform 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1. 0. 1. 2. 3. 1.\n"
                               "  Vertex 0. 0. 0. UV 0. 0.5 # 1\n"
                               "  Vertex 1. 0. 0. UV 0.25 0.5 # 2\n"
                               "  Vertex 1. 1. 0. UV 0.5 0.5 # 3\n"
                               "  Vertex 0. 1. 0. UV 0.75 0.5 # 4\n"
                               "  Vertex 0. 0. 1. UV 1. 0.5 # 5\n"
                               "  Vertex 1. 0. 1. UV 1.25 0.5 # 6\n"
                               "  Vertex 1. 1. 1. UV 1.5 0.5 # 7\n"
                               "  Vertex 0. 1. 1. UV 1.75 0.5 # 8\n"
                               "  Surface 0.2 0.7 0.\n"
                               "  Color 1. 0.498039 0.247059\n"
                               "  Opacity 1.\n"
                               "  Texture brick Mask brickm\n"
                               "  LightSampling Facet\n"
                               "  Quad 8 5 1 4\n"
                               "  Quad 7 8 4 3\n"
                               "  Quad 6 7 3 2\n"
                               "  Quad 5 6 2 1\n"
                               "  Quad 8 7 6 5\n"
                               "  Quad 4 3 2 1\n"
                               " ProtoEnd # cube_0_0\n" +
                               kRotatedFrame + "  ProtoInstance cube_0_0\n" + kTail;
  cob::ConverterState state;
  EXPECT_EQ(ConvertFile(file, state, "box.cob"), expected);
}

TEST(RwxModel, TwoTopLevelGroups) {
  CobFile file;
  file.Group(10, 0, "A").Poly(20, 10, cobtest::Triangle("a")).Mat(30, 20, Flat());
  file.Group(11, 0, "B").Poly(21, 11, cobtest::Triangle("b")).Mat(31, 21, Flat());
  file.End();
  const std::string expected = Head("t.cob") + TriangleBlock("a_0_0") + TriangleBlock("b_0_1") +
                               kRotatedFrame +
                               "  ClumpBegin\n"
                               "   ClumpBegin\n"
                               "    ProtoInstance b_0_1\n"
                               "   ClumpEnd\n"
                               "   ClumpBegin\n"
                               "    ProtoInstance a_0_0\n"
                               "   ClumpEnd\n"
                               "  ClumpEnd\n" +
                               kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, HoleFace) {
  cobtest::PolyDef p;
  p.name = "Frame";
  p.vertices = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0},
                {1, 1, 0}, {3, 1, 0},  {3, 3, 0},   {1, 3, 0}};
  p.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Hole({4, 5, 6, 7})};
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, p).Mat(30, 20, Flat()).End();
  // Outer 4 3 2 1 (reversed); hole vertex 5 (1,1) is nearest to vertex 1 (0,0), the fourth
  // position: after it come 5 8 7 6 5 and 1 again, 4 + 4 + 2 vertices.
  const std::string expected = Head("t.cob") +
                               " ProtoBegin frame_0_0\n"
                               "  TextureModes Foreshorten\n"
                               "OpacityFix off\n"
                               "  Transform 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1.\n"
                               "  Vertex 0. 0. 0. # 1\n"
                               "  Vertex 10. 0. 0. # 2\n"
                               "  Vertex 10. 10. 0. # 3\n"
                               "  Vertex 0. 10. 0. # 4\n"
                               "  Vertex 1. 1. 0. # 5\n"
                               "  Vertex 3. 1. 0. # 6\n"
                               "  Vertex 3. 3. 0. # 7\n"
                               "  Vertex 1. 3. 0. # 8\n"
                               "  Surface 1. 0. 0.\n"
                               "  Color 1. 1. 1.\n"
                               "  Opacity 1.\n"
                               "  Texture NULL\n"
                               "  LightSampling Facet\n"
                               "  Polygon 10 4 3 2 1 5 8 7 6 5 1\n"
                               " ProtoEnd # frame_0_0\n" +
                               kRotatedFrame + "  ProtoInstance frame_0_0\n" + kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, ContinuationPrototype) {
  cobtest::PolyDef p;
  p.name = "Tri";
  p.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
  p.faces = {cobtest::Face({0, 1, 2}, 0), cobtest::Face({1, 3, 2}, 1)};
  cobtest::MatDef half = Flat();
  half.number = 1;
  half.opacity = 0.5f;
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, p).Mat(30, 20, Flat()).Mat(31, 20, half).End();
  // The second face turns transparent: it goes on in "Internal", which keeps only the
  // vertices its own polygon uses (the second face's corners are new merged vertices, since
  // their material differs). 127 = trunc(0.5 * 255).
  const std::string expected = Head("t.cob") + TriangleBlock("tri_0_0") +
                               " ProtoBegin Internal_1\n"
                               "  TextureModes Foreshorten\n"
                               "OpacityFix off\n"
                               "  Transform 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1.\n"
                               "  Vertex 1. 0. 0. # 1\n"
                               "  Vertex 1. 1. 0. # 2\n"
                               "  Vertex 0. 1. 0. # 3\n"
                               "  Surface 1. 0. 0.\n"
                               "  Color 1. 1. 1.\n"
                               "  Opacity 0.498039\n"
                               "  Texture NULL\n"
                               "  LightSampling Facet\n"
                               "  Triangle 3 2 1\n"
                               " ProtoEnd # Internal_1\n" +
                               kRotatedFrame +
                               "  ProtoInstance Internal_1\n"
                               "  ProtoInstance tri_0_0\n" +
                               kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, Sign) {
  cobtest::PolyDef p;
  p.name = "GM_Sign";
  p.vertices = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}, {5, 5, 5}};
  p.faces = {cobtest::Face({0, 1, 4}, 1), cobtest::Face({0, 1, 2, 3}, 0)};
  cobtest::MatDef clear = Flat();
  clear.number = 1;
  clear.opacity = 0.0f;
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, p).Mat(30, 20, Flat()).Mat(31, 20, clear).End();
  // The fully transparent face makes no polygon; a sign always writes UV, and tags polygons.
  const std::string expected = Head("t.cob") +
                               " ProtoBegin gm_sign_0_0\n"
                               "  TextureModes Foreshorten\n"
                               "OpacityFix off\n"
                               "  Transform 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1. 0. 0. 0. 0. 1.\n"
                               "  Vertex 0. 0. 0. UV 0. 0. # 1\n"
                               "  Vertex 2. 0. 0. UV 0. 0. # 2\n"
                               "  Vertex 2. 1. 0. UV 0. 0. # 3\n"
                               "  Vertex 0. 1. 0. UV 0. 0. # 4\n"
                               "  Surface 1. 0. 0.\n"
                               "  Color 1. 1. 1.\n"
                               "  Opacity 1.\n"
                               "  Texture NULL\n"
                               "  LightSampling Facet\n"
                               "  Quad 4 3 2 1 Tag 100\n"
                               " ProtoEnd # gm_sign_0_0\n" +
                               kRotatedFrame + "  ProtoInstance gm_sign_0_0\n" + kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, AvatarGroupWithJointTags) {
  CobFile file;
  file.Group(10, 0, "gm_man_avatar", {0, 1, 0});
  file.Poly(20, 10, cobtest::Triangle("gm_pelvis_x")).Mat(30, 20, Flat());
  file.Poly(21, 10, cobtest::Triangle("gm_lfear_x")).Mat(31, 21, Flat());
  file.Group(11, 10, "gm_head_v3");
  cobtest::PolyDef ear = cobtest::Triangle("gm_lfear_y");
  ear.centre = {0, 2, 0};
  file.Poly(22, 11, ear).Mat(32, 22, Flat()).End();
  // No base rotation in avatar mode. The first part carries the group's pivot and joint; the
  // second gets its own clump and neither; the v3 group's part has its own pivot and joint.
  const std::string expected = Head("t.cob") + TriangleBlock("gm_pelvis_x_0_0") +
                               TriangleBlock("gm_lfear_x_0_1") + TriangleBlock("gm_lfear_y_0_2") +
                               " ClumpBegin\n"
                               "  Scale .1 .1 .1\n"
                               "  TransformBegin\n"
                               "   Translate 0. 1. 0.\n"
                               "   ClumpBegin\n"
                               "    Translate 0. -1. 0.\n"
                               "    Tag 1\n"
                               "    ProtoInstance gm_pelvis_x_0_0\n"
                               "    TransformBegin\n"
                               "     Translate 0. 2. 0.\n"
                               "     ClumpBegin\n"
                               "      Translate 0. -2. 0.\n"
                               "      Tag 42\n"
                               "      ProtoInstance gm_lfear_y_0_2\n"
                               "     ClumpEnd\n"
                               "    TransformEnd\n"
                               "    ClumpBegin\n"
                               "     ProtoInstance gm_lfear_x_0_1\n"
                               "    ClumpEnd\n"
                               "   ClumpEnd\n"
                               "  TransformEnd\n" +
                               kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, Facer) {
  CobFile file;
  file.Group(10, 0, "gm_tree_facer").Poly(20, 10, cobtest::Triangle("leaf")).Mat(30, 20, Flat());
  const std::string expected = Head("t.cob") + TriangleBlock("leaf_0_0") +
                               " ClumpBegin\n"
                               "  AxisAlignment ZOrientY\n"
                               "  Rotate 0 1 0 180\n"
                               "  Rotate 1 0 0 -90\n"
                               "  Scale .1 .1 .1\n"
                               "  ProtoInstance leaf_0_0\n" +
                               kTail;
  EXPECT_EQ(ConvertFile(file), expected);
}

TEST(RwxModel, CollisionWireframeAndOpacityFixLines) {
  CobFile file;
  file.Group(10, 0, "gm_g_collisionoff_opacityfixon");
  file.Poly(20, 10, cobtest::Triangle("gm_p_wireframe")).Mat(30, 20, Flat());
  const std::string text = ConvertFile(file);
  EXPECT_NE(text.find(" ProtoBegin gm_p_wireframe_0_0\n"
                      "  GeometrySampling Wireframe\n"
                      "  TextureModes Foreshorten\n"
                      "OpacityFix on\n"),
            std::string::npos);
  EXPECT_NE(text.find("  Scale .1 .1 .1\n"
                      "  #! Collision off\n"
                      "  ProtoInstance gm_p_wireframe_0_0\n"),
            std::string::npos);
}

TEST(RwxModel, PrototypeNumbersGoOnAcrossConversions) {
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("a b")).Mat(30, 20, Flat());
  cob::ConverterState state;
  EXPECT_NE(ConvertFile(file, state).find(" ProtoBegin a_b_0_0\n"), std::string::npos);
  EXPECT_NE(ConvertFile(file, state).find(" ProtoBegin a_b_0_1\n"), std::string::npos);
}

TEST(RwxModel, LineEndsInNamesStayOnTheirLine) {
  // Found by fuzzing: a texture name holding "\r\n ProtoEnd # " wrote a line of its own.
  cobtest::MatDef m = Flat();
  m.texture = "a\r\n ProtoEnd # b.bmp";
  m.texture_flags = 1;
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("x\ny")).Mat(30, 20, m);
  cob::ConverterState state;
  const std::string text = ConvertFile(file, state, "in\n.cob");
  EXPECT_NE(text.find("#####  Source File:   in_.cob\n"), std::string::npos);
  EXPECT_NE(text.find(" ProtoBegin x_y_0_0\n"), std::string::npos);
  EXPECT_NE(text.find("  Texture a__ ProtoEnd # b Mask a__ ProtoEnd # bm\n"), std::string::npos)
      << text;
}

// Blocks built by hand, for the writer's own rules.
std::shared_ptr<cob::Prototype> SquareWithSurfaces(const std::vector<cob::Surface>& surfaces) {
  auto proto = std::make_shared<cob::Prototype>();
  proto->name = "p";
  proto->vertices = {{0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}};
  for (std::size_t i = 0; i < surfaces.size(); ++i) {
    proto->surfaces.push_back(surfaces[i]);
    proto->polygons.push_back(cob::ProtoPolygon{proto->polygon_indices.size(), 3, i});
    proto->polygon_indices.insert(proto->polygon_indices.end(), {0, 1, 2});
  }
  return proto;
}

std::string Block(const std::shared_ptr<cob::Prototype>& proto) {
  cob::RwxOutput out;
  cob::ClumpNode node;
  cob::ConverterState state;
  cob::WritePrototype(out, node, proto, state);
  std::string lf;
  for (const char c : out.text) {
    if (c != '\r') lf += c;
  }
  return lf;
}

TEST(RwxPrototype, WritesStateLinesOnlyWhenTheyChange) {
  cob::Surface wrap;
  wrap.texture = "Brick";
  cob::Surface clamp = wrap;
  clamp.address_mode = cob::kAddressClamp;
  clamp.mipmap = 0;
  clamp.texture = "BRICK";  // the same texture: names compare without regard to case
  // Made in the order wrap, clamp, wrap; the block lists the last made first.
  const std::string text = Block(SquareWithSurfaces({wrap, clamp, wrap}));
  const std::string expected =
      "  Surface 1. 0. 0.\n"
      "  Color 1. 0. 0.\n"
      "  Opacity 1.\n"
      "  Texture Brick\n"
      "  LightSampling Facet\n"
      "  Triangle 1 2 3\n"
      "  #! TextureAddressMode Clamp\n"
      "  #! TextureMipmapState Off\n"
      "  Triangle 1 2 3\n"
      "  #! TextureAddressMode Wrap\n"
      "  #! TextureMipmapState On\n"
      "  Triangle 1 2 3\n"
      " ProtoEnd # p_0\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(RwxPrototype, TextureLineFollowsTexturesAndMasks) {
  cob::Surface none;
  cob::Surface wood;
  wood.texture = "wood";
  cob::Surface masked = wood;
  masked.mask = "woodm";
  cob::Surface other = masked;
  other.mask = "otherm";
  // Written last made first: other, masked, wood, wood, none.
  const std::string text = Block(SquareWithSurfaces({none, wood, wood, masked, other}));
  const std::string expected =
      "  Texture wood Mask otherm\n"
      "  LightSampling Facet\n"
      "  Triangle 1 2 3\n"
      "  Texture wood Mask woodm\n"
      "  Triangle 1 2 3\n"
      "  Texture wood\n"
      "  Triangle 1 2 3\n"
      "  Triangle 1 2 3\n"
      "  Texture NULL\n"
      "  Triangle 1 2 3\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(RwxPrototype, EqualVerticesAreWrittenOnce) {
  // Two corners at one place with different texture coordinates, and a -0 that equals 0.
  auto make = [](bool has_uv) {
    auto proto = std::make_shared<cob::Prototype>();
    proto->name = "p";
    proto->has_uv = has_uv;
    proto->vertices = {{0, 0, 0, 0, 0}, {0, 0, 0, 1, 0}, {-0.0f, 1, 0, 0, 0}, {0, 1, 0, 0, 0}};
    proto->surfaces.push_back(cob::Surface{});
    proto->polygons.push_back(cob::ProtoPolygon{0, 4, 0});
    proto->polygon_indices = {0, 1, 2, 3};
    return proto;
  };
  const std::string without_uv = Block(make(false));
  EXPECT_NE(without_uv.find("  Vertex 0. 0. 0. # 1\n"
                            "  Vertex 0. 1. 0. # 2\n"
                            "  Surface"),
            std::string::npos)
      << without_uv;
  EXPECT_NE(without_uv.find("  Quad 1 1 2 2\n"), std::string::npos);
  const std::string with_uv = Block(make(true));
  EXPECT_NE(with_uv.find("  Vertex 0. 0. 0. UV 0. 0. # 1\n"
                         "  Vertex 0. 0. 0. UV 1. 0. # 2\n"
                         "  Vertex 0. 1. 0. UV 0. 0. # 3\n"
                         "  Surface"),
            std::string::npos)
      << with_uv;
  EXPECT_NE(with_uv.find("  Quad 1 2 3 3\n"), std::string::npos);
}

TEST(RwxPrototype, PrelightIsWrittenAsFractions) {
  auto proto = SquareWithSurfaces({cob::Surface{}});
  proto->prelit = true;
  proto->vertices[0].red = 255;
  proto->vertices[0].green = 128;
  const std::string text = Block(proto);
  EXPECT_NE(text.find("  Vertex 0. 0. 0. #! Prelight 1. 0.501961 0. # 1\n"), std::string::npos)
      << text;
}

}  // namespace
