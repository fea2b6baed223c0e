// Pictures with known pixels for the texture tests: drawn into a PPM by the test and turned into
// JPEG, PNG, GIF and BMP files by ImageMagick's convert, as a texture folder would hold them.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace texture_testing {

struct Rgba {
  int r = 0, g = 0, b = 0, a = 255;
};

// `count` distinct colours: black and white for 2, else spread over the cube.
inline std::vector<Rgba> Colours(int count) {
  if (count == 2) return {{0, 0, 0}, {255, 255, 255}};
  std::vector<Rgba> colours;
  for (int i = 0; i < count; ++i) colours.push_back({i * 12, 255 - i * 12, (i * 37) % 256});
  return colours;
}

// A width x height picture whose pixel i (row by row) takes colour i % count.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
};

inline Picture MakePicture(int width, int height, int count) {
  const std::vector<Rgba> colours = Colours(count);
  Picture p{width, height, {}};
  for (int i = 0; i < width * height; ++i)
    p.pixels.push_back(colours[static_cast<std::size_t>(i % count)]);
  return p;
}

inline std::string PpmText(const Picture& p) {
  std::string text = "P3\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
  for (const Rgba& c : p.pixels) {
    text += std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b) + "\n";
  }
  return text;
}

inline bool HaveConvert() { return std::system("convert -version >/dev/null 2>&1") == 0; }

// `picture` through "convert SOURCE -strip ARGS FORMAT:DIR/NAME"; the file's bytes, or the empty
// text when convert failed.
inline std::string Convert(const testing_support::TempDir& dir, const Picture& picture,
                           const std::string& args, const std::string& format,
                           const std::string& name) {
  testing_support::WriteFile(dir / "source.ppm", PpmText(picture));
  const std::string command = "convert '" + (dir / "source.ppm") + "' -strip " + args + " '" +
                              format + ":" + (dir / name) + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return testing_support::ReadFile(dir / name);
}

}  // namespace texture_testing
