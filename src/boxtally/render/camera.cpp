#include "boxtally/render/camera.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace render {

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Plus(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Minus(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Times(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }

float Finite(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

// The extent of the box across one screen axis, and its middle, relative to the box's centre.
struct Span {
  float low = 0;
  float high = 0;
};
Span SpanAlong(const Bounds& box, const Vec3& centre, const Vec3& axis) {
  Span span{INFINITY, -INFINITY};
  for (int corner = 0; corner < 8; ++corner) {
    const Vec3 p{(corner & 4) ? box.max.x : box.min.x, (corner & 2) ? box.max.y : box.min.y,
                 (corner & 1) ? box.max.z : box.min.z};
    const float along = Dot(Minus(p, centre), axis);
    span.low = std::min(span.low, along);
    span.high = std::max(span.high, along);
  }
  return span;
}

}  // namespace

Projection FitProjection(const Camera& camera, const Bounds& box, int width, int height) {
  const Camera first;
  const double yaw = Finite(camera.yaw_degrees, first.yaw_degrees) * kDegree;
  const double pitch =
      std::clamp(Finite(camera.pitch_degrees, first.pitch_degrees), -90.0f, 90.0f) * kDegree;
  const float zoom = std::clamp(Finite(camera.zoom, first.zoom), kMinZoom, kMaxZoom);
  const float sy = static_cast<float>(std::sin(yaw)), cy = static_cast<float>(std::cos(yaw));
  const float sp = static_cast<float>(std::sin(pitch)), cp = static_cast<float>(std::cos(pitch));

  Projection p;
  p.right = {cy, 0.0f, sy};
  p.up = {sy * sp, cp, -cy * sp};
  p.toward_eye = {-sy * cp, sp, cy * cp};
  const Vec3 middle = Times(Plus(box.min, box.max), 0.5f);
  const Span across = SpanAlong(box, middle, p.right);
  const Span upward = SpanAlong(box, middle, p.up);
  p.centre = Plus(middle, Plus(Times(p.right, (across.low + across.high) / 2),
                               Times(p.up, (upward.low + upward.high) / 2)));

  // A box without width or height on screen (a point, a square seen edge on) is fitted as if it
  // had a little, so the scale stays finite.
  float wide = across.high - across.low;
  float high = upward.high - upward.low;
  const float larger = std::max(wide, high);
  const float least = larger > 0 ? larger * 1e-3f : 1.0f;
  wide = std::max(wide, least);
  high = std::max(high, least);
  const float usable = 1.0f - 2.0f * kFitMargin;
  p.scale = std::min(static_cast<float>(width) * usable / wide,
                     static_cast<float>(height) * usable / high) *
            zoom;
  const float shorter = static_cast<float>(std::min(width, height));
  p.origin_x = static_cast<float>(width) / 2 + Finite(camera.pan_x, 0.0f) * shorter;
  p.origin_y = static_cast<float>(height) / 2 + Finite(camera.pan_y, 0.0f) * shorter;
  return p;
}

ScreenPoint Project(const Projection& projection, const Vec3& point) {
  const Vec3 d = Minus(point, projection.centre);
  return {projection.origin_x + Dot(d, projection.right) * projection.scale,
          projection.origin_y - Dot(d, projection.up) * projection.scale,
          Dot(d, projection.toward_eye) * projection.scale};
}

}  // namespace render
