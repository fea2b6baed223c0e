// Windows bitmaps (BMP), read without a library: the core header of 12 bytes and the info headers
// of 40 bytes and more (V4, V5), 1, 4 and 8 bits through a palette, 16, 24 and 32 bits direct
// (32 and 16 also through bit masks), uncompressed or run-length encoded (RLE8 for 8 bits, RLE4
// for 4), rows bottom-up or, with a negative height, top-down. Every offset and count of the file
// is checked against its bytes, and the size against the texture bounds, before anything is
// allocated.
#pragma once

#include <string_view>

#include "boxtally/render/texture.h"
#include "boxtally/textures/image_decode.h"

namespace textures {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kMaxBmpHeaderSize =
    4096;  // bytes of the info header; past it: damaged

// Decodes a BMP file into `out` (rows from the top, RGBA; opaque unless the masks give alpha).
// Pixels that an RLE image skips (its "delta" and early line ends) take palette entry 0.
// kImageUnsupported: a compression other than none, RLE8, RLE4 and bit fields, or a depth that
// does not go with it. On failure `out` is left empty.
ImageResult ReadBmp(std::string_view bytes, render::Texture& out);

}  // namespace textures
