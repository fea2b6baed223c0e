// The BMP reader over any bytes: a picture it takes is within the bounds and has every pixel, and
// a picture it refuses leaves nothing behind. Inputs that are no BMP go through the other
// decoders (libjpeg-turbo, libpng, giflib) by their first bytes, as a texture folder's files do.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "boxtally/textures/bmp_reader.h"
#include "boxtally/textures/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  render::Texture t;
  const textures::ImageResult result = textures::SniffImageKind(bytes) == textures::ImageKind::kBmp
                                           ? textures::ReadBmp(bytes, t)
                                           : textures::DecodeImage(bytes, t);
  if (result != textures::kImageOk) {
    if (!t.rgba.empty() || t.width != 0 || t.height != 0) __builtin_trap();
    return 0;
  }
  if (!textures::WithinTextureBounds(t.width, t.height)) __builtin_trap();
  if (t.rgba.size() != static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height) * 4) {
    __builtin_trap();
  }
  return 0;
}
