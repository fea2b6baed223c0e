// Draws a mesh into an RGBA picture: z-buffered triangles in their materials, shaded by one
// directional light, with smoothed edges, or the points of a mesh without triangles; the ground
// plane y = 0 as a faint grid; the model's box as 12 lines; the origin's axes (x red, y green,
// z blue). Lines behind the model are drawn faded, never hidden, so the whole box always shows.
#pragma once

#include <cstdint>
#include <vector>

#include "boxtally/render/camera.h"
#include "boxtally/render/mesh.h"
#include "boxtally/render/texture.h"

namespace render {

inline constexpr int kMaxImageSide = 8192;  // pixels, each way
// The largest picture whose working buffers a thread keeps for its next drawing (about 25 MB:
// a preview pane's or a large thumbnail's); larger ones let go of theirs when drawn.
inline constexpr std::size_t kKeptScratchPixels = std::size_t{1} << 20;

// Colours 0xRRGGBB.
inline constexpr std::uint32_t kBackground = 0xEEF1F5;
inline constexpr std::uint32_t kBoxColour = 0xD8189C;  // magenta: no axis and few models have it
inline constexpr std::uint32_t kGridColour = 0x9098A4;
inline constexpr std::uint32_t kAxisColours[3] = {0xDC2828, 0x24A024, 0x2850E6};

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // row by row from the top, 4 bytes a pixel
};

struct DrawOptions {
  bool grid = true;
  bool box = true;
  bool axes = true;
  // Where the materials' textures and masks are found (each name asked once a drawing); none:
  // textured surfaces are drawn in their colours too.
  TextureSource* textures = nullptr;
};

// The model seen by `camera` in a new opaque picture of width x height pixels (an empty Image
// when either is outside 1..kMaxImageSide). The view is fitted to `box` when it is given and
// usable (the box the registry took), else to the mesh's own bounds. Triangles whose indices
// leave the mesh, and points that are not finite, are left out. The same mesh, box, camera and
// size always give the same bytes.
Image DrawScene(const Mesh& mesh, const Bounds* box, const Camera& camera, int width, int height,
                const DrawOptions& options = {});

// The pixel at (x, y) as 0xRRGGBB.
std::uint32_t PixelAt(const Image& image, int x, int y);

}  // namespace render
