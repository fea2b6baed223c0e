// The model's surfaces as the camera sees them: z-buffered triangles in their materials (colour
// or texture, mask, opacity, light), drawn at each pixel's centre, then four samples in every
// pixel that an edge passes (the model's outline, where materials or colours meet), so the edges
// come out smooth. Used by DrawScene, which draws the lines over them.
#pragma once

#include <cstdint>
#include <vector>

#include "boxtally/render/camera.h"
#include "boxtally/render/mesh.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/render/texture.h"

namespace render {

// Edge length of the square tiles whose farthest depth lets hidden triangles be passed over.
inline constexpr int kTileSide = 8;  // pixels

// Draws the triangles of `mesh` (its vertices projected to `screen`) over `background` into
// `image` (every pixel of it, opaque: what it held does not matter), and gives the depth of each pixel's centre in `depth` (-infinity where no surface
// is; its size is the pixels' and a few more, and its memory is reused where it can be). The
// calling thread keeps the buffers of pictures up to kKeptScratchPixels for its next drawing.
// The light comes from `light` (model space, unit length). `textures`: where the materials'
// textures and masks are found, each name asked once; nullptr: none is looked for, and textured
// surfaces show their colour.
void FillSurfaces(const Mesh& mesh, const std::vector<ScreenPoint>& screen, const Vec3& light,
                  TextureSource* textures, std::uint32_t background, Image& image,
                  std::vector<float>& depth);

}  // namespace render
