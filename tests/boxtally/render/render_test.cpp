// The renderer on tiny meshes whose pixels can be worked out by hand, and its PNG files read back
// by libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"

namespace {

using render::Camera;
using render::DrawOptions;
using render::Image;

const render::Mesh kUnitQuad{{{-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}, {0.5f, 0.5f, 0}, {-0.5f, 0.5f, 0}},
                             {{0, 1, 2}, {0, 2, 3}}};
const DrawOptions kModelOnly{false, false, false};

// Whether the pixel at (x, y) or one next to it has the colour: a line may pass a pixel aside.
bool Near(const Image& image, float x, float y, std::uint32_t rgb) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int px = static_cast<int>(x) + dx, py = static_cast<int>(y) + dy;
      if (px >= 0 && py >= 0 && px < image.width && py < image.height &&
          render::PixelAt(image, px, py) == rgb) {
        return true;
      }
    }
  }
  return false;
}

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
  const render::Mesh points{{{0, 0, 0}, {1, 1, 1}}, {}};
  const Image dots = render::DrawScene(points, nullptr, Camera{}, 50, 50, kModelOnly);
  const render::Projection view =
      render::FitProjection(Camera{}, *render::MeshBounds(points), 50, 50);
  const render::ScreenPoint p = render::Project(view, {1, 1, 1});
  EXPECT_NE(render::PixelAt(dots, static_cast<int>(p.x), static_cast<int>(p.y)),
            render::kBackground);
  // Indices past the vertices, points that are not finite, absurd sizes and cameras.
  const render::Mesh broken{{{0, 0, 0}, {NAN, 1, 1}, {1e30f, -1e30f, 0}, {1, 0, 0}},
                            {{0, 1, 2}, {0, 2, 3}, {0, 3, 9}, {0, 0, 0}}};
  const render::Bounds huge{{-3e38f, -3e38f, -3e38f}, {3e38f, 3e38f, 3e38f}};
  EXPECT_EQ(render::DrawScene(broken, &huge, Camera{NAN, 1e9f, -1, INFINITY}, 32, 32).width, 32);
  EXPECT_EQ(render::DrawScene(broken, nullptr, Camera{}, 0, 32).width, 0);
  EXPECT_EQ(render::DrawScene(broken, nullptr, Camera{}, 32, render::kMaxImageSide + 1).width, 0);
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
