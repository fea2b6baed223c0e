// The renderer on tiny meshes whose pixels can be worked out by hand, polygons cut into
// triangles, and its PNG files read back by libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/polygon.h"
#include "boxtally/render/rasteriser.h"

namespace {

using render::Camera;
using render::DrawOptions;
using render::Image;

// Seen from the front (Camera{0, 0}) in 100 x 100 pixels, it covers x and y from 8 to 92; its
// texture's top left corner is at the top left.
const render::Mesh kUnitQuad{{{-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}, {-0.5f, 0.5f, 0}},
                             {{0, 1, 2}, {0, 2, 3}},
                             {{0, 1}, {1, 1}, {1, 0}, {0, 0}},
                             {},
                             {}};
const render::Bounds kUnitBox{{-0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}};
const DrawOptions kModelOnly{false, false, false};
// Light on a face that looks at the viewer: it comes from 30 degrees above the eye.
const float kFrontLight = 0.4f + 0.6f * 0.8660254f;

int Channel(std::uint32_t rgb, int i) { return static_cast<int>((rgb >> (16 - 8 * i)) & 0xFF); }

std::uint32_t Lit(std::uint32_t rgb, float light) {
  std::uint32_t out = 0;
  for (int i = 0; i < 3; ++i) {
    out |= static_cast<std::uint32_t>(std::min(255.0f, Channel(rgb, i) * light + 0.5f))
           << (16 - 8 * i);
  }
  return out;
}

bool Close(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(Channel(a, i) - Channel(b, i)) > tolerance) return false;
  }
  return true;
}

// How far a colour lies from `from` toward `to` on the channel where they differ most (0..1).
float Toward(std::uint32_t rgb, std::uint32_t from, std::uint32_t to) {
  int best = 0;
  for (int i = 1; i < 3; ++i) {
    if (std::abs(Channel(to, i) - Channel(from, i)) > std::abs(Channel(to, best) - Channel(from, best))) {
      best = i;
    }
  }
  return static_cast<float>(Channel(rgb, best) - Channel(from, best)) /
         static_cast<float>(Channel(to, best) - Channel(from, best));
}

// Whether the pixel at (x, y) or one next to it is about half of the colour over the background
// or more: a smoothed line on the border of two pixels gives each half.
bool Near(const Image& image, float x, float y, std::uint32_t rgb) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int px = static_cast<int>(x) + dx, py = static_cast<int>(y) + dy;
      if (px >= 0 && py >= 0 && px < image.width && py < image.height &&
          Toward(render::PixelAt(image, px, py), render::kBackground, rgb) >= 0.45f) {
        return true;
      }
    }
  }
  return false;
}

render::Texture MakeTexture(int width, int height, const std::vector<std::uint32_t>& pixels) {
  render::Texture t{width, height, {}};
  for (const std::uint32_t rgb : pixels) {
    t.rgba.insert(t.rgba.end(), {static_cast<std::uint8_t>(rgb >> 16),
                                 static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb),
                                 255});
  }
  return t;
}

// Textures by name, counting how often each name is asked for.
class FakeTextures : public render::TextureSource {
 public:
  std::map<std::string, std::shared_ptr<const render::Texture>> found;
  std::map<std::string, int> asked;
  std::shared_ptr<const render::Texture> Find(const std::string& name) override {
    ++asked[name];
    const auto it = found.find(name);
    return it == found.end() ? nullptr : it->second;
  }
};

// Red, green / blue, white.
const render::Texture kFourColours =
    MakeTexture(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
// Black (not drawn) at the top left.
const render::Texture kCornerMask = MakeTexture(2, 2, {0x000000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF});

render::Vec3 Corner(const render::Bounds& box, int i) {
  return {(i & 4) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y,
          (i & 1) ? box.max.z : box.min.z};
}

}  // namespace

TEST(Renderer, AUnitQuadFacingTheCameraCoversItsPixels) {
  // Seen from the front, the quad fills 100 x 100 pixels less 8% on each side: x and y from 8
  // to 92, so the pixel centres 8.5 .. 91.5 are inside. It faces the light, which comes from
  // 30 degrees above the eye: grey 168 * (0.4 + 0.6 cos 30) = 154.5, written 154.
  const render::Bounds box{{-0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}};
  const Image image = render::DrawScene(kUnitQuad, &box, Camera{0, 0}, 100, 100, kModelOnly);
  ASSERT_EQ(image.width, 100);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool inside = x >= 8 && x <= 91 && y >= 8 && y <= 91;
      ASSERT_EQ(render::PixelAt(image, x, y), inside ? 0x9A9A9Au : render::kBackground)
          << x << "," << y;
    }
  }
}

// Lines are smoothed: a line between two pixel rows shares its colour between them, so the test
// looks for a pixel at least half magenta rather than one of the exact colour.
TEST(Renderer, TheBoxsLinesLandWhereTheProjectionSays) {
  const render::Bounds box{{-1, 0, -2}, {3, 1, 0.5f}};
  const Camera cameras[] = {Camera{}, Camera{-120, 60, 0.7f, 0.1f, -0.05f}};
  for (const Camera& camera : cameras) {
    SCOPED_TRACE(camera.yaw_degrees);
    const Image image = render::DrawScene({}, &box, camera, 200, 150, {false, true, false});
    const render::Projection view = render::FitProjection(camera, box, 200, 150);
    // The corners and the middle of every edge; the box's own middle is no line's.
    for (int i = 0; i < 8; ++i) {
      for (const int bit : {0, 1, 2, 4}) {
        const render::ScreenPoint a = render::Project(view, Corner(box, i));
        const render::ScreenPoint b = render::Project(view, Corner(box, i | bit));
        EXPECT_TRUE(Near(image, (a.x + b.x) / 2, (a.y + b.y) / 2, render::kBoxColour)) << i << bit;
      }
    }
    const render::ScreenPoint middle = render::Project(view, {1, 0.5f, -0.75f});
    EXPECT_EQ(render::PixelAt(image, static_cast<int>(middle.x), static_cast<int>(middle.y)),
              render::kBackground);
  }
}

TEST(Renderer, PointsOnlyAndBrokenInputStillDrawSafely) {
  // A mesh without triangles shows its points, each a few pixels wide.
  const render::Mesh points{{{0, 0, 0}, {1, 1, 1}}, {}, {}, {}, {}};
  const Image dots = render::DrawScene(points, nullptr, Camera{}, 50, 50, kModelOnly);
  const render::Projection view =
      render::FitProjection(Camera{}, *render::MeshBounds(points), 50, 50);
  const render::ScreenPoint p = render::Project(view, {1, 1, 1});
  EXPECT_NE(render::PixelAt(dots, static_cast<int>(p.x), static_cast<int>(p.y)),
            render::kBackground);
  // Indices past the vertices, points that are not finite, absurd sizes and cameras.
  const render::Mesh broken{{{0, 0, 0}, {NAN, 1, 1}, {1e30f, -1e30f, 0}, {1, 0, 0}},
                            {{0, 1, 2}, {0, 2, 3}, {0, 3, 9}, {0, 0, 0}, {0, 2, 3, 77}},
                            {},
                            {},
                            {}};
  const render::Bounds huge{{-3e38f, -3e38f, -3e38f}, {3e38f, 3e38f, 3e38f}};
  EXPECT_EQ(render::DrawScene(broken, &huge, Camera{NAN, 1e9f, -1, INFINITY}, 32, 32).width, 32);
  EXPECT_EQ(render::DrawScene(broken, nullptr, Camera{}, 0, 32).width, 0);
  EXPECT_EQ(render::DrawScene(broken, nullptr, Camera{}, 32, render::kMaxImageSide + 1).width, 0);
}

TEST(Renderer, SurfacesShowTheirMaterials) {
  const std::uint32_t kBlue = 0x3060C0;
  render::Material plain;
  plain.rgb = kBlue;
  render::Material textured = plain;
  textured.texture = 0;
  render::Material unlit = textured;
  unlit.texture_modes = render::kTextureFilter;
  render::Material masked = unlit;
  masked.mask = 1;
  render::Material half = plain;
  half.opacity = 0.5f;
  render::Material flat = plain;
  flat.ambient = 1;
  flat.diffuse = 0;
  struct Probe {
    int x, y;
    std::uint32_t rgb;
  };
  struct Case {
    const char* what;
    render::Material material;
    float uv_scale;  // the quad's texture coordinates times this
    bool with_source;
    std::vector<Probe> probes;
  };
  const std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF;
  const Case cases[] = {
      {"colour, lit", plain, 1, true, {{50, 50, Lit(kBlue, kFrontLight)}}},
      {"ambient only", flat, 1, true, {{50, 50, kBlue}}},
      {"texture, untinted and lit", textured, 1, true,
       {{29, 29, Lit(red, kFrontLight)}, {71, 71, Lit(white, kFrontLight)}}},
      {"texture, unlit", unlit, 1, true,
       {{29, 29, red}, {71, 29, green}, {29, 71, blue}, {71, 71, white}}},
      {"texture repeated", unlit, 2, true, {{18, 18, red}, {39, 18, green}, {60, 18, red}}},
      {"mask's black not drawn", masked, 1, true,
       {{29, 29, render::kBackground}, {71, 29, green}, {71, 71, white}}},
      {"half opacity", half, 1, true,
       {{50, 50, Lit(Lit(kBlue, kFrontLight), 0.5f) + Lit(render::kBackground, 0.5f)}}},
      {"no texture source: the colour", textured, 1, false, {{50, 50, Lit(kBlue, kFrontLight)}}},
  };
  FakeTextures textures;
  textures.found["four"] = std::make_shared<render::Texture>(kFourColours);
  textures.found["corner"] = std::make_shared<render::Texture>(kCornerMask);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    render::Mesh quad = kUnitQuad;
    for (render::TexCoord& uv : quad.uvs) uv = {uv.u * c.uv_scale, uv.v * c.uv_scale};
    quad.materials = {c.material};
    quad.names = {"four", "corner"};
    DrawOptions options = kModelOnly;
    options.textures = c.with_source ? &textures : nullptr;
    const Image image = render::DrawScene(quad, &kUnitBox, Camera{0, 0}, 100, 100, options);
    for (const Probe& p : c.probes) {
      // Bilinear sampling half a pixel from a texel's centre mixes in a little of its neighbours.
      EXPECT_TRUE(Close(render::PixelAt(image, p.x, p.y), p.rgb, 8))
          << p.x << "," << p.y << ": " << std::hex << render::PixelAt(image, p.x, p.y)
          << " for " << p.rgb;
    }
  }
}

TEST(Renderer, AMissingTextureShowsACheckerAndEachNameIsAskedOnce) {
  // 2,000 triangles in one material, a texture nobody has and a mask that is there.
  render::Mesh strips;
  render::Material missing;
  missing.rgb = 0x3060C0;
  missing.texture = 0;
  missing.mask = 1;
  strips.materials = {missing, missing};
  strips.names = {"nowhere", "corner"};
  for (std::uint32_t i = 0; i < 1000; ++i) {
    const float x = -0.5f + static_cast<float>(i) / 1000.0f, step = 1.0f / 1000.0f;
    strips.vertices.insert(strips.vertices.end(),
                           {{x, -0.5f, 0}, {x + step, -0.5f, 0}, {x + step, 0.5f, 0}, {x, 0.5f, 0}});
    strips.triangles.insert(strips.triangles.end(),
                            {{4 * i, 4 * i + 1, 4 * i + 2, i % 2}, {4 * i, 4 * i + 2, 4 * i + 3, i % 2}});
  }
  FakeTextures textures;
  textures.found["corner"] = std::make_shared<render::Texture>(MakeTexture(1, 1, {0xFFFFFF}));
  DrawOptions options = kModelOnly;
  options.textures = &textures;
  const Image image = render::DrawScene(strips, &kUnitBox, Camera{0, 0}, 100, 100, options);
  EXPECT_EQ(textures.asked, (std::map<std::string, int>{{"nowhere", 1}, {"corner", 1}}));
  // Cells of 2 pixels: one in two is the colour, the other shows the checker.
  const std::uint32_t colour = Lit(missing.rgb, kFrontLight);
  EXPECT_TRUE(Close(render::PixelAt(image, 40, 40), colour, 1));
  EXPECT_FALSE(Close(render::PixelAt(image, 42, 40), colour, 20));
  EXPECT_TRUE(Close(render::PixelAt(image, 42, 42), colour, 1));
}

TEST(Renderer, EdgesAreSmoothedByHowMuchOfEachPixelTheyCover) {
  // A square turned 30 degrees in its plane: its outline crosses pixels at every angle.
  render::Mesh square;
  for (int i = 0; i < 4; ++i) {
    const double angle = (30.0 + 90.0 * i) * 3.14159265358979 / 180.0;
    square.vertices.push_back({static_cast<float>(0.5 * std::cos(angle)),
                               static_cast<float>(0.5 * std::sin(angle)), 0});
  }
  square.triangles = {{0, 1, 2}, {0, 2, 3}};
  const render::Bounds box{{-0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}};
  const Image image = render::DrawScene(square, &box, Camera{0, 0}, 64, 64, kModelOnly);
  const std::uint32_t fill = Lit(render::kGrey, kFrontLight);
  std::set<std::uint32_t> colours;
  float covered = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t rgb = render::PixelAt(image, x, y);
      colours.insert(rgb);
      covered += Toward(rgb, render::kBackground, fill);
    }
  }
  EXPECT_GE(colours.size(), 5u);  // the fill, the background and shades between
  // The square's sides are half the box's diagonal... its area is side^2 = 0.5^2 * 2 = 0.5 of the
  // box's width squared in pixels.
  const float scale = render::FitProjection(Camera{0, 0}, box, 64, 64).scale;
  EXPECT_NEAR(covered, 0.5f * scale * scale, 0.01f * 0.5f * scale * scale);
}

TEST(PolygonCut, CutsEachPolygonIntoTrianglesThatCoverItOnce) {
  // In the plane z = 0; areas in units of the grid.
  const std::vector<render::Vec3> l_shape = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0},
                                             {0, 2, 0}};
  const std::vector<render::Vec3> u_shape = {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, 2, 0},
                                             {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
  const std::vector<render::Vec3> star = {{0, 3, 0},  {1, 1, 0},   {3, 1, 0},  {1.5f, 0, 0},
                                          {2, -2, 0}, {0, -1, 0},  {-2, -2, 0}, {-1.5f, 0, 0},
                                          {-3, 1, 0}, {-1, 1, 0}};
  const std::vector<render::Vec3> straight = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  struct Case {
    const char* what;
    std::vector<render::Vec3> points;
    double area;
  };
  const Case cases[] = {
      {"L", l_shape, 3},
      {"U", u_shape, 5},
      {"star", star, 0},  // area worked out below
      {"convex, a straight corner", straight, 4},
  };
  for (const Case& c : cases) {
    const std::size_t n = c.points.size();
    // Every corner as the first one, both ways round, and turned out of the plane.
    for (std::size_t first = 0; first < n; ++first) {
      for (const bool reversed : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + " from " + std::to_string(first) +
                     (reversed ? " reversed" : ""));
        std::vector<render::Vec3> points;
        for (const render::Vec3& p : c.points) points.push_back({p.x, 0.5f * p.y, p.y});
        std::vector<std::uint32_t> corners;
        for (std::size_t k = 0; k < n; ++k) {
          corners.push_back(static_cast<std::uint32_t>(reversed ? (first + n - k) % n : (first + k) % n));
        }
        std::size_t work = 1000000;
        std::vector<std::uint32_t> out;
        render::CutPolygon(points, corners, work, out);
        ASSERT_EQ(out.size(), 3 * (n - 2));
        // In the polygon's own plane (x, z) every triangle turns as the polygon does, and
        // their areas add up to the polygon's.
        const auto turn = [&](std::uint32_t a, std::uint32_t b, std::uint32_t d) {
          return (static_cast<double>(points[b].x) - points[a].x) * (points[d].z - points[a].z) -
                 (static_cast<double>(points[b].z) - points[a].z) * (points[d].x - points[a].x);
        };
        double polygon = 0, cut = 0;
        for (std::size_t k = 0; k < n; ++k) polygon += turn(corners[0], corners[k], corners[(k + 1) % n]);
        for (std::size_t t = 0; t < out.size(); t += 3) {
          const double area = turn(out[t], out[t + 1], out[t + 2]);
          EXPECT_GE(area * polygon, 0.0) << t / 3;
          cut += std::fabs(area);
        }
        EXPECT_NEAR(cut, std::fabs(polygon), 1e-6);
        if (c.area > 0) {
          EXPECT_NEAR(std::fabs(polygon) / 2, c.area, 1e-6);
        }
      }
    }
  }
  // Out of work, or without area: a fan from the first corner, never a failure.
  struct Fallback {
    const char* what;
    std::vector<render::Vec3> points;
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> fan;
  };
  const Fallback fallbacks[] = {
      {"L without work", l_shape, {3, 4, 5, 0, 1, 2}, {3, 4, 5, 3, 5, 0, 3, 0, 1, 3, 1, 2}},
      {"a line", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {0, 1, 2, 3}, {0, 1, 2, 0, 2, 3}},
  };
  for (const Fallback& f : fallbacks) {
    SCOPED_TRACE(f.what);
    std::size_t work = 0;
    std::vector<std::uint32_t> out;
    render::CutPolygon(f.points, f.corners, work, out);
    EXPECT_EQ(out, f.fan);
  }
}

TEST(PngWriter, WritesWhatLibpngReadsBack) {
  Image image = render::DrawScene(kUnitQuad, nullptr, Camera{}, 33, 21);
  for (const bool translucent : {false, true}) {
    SCOPED_TRACE(translucent);
    if (translucent) image.rgba[3] = 7;  // one pixel not opaque: RGBA
    std::string png;
    ASSERT_TRUE(render::EncodePng(image, png));
    png_image read;
    std::memset(&read, 0, sizeof read);
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&read, png.data(), png.size()));
    EXPECT_EQ(read.format, translucent ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB);
    read.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(read.width, 33u);
    EXPECT_EQ(read.height, 21u);
    EXPECT_EQ(pixels, image.rgba);
  }
  std::string png = "left over";
  EXPECT_FALSE(render::EncodePng(Image{}, png));
  EXPECT_TRUE(png.empty());
}
