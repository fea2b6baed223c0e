#include "boxtally/rwx/matrix.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../../support/temp_dir.h"

namespace rwx {
namespace {

Point4 Apply(const Matrix4& m, float x, float y, float z) {
  return TransformPoint(Point4{x, y, z, 1.0f}, m);
}

TEST(TransformPoint, UsesRowThreeAsTranslationAndIgnoresTheFourthComponent) {
  const Matrix4 m = TranslationMatrix(1.0f, 2.0f, 3.0f);
  const Point4 p = TransformPoint(Point4{1.0f, 1.0f, 1.0f, 0.0f}, m);
  EXPECT_EQ(p.x, 2.0f);
  EXPECT_EQ(p.y, 3.0f);
  EXPECT_EQ(p.z, 4.0f);
  EXPECT_EQ(p.w, 1.0f);
}

TEST(ComposeMatrix, LaterCommandActsOnPointsFirst) {
  // translate (1, 2, 3), then rotate 90 degrees about y: the origin ends at (1, 2, 3).
  Matrix4 current = IdentityMatrix();
  ComposeMatrix(TranslationMatrix(1.0f, 2.0f, 3.0f), current);
  ComposeMatrix(RotationMatrix(0.0f, 1.0f, 0.0f, 90.0f), current);
  const Point4 origin = Apply(current, 0.0f, 0.0f, 0.0f);
  EXPECT_EQ(origin.x, 1.0f);
  EXPECT_EQ(origin.y, 2.0f);
  EXPECT_EQ(origin.z, 3.0f);
  // The point (1, 0, 0) is rotated first: about y by 90 degrees it goes to (0, 0, -1).
  const Point4 p = Apply(current, 1.0f, 0.0f, 0.0f);
  EXPECT_NEAR(p.x, 1.0f, 1e-6);
  EXPECT_EQ(p.y, 2.0f);
  EXPECT_EQ(p.z, 2.0f);
}

TEST(RotationMatrix, FirstNonZeroAxisChoosesAndItsSignIsIgnored) {
  const Matrix4 y_plus = RotationMatrix(0.0f, 1.0f, 0.0f, 90.0f);
  EXPECT_EQ(RotationMatrix(0.0f, -1.0f, 0.0f, 90.0f), y_plus);
  EXPECT_EQ(RotationMatrix(0.0f, 5.0f, 3.0f, 90.0f), y_plus);
  EXPECT_EQ(RotationMatrix(1.0f, 1.0f, 0.0f, 90.0f), RotationMatrix(1.0f, 0.0f, 0.0f, 90.0f));
  EXPECT_EQ(RotationMatrix(0.0f, 0.0f, 0.0f, 90.0f), IdentityMatrix());
  // About x: A[1][1] = c, A[1][2] = s, A[2][1] = -s, A[2][2] = c.
  const Matrix4 x = RotationMatrix(1.0f, 0.0f, 0.0f, 90.0f);
  EXPECT_EQ(x[1][2], 1.0f);
  EXPECT_EQ(x[2][1], -1.0f);
  EXPECT_NEAR(x[1][1], 0.0f, 1e-7);
  // About z: A[0][1] = s, A[1][0] = -s.
  const Matrix4 z = RotationMatrix(0.0f, 0.0f, 1.0f, 90.0f);
  EXPECT_EQ(z[0][1], 1.0f);
  EXPECT_EQ(z[1][0], -1.0f);
  // About y: A[0][2] = -s, A[2][0] = s.
  EXPECT_EQ(y_plus[0][2], -1.0f);
  EXPECT_EQ(y_plus[2][0], 1.0f);
}

TEST(TransformMatrix, CutsLargeValuesButNotLargeNegativeOnes) {
  std::array<float, 16> values{};
  values[0] = 250000.0f;
  values[5] = -250000.0f;
  values[15] = 1.0f;
  const Matrix4 m = TransformMatrix(values);
  EXPECT_EQ(m[0][0], 100000.0f);
  EXPECT_EQ(m[1][1], -250000.0f);
  EXPECT_EQ(m[3][3], 1.0f);
}

TEST(MultiplyMatrices, RowTimesColumn) {
  Matrix4 a{};
  Matrix4 b{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      a[i][j] = static_cast<float>(i * 4 + j);
      b[i][j] = static_cast<float>(i == j ? 2 : 0) + (i == 0 && j == 3 ? 1.0f : 0.0f);
    }
  }
  const Matrix4 r = MultiplyMatrices(a, b);
  EXPECT_EQ(r[1][1], 10.0f);         // a[1][1] * 2
  EXPECT_EQ(r[1][3], 4.0f + 14.0f);  // a[1][0] * 1 + a[1][3] * 2
}

TEST(WriteMatrix, FourRowsOfSixDecimalsWithTwoBlanks) {
  testing_support::TempDir dir;
  const std::string path = dir / "m.txt";
  platform::TextFilePtr out(platform::OpenTextFile(path, platform::OpenMode::kCreate));
  WriteMatrix(*out, TranslationMatrix(1.5f, -2.0f, 0.25f));
  out.reset();
  EXPECT_EQ(testing_support::ReadFile(path),
            "1.000000  0.000000  0.000000  0.000000  \r\n"
            "0.000000  1.000000  0.000000  0.000000  \r\n"
            "0.000000  0.000000  1.000000  0.000000  \r\n"
            "1.500000  -2.000000  0.250000  1.000000  \r\n");
}

}  // namespace
}  // namespace rwx
