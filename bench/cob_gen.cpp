// Writes a large binary COB scene for the converter benchmark: one polyhedron whose vertices
// form a wavy grid (every inner vertex shared by six triangles), one texture coordinate per
// vertex, and two textured materials in bands of rows.
//
//   cob_gen OUT.cob [QUADS_PER_SIDE]   (default 317: 2 x 317 x 317 = 200,978 triangles)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Out {
  std::vector<std::uint8_t> bytes;
  void U8(std::uint8_t v) { bytes.push_back(v); }
  void I16(std::int16_t v) {
    U8(static_cast<std::uint8_t>(v & 0xFF));
    U8(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
  }
  void I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i)
      U8(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
  }
  void F32(float v) {
    std::uint32_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    I32(static_cast<std::int32_t>(u));
  }
  void Raw(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void Name(const std::string& s) {
    I16(0);
    I16(static_cast<std::int16_t>(s.size()));
    Raw(s);
  }
  void AxesAndPosition() {
    const float axes[12] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    const float position[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    for (const float v : axes) F32(v);
    for (const float v : position) F32(v);
  }
};

// The versions are those of the chunks in files saved by the modeller (independent readers
// look at them; the converter does not).
void Chunk(Out& file, const char* type, std::int16_t minor, std::int32_t id, std::int32_t parent,
           const Out& data) {
  file.Raw(std::string(type, 4));
  file.I16(0);
  file.I16(minor);
  file.I32(id);
  file.I32(parent);
  file.I32(static_cast<std::int32_t>(data.bytes.size()));
  file.bytes.insert(file.bytes.end(), data.bytes.begin(), data.bytes.end());
}

Out Material(std::int16_t number, const std::string& texture, float red) {
  Out m;
  m.I16(number);
  m.U8('p');
  m.U8('s');
  m.U8(30);
  for (const float v : {red, 0.8f, 0.6f, 1.0f, 0.1f, 0.5f, 0.2f, 1.0f}) m.F32(v);
  m.U8('t');
  m.U8(':');
  m.U8(0);
  m.I16(static_cast<std::int16_t>(texture.size()));
  m.Raw(texture);
  for (const float v : {0.0f, 0.0f, 4.0f, 4.0f}) m.F32(v);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: cob_gen OUT.cob [QUADS_PER_SIDE]\n");
    return 2;
  }
  const int n = argc > 2 ? std::atoi(argv[2]) : 317;
  if (n < 1 || n > 4000) {
    std::fprintf(stderr, "QUADS_PER_SIDE must be 1..4000\n");
    return 2;
  }
  const int side = n + 1;
  Out poly;
  poly.Name("Terrain");
  poly.AxesAndPosition();
  poly.I32(side * side);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      poly.F32(static_cast<float>(x) * 0.1f);
      poly.F32(static_cast<float>(y) * 0.1f);
      poly.F32(static_cast<float>(std::sin(x * 0.05) * std::cos(y * 0.07)));
    }
  }
  poly.I32(side * side);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      poly.F32(static_cast<float>(x) / static_cast<float>(n));
      poly.F32(static_cast<float>(y) / static_cast<float>(n));
    }
  }
  poly.I32(2 * n * n);
  for (int y = 0; y < n; ++y) {
    const std::int16_t material = static_cast<std::int16_t>((y / 16) % 2);
    for (int x = 0; x < n; ++x) {
      const std::int32_t a = y * side + x, b = a + 1, c = a + side + 1, d = a + side;
      const std::int32_t triangles[2][3] = {{a, b, c}, {a, c, d}};
      for (const auto& tri : triangles) {
        poly.U8(0);
        poly.I16(3);
        poly.I16(material);
        for (const std::int32_t index : tri) {
          poly.I32(index);  // vertex index
          poly.I32(index);  // texture-coordinate index: one per vertex
        }
      }
    }
  }
  Out group;
  group.Name("Ground");
  group.AxesAndPosition();

  Out file;
  std::string header = "Caligari V00.01BLH";
  header.resize(32, ' ');
  file.Raw(header);
  Chunk(file, "Grou", 1, 1, 0, group);
  Chunk(file, "PolH", 8, 2, 1, poly);
  Chunk(file, "Mat1", 8, 3, 2, Material(0, "grass.jpg", 0.2f));
  Chunk(file, "Mat1", 8, 4, 2, Material(1, "rock.jpg", 0.7f));
  Chunk(file, "END ", 0, 0, 0, Out{});

  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr ||
      std::fwrite(file.bytes.data(), 1, file.bytes.size(), out) != file.bytes.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %d vertices, %d triangles, %zu bytes\n", argv[1], side * side, 2 * n * n,
              file.bytes.size());
  return 0;
}
