#include "boxtally/render/png_writer.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace render {

namespace {

// Level 1: a 256 x 256 thumbnail in a fraction of a millisecond, a few percent larger than at
// zlib's default level.
constexpr int kDeflateLevel = 1;

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Each thread that draws keeps one compressor: making one costs more than a small picture's
// compression.
libdeflate_compressor* Compressor() {
  thread_local std::unique_ptr<libdeflate_compressor, CompressorFree> kept(
      libdeflate_alloc_compressor(kDeflateLevel));
  return kept.get();
}

bool Opaque(const Image& image) {
  std::uint8_t all = 255;
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) all &= image.rgba[i];
  return all == 255;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

// A chunk: its length, type and data, and the CRC of type and data.
void PutChunk(std::string& out, const char type[4], const void* data, std::size_t size) {
  PutU32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.append(type, 4);
  if (size > 0) out.append(static_cast<const char*>(data), size);
  PutU32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

}  // namespace

bool EncodePng(const Image& image, std::string& out) {
  out.clear();
  const std::size_t width = static_cast<std::size_t>(image.width);
  const std::size_t height = static_cast<std::size_t>(image.height);
  if (image.width < 1 || image.height < 1 || image.rgba.size() != width * height * 4) return false;
  libdeflate_compressor* compressor = Compressor();
  if (compressor == nullptr) return false;
  const std::size_t channels = Opaque(image) ? 3 : 4;
  // Each row: filter type 0 (none), then its pixels.
  const std::size_t stride = width * channels + 1;
  // Kept by the thread for its next picture, as the drawing keeps its buffers.
  thread_local std::vector<std::uint8_t> rows, deflated;
  rows.resize(stride * height);
  for (std::size_t y = 0; y < height; ++y) {
    std::uint8_t* to = &rows[y * stride];
    const std::uint8_t* from = &image.rgba[y * width * 4];
    *to++ = 0;
    if (channels == 4) {
      std::memcpy(to, from, width * 4);
      continue;
    }
    // Four bytes a pixel, the fourth overwritten by the next pixel's first; the last takes three.
    for (std::size_t x = 1; x < width; ++x, from += 4, to += 3) std::memcpy(to, from, 4);
    std::memcpy(to, from, 3);
  }
  deflated.resize(libdeflate_zlib_compress_bound(compressor, rows.size()));
  const std::size_t size = libdeflate_zlib_compress(compressor, rows.data(), rows.size(),
                                                    deflated.data(), deflated.size());
  const bool kept = width * height <= kKeptScratchPixels;
  if (size == 0) {
    if (!kept) rows = deflated = {};
    return false;
  }
  std::uint8_t header[13];
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    header[4 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  header[8] = 8;                          // bits per channel
  header[9] = channels == 4 ? 6 : 2;      // RGBA or RGB
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, not interlaced
  out.reserve(size + 64);
  out.append("\x89PNG\r\n\x1a\n", 8);
  PutChunk(out, "IHDR", header, sizeof header);
  PutChunk(out, "IDAT", deflated.data(), size);
  PutChunk(out, "IEND", nullptr, 0);
  if (!kept) rows = deflated = {};
  return true;
}

}  // namespace render
