#include "boxtally/render/polygon.h"

#include <cmath>

namespace render {

namespace {

struct Point2 {
  double x = 0;
  double y = 0;
};

// Twice the signed area of a, b, c: positive when they turn left.
double Turn(const Point2& a, const Point2& b, const Point2& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

bool Same(const Point2& a, const Point2& b) { return a.x == b.x && a.y == b.y; }

// Inside the triangle a, b, c (turning left) or on its edges.
bool InsideOrOn(const Point2& p, const Point2& a, const Point2& b, const Point2& c) {
  return Turn(a, b, p) >= 0 && Turn(b, c, p) >= 0 && Turn(c, a, p) >= 0;
}

void Fan(std::span<const std::uint32_t> corners, std::vector<std::uint32_t>& out) {
  for (std::size_t k = 1; k + 1 < corners.size(); ++k) {
    out.push_back(corners[0]);
    out.push_back(corners[k]);
    out.push_back(corners[k + 1]);
  }
}

struct Normal {
  float v[3] = {0, 0, 0};
};

// The polygon's Newell normal: its area's direction, right for concave polygons too.
Normal NewellNormal(const std::vector<Vec3>& points, std::span<const std::uint32_t> corners) {
  Normal n;
  const Vec3* a = &points[corners.back()];
  for (const std::uint32_t corner : corners) {
    const Vec3* b = &points[corner];
    n.v[0] += (a->y - b->y) * (a->z + b->z);
    n.v[1] += (a->z - b->z) * (a->x + b->x);
    n.v[2] += (a->x - b->x) * (a->y + b->y);
    a = b;
  }
  return n;
}

// Whether every corner turns the way the whole polygon does (straight corners too).
bool Convex(const std::vector<Vec3>& points, std::span<const std::uint32_t> corners,
            const Normal& n) {
  const Vec3* p = &points[corners[corners.size() - 2]];
  const Vec3* q = &points[corners.back()];
  for (const std::uint32_t corner : corners) {
    const Vec3* r = &points[corner];
    const Vec3 u{q->x - p->x, q->y - p->y, q->z - p->z};
    const Vec3 w{r->x - q->x, r->y - q->y, r->z - q->z};
    const float turn = (u.y * w.z - u.z * w.y) * n.v[0] + (u.z * w.x - u.x * w.z) * n.v[1] +
                       (u.x * w.y - u.y * w.x) * n.v[2];
    if (turn < 0) return false;
    p = q;
    q = r;
  }
  return true;
}

// The corners in the plane the polygon mostly lies in (the axis of the largest component of its
// normal dropped), mirrored when needed so that the polygon turns left.
std::vector<Point2> Flatten(const std::vector<Vec3>& points, std::span<const std::uint32_t> corners,
                            const Normal& n, int drop) {
  const double mirror = n.v[drop] > 0 ? 1.0 : -1.0;
  std::vector<Point2> flat(corners.size());
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Vec3& p = points[corners[i]];
    const double c[3] = {p.x, p.y, p.z};
    // (y, z), (z, x) or (x, y): each turns left about the dropped axis.
    flat[i] = {c[(drop + 1) % 3] * mirror, c[(drop + 2) % 3]};
  }
  return flat;
}

}  // namespace

void CutPolygon(const std::vector<Vec3>& points, std::span<const std::uint32_t> corners,
                std::size_t& work_left, std::vector<std::uint32_t>& out) {
  const std::size_t n = corners.size();
  if (n < 3) return;
  if (n == 3) return Fan(corners, out);
  const Normal normal = NewellNormal(points, corners);
  int drop = 0;
  for (int axis = 1; axis < 3; ++axis) {
    if (std::fabs(normal.v[axis]) > std::fabs(normal.v[drop])) drop = axis;
  }
  if (!(std::fabs(normal.v[drop]) > 0.0f) || !std::isfinite(normal.v[drop]) ||
      Convex(points, corners, normal)) {
    return Fan(corners, out);
  }
  const std::vector<Point2> flat = Flatten(points, corners, normal, drop);

  std::vector<std::size_t> prev(n), next(n);
  for (std::size_t i = 0; i < n; ++i) {
    prev[i] = (i + n - 1) % n;
    next[i] = (i + 1) % n;
  }
  const auto is_ear = [&](std::size_t i, std::size_t left) {
    const Point2 &a = flat[prev[i]], &b = flat[i], &c = flat[next[i]];
    if (Turn(a, b, c) <= 0) return false;
    work_left -= std::min(work_left, left);
    for (std::size_t r = next[next[i]]; r != prev[i]; r = next[r]) {
      const Point2& p = flat[r];
      if (Same(p, a) || Same(p, b) || Same(p, c)) continue;
      if (InsideOrOn(p, a, b, c)) return false;
    }
    return true;
  };
  std::size_t i = 0, left = n, misses = 0;
  while (left > 3 && work_left > 0) {
    // A ring where no corner is an ear (it crosses itself) still loses one: the one at hand.
    if (is_ear(i, left) || ++misses > left) {
      out.insert(out.end(), {corners[prev[i]], corners[i], corners[next[i]]});
      next[prev[i]] = next[i];
      prev[next[i]] = prev[i];
      i = prev[i];
      --left;
      misses = 0;
    } else {
      i = next[i];
    }
  }
  // What is left: the last triangle, or a fan once the work ran out.
  for (std::size_t k = next[i]; next[k] != i; k = next[k]) {
    out.insert(out.end(), {corners[i], corners[k], corners[next[k]]});
  }
}

}  // namespace render
