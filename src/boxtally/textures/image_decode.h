// The pictures a texture folder holds, decoded into render::Texture: JPEG (libjpeg-turbo), PNG
// (libpng), GIF (giflib, its first frame) and BMP (our own reader, bmp_reader.h). The kind comes
// from the file's first bytes, never from its name, so a ".jpg" that holds a PNG still decodes.
// Every image is bounded before a pixel is allocated: a header that claims more than
// render::kMaxTextureSide on a side or render::kMaxTexturePixels in all is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "boxtally/render/texture.h"

namespace textures {

// Bytes of one image file (or of the image in a texture's archive) read at most; a bigger file
// is refused unread. A 4096 x 1024 BMP of 32 bits is 16 MiB.
inline constexpr std::size_t kMaxImageFileBytes = std::size_t{32} << 20;

enum [[nodiscard]] ImageResult : int{
    kImageOk = 0,
    kImageUnknownKind = -1,  // not JPEG, PNG, GIF or BMP
    kImageTooLarge = -2,     // the header claims more pixels than the bounds allow, or none
    kImageTruncated = -3,    // the bytes end before the image does
    kImageDamaged = -4,      // the decoder refused the data
    kImageUnsupported = -5,  // a kind of the format we do not read (a BMP compression, say)
};

enum class ImageKind { kUnknown, kJpeg, kPng, kGif, kBmp };

// The kind the first bytes announce.
ImageKind SniffImageKind(std::string_view bytes);

// True when width x height is a picture the bounds allow (both at least 1).
bool WithinTextureBounds(std::int64_t width, std::int64_t height);

// Decodes `bytes` into `out` (rows from the top, RGBA). On failure `out` is left empty.
ImageResult DecodeImage(std::string_view bytes, render::Texture& out);

// One format each; DecodeImage picks among them. Same contract.
ImageResult DecodeJpeg(std::string_view bytes, render::Texture& out);
ImageResult DecodePng(std::string_view bytes, render::Texture& out);
ImageResult DecodeGif(std::string_view bytes, render::Texture& out);

}  // namespace textures
