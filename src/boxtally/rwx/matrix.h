// 4 x 4 single-precision matrices (row by row; points are row vectors multiplied from the left,
// so the translation sits in row 3) and the matrix stack shared by clumps, transform blocks and
// prototype definitions.
#pragma once

#include <array>

#include "platform/text_file.h"

namespace rwx {

using Matrix4 = std::array<std::array<float, 4>, 4>;  // [row][column]

struct Point4 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 1.0f;
};

inline constexpr int kMaxMatrixLevel = 256;          // levels 0..256; a push past it ends the run
inline constexpr float kMaxTransformValue = 1.0e5f;  // larger "transform" values are cut to it

struct MatrixStack {
  std::array<Matrix4, kMaxMatrixLevel + 1>
      levels{};   // pushing copies one level, popping moves `level`
  int level = 0;  // the current matrix is levels[level]
};

Matrix4 IdentityMatrix();

// out_j = x*M[0][j] + y*M[1][j] + z*M[2][j] + M[3][j], summed in that order in single precision.
// The point's own fourth component is not used. Inline: every point of a script goes through it.
inline Point4 TransformPoint(const Point4& point, const Matrix4& m) {
  float out[4];
  for (int j = 0; j < 4; ++j) {
    float sum = point.x * m[0][j];
    sum += point.y * m[1][j];
    sum += point.z * m[2][j];
    sum += m[3][j];
    out[j] = sum;
  }
  return Point4{out[0], out[1], out[2], out[3]};
}

// a x b, each element summed over k = 0..3 in that order, starting with the k = 0 product.
Matrix4 MultiplyMatrices(const Matrix4& a, const Matrix4& b);

// current := a x current: the new transformation acts on points before everything in force.
void ComposeMatrix(const Matrix4& a, Matrix4& current);

Matrix4 TranslationMatrix(float tx, float ty, float tz);
Matrix4 ScaleMatrix(float sx, float sy, float sz);
// Rotation about the first non-zero axis component in the order x, y, z (its size and sign are
// not used); the identity when all three are 0.
Matrix4 RotationMatrix(float ax, float ay, float az, float angle_degrees);
// The 16 values row by row, every value above kMaxTransformValue cut to it (negative ones stay).
Matrix4 TransformMatrix(const std::array<float, 16>& values);

// Four lines, one per row, each element written "%0.6f  ".
void WriteMatrix(platform::TextFile& out, const Matrix4& m);

void ResetMatrixStack(MatrixStack& stack);  // level 0, identity
inline Matrix4& CurrentMatrix(MatrixStack& stack) { return stack.levels[stack.level]; }

}  // namespace rwx
