// PNG encoding of a drawn picture, through libpng: 8-bit RGB when every pixel is opaque, else
// 8-bit RGBA; never interlaced.
#pragma once

#include <string>

#include "boxtally/render/rasteriser.h"

namespace render {

// The PNG file's bytes into `out`; false (out empty) when the image is empty or libpng fails.
bool EncodePng(const Image& image, std::string& out);

}  // namespace render
