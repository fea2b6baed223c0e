#include "boxtally/render/surface_fill.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "boxtally/render/surface_paint.h"

namespace render {

namespace {

constexpr float kFar = -std::numeric_limits<float>::infinity();
constexpr std::uint32_t kNone = 0xFFFFFFFF;  // no triangle at a pixel
// Where an edge pixel's four samples lie, from its top left corner: a rotated grid, so that
// edges near the horizontal and near the vertical both get four steps of coverage.
constexpr float kSampleX[4] = {0.375f, 0.875f, 0.125f, 0.625f};
constexpr float kSampleY[4] = {0.125f, 0.375f, 0.625f, 0.875f};
// Triangles smaller than this many pixels of bounding box never ask their tiles' depth: it
// costs more than it saves.
constexpr int kTiledArea = 2 * kTileSide * kTileSide;
constexpr int kSmallSide = 4;  // pixels: triangles narrower and lower go pixel by pixel
constexpr int kDepthBuckets = 4096;  // of the front-to-back order
constexpr int kCheckerCells = 48;    // cells of the missing-texture checker across the picture
// Neighbouring pixels of two triangles are an edge to smooth when they differ by more than this
// in a channel, and for one textured material also in depth (in pixels).
constexpr int kColourStep = 24;
constexpr float kDepthStep = 1.5f;
// Triangles whose set-up and paint are kept from their drawing for shading and the edge pass:
// all of a mesh that has no more, else those drawn last in each slot (about 200 bytes each).
constexpr std::size_t kMinCachedTriangles = 1024;
constexpr std::size_t kMaxCachedTriangles = 16384;
constexpr std::size_t kKeptScratchTriangles = std::size_t{1} << 21;  // see kKeptScratchPixels

struct Buffers {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> colour;  // 0xRRGGBB of each pixel's centre
  std::vector<float> depth;           // likewise, larger is nearer; four more at the end
  std::vector<std::uint32_t> winner;  // the triangle drawn at the centre, or kNone
  std::vector<std::uint8_t> veiled;   // a translucent triangle lies over the pixel
  int tiles_across = 0;
  std::vector<float> tile_far;           // the farthest depth drawn in each tile
  std::vector<std::uint8_t> tile_stale;  // tile_far needs working out again
  // The pixels that triangles may have drawn lie in columns reach_x0..reach_x1 and rows
  // reach_y0..reach_y1 (none while reach_x0 > reach_x1): outside, all is background.
  int reach_x0 = 0, reach_x1 = -1, reach_y0 = 0, reach_y1 = -1;
};

// One triangle as the pixel loops see it. Edge k (opposite corner k): a x + b y + c >= 0 inside.
struct Setup {
  float a[3], b[3], c[3];
  float zx = 0, zy = 0, z0 = 0;  // depth = zx x + zy y + z0
  float nearest = 0;             // the nearest depth of its corners
  float inverse_area = 0;
  // Edge k meets pixel row y at x = cross_at + cross_step y (set by SetUpRows, for the triangles
  // drawn row by row).
  float cross_at[3], cross_step[3];
  bool turned = false;  // corners b and c were swapped to make the edges face inward
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;  // pixels whose centre it may hold
};

std::size_t Index(const Buffers& s, int x, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) +
         static_cast<std::size_t>(x);
}

// Twice the triangle's area on screen, positive when its corners turn clockwise on screen
// (y down); 0 or not finite when it covers nothing.
float ScreenArea(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Whether the triangle's bounds hold a pixel centre of the picture: most triangles of a mesh
// far finer than the picture hold none, and are not drawn (nor are they needed for the edges).
bool HoldsCentre(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& c, int width,
                 int height) {
  const float left = std::max(std::min({a.x, b.x, c.x}) - 0.5f, 0.0f);
  const float right = std::min(std::max({a.x, b.x, c.x}) - 0.5f, static_cast<float>(width - 1));
  const float top = std::max(std::min({a.y, b.y, c.y}) - 0.5f, 0.0f);
  const float bottom = std::min(std::max({a.y, b.y, c.y}) - 0.5f, static_cast<float>(height - 1));
  return std::ceil(left) <= std::floor(right) && std::ceil(top) <= std::floor(bottom);
}

// The edges, depth plane and pixel range of a triangle; false when it holds no pixel centre.
bool SetUp(ScreenPoint a, ScreenPoint b, ScreenPoint c, int width, int height, Setup& t) {
  float area = ScreenArea(a, b, c);
  if (area == 0.0f || !std::isfinite(area)) return false;
  t.turned = area < 0.0f;
  if (t.turned) {
    std::swap(b, c);
    area = -area;
  }
  const ScreenPoint corner[3] = {a, b, c};
  for (int k = 0; k < 3; ++k) {
    // Each edge from its own two ends, so the triangle on its other side works out exactly the
    // opposite values and no pixel falls between the two.
    const ScreenPoint& p = corner[(k + 1) % 3];
    const ScreenPoint& q = corner[(k + 2) % 3];
    t.a[k] = p.y - q.y;
    t.b[k] = q.x - p.x;
    t.c[k] = p.x * q.y - p.y * q.x;
  }
  t.inverse_area = 1.0f / area;
  t.zx = (t.a[0] * a.depth + t.a[1] * b.depth + t.a[2] * c.depth) * t.inverse_area;
  t.zy = (t.b[0] * a.depth + t.b[1] * b.depth + t.b[2] * c.depth) * t.inverse_area;
  t.z0 = (t.c[0] * a.depth + t.c[1] * b.depth + t.c[2] * c.depth) * t.inverse_area;
  t.nearest = std::max({a.depth, b.depth, c.depth});
  // Pixels whose centres (x + 0.5, y + 0.5) may lie inside; an edge pixel's samples reach no
  // farther than its neighbours' centres, and edges are worked out from the neighbours.
  const float left = std::min({a.x, b.x, c.x}) - 0.5f, right = std::max({a.x, b.x, c.x}) - 0.5f;
  const float top = std::min({a.y, b.y, c.y}) - 0.5f, bottom = std::max({a.y, b.y, c.y}) - 0.5f;
  if (!(right >= -1.0f && bottom >= -1.0f && left <= static_cast<float>(width) &&
        top <= static_cast<float>(height))) {
    return false;
  }
  t.x0 = static_cast<int>(std::max(0.0f, std::ceil(left)));
  t.y0 = static_cast<int>(std::max(0.0f, std::ceil(top)));
  t.x1 = static_cast<int>(std::min(static_cast<float>(width - 1), std::floor(right)));
  t.y1 = static_cast<int>(std::min(static_cast<float>(height - 1), std::floor(bottom)));
  return t.x0 <= t.x1 && t.y0 <= t.y1;
}

// The weights of corners a, b, c at the centre of pixel (x, y).
void CentreWeights(const Setup& t, int x, int y, float w[3]) {
  const float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
  for (int k = 0; k < 3; ++k) w[k] = (t.a[k] * px + (t.b[k] * py + t.c[k])) * t.inverse_area;
  if (t.turned) std::swap(w[1], w[2]);
}

// Blends the translucent triangle's paint over pixel (x, y), whose centre lies inside it nearer
// than what the pixel shows; false where the mask or the texture's alpha leaves the pixel out.
bool BlendPixel(Buffers& s, const Setup& t, const Paint& paint, int x, int y) {
  std::uint32_t rgb = paint.rgb;
  if (!paint.Plain()) {
    float w[3];
    CentreWeights(t, x, y, w);
    if (!PaintPoint(paint, w, x, y, rgb)) return false;
  }
  const std::size_t pixel = Index(s, x, y);
  s.colour[pixel] = Mix(s.colour[pixel], rgb, paint.opacity);
  s.veiled[pixel] = 1;
  return true;
}

// The opaque triangle takes pixel (x, y), whose centre lies inside it at depth z nearer than
// what the pixel shows (its colour is worked out once all are drawn, by ShadeWinners); false
// where the mask or the texture's alpha leaves the pixel out.
bool TakePixel(Buffers& s, const Setup& t, const Paint& paint, std::uint32_t index, int x, int y,
               float z) {
  if (!paint.Solid()) {
    float w[3];
    CentreWeights(t, x, y, w);
    if (!Covers(paint, w)) return false;
  }
  const std::size_t pixel = Index(s, x, y);
  s.depth[pixel] = z;
  s.winner[pixel] = index;
  return true;
}

// Pixels from..to of row y, four at a time: those whose centre lies inside the triangle and
// nearer than what they show are drawn; the others (most, behind what is drawn) are passed over
// without a branch each. True when something was drawn.
bool DrawRow(Buffers& s, const Setup& t, const Paint& paint, std::uint32_t index, bool opaque,
             int y, int from, int to) {
  const Lanes steps = {0.5f, 1.5f, 2.5f, 3.5f};
  const float py = static_cast<float>(y) + 0.5f;
  float row[3];
  for (int k = 0; k < 3; ++k) row[k] = t.b[k] * py + t.c[k];
  const float zy = t.zy * py;
  const float last = static_cast<float>(to) + 0.5f;
  const std::size_t start = Index(s, from, y);
  float* depth = &s.depth[start];
  std::uint32_t* winner = &s.winner[start];
  bool drawn = false;
  for (int x = from; x <= to; x += 4, depth += 4, winner += 4) {
    const Lanes px = static_cast<float>(x) + steps;
    LaneBits in = px <= last;
    Lanes edge[3];
    for (int k = 0; k < 3; ++k) {
      edge[k] = t.a[k] * px + row[k];
      in &= edge[k] >= 0.0f;
    }
    Lanes stored;
    std::memcpy(&stored, depth, sizeof stored);  // the buffers have room past their last row
    const Lanes z = (t.zx * px + zy) + t.z0;
    in &= z > stored;
    if ((in[0] | in[1] | in[2] | in[3]) == 0) continue;
    if (!opaque) {
      for (int lane = 0; lane < 4; ++lane) {
        if (in[lane] != 0) drawn |= BlendPixel(s, t, paint, x + lane, y);
      }
      continue;
    }
    if (!paint.Solid()) {
      // The weights at the centres, as CentreWeights works them out.
      Lanes w[3] = {edge[0] * t.inverse_area, edge[1] * t.inverse_area, edge[2] * t.inverse_area};
      if (t.turned) std::swap(w[1], w[2]);
      in = CoversLanes(paint, w, in);
      if ((in[0] | in[1] | in[2] | in[3]) == 0) continue;
    }
    // Lanes not taken keep what they hold.
    const Lanes taken_depth = in ? z : stored;
    LaneBits held;
    std::memcpy(&held, winner, sizeof held);
    const LaneBits taken = in ? LaneBits{1, 1, 1, 1} * static_cast<std::int32_t>(index) : held;
    std::memcpy(depth, &taken_depth, sizeof taken_depth);
    std::memcpy(winner, &taken, sizeof taken);
    drawn = true;
  }
  return drawn;
}

// The farthest depth drawn in a tile: -infinity while one of its pixels shows the background.
float TileFar(const Buffers& s, int tile_x, int tile_y) {
  const int x0 = tile_x * kTileSide, y0 = tile_y * kTileSide;
  const int x1 = std::min(s.width, x0 + kTileSide), y1 = std::min(s.height, y0 + kTileSide);
  float far = INFINITY;
  if (x1 - x0 == kTileSide) {  // a whole tile's rows, two sets of four lanes each
    Lanes low = {INFINITY, INFINITY, INFINITY, INFINITY}, high = low;
    for (int y = y0; y < y1; ++y) {
      Lanes left, right;
      std::memcpy(&left, &s.depth[Index(s, x0, y)], sizeof left);
      std::memcpy(&right, &s.depth[Index(s, x0 + 4, y)], sizeof right);
      low = left < low ? left : low;
      high = right < high ? right : high;
    }
    low = high < low ? high : low;
    return std::min({low[0], low[1], low[2], low[3]});
  }
  for (int y = y0; y < y1; ++y) {
    const float* depth = &s.depth[Index(s, x0, y)];
    for (int x = 0; x < x1 - x0; ++x) far = std::min(far, depth[x]);
  }
  return far;
}

// The pixels of rows y .. y + 3 whose centre may lie inside the triangle, from where its three
// edges cross each row (a pixel more on each side than the arithmetic says: the pixel test
// decides), four rows side by side; an empty row has first > last.
void RowSpans(const Setup& t, int y, LaneBits& first, LaneBits& last) {
  const float x0 = static_cast<float>(t.x0), x1 = static_cast<float>(t.x1);
  Lanes low = {x0, x0, x0, x0}, high = {x1, x1, x1, x1};
  const Lanes row = static_cast<float>(y) + Lanes{0.0f, 1.0f, 2.0f, 3.0f};
  for (int k = 0; k < 3; ++k) {
    if (t.a[k] == 0.0f) {  // along the rows: all of a row inside, or none
      high = t.b[k] * (row + 0.5f) + t.c[k] < 0.0f ? Lanes{-1, -1, -1, -1} : high;
      continue;
    }
    const Lanes cross = t.cross_at[k] + t.cross_step[k] * row;
    if (t.a[k] > 0.0f) {
      low = low < cross - 1.0f ? cross - 1.0f : low;  // std::max: NaN leaves low
    } else {
      high = cross + 1.0f < high ? cross + 1.0f : high;
    }
  }
  // Where low <= high (not NaN either), both lie in x0 .. x1; truncation rounds toward the
  // span's inside, and the first pixel is low rounded up.
  const LaneBits spans = low <= high;
  low = spans ? low : Lanes{0, 0, 0, 0};
  high = spans ? high : Lanes{-1, -1, -1, -1};
  first = __builtin_convertvector(low, LaneBits);
  first -= __builtin_convertvector(first, Lanes) < low;  // a set lane is -1: rounded up
  last = __builtin_convertvector(high, LaneBits);
}

void SetUpRows(Setup& t) {
  for (int k = 0; k < 3; ++k) {
    // a (x + 0.5) + b (y + 0.5) + c = 0
    t.cross_step[k] = t.a[k] != 0.0f ? -t.b[k] / t.a[k] : 0.0f;
    t.cross_at[k] = t.a[k] != 0.0f ? -(t.b[k] * 0.5f + t.c[k]) / t.a[k] - 0.5f : 0.0f;
  }
}

// Whether part of the triangle (`nearest` its nearest depth) may lie nearer in a tile than the
// farthest thing drawn there.
bool Nearer(Buffers& s, const Setup& t, int tile_x, int tile_y) {
  const std::size_t tile = static_cast<std::size_t>(tile_y * s.tiles_across + tile_x);
  if (s.tile_stale[tile] != 0) {
    s.tile_far[tile] = TileFar(s, tile_x, tile_y);
    s.tile_stale[tile] = 0;
  }
  const float side = static_cast<float>(kTileSide);
  const float left = static_cast<float>(tile_x * kTileSide);
  const float top = static_cast<float>(tile_y * kTileSide);
  const float nearest = std::min(t.nearest, t.zx * left + t.zy * top + t.z0 +
                                                std::max(t.zx, 0.0f) * side +
                                                std::max(t.zy, 0.0f) * side);
  return nearest > s.tile_far[tile];
}

// A triangle of a few pixels, pixel by pixel: the same tests as DrawRow's, without its set-up.
void DrawSmall(Buffers& s, const Setup& t, const Paint& paint, std::uint32_t index, bool opaque) {
  bool drawn = false;
  for (int y = t.y0; y <= t.y1; ++y) {
    const float py = static_cast<float>(y) + 0.5f;
    const float zy = t.zy * py;
    for (int x = t.x0; x <= t.x1; ++x) {
      const float px = static_cast<float>(x) + 0.5f;
      bool inside = true;
      for (int k = 0; k < 3; ++k) inside &= t.a[k] * px + (t.b[k] * py + t.c[k]) >= 0.0f;
      const float z = (t.zx * px + zy) + t.z0;
      if (inside && z > s.depth[Index(s, x, y)]) {
        drawn |= opaque ? TakePixel(s, t, paint, index, x, y, z) : BlendPixel(s, t, paint, x, y);
      }
    }
  }
  if (!drawn || !opaque) return;
  for (const int y : {t.y0, t.y1}) {
    for (const int x : {t.x0, t.x1}) {
      s.tile_stale[static_cast<std::size_t>((y / kTileSide) * s.tiles_across + x / kTileSide)] = 1;
    }
  }
}

// Band by band of tiles: the rows' spans, then the tiles they reach, passing over those where
// all that is drawn lies in front of the triangle (asked only by triangles larger than a few
// tiles).
void DrawTriangle(Buffers& s, Setup& t, const Paint& paint, std::uint32_t index, bool opaque) {
  if (t.x1 - t.x0 < kSmallSide && t.y1 - t.y0 < kSmallSide) {
    return DrawSmall(s, t, paint, index, opaque);
  }
  SetUpRows(t);
  const bool deep = (t.x1 - t.x0 + 1) * (t.y1 - t.y0 + 1) >= kTiledArea;
  int first[kTileSide], last[kTileSide];
  for (int band = t.y0 / kTileSide; band <= t.y1 / kTileSide; ++band) {
    const int y0 = std::max(t.y0, band * kTileSide);
    const int y1 = std::min(t.y1, band * kTileSide + kTileSide - 1);
    int left = s.width, right = -1;
    for (int y = y0; y <= y1; y += 4) {
      LaneBits from, to;
      RowSpans(t, y, from, to);
      for (int lane = 0; lane < 4 && y + lane <= y1; ++lane) {
        first[y + lane - y0] = from[lane];
        last[y + lane - y0] = to[lane];
        if (from[lane] > to[lane]) continue;
        left = std::min(left, from[lane]);
        right = std::max(right, to[lane]);
      }
    }
    if (right < 0) continue;
    // Runs of neighbouring tiles that may show the triangle, each drawn a row at a time.
    const int last_tile = right / kTileSide;
    for (int tile_x = left / kTileSide; tile_x <= last_tile; ++tile_x) {
      if (deep && !Nearer(s, t, tile_x, band)) continue;
      int run_end = tile_x;
      while (run_end < last_tile && (!deep || Nearer(s, t, run_end + 1, band))) ++run_end;
      const int x0 = tile_x * kTileSide, x1 = run_end * kTileSide + kTileSide - 1;
      bool drawn = false;
      for (int y = y0; y <= y1; ++y) {
        const int from = std::max(x0, first[y - y0]), to = std::min(x1, last[y - y0]);
        if (from <= to) drawn |= DrawRow(s, t, paint, index, opaque, y, from, to);
      }
      for (; drawn && opaque && tile_x <= run_end; ++tile_x) {
        s.tile_stale[static_cast<std::size_t>(band * s.tiles_across + tile_x)] = 1;
      }
      tile_x = run_end + 1;  // closed (or past the last), so passed over
    }
  }
}

// Triangle indices in drawing order into `order`: opaque ones nearest first (what lies behind is
// then mostly passed over tile by tile), translucent ones after them, farthest first. Kind 0:
// not drawn; 1: opaque; 2: translucent. `bucket`: room for the sort.
void DrawingOrder(const std::vector<float>& nearest, const std::vector<std::uint8_t>& kind,
                  std::vector<std::uint32_t>& bucket, std::vector<std::uint32_t>& order) {
  float low = INFINITY, high = -INFINITY;
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    if (kind[i] == 0) continue;
    low = std::min(low, nearest[i]);
    high = std::max(high, nearest[i]);
  }
  const float scale = high > low ? (kDepthBuckets - 1) / (high - low) : 0.0f;
  std::uint32_t counts[2 * kDepthBuckets + 1] = {};
  bucket.assign(nearest.size(), 0);
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    if (kind[i] == 0) continue;
    const int step =
        std::clamp(static_cast<int>((nearest[i] - low) * scale), 0, kDepthBuckets - 1);
    bucket[i] = kind[i] == 1 ? static_cast<std::uint32_t>(kDepthBuckets - 1 - step)
                             : static_cast<std::uint32_t>(kDepthBuckets + step);
    ++counts[bucket[i] + 1];
  }
  for (std::size_t b = 1; b < std::size(counts); ++b) counts[b] += counts[b - 1];
  order.resize(counts[2 * kDepthBuckets]);
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    if (kind[i] != 0) order[counts[bucket[i]]++] = static_cast<std::uint32_t>(i);
  }
}

// What shading and the edge pass need of the mesh, and the triangles they set up again lately.
struct Scene {
  const Mesh& mesh;
  const std::vector<ScreenPoint>& screen;
  const std::vector<Look>& looks;
  const Facing& facing;
  int checker = 4;
  struct Cached {
    std::uint32_t index = kNone;
    Setup setup;
    Paint paint;
  };
  std::vector<Cached>& cache;  // a power of two of them, kept by the thread between drawings
};

Scene::Cached& SlotOf(Scene& scene, std::uint32_t index) {
  return scene.cache[index & (scene.cache.size() - 1)];
}

const Scene::Cached& TriangleOf(Scene& scene, std::uint32_t index, int width, int height) {
  Scene::Cached& entry = SlotOf(scene, index);
  if (entry.index == index) return entry;
  entry.index = index;
  const Triangle& t = scene.mesh.triangles[index];
  // It was drawn, so it sets up as it did then.
  SetUp(scene.screen[t.a], scene.screen[t.b], scene.screen[t.c], width, height, entry.setup);
  entry.paint = PaintOf(scene.mesh, LookOf(scene.looks, t), scene.facing, index, scene.checker);
  return entry;
}

// Each pixel that an opaque triangle took, in that triangle's paint at the pixel's centre.
void ShadeWinners(Buffers& s, Scene& scene) {
  for (int y = s.reach_y0; y <= s.reach_y1; ++y) {
    const Scene::Cached* c = nullptr;  // the last pixel's triangle, mostly this one's too
    for (int x = s.reach_x0; x <= s.reach_x1; ++x) {
      const std::size_t p = Index(s, x, y);
      const std::uint32_t index = s.winner[p];
      if (index == kNone) continue;
      if (c == nullptr || c->index != index) c = &TriangleOf(scene, index, s.width, s.height);
      if (c->paint.Plain()) {
        s.colour[p] = c->paint.rgb;
        continue;
      }
      float w[3];
      CentreWeights(c->setup, x, y, w);
      // Covers said yes here when the triangle took the pixel.
      (void)PaintCovered(c->paint, w, x, y, s.colour[p]);
    }
  }
}

// Whether two colours differ by more than kColourStep in a channel.
inline bool ColourStep(std::uint32_t a, std::uint32_t b) {
  if (a == b) return false;
  const auto step = [](std::uint32_t u, std::uint32_t v) {
    return static_cast<std::uint32_t>(static_cast<int>(u & 0xFF) - static_cast<int>(v & 0xFF) +
                                      kColourStep) > 2 * kColourStep;
  };
  return step(a, b) | step(a >> 8, b >> 8) | step(a >> 16, b >> 16);
}

// Whether a pixel and its neighbour, drawn from two triangles (or one and none) in colours a
// ColourStep apart, show an edge worth smoothing: not only as a texture does inside one textured
// surface (there the two must lie at two depths).
bool Differs(const Buffers& s, const Scene& scene, std::size_t p, std::size_t q) {
  const std::uint32_t a = s.winner[p], b = s.winner[q];
  if (a == kNone || b == kNone) return true;
  const Triangle& ta = scene.mesh.triangles[a];
  if (ta.material != scene.mesh.triangles[b].material) return true;
  const Look& look = LookOf(scene.looks, ta);
  if (look.texture == nullptr && !look.missing) return true;
  return std::fabs(s.depth[p] - s.depth[q]) > kDepthStep;
}

// The pixel from four samples: at each, the nearest of the triangles drawn at the pixel and its
// eight neighbours that covers it, or the background. Each triangle is painted once a pixel, at
// the pixel's centre (where its mask or alpha leaves it out, it is left out of the pixel).
std::uint32_t SmoothPixel(const Buffers& s, Scene& scene, int x, int y, std::uint32_t background) {
  const std::size_t p = Index(s, x, y);
  std::uint32_t found[9];
  int count = 0;
  const auto add = [&](std::uint32_t w) {
    if (w == kNone) return;
    for (int n = 0; n < count; ++n) {
      if (found[n] == w) return;
    }
    found[count++] = w;
  };
  add(s.winner[p]);
  const std::uint32_t* winner = s.winner.data();
  if (x > 0 && y > 0 && x + 1 < s.width && y + 1 < s.height) {  // all eight neighbours inside
    for (const std::size_t at : {p - s.width - 1, p - s.width, p - s.width + 1}) add(winner[at]);
    add(winner[p - 1]);
    add(winner[p + 1]);
    for (const std::size_t at : {p + s.width - 1, p + s.width, p + s.width + 1}) add(winner[at]);
  } else {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int nx = x + dx, ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < s.width && ny < s.height) add(winner[Index(s, nx, ny)]);
      }
    }
  }
  // Each candidate is painted at the pixel's centre when it first is the nearest at a sample;
  // one that its mask or alpha leaves out there is passed over at every sample.
  bool painted[9] = {false, false, false, false, false, false, false, false, false};
  std::uint32_t colour[9];
  if (s.winner[p] != kNone) {  // the centre's own, as ShadeWinners painted it
    painted[0] = true;
    colour[0] = s.colour[p];
  }
  // The four samples side by side: at each, the nearest candidate so far and its depth.
  const Lanes sx = static_cast<float>(x) + Lanes{kSampleX[0], kSampleX[1], kSampleX[2], kSampleX[3]};
  const Lanes sy = static_cast<float>(y) + Lanes{kSampleY[0], kSampleY[1], kSampleY[2], kSampleY[3]};
  Lanes nearest = {kFar, kFar, kFar, kFar};
  LaneBits best = {-1, -1, -1, -1};
  for (int n = 0; n < count; ++n) {
    const Scene::Cached& c = TriangleOf(scene, found[n], s.width, s.height);
    const Setup& t = c.setup;
    LaneBits in = {-1, -1, -1, -1};
    for (int k = 0; k < 3; ++k) in &= t.a[k] * sx + (t.b[k] * sy + t.c[k]) >= 0.0f;
    const Lanes z = (t.zx * sx + t.zy * sy) + t.z0;
    in &= z > nearest;
    if ((in[0] | in[1] | in[2] | in[3]) == 0) continue;
    if (!painted[n]) {
      float w[3];
      CentreWeights(t, x, y, w);
      if (!PaintAt(c.paint, w, x, y, colour[n])) continue;  // left out of this pixel
      painted[n] = true;
    }
    best = in ? LaneBits{n, n, n, n} : best;
    nearest = in ? z : nearest;
  }
  std::uint32_t sum[3] = {0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t rgb = best[i] < 0 ? background : colour[best[i]];
    for (int k = 0; k < 3; ++k) sum[k] += (rgb >> (16 - 8 * k)) & 0xFF;
  }
  return ((sum[0] + 2) / 4) << 16 | ((sum[1] + 2) / 4) << 8 | (sum[2] + 2) / 4;
}

// R, G, B of 0xRRGGBB and an opaque alpha, in one store where the bytes' order allows.
void PutOpaque(std::uint8_t* out, std::uint32_t rgb) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint32_t bytes = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16 |
                                std::uint32_t{0xFF} << 24;
    std::memcpy(out, &bytes, 4);
  } else {
    out[0] = static_cast<std::uint8_t>(rgb >> 16);
    out[1] = static_cast<std::uint8_t>(rgb >> 8);
    out[2] = static_cast<std::uint8_t>(rgb);
    out[3] = 255;
  }
}

// The picture from the pixels' centres, smoothed where an edge passes (not under translucent
// faces, whose blending the samples would lose). Each pair of neighbours is looked at once.
void Finish(const Buffers& s, Scene& scene, std::uint32_t background, std::vector<std::uint8_t>& edge,
            Image& image) {
  const std::size_t row = static_cast<std::size_t>(s.width);
  edge.assign(s.colour.size(), 0);
  // Two neighbours differ only where one of them lies where triangles reach.
  const int x0 = std::max(0, s.reach_x0 - 1);
  for (int y = std::max(0, s.reach_y0 - 1); y <= s.reach_y1; ++y) {
    const std::size_t start = Index(s, 0, y), end = Index(s, s.reach_x1, y) + 1;
    const bool below = y + 1 < s.height;
    for (std::size_t p = Index(s, x0, y); p < end; ++p) {
      const std::uint32_t w = s.winner[p];
      const std::uint32_t rgb = s.colour[p];
      // The row's last pixel has no right-hand neighbour: the next row's first is not one.
      if (p + 1 < start + row && s.winner[p + 1] != w && ColourStep(rgb, s.colour[p + 1]) &&
          Differs(s, scene, p, p + 1)) {
        edge[p] = edge[p + 1] = 1;
      }
      if (below && s.winner[p + row] != w && ColourStep(rgb, s.colour[p + row]) &&
          Differs(s, scene, p, p + row)) {
        edge[p] = edge[p + row] = 1;
      }
    }
  }
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const std::size_t p = Index(s, x, y);
      std::uint32_t rgb = s.colour[p];
      if (edge[p] != 0 && (s.veiled.empty() || s.veiled[p] == 0)) {
        rgb = SmoothPixel(s, scene, x, y, background);
      }
      PutOpaque(&image.rgba[p * 4], rgb);
    }
  }
}

// What one thread's drawings reuse. Allocating a picture's buffers anew, and the system clearing
// their pages, cost a fifth of a thumbnail's drawing.
struct Scratch {
  Buffers buffers;
  std::vector<std::uint8_t> edge;
  std::vector<Scene::Cached> cache;
  std::vector<float> nearest;
  std::vector<std::uint8_t> kind;
  std::vector<std::uint32_t> bucket;
  std::vector<std::uint32_t> order;
};

}  // namespace

void FillSurfaces(const Mesh& mesh, const std::vector<ScreenPoint>& screen, const Vec3& light,
                  TextureSource* textures, std::uint32_t background, Image& image,
                  std::vector<float>& depth) {
  thread_local Scratch scratch;
  Buffers& s = scratch.buffers;
  s.width = image.width;
  s.height = image.height;
  const std::size_t pixels = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
  s.colour.assign(pixels, background);
  s.depth.swap(depth);  // the caller's buffer, drawn into and handed back
  s.depth.assign(pixels + 4, kFar);  // DrawRow reads and writes four at a time
  s.winner.assign(pixels + 4, kNone);
  s.veiled.clear();
  s.tiles_across = (s.width + kTileSide - 1) / kTileSide;
  const std::size_t tiles = static_cast<std::size_t>(s.tiles_across) *
                            static_cast<std::size_t>((s.height + kTileSide - 1) / kTileSide);
  s.tile_far.assign(tiles, kFar);
  s.tile_stale.assign(tiles, 0);
  std::size_t slots = kMinCachedTriangles;
  while (slots < mesh.triangles.size() && slots < kMaxCachedTriangles) slots *= 2;
  scratch.cache.resize(slots);
  for (Scene::Cached& entry : scratch.cache) entry.index = kNone;
  s.reach_x0 = s.reach_y0 = 0;
  s.reach_x1 = s.reach_y1 = -1;

  std::vector<std::shared_ptr<const Texture>> kept;
  const std::vector<Look> looks = LookUp(mesh, textures, kept);
  const Facing facing = WorkOutFacing(mesh, looks, light);
  Scene scene{mesh, screen, looks, facing,
              std::max(2, std::min(s.width, s.height) / kCheckerCells), scratch.cache};

  // Set-ups are worked out again when drawn: keeping them would take far more memory than the
  // triangles.
  const std::size_t count = screen.size();
  std::vector<float>& nearest = scratch.nearest;
  std::vector<std::uint8_t>& kind = scratch.kind;
  nearest.assign(mesh.triangles.size(), 0.0f);
  kind.assign(mesh.triangles.size(), 0);
  for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
    const Triangle& t = mesh.triangles[i];
    if (t.a >= count || t.b >= count || t.c >= count) continue;
    const float opacity = LookOf(looks, t).material->opacity;
    if (!(opacity > 0.0f)) continue;
    const ScreenPoint &a = screen[t.a], &b = screen[t.b], &c = screen[t.c];
    const float area = ScreenArea(a, b, c);
    nearest[i] = std::max({a.depth, b.depth, c.depth});
    if (area == 0.0f || !std::isfinite(area) || !std::isfinite(nearest[i]) ||
        !HoldsCentre(a, b, c, s.width, s.height)) {
      continue;
    }
    kind[i] = opacity < 1.0f ? 2 : 1;
    if (kind[i] == 2 && s.veiled.empty()) s.veiled.assign(pixels, 0);
  }
  // The opaque triangles come first: their pixels are shaded before the translucent ones are
  // blended over them.
  bool shaded = false;
  DrawingOrder(nearest, kind, scratch.bucket, scratch.order);
  for (const std::uint32_t i : scratch.order) {
    if (kind[i] == 2 && !shaded) {
      ShadeWinners(s, scene);
      shaded = true;
    }
    const Triangle& t = mesh.triangles[i];
    Scene::Cached& entry = SlotOf(scene, i);
    entry.index = kNone;
    if (!SetUp(screen[t.a], screen[t.b], screen[t.c], s.width, s.height, entry.setup)) continue;
    entry.paint = PaintOf(mesh, LookOf(looks, t), facing, i, scene.checker);
    entry.index = i;  // shading and the edge pass find it set up as it was drawn
    if (s.reach_x0 > s.reach_x1) {
      s.reach_x0 = entry.setup.x0;
      s.reach_x1 = entry.setup.x1;
      s.reach_y0 = entry.setup.y0;
      s.reach_y1 = entry.setup.y1;
    }
    s.reach_x0 = std::min(s.reach_x0, entry.setup.x0);
    s.reach_x1 = std::max(s.reach_x1, entry.setup.x1);
    s.reach_y0 = std::min(s.reach_y0, entry.setup.y0);
    s.reach_y1 = std::max(s.reach_y1, entry.setup.y1);
    DrawTriangle(s, entry.setup, entry.paint, i, kind[i] == 1);
  }
  if (!shaded) ShadeWinners(s, scene);
  Finish(s, scene, background, scratch.edge, image);
  depth.swap(s.depth);
  // A large picture's buffers are let go of; a thumbnail's or a preview's stay for the next.
  if (pixels > kKeptScratchPixels || mesh.triangles.size() > kKeptScratchTriangles) {
    scratch = Scratch{};
  }
}

}  // namespace render
