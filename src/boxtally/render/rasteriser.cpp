#include "boxtally/render/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "boxtally/render/surface_fill.h"
#include "boxtally/render/surface_paint.h"

namespace render {

namespace {

constexpr float kHiddenAlpha = 0.35f;  // lines of the box and axes behind the model
constexpr float kGridAlpha = 0.45f;
constexpr int kMaxGridLines = 200;  // each way

// The light comes from above the viewer, fixed in view space (right, up, toward the eye), so the
// faces that look at the viewer are lit whichever way the model is turned. In the first view a
// box's top, front and left faces then get about 0.9, 0.65 and 0.55 of their colour.
constexpr float kLightRight = 0.0f;
constexpr float kLightUp = 0.5f;
constexpr float kLightEye = 0.8660254f;

struct Canvas {
  Image& image;
  std::vector<float>& depth;  // per pixel; larger is nearer
  int thickness = 1;         // of lines and points, in pixels
  float depth_slack = 2;     // a line this much behind a face still counts as in front of it
};

bool Finite(const ScreenPoint& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.depth);
}

void Put(Canvas& canvas, std::size_t pixel, std::uint32_t rgb) {
  std::uint8_t* p = &canvas.image.rgba[pixel * 4];
  p[0] = static_cast<std::uint8_t>(rgb >> 16);
  p[1] = static_cast<std::uint8_t>(rgb >> 8);
  p[2] = static_cast<std::uint8_t>(rgb);
  p[3] = 255;
}

void Blend(Canvas& canvas, std::size_t pixel, std::uint32_t rgb, float alpha) {
  std::uint8_t* p = &canvas.image.rgba[pixel * 4];
  for (int i = 0; i < 3; ++i) {
    const float top = static_cast<float>((rgb >> (16 - 8 * i)) & 0xFF);
    p[i] = static_cast<std::uint8_t>(top * alpha + static_cast<float>(p[i]) * (1 - alpha) + 0.5f);
  }
}

// The pixel columns (or rows) from `low` to `high` that lie in 0..size-1; empty when none do.
struct PixelRange {
  int first = 0;
  int last = -1;
};
PixelRange Clip(float low, float high, int size) {
  if (!(high >= 0.0f) || !(low <= static_cast<float>(size - 1))) return {};
  return {static_cast<int>(std::max(0.0f, std::floor(low))),
          static_cast<int>(std::min(static_cast<float>(size - 1), std::ceil(high)))};
}

// Cuts the segment to the picture (with a border of the line's thickness), so a line that
// reaches far outside costs no more than one across it. False when nothing of it is inside.
bool ClipSegment(const Canvas& canvas, ScreenPoint& a, ScreenPoint& b) {
  const float border = static_cast<float>(canvas.thickness) + 1;
  const float low[2] = {-border, -border};
  const float high[2] = {static_cast<float>(canvas.image.width) + border,
                         static_cast<float>(canvas.image.height) + border};
  const float start[2] = {a.x, a.y};
  const float delta[2] = {b.x - a.x, b.y - a.y};
  float t0 = 0.0f, t1 = 1.0f;
  for (int axis = 0; axis < 2; ++axis) {
    for (const auto& [p, q] : {std::pair{-delta[axis], start[axis] - low[axis]},
                               std::pair{delta[axis], high[axis] - start[axis]}}) {
      if (p == 0.0f) {
        if (q < 0.0f) return false;
        continue;
      }
      const float t = q / p;
      if (p < 0.0f) t0 = std::max(t0, t);
      if (p > 0.0f) t1 = std::min(t1, t);
    }
  }
  if (!(t0 <= t1)) return false;
  const ScreenPoint from = a;
  const auto at = [&](float t) {
    return ScreenPoint{from.x + (b.x - from.x) * t, from.y + (b.y - from.y) * t,
                       from.depth + (b.depth - from.depth) * t};
  };
  const ScreenPoint end = at(t1);
  a = at(t0);
  b = end;
  return true;
}

// The line as a band of the canvas's thickness, each pixel blended by how much of it the band
// covers (so the line is smooth), with `visible` where nothing of the model is in front of it,
// else with `hidden` (0: left alone). It goes once along its longer axis: every pixel gets one
// blend.
void DrawLine(Canvas& canvas, ScreenPoint a, ScreenPoint b, std::uint32_t rgb, float visible,
              float hidden) {
  if (!Finite(a) || !Finite(b) || !ClipSegment(canvas, a, b)) return;
  const bool steep = std::fabs(b.y - a.y) > std::fabs(b.x - a.x);
  float from[3] = {steep ? a.y : a.x, steep ? a.x : a.y, a.depth};  // along, across, depth
  float to[3] = {steep ? b.y : b.x, steep ? b.x : b.y, b.depth};
  if (from[0] > to[0]) std::swap(from, to);
  const int along_size = steep ? canvas.image.height : canvas.image.width;
  const int across_size = steep ? canvas.image.width : canvas.image.height;
  const float length = to[0] - from[0];
  const float half = static_cast<float>(canvas.thickness) / 2;
  const PixelRange steps = Clip(std::ceil(from[0] - 1), std::floor(to[0]), along_size);
  for (int step = steps.first; step <= steps.last; ++step) {
    const float t =
        length > 0 ? std::clamp((static_cast<float>(step) + 0.5f - from[0]) / length, 0.0f, 1.0f)
                   : 0.0f;
    const float across = from[1] + (to[1] - from[1]) * t;
    const float depth = from[2] + (to[2] - from[2]) * t;
    const PixelRange band = Clip(std::floor(across - half), std::floor(across + half), across_size);
    for (int pixel_across = band.first; pixel_across <= band.last; ++pixel_across) {
      const float low = static_cast<float>(pixel_across);
      const float cover = std::min(low + 1, across + half) - std::max(low, across - half);
      if (!(cover > 0.0f)) continue;
      const int x = steep ? pixel_across : step, y = steep ? step : pixel_across;
      const std::size_t pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.image.width) +
                                static_cast<std::size_t>(x);
      const float alpha = depth + canvas.depth_slack >= canvas.depth[pixel] ? visible : hidden;
      if (alpha > 0.0f) Blend(canvas, pixel, rgb, alpha * std::min(cover, 1.0f));
    }
  }
}

void DrawPoints(Canvas& canvas, const std::vector<ScreenPoint>& screen) {
  const float size = static_cast<float>(canvas.thickness + 2);
  const int width = canvas.image.width;
  for (const ScreenPoint& p : screen) {
    if (!Finite(p)) continue;
    const PixelRange xs = Clip(p.x - size / 2, p.x + size / 2 - 1, width);
    const PixelRange ys = Clip(p.y - size / 2, p.y + size / 2 - 1, canvas.image.height);
    for (int y = ys.first; y <= ys.last; ++y) {
      for (int x = xs.first; x <= xs.last; ++x) {
        const std::size_t pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(x);
        if (p.depth <= canvas.depth[pixel]) continue;
        canvas.depth[pixel] = p.depth;
        Put(canvas, pixel, Scale(kGrey, 0.5f));
      }
    }
  }
}

// A step of 1, 2 or 5 times a power of ten that cuts `extent` into about 4 to 10 cells.
double GridStep(double extent) {
  const double raw = std::max(extent, 1e-6) / 8;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double nice : {1.0, 2.0, 5.0}) {
    if (raw <= nice * power) return nice * power;
  }
  return 10 * power;
}

// The ground y = 0 under the box and the origin, a cell beyond both.
void DrawGrid(Canvas& canvas, const Bounds& box, const Projection& view) {
  const double low_x = std::min(box.min.x, 0.0f), high_x = std::max(box.max.x, 0.0f);
  const double low_z = std::min(box.min.z, 0.0f), high_z = std::max(box.max.z, 0.0f);
  // Cells fit the model's size, also for one that stands far from the origin.
  double step = GridStep(std::max({static_cast<double>(box.max.x) - box.min.x,
                                   static_cast<double>(box.max.y) - box.min.y,
                                   static_cast<double>(box.max.z) - box.min.z}));
  while ((high_x - low_x) / step > kMaxGridLines || (high_z - low_z) / step > kMaxGridLines) {
    step *= 10;
  }
  const double x0 = (std::floor(low_x / step) - 1) * step;
  const double z0 = (std::floor(low_z / step) - 1) * step;
  const int columns = static_cast<int>(std::ceil(high_x / step) - std::floor(low_x / step)) + 2;
  const int rows = static_cast<int>(std::ceil(high_z / step) - std::floor(low_z / step)) + 2;
  const auto x_at = [&](int i) { return static_cast<float>(x0 + i * step); };
  const auto z_at = [&](int i) { return static_cast<float>(z0 + i * step); };
  for (int i = 0; i <= columns; ++i) {
    DrawLine(canvas, Project(view, {x_at(i), 0, z_at(0)}), Project(view, {x_at(i), 0, z_at(rows)}),
             kGridColour, kGridAlpha, 0.0f);
  }
  for (int i = 0; i <= rows; ++i) {
    DrawLine(canvas, Project(view, {x_at(0), 0, z_at(i)}),
             Project(view, {x_at(columns), 0, z_at(i)}), kGridColour, kGridAlpha, 0.0f);
  }
}

void DrawBox(Canvas& canvas, const Bounds& box, const Projection& view) {
  ScreenPoint corner[8];
  for (int i = 0; i < 8; ++i) {
    corner[i] = Project(view, {(i & 4) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
                               (i & 1) ? box.max.z : box.min.z});
  }
  // The corners that differ in one bit of their number share an edge.
  for (int i = 0; i < 8; ++i) {
    for (const int bit : {1, 2, 4}) {
      if ((i & bit) == 0) DrawLine(canvas, corner[i], corner[i | bit], kBoxColour, 1, kHiddenAlpha);
    }
  }
}

// Each axis as long as most of the box along it, and never much shorter than the box's largest
// side, so a tall thin model's ground axes neither vanish nor leave the picture.
void DrawAxes(Canvas& canvas, const Bounds& box, const Projection& view) {
  const float sides[3] = {box.max.x - box.min.x, box.max.y - box.min.y, box.max.z - box.min.z};
  const float largest = std::max({sides[0], sides[1], sides[2]});
  const ScreenPoint origin = Project(view, {0, 0, 0});
  for (int axis = 0; axis < 3; ++axis) {
    float length = std::max(sides[axis] * 0.6f, largest * 0.15f);
    if (!(length > 0.0f)) length = 1.0f;
    const Vec3 end{axis == 0 ? length : 0.0f, axis == 1 ? length : 0.0f, axis == 2 ? length : 0.0f};
    DrawLine(canvas, origin, Project(view, end), kAxisColours[axis], 1, kHiddenAlpha);
  }
}

// What the view is fitted to: the box, or the mesh's bounds, or a unit cube about the origin.
Bounds FittedBounds(const Mesh& mesh, const Bounds* box) {
  if (box != nullptr && IsUsable(*box)) return *box;
  if (const std::optional<Bounds> own = MeshBounds(mesh)) return *own;
  return {{-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}};
}

}  // namespace

Image DrawScene(const Mesh& mesh, const Bounds* box, const Camera& camera, int width, int height,
                const DrawOptions& options) {
  Image image;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return image;
  image.width = width;
  image.height = height;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  image.rgba.resize(pixels * 4);
  // Kept by the thread for its next drawing, as FillSurfaces keeps its own buffers.
  thread_local std::vector<float> depth;
  Canvas canvas{image, depth};
  canvas.thickness = std::max(1, static_cast<int>(std::lround(std::min(width, height) / 256.0)));
  canvas.depth_slack = 2.0f + static_cast<float>(canvas.thickness);

  const Bounds fitted = FittedBounds(mesh, box);
  const Projection view = FitProjection(camera, fitted, width, height);
  std::vector<ScreenPoint> screen(mesh.vertices.size());
  for (std::size_t i = 0; i < screen.size(); ++i) screen[i] = Project(view, mesh.vertices[i]);
  if (mesh.triangles.empty()) {
    depth.assign(pixels, -std::numeric_limits<float>::infinity());
    for (std::size_t i = 0; i < pixels; ++i) Put(canvas, i, kBackground);
    DrawPoints(canvas, screen);
  } else {
    const Vec3 light{
        kLightRight * view.right.x + kLightUp * view.up.x + kLightEye * view.toward_eye.x,
        kLightRight * view.right.y + kLightUp * view.up.y + kLightEye * view.toward_eye.y,
        kLightRight * view.right.z + kLightUp * view.up.z + kLightEye * view.toward_eye.z};
    // Every pixel, the background's too.
    FillSurfaces(mesh, screen, light, options.textures, kBackground, image, canvas.depth);
  }
  if (options.grid) DrawGrid(canvas, fitted, view);
  if (options.box && box != nullptr && IsUsable(*box)) DrawBox(canvas, *box, view);
  if (options.axes) DrawAxes(canvas, fitted, view);
  if (pixels > kKeptScratchPixels) depth = {};
  return image;
}

std::uint32_t PixelAt(const Image& image, int x, int y) {
  const std::uint8_t* p =
      &image.rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                   static_cast<std::size_t>(x)) *
                  4];
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

}  // namespace render
