// The pictures a model's surfaces are drawn with: the textures and masks its script names
// ("texture NAME", "texture NAME mask MASK"), decoded into RGBA and found by name. The renderer
// only asks; where the images come from (the object path's textures folder, a web folder, an
// archive) and how they are decoded is the finder's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace render {

inline constexpr int kMaxTextureSide = 4096;                         // pixels, each way
inline constexpr std::size_t kMaxTexturePixels = std::size_t{1} << 22;  // width x height

// A decoded image: width x height pixels, row by row from the top, 4 bytes a pixel (R, G, B, A).
struct Texture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

// Finds decoded images by the names a script gives. A texture and a mask are looked up the same
// way; the renderer reads a mask's black as transparent. Implementations are shared by the
// threads that draw (the workers' thumbnails, the window's preview) and must be safe to call
// from several at once; an image once found stays valid for as long as the returned pointer.
class TextureSource {
 public:
  virtual ~TextureSource() = default;
  // The image `name` stands for; nullptr when it cannot be found or decoded (drawn as missing).
  virtual std::shared_ptr<const Texture> Find(const std::string& name) = 0;
  // True when the source knows its folder has no file for `name` (the run's missing-textures
  // check), without decoding anything; a source that cannot tell says false.
  virtual bool Lacks(const std::string& name) {
    (void)name;
    return false;
  }
};

}  // namespace render
