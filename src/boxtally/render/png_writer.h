// PNG encoding of a drawn picture: 8-bit RGB when every pixel is opaque, else 8-bit RGBA; never
// interlaced; rows unfiltered (flat colours compress best so) and deflated by libdeflate at its
// fastest level.
#pragma once

#include <string>

#include "boxtally/render/rasteriser.h"

namespace render {

// The PNG file's bytes into `out`; false (out empty) when the image is empty or inconsistent.
bool EncodePng(const Image& image, std::string& out);

}  // namespace render
