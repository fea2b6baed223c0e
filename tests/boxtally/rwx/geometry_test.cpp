#include <gtest/gtest.h>

#include <vector>

#include "boxtally/rwx/workspace.h"

namespace rwx {
namespace {

class Geometry : public ::testing::Test {
 protected:
  WorkspacePtr ws = CreateWorkspace();
  ModelRecord& record() { return ws->record; }
  void ExpectBox(std::array<float, 3> min, std::array<float, 3> max) {
    EXPECT_EQ(record().box.min, min);
    EXPECT_EQ(record().box.max, max);
  }
};

TEST_F(Geometry, BlockTakesAbsoluteSizes) {
  AddBlock(*ws, -2.0f, 2.0f, 2.0f);
  ExpectBox({-1.0f, -1.0f, -1.0f}, {1.0f, 1.0f, 1.0f});
  EXPECT_EQ(record().vertex_count, 8);
  EXPECT_EQ(record().polygon_count, 6);
}

TEST_F(Geometry, SphereCountsByDensity) {
  struct Case {
    int density;
    std::int64_t vertices;
    std::int64_t polygons;
  };
  const Case cases[] = {
      {0, 8, 6},        {1, 8, 8},        {2, 18, 32},
      {3, 38, 72},      {21, 1766, 3528}, {-3, 8, 6},  // below the table: density 0
      {40, 1766, 3528},                                // above the table: density 21
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.density);
    ws = CreateWorkspace();
    AddSphere(*ws, -1.0f, c.density);
    EXPECT_EQ(record().vertex_count, c.vertices);
    EXPECT_EQ(record().polygon_count, c.polygons);
    ExpectBox({-1.0f, -1.0f, -1.0f}, {1.0f, 1.0f, 1.0f});
  }
}

TEST_F(Geometry, HemisphereStandsOnZero) {
  struct Case {
    int density;
    std::int64_t vertices;
    std::int64_t polygons;
  };
  const Case cases[] = {{0, 8, 3}, {1, 8, 4}, {2, 13, 16}, {21, 925, 1764}, {22, 925, 1764}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.density);
    ws = CreateWorkspace();
    AddHemisphere(*ws, 1.0f, c.density);
    EXPECT_EQ(record().vertex_count, c.vertices);
    EXPECT_EQ(record().polygon_count, c.polygons);
    ExpectBox({-1.0f, 0.0f, -1.0f}, {1.0f, 1.0f, 1.0f});
  }
}

TEST_F(Geometry, CylinderCountsTwoVerticesPerSideBeyondFour) {
  struct Case {
    int sides;
    std::int64_t vertices;
    std::int64_t polygons;
  };
  const Case cases[] = {
      {3, 8, 3}, {4, 8, 4}, {10, 20, 10}, {-5, 8, 0}, {20000, 8 + 2 * 9996, 10000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sides);
    ws = CreateWorkspace();
    AddCylinder(*ws, -2.0f, 0.5f, -1.0f, c.sides);
    EXPECT_EQ(record().vertex_count, c.vertices);
    EXPECT_EQ(record().polygon_count, c.polygons);
    ExpectBox({-1.0f, -2.0f, -1.0f}, {1.0f, 0.0f, 1.0f});  // a negative height reaches down
  }
}

TEST_F(Geometry, CylinderInADefinitionStoresItsExtraPoints) {
  ws->definition_mode = true;
  OpenDefinition(ws->prototypes, "c");
  AddCylinder(*ws, 2.0f, 1.0f, 1.0f, 6);
  const PrototypeDefinition& d = ws->prototypes.definitions[0];
  ASSERT_EQ(d.points.size(), 12u);
  EXPECT_EQ(d.polygon_count, 6);
  EXPECT_EQ(d.points[8].x, -1.0f);
  EXPECT_EQ(d.points[8].y, 2.0f);
  EXPECT_EQ(d.points[9].y, 1.0f);
  EXPECT_EQ(record().vertex_count, 0);
}

TEST_F(Geometry, ConePointsGoRoundFromPlusZ) {
  ws->definition_mode = true;  // keep the points to look at them
  OpenDefinition(ws->prototypes, "c");
  AddCone(*ws, 2.0f, 1.0f, 4);
  const std::vector<Point4>& p = ws->prototypes.definitions[0].points;
  ASSERT_EQ(p.size(), 5u);
  const float expected[5][3] = {{0, 2, 0}, {0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}};
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(p[i].x, expected[i][0], 1e-6);
    EXPECT_EQ(p[i].y, expected[i][1]);
    EXPECT_NEAR(p[i].z, expected[i][2], 1e-6);
  }
  EXPECT_EQ(ws->prototypes.definitions[0].polygon_count, 4);
}

TEST_F(Geometry, ConeAndDiscCountsAndBox) {
  AddCone(*ws, 2.0f, 1.0f, 4);
  EXPECT_EQ(record().vertex_count, 5);
  EXPECT_EQ(record().polygon_count, 4);
  EXPECT_EQ(record().box.max[1], 2.0f);
  EXPECT_EQ(record().box.max[0], 1.0f);
  EXPECT_EQ(record().box.min[2], -1.0f);

  ws = CreateWorkspace();
  AddDisc(*ws, 0.5f, -1.0f, 8);  // a negative radius mirrors the points
  EXPECT_EQ(record().vertex_count, 9);
  EXPECT_EQ(record().polygon_count, 8);
  EXPECT_EQ(record().box.min[1], 0.5f);
  EXPECT_EQ(record().box.max[1], 0.5f);
  EXPECT_EQ(record().box.min[2], -1.0f);  // i = 0: (0, y, -1)
  EXPECT_NEAR(record().box.max[2], 1.0f, 1e-6);
}

TEST_F(Geometry, PointsGoThroughTheCurrentMatrix) {
  ComposeMatrix(TranslationMatrix(10.0f, 0.0f, 0.0f), CurrentMatrix(ws->stack));
  AddPoint(*ws, 1.0f, 2.0f, 3.0f);
  ExpectBox({11.0f, 2.0f, 3.0f}, {11.0f, 2.0f, 3.0f});
}

}  // namespace
}  // namespace rwx
