#include "boxtally/render/png_writer.h"

#include <png.h>

#include <cstring>
#include <vector>

namespace render {

namespace {
bool Opaque(const Image& image) {
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
    if (image.rgba[i] != 255) return false;
  }
  return true;
}
}  // namespace

bool EncodePng(const Image& image, std::string& out) {
  out.clear();
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  if (image.width < 1 || image.height < 1 || image.rgba.size() != pixels * 4) return false;
  // libpng's simplified interface keeps its setjmp inside the library.
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  std::vector<std::uint8_t> rgb;
  const void* rows = image.rgba.data();
  if (Opaque(image)) {
    png.format = PNG_FORMAT_RGB;
    rgb.resize(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i) std::memcpy(&rgb[i * 3], &image.rgba[i * 4], 3);
    rows = rgb.data();
  } else {
    png.format = PNG_FORMAT_RGBA;
  }
  // One pass into room for the largest PNG the image can give.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(png);
  out.resize(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, rows, 0, nullptr)) {
    png_image_free(&png);
    out.clear();
    return false;
  }
  out.resize(size);
  return true;
}

}  // namespace render
