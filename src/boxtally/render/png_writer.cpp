#include "boxtally/render/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <vector>

namespace render {

namespace {

bool Opaque(const Image& image) {
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
    if (image.rgba[i] != 255) return false;
  }
  return true;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), length);
}

void NoFlush(png_structp) {}

// libpng reports its errors by longjmp. Nothing in this frame needs a destructor, and everything
// it touches after setjmp is owned by the caller, so the jump leaves nothing behind.
bool Encode(png_structp png, png_infop info, const Image& image, int channels,
            std::vector<png_bytep>& rows, std::string& out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Flat colours and straight lines need no filter: unfiltered rows at zlib's level 3 come out
  // about as small as libpng's defaults make them, three to five times faster.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(png, 3);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, channels == 4 ? PNG_TRANSFORM_IDENTITY : PNG_TRANSFORM_STRIP_FILLER_AFTER,
                nullptr);
  return true;
}

}  // namespace

bool EncodePng(const Image& image, std::string& out) {
  out.clear();
  const std::size_t pixels =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  if (image.width < 1 || image.height < 1 || image.rgba.size() != pixels * 4) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  // Rows point into the picture itself; an opaque one loses its alpha bytes on the way.
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
  auto* data = const_cast<png_bytep>(image.rgba.data());
  for (std::size_t y = 0; y < rows.size(); ++y) {
    rows[y] = data + y * static_cast<std::size_t>(image.width) * 4;
  }
  const bool ok = Encode(png, info, image, Opaque(image) ? 3 : 4, rows, out);
  png_destroy_write_struct(&png, &info);
  if (!ok) out.clear();
  return ok;
}

}  // namespace render
