#include "boxtally/rwx/matrix.h"

#include <cmath>

namespace rwx {

namespace {
// Extended precision for the degree-to-radian factor, as the angle is worked out in it.
constexpr long double kPi = 3.141592653589793238462643383279502884L;
}  // namespace

Matrix4 IdentityMatrix() {
  Matrix4 m{};
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0f;
  return m;
}

Matrix4 MultiplyMatrices(const Matrix4& a, const Matrix4& b) {
  Matrix4 r{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      float sum = a[i][0] * b[0][j];
      for (int k = 1; k < 4; ++k) sum += a[i][k] * b[k][j];
      r[i][j] = sum;
    }
  }
  return r;
}

void ComposeMatrix(const Matrix4& a, Matrix4& current) { current = MultiplyMatrices(a, current); }

Matrix4 TranslationMatrix(float tx, float ty, float tz) {
  Matrix4 m = IdentityMatrix();
  m[3][0] = tx;
  m[3][1] = ty;
  m[3][2] = tz;
  return m;
}

Matrix4 ScaleMatrix(float sx, float sy, float sz) {
  Matrix4 m = IdentityMatrix();
  m[0][0] = sx;
  m[1][1] = sy;
  m[2][2] = sz;
  return m;
}

Matrix4 RotationMatrix(float ax, float ay, float az, float angle_degrees) {
  const float theta =
      static_cast<float>(static_cast<long double>(angle_degrees) * 2 * kPi * (1.0L / 360.0L));
  const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
  const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
  Matrix4 m = IdentityMatrix();
  if (ax != 0.0f) {
    m[1][1] = c;
    m[1][2] = s;
    m[2][1] = -s;
    m[2][2] = c;
  } else if (ay != 0.0f) {
    m[0][0] = c;
    m[0][2] = -s;
    m[2][0] = s;
    m[2][2] = c;
  } else if (az != 0.0f) {
    m[0][0] = c;
    m[0][1] = s;
    m[1][0] = -s;
    m[1][1] = c;
  }
  return m;
}

Matrix4 TransformMatrix(const std::array<float, 16>& values) {
  Matrix4 m{};
  for (int i = 0; i < 16; ++i) {
    const float v = values[static_cast<std::size_t>(i)];
    m[i / 4][i % 4] = v > kMaxTransformValue ? kMaxTransformValue : v;
  }
  return m;
}

void WriteMatrix(platform::TextFile& out, const Matrix4& m) {
  for (const auto& row : m) {
    platform::TextPrintf(out, "%0.6f  %0.6f  %0.6f  %0.6f  \n", static_cast<double>(row[0]),
                         static_cast<double>(row[1]), static_cast<double>(row[2]),
                         static_cast<double>(row[3]));
  }
}

void ResetMatrixStack(MatrixStack& stack) {
  stack.level = 0;
  stack.levels[0] = IdentityMatrix();
}

}  // namespace rwx
