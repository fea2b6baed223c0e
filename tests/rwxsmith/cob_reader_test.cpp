#include "rwxsmith/cob_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cob_test_builder.h"

namespace {

using cobtest::CobFile;

struct Loaded {
  std::unique_ptr<cob::Group> root;
  cob::SceneEnd end;
  std::string console;
};

Loaded Load(const std::vector<std::uint8_t>& bytes, const std::string& path = "t.cob") {
  testing::internal::CaptureStdout();
  Loaded out;
  out.root = cob::LoadGeometry(path, bytes.data(), bytes.size(), out.end);
  out.console = testing::internal::GetCapturedStdout();
  return out;
}

TEST(CobReader, RejectsHeadersWithTheirMessages) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string message;
  };
  const std::vector<std::uint8_t> binary = CobFile('B').End().bytes();
  std::vector<std::uint8_t> wrong_magic = binary;
  wrong_magic[0] = 'c';
  const Case cases[] = {
      {CobFile('A').bytes(),
       "m.cob: ASCII format COB files are not supported - resave as binary\n"},
      {CobFile('X').bytes(), "m.cob: Can not read header - file probably corrupted\n"},
      {wrong_magic, "m.cob: Can not read header - file probably corrupted\n"},
      {std::vector<std::uint8_t>(binary.begin(), binary.begin() + 31),
       "m.cob: Can not read header - file probably corrupted\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Loaded loaded = Load(c.bytes, "m.cob");
    EXPECT_EQ(loaded.root, nullptr);
    EXPECT_EQ(loaded.console, c.message);
  }
  const Loaded ok = Load(binary);
  ASSERT_NE(ok.root, nullptr);
  EXPECT_EQ(ok.root->name, "Root_0");
  EXPECT_EQ(ok.console, "");
}

TEST(CobReader, HangsChunksUnderTheirParents) {
  CobFile file;
  file.Group(10, 0, "Top", {1, 2, 3});
  file.Group(11, 10, "Inner");
  file.Poly(20, 11, cobtest::Triangle("Tri"));
  file.Poly(21, 999, cobtest::Triangle("Orphan"));                 // unknown parent: the root
  file.Chunk("grou", 12, 10, cobtest::GroupData("Lower", {}, 3));  // tag case does not matter
  file.Chunk("Scen", 13, 0, cobtest::Bytes{}.Name("Scene", 1));
  file.End();
  const Loaded loaded = Load(file.bytes());
  ASSERT_NE(loaded.root, nullptr);
  const cob::Group& root = *loaded.root;
  ASSERT_EQ(root.children.size(), 2u);
  ASSERT_EQ(root.polyhedra.size(), 1u);
  EXPECT_EQ(root.polyhedra[0].name, "Orphan_0");
  const cob::Group& top = *root.children[0];
  EXPECT_EQ(top.name, "Top_0");
  EXPECT_EQ(top.local_axes.centre.y, 2.0f);
  ASSERT_EQ(top.children.size(), 2u);
  EXPECT_EQ(top.children[0]->name, "Inner_0");
  EXPECT_EQ(top.children[1]->name, "Lower_3");
  ASSERT_EQ(top.children[0]->polyhedra.size(), 1u);
  const cob::Polyhedron& tri = top.children[0]->polyhedra[0];
  EXPECT_EQ(tri.name, "Tri_0");
  EXPECT_EQ(tri.vertices.size(), 3u);
  EXPECT_EQ(tri.uvs.size(), 3u);
  ASSERT_EQ(tri.faces.size(), 1u);
  EXPECT_EQ(tri.faces[0].vertex_count, 3);
  EXPECT_EQ(tri.face_vertices[2].vertex_index, 2);
  EXPECT_EQ(root.children[1]->name, "Scene_1");
}

TEST(CobReader, SkipsChunksUnderTheWrongKindOfParent) {
  CobFile file;
  file.Group(10, 0, "G");
  file.Mat(30, 10, cobtest::MatDef{});  // a material under a group
  file.Poly(20, 10, cobtest::Triangle("P"));
  file.Poly(21, 20, cobtest::Triangle("Nested"));  // a polyhedron under a polyhedron
  file.Group(11, 20, "GroupUnderPoly");
  file.Mat(31, 20, cobtest::MatDef{});
  file.End();
  const Loaded loaded = Load(file.bytes());
  const cob::Group& g = *loaded.root->children.at(0);
  EXPECT_TRUE(g.children.empty());
  ASSERT_EQ(g.polyhedra.size(), 1u);
  EXPECT_EQ(g.polyhedra[0].materials.size(), 1u);
  EXPECT_EQ(g.polyhedra[0].materials[0].chunk_id, 31);
}

TEST(CobReader, SkipsEachChunkToItsDeclaredEnd) {
  CobFile file;
  // Eight bytes more than the fields read; the group after it must still be found.
  cobtest::Bytes padded = cobtest::GroupData("First");
  padded.I32(0x11111111).I32(0x22222222);
  file.Chunk("Grou", 10, 0, padded);
  file.Chunk("Unkn", 5, 0, cobtest::Bytes{}.Raw("whatever"));
  file.Chunk("END!", 6, 0, cobtest::Bytes{});  // not "END ": an unknown type
  file.Group(11, 0, "Second");
  file.End();
  file.Group(12, 0, "AfterEnd");
  const Loaded loaded = Load(file.bytes());
  ASSERT_EQ(loaded.root->children.size(), 2u);
  EXPECT_EQ(loaded.root->children[1]->name, "Second_0");
}

TEST(CobReader, TellsWhichChunkCouldNotBeReadWhole) {
  const std::size_t second = 32 + 20 + cobtest::GroupData("G").data.size();
  cobtest::Bytes bad_face_count;
  bad_face_count.Name("P").Append(cobtest::Axes()).Append(cobtest::PositionRows());
  bad_face_count.I32(0).I32(0).I32(5);  // five faces announced, none there
  struct Case {
    const char* what;
    CobFile file;
    bool damaged;
  };
  std::vector<Case> cases;
  cases.push_back(
      {"negative length", CobFile().Group(10, 0, "G").Chunk("Unkn", 1, 0, {}, -4), true});
  cases.push_back(
      {"length past the end", CobFile().Group(10, 0, "G").Chunk("Unkn", 1, 0, {}, 1), true});
  cases.push_back({"fields past the declared count",
                   CobFile().Group(10, 0, "G").Chunk("PolH", 20, 0, bad_face_count).End(), true});
  cases.push_back({"every chunk whole, no END", CobFile().Group(10, 0, "G"), false});
  CobFile junk_after_end;
  junk_after_end.Group(10, 0, "G").End().Chunk("Unkn", 1, 0, {}, 99);
  cases.push_back({"a damaged chunk after END", junk_after_end, false});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Loaded loaded = Load(c.file.bytes(), "s.cob");
    ASSERT_NE(loaded.root, nullptr);
    EXPECT_EQ(loaded.root->children.size(), 1u);  // the group before it is kept
    EXPECT_EQ(loaded.end.damaged, c.damaged);
    if (c.damaged) {
      EXPECT_EQ(loaded.end.damaged_chunk, second);
      EXPECT_EQ(loaded.console, "s.cob: Can not read the chunk at offset " +
                                    std::to_string(second) +
                                    " whole - file probably corrupted or cut short\n");
    } else {
      EXPECT_EQ(loaded.console, "");
    }
  }
}

TEST(CobReader, ReadsMaterialsAndTheirExtensions) {
  CobFile file;
  file.Group(10, 0, "G");
  file.Poly(20, 10, cobtest::Triangle("P"));
  cobtest::MatDef textured;
  textured.number = 4;
  textured.shader = 'f';
  textured.facet = 's';
  textured.opacity = 0.5f;
  textured.texture = "C:\\maps\\brick.old.bmp";
  textured.texture_flags = 1;
  textured.offset_u = 0.25f;
  textured.repeat_v = 2.0f;
  // A bump map and an environment map after the texture.
  cobtest::Bytes more;
  more.U8('b').U8(':').U8(0).I16(4).Raw("b.gi").F32(1).F32(2).F32(3).F32(4).F32(5);
  more.U8('e').U8(':').U8(2).I16(3).Raw("env");
  textured.extra_extensions = std::string(more.data.begin(), more.data.end());
  file.Mat(30, 20, textured);
  file.End();
  const Loaded loaded = Load(file.bytes());
  const cob::Polyhedron& p = loaded.root->children.at(0)->polyhedra.at(0);
  ASSERT_EQ(p.materials.size(), 1u);
  const cob::Material& m = p.materials[0];
  EXPECT_EQ(m.number, 4);
  EXPECT_EQ(m.shader, 'f');
  EXPECT_EQ(m.facet, 's');
  EXPECT_EQ(m.opacity, 0.5f);
  EXPECT_EQ(m.texture_path, "C:\\maps\\brick.old.bmp");
  EXPECT_EQ(m.texture_flags, 1);
  EXPECT_EQ(m.texture_offset_u, 0.25f);
  EXPECT_EQ(m.texture_repeat_v, 2.0f);
  EXPECT_EQ(m.bump_path, "b.gi");
  EXPECT_EQ(m.environment_path, "env");
  EXPECT_EQ(m.environment_flags, 2);
}

TEST(CobReader, UnknownMaterialExtensionKeepsTheMaterialAndStops) {
  CobFile file;
  file.Group(10, 0, "G");
  file.Poly(20, 10, cobtest::Triangle("P"));
  cobtest::MatDef odd;
  odd.number = 7;
  odd.extra_extensions = std::string("x:\0\0\0", 5) + "padding";
  file.Mat(30, 20, odd);
  file.Group(11, 0, "NeverRead");
  file.End();
  const Loaded loaded = Load(file.bytes());
  ASSERT_EQ(loaded.root->children.size(), 1u);
  const cob::Polyhedron& p = loaded.root->children[0]->polyhedra.at(0);
  ASSERT_EQ(p.materials.size(), 1u);
  EXPECT_EQ(p.materials[0].number, 7);
}

TEST(CobReader, MaterialExtensionsMustEndNearTheChunkEnd) {
  // Declared five bytes short of the fixed fields: the fields are still read from the bytes
  // that follow, but the chunk then ends before its data, which counts as a failure.
  CobFile file;
  file.Group(10, 0, "G");
  file.Poly(20, 10, cobtest::Triangle("P"));
  file.Chunk("Mat1", 30, 20, cobtest::MatData(cobtest::MatDef{}), -5);
  file.Group(11, 0, "NeverRead");
  const Loaded loaded = Load(file.bytes());
  EXPECT_EQ(loaded.root->children.size(), 1u);
  EXPECT_EQ(loaded.root->children[0]->polyhedra.at(0).materials.size(), 1u);
}

TEST(CobReader, ReadsHoleFacesWithoutMaterialIndex) {
  cobtest::PolyDef p;
  p.vertices = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}};
  p.faces = {cobtest::Face({0, 1, 2, 3}, 5), cobtest::Hole({4, 5, 6})};
  CobFile file;
  file.Poly(20, 0, p).End();
  const Loaded loaded = Load(file.bytes());
  const cob::Polyhedron& poly = loaded.root->polyhedra.at(0);
  ASSERT_EQ(poly.faces.size(), 2u);
  EXPECT_EQ(poly.faces[0].material_index, 5);
  EXPECT_EQ(poly.faces[1].flags, 8);
  EXPECT_EQ(poly.faces[1].material_index, 0);
  EXPECT_EQ(poly.face_vertices[poly.faces[1].first].vertex_index, 4);
}

TEST(CobReader, BadCountsStopTheLoopAndKeepWhatWasRead) {
  struct Case {
    const char* what;
    cobtest::Bytes data;
  };
  auto prefix = [] {
    cobtest::Bytes b;
    b.Name("Bad").Append(cobtest::Axes()).Append(cobtest::PositionRows());
    return b;
  };
  std::vector<Case> cases;
  cases.push_back({"negative vertex count", prefix().I32(-1)});
  cases.push_back({"vertex count past the end", prefix().I32(1000)});
  cases.push_back({"negative uv count", prefix().I32(0).I32(-5)});
  cases.push_back({"face count past the end", prefix().I32(0).I32(0).I32(0x7FFFFFFF)});
  cases.push_back({"negative face vertex count", prefix().I32(0).I32(0).I32(1).U8(0).I16(-2)});
  cases.push_back({"negative name length", cobtest::Bytes{}.I16(0).I16(-1)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CobFile file;
    file.Chunk("PolH", 20, 0, c.data);
    file.Group(11, 0, "NeverRead");
    const Loaded loaded = Load(file.bytes());
    ASSERT_NE(loaded.root, nullptr);
    EXPECT_TRUE(loaded.root->children.empty());
    ASSERT_EQ(loaded.root->polyhedra.size(), 1u);  // the partly read polyhedron stays
    EXPECT_TRUE(loaded.root->polyhedra[0].faces.empty());
  }
}

TEST(CobReader, VertexColoursGoToFaceVertices) {
  cobtest::PolyDef p = cobtest::Triangle("P");
  p.faces.push_back(cobtest::Face({2, 1, 0}));
  CobFile file;
  file.Poly(20, 0, p);
  // Face 1 gets three colours and a fourth that has no vertex to go to.
  file.Chunk("VCol", 40, 20, cobtest::VColData({{1, {0x0000FF, 0x00FF00, 0xFF0000, 0x123456}}}));
  file.End();
  const Loaded loaded = Load(file.bytes());
  const cob::Polyhedron& poly = loaded.root->polyhedra.at(0);
  EXPECT_EQ(poly.face_vertices[0].colour, 0u);
  EXPECT_EQ(poly.face_vertices[3].colour, 0x0000FFu);
  EXPECT_EQ(poly.face_vertices[5].colour, 0xFF0000u);
}

TEST(CobReader, VertexColourEntriesAreCheckedAgainstTheFaces) {
  struct Case {
    const char* what;
    cobtest::Bytes data;
  };
  const Case cases[] = {
      {"more entries than faces", cobtest::VColData({{0, {1}}, {0, {2}}})},
      {"face index past the last face", cobtest::VColData({{1, {1}}})},
      {"negative face index", cobtest::VColData({{-1, {1}}})},
      {"negative value count", cobtest::Bytes{}.I32(1).I32(0).I32(-1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CobFile file;
    file.Poly(20, 0, cobtest::Triangle("P"));
    file.Chunk("VCol", 40, 20, c.data);
    file.Group(11, 0, "NeverRead");
    const Loaded loaded = Load(file.bytes());
    EXPECT_TRUE(loaded.root->children.empty());
  }
}

TEST(CobReader, HiddenWordGoesToEitherKindOfParent) {
  CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("P"));
  file.Hidden(10, 3).Hidden(20, 8).End();
  const Loaded loaded = Load(file.bytes());
  const cob::Group& g = *loaded.root->children.at(0);
  EXPECT_EQ(g.hidden, 3);
  EXPECT_EQ(g.polyhedra.at(0).hidden, 8);
}

TEST(CobReader, CutsLongNamesToTheNameField) {
  struct Case {
    std::size_t chars;
    std::int16_t duplicate;
    std::size_t stored;
  };
  const Case cases[] = {
      {197, 0, 199},  // "_0" just fits
      {198, 0, 199},  // one over: the suffix loses its digit
      {300, 12, 199},
      {0, 5, 2},  // an empty name still gets its suffix: "_5"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chars);
    CobFile file;
    file.Group(10, 0, std::string(c.chars, 'n'));
    const Loaded loaded = Load(file.bytes());
    ASSERT_EQ(loaded.root->children.size(), 1u);
    EXPECT_EQ(loaded.root->children[0]->name.size(), c.stored);
  }
  CobFile file;
  file.Chunk("Grou", 10, 0, cobtest::GroupData("", {}, 5));
  EXPECT_EQ(Load(file.bytes()).root->children.at(0)->name, "_5");
}

TEST(CobReader, NamesStopAtAnEmbeddedNul) {
  CobFile file;
  file.Group(10, 0, std::string("ab\0cd", 5));
  EXPECT_EQ(Load(file.bytes()).root->children.at(0)->name, "ab_0");
}

TEST(CobReader, DuplicateIdentifiersFindTheFirstInTreeOrder) {
  // Two groups share identifier 10; a polyhedron naming 10 goes to the first one in a
  // depth-first walk, which is the group that came first.
  CobFile file;
  file.Group(10, 0, "First").Group(10, 0, "Second");
  file.Poly(20, 10, cobtest::Triangle("P")).End();
  const Loaded loaded = Load(file.bytes());
  ASSERT_EQ(loaded.root->children.size(), 2u);
  EXPECT_EQ(loaded.root->children[0]->polyhedra.size(), 1u);
  EXPECT_TRUE(loaded.root->children[1]->polyhedra.empty());
  // A polyhedron of the root comes before the root's groups in that walk, even when it was
  // read later: the material naming 10 goes to it rather than being skipped under a group.
  CobFile later;
  later.Group(10, 0, "Group").Poly(10, 0, cobtest::Triangle("Poly"));
  later.Mat(30, 10, cobtest::MatDef{}).End();
  const Loaded l = Load(later.bytes());
  ASSERT_EQ(l.root->polyhedra.size(), 1u);
  EXPECT_EQ(l.root->polyhedra[0].materials.size(), 1u);
  // Deeper duplicates: the one under the earlier branch wins, whatever the reading order.
  CobFile deep;
  deep.Group(1, 0, "A").Group(2, 0, "B").Group(3, 2, "B1").Group(7, 3, "InB");
  deep.Group(4, 1, "A1").Group(7, 4, "InA").Poly(20, 7, cobtest::Triangle("P")).End();
  const Loaded d = Load(deep.bytes());
  EXPECT_EQ(d.root->children.at(0)->children.at(0)->children.at(0)->polyhedra.size(), 1u);
  // Identifier 0 always names the root, even when a chunk claims it.
  CobFile zero;
  zero.Group(0, 0, "ClaimsZero").Poly(20, 0, cobtest::Triangle("P")).End();
  const Loaded z = Load(zero.bytes());
  EXPECT_EQ(z.root->polyhedra.size(), 1u);
}

TEST(CobReader, DeepNestingStopsAtTheLimit) {
  CobFile file;
  for (int i = 1; i <= cob::kMaxGroupDepth + 5; ++i) file.Group(i, i - 1, "g");
  const Loaded loaded = Load(file.bytes());
  int depth = 0;
  const cob::Group* g = loaded.root.get();
  while (!g->children.empty()) {
    g = g->children[0].get();
    ++depth;
  }
  EXPECT_EQ(depth, cob::kMaxGroupDepth);
}

TEST(CobReader, SurvivesEveryCutOfASmallScene) {
  CobFile file;
  file.Group(10, 0, "G");
  cobtest::PolyDef p = cobtest::Triangle("P");
  p.faces.push_back(cobtest::Hole({0, 1, 2}));
  file.Poly(20, 10, p);
  cobtest::MatDef m;
  m.texture = "t.bmp";
  file.Mat(30, 20, m);
  file.Chunk("VCol", 40, 20, cobtest::VColData({{0, {1, 2, 3}}}));
  file.Hidden(20, 0).End();
  const std::vector<std::uint8_t>& whole = file.bytes();
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    const std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + static_cast<long>(n));
    const Loaded loaded = Load(prefix);
    EXPECT_EQ(loaded.root == nullptr, n < 32) << n;
  }
}

}  // namespace
