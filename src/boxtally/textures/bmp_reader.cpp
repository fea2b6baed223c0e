#include "boxtally/textures/bmp_reader.h"

#include <array>
#include <cstdint>

namespace textures {

namespace {

enum Compression : std::uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitFields = 3,
  kBiAlphaBitFields = 6,
};

constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kV3HeaderSize = 56;  // the info header with the four colour masks

using Rgba = std::array<std::uint8_t, 4>;

// Little-endian numbers at an offset already checked against the bytes.
std::uint32_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t U32(std::string_view b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// A colour channel of a direct pixel: its mask's bits, widened to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
};

Channel ChannelOf(std::uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) return c;
  while (((mask >> c.shift) & 1) == 0) ++c.shift;
  while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1) != 0) ++c.bits;
  return c;
}

std::uint8_t ChannelValue(const Channel& c, std::uint32_t pixel) {
  if (c.bits == 0) return 0;
  const std::uint32_t v = (pixel & c.mask) >> c.shift;
  if (c.bits >= 8) return static_cast<std::uint8_t>(v >> (c.bits - 8));
  const std::uint32_t max = (1u << c.bits) - 1;
  return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

struct Header {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool top_down = false;
  int bits = 0;
  std::uint32_t compression = kBiRgb;
  std::array<Channel, 4> channels{};  // red, green, blue, alpha (mask 0: opaque)
  std::size_t palette_at = 0;
  std::size_t palette_entry = 4;  // bytes: B, G, R and one unused (3 for the core header)
  std::size_t palette_count = 0;
  std::size_t pixels_at = 0;
};

// Which depths each compression takes.
bool DepthFits(const Header& h) {
  switch (h.compression) {
    case kBiRgb:
      return h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16 || h.bits == 24 ||
             h.bits == 32;
    case kBiRle8:
      return h.bits == 8;
    case kBiRle4:
      return h.bits == 4;
    case kBiBitFields:
    case kBiAlphaBitFields:
      return h.bits == 16 || h.bits == 32;
    default:
      return false;
  }
}

// The colour masks: from the header (V2 and later), after a 40-byte header (bit fields), or the
// format's defaults (5-5-5 for 16 bits, 8-8-8 for 32).
ImageResult ReadMasks(std::string_view b, std::size_t header_size, Header& h) {
  std::uint32_t masks[4] = {0, 0, 0, 0};
  const bool fields = h.compression == kBiBitFields || h.compression == kBiAlphaBitFields;
  std::size_t after_header = 0;
  if (!fields) {
    if (h.bits == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
    } else {
      masks[0] = 0xFF0000;
      masks[1] = 0x00FF00;
      masks[2] = 0x0000FF;
    }
  } else {
    const std::size_t count = h.compression == kBiAlphaBitFields ? 4 : 3;
    const std::size_t at = kBmpFileHeaderSize + kInfoHeaderSize;
    if (header_size == kInfoHeaderSize) after_header = count * 4;
    if (b.size() < at + count * 4) return kImageTruncated;
    for (std::size_t i = 0; i < count; ++i) masks[i] = U32(b, at + i * 4);
    if (header_size >= kV3HeaderSize) masks[3] = U32(b, at + 12);
  }
  for (std::size_t i = 0; i < 4; ++i) h.channels[i] = ChannelOf(masks[i]);
  h.palette_at = kBmpFileHeaderSize + header_size + after_header;
  return kImageOk;
}

ImageResult ReadHeader(std::string_view b, Header& h) {
  if (b.size() < 2 || b[0] != 'B' || b[1] != 'M') return kImageUnknownKind;
  if (b.size() < kBmpFileHeaderSize + 4) return kImageTruncated;
  h.pixels_at = U32(b, 10);
  const std::size_t header_size = U32(b, kBmpFileHeaderSize);
  if (header_size != kCoreHeaderSize &&
      (header_size < kInfoHeaderSize || header_size > kMaxBmpHeaderSize)) {
    return kImageUnsupported;
  }
  if (b.size() < kBmpFileHeaderSize + header_size) return kImageTruncated;
  std::uint32_t colours_used = 0;
  if (header_size == kCoreHeaderSize) {
    h.width = U16(b, 18);
    h.height = U16(b, 20);
    h.bits = static_cast<int>(U16(b, 24));
    h.palette_entry = 3;
    h.palette_at = kBmpFileHeaderSize + kCoreHeaderSize;
  } else {
    h.width = static_cast<std::int32_t>(U32(b, 18));
    h.height = static_cast<std::int32_t>(U32(b, 22));
    h.bits = static_cast<int>(U16(b, 28));
    h.compression = U32(b, 30);
    colours_used = U32(b, 46);
  }
  h.top_down = h.height < 0;
  if (h.top_down) h.height = -h.height;
  if (!WithinTextureBounds(h.width, h.height)) return kImageTooLarge;
  if (!DepthFits(h)) return kImageUnsupported;
  if (h.bits > 8) return ReadMasks(b, header_size, h);
  if (header_size != kCoreHeaderSize) h.palette_at = kBmpFileHeaderSize + header_size;
  const std::size_t full = std::size_t{1} << h.bits;
  h.palette_count = colours_used == 0 || colours_used > full ? full : colours_used;
  // A palette cut short by the pixels that follow it keeps the entries before them.
  if (h.pixels_at > h.palette_at &&
      h.pixels_at < h.palette_at + h.palette_count * h.palette_entry) {
    h.palette_count = (h.pixels_at - h.palette_at) / h.palette_entry;
  }
  if (b.size() < h.palette_at + h.palette_count * h.palette_entry) return kImageTruncated;
  return kImageOk;
}

// Palette entries the file does not give are opaque black.
std::array<Rgba, 256> ReadPalette(std::string_view b, const Header& h) {
  std::array<Rgba, 256> palette;
  palette.fill(Rgba{0, 0, 0, 255});
  for (std::size_t i = 0; i < h.palette_count; ++i) {
    const std::size_t at = h.palette_at + i * h.palette_entry;
    palette[i] = {static_cast<std::uint8_t>(b[at + 2]), static_cast<std::uint8_t>(b[at + 1]),
                  static_cast<std::uint8_t>(b[at]), 255};
  }
  return palette;
}

// Writes pixels into the picture by the file's own row numbers (row 0 is the file's first).
struct Canvas {
  const Header& h;
  render::Texture& out;
  void Put(std::int64_t x, std::int64_t file_row, const Rgba& c) {
    if (x < 0 || x >= h.width || file_row < 0 || file_row >= h.height) return;
    const std::int64_t y = h.top_down ? file_row : h.height - 1 - file_row;
    const std::size_t at = static_cast<std::size_t>((y * h.width + x) * 4);
    for (std::size_t i = 0; i < 4; ++i) out.rgba[at + i] = c[i];
  }
};

Rgba DirectColour(const Header& h, std::uint32_t pixel) {
  const std::uint8_t alpha = h.channels[3].mask == 0 ? 255 : ChannelValue(h.channels[3], pixel);
  return {ChannelValue(h.channels[0], pixel), ChannelValue(h.channels[1], pixel),
          ChannelValue(h.channels[2], pixel), alpha};
}

std::uint64_t RowStride(const Header& h) {
  return (static_cast<std::uint64_t>(h.width) * h.bits + 31) / 32 * 4;  // rows end on 4 bytes
}

// Uncompressed rows must all be there: checked before the picture is allocated.
bool RowsFit(std::string_view b, const Header& h) {
  return h.pixels_at <= b.size() && RowStride(h) * h.height <= b.size() - h.pixels_at;
}

void ReadRows(std::string_view b, const Header& h, const std::array<Rgba, 256>& palette,
              Canvas& canvas) {
  const std::uint64_t stride = RowStride(h);
  for (std::int64_t row = 0; row < h.height; ++row) {
    const std::size_t start = h.pixels_at + static_cast<std::size_t>(row * stride);
    for (std::int64_t x = 0; x < h.width; ++x) {
      const std::size_t bit = static_cast<std::size_t>(x) * h.bits;
      const std::size_t at = start + bit / 8;
      if (h.bits <= 8) {
        const unsigned byte = static_cast<unsigned char>(b[at]);
        const unsigned index = (byte >> (8 - h.bits - bit % 8)) & ((1u << h.bits) - 1);
        canvas.Put(x, row, palette[index]);
      } else if (h.bits == 24) {
        canvas.Put(x, row,
                   {static_cast<std::uint8_t>(b[at + 2]), static_cast<std::uint8_t>(b[at + 1]),
                    static_cast<std::uint8_t>(b[at]), 255});
      } else {
        canvas.Put(x, row, DirectColour(h, h.bits == 16 ? U16(b, at) : U32(b, at)));
      }
    }
  }
}

// RLE8 and RLE4: pairs of a count and a value, or 0 and an escape (0 line end, 1 image end, 2 a
// move right and up, 3 and more a run of literal indexes padded to an even number of bytes).
ImageResult ReadRunLengths(std::string_view b, const Header& h,
                           const std::array<Rgba, 256>& palette, Canvas& canvas) {
  const bool four = h.compression == kBiRle4;
  std::size_t p = h.pixels_at;
  std::int64_t x = 0;
  std::int64_t row = 0;
  // Every step takes at least two bytes, so the loop ends with the bytes.
  while (row < h.height) {
    if (p > b.size() || b.size() - p < 2) return kImageTruncated;
    const unsigned count = static_cast<unsigned char>(b[p]);
    const unsigned value = static_cast<unsigned char>(b[p + 1]);
    p += 2;
    if (count > 0) {
      for (unsigned i = 0; i < count; ++i) {
        const unsigned index = !four ? value : (i % 2 == 0 ? value >> 4 : value & 15);
        canvas.Put(x++, row, palette[index]);
      }
    } else if (value == 0) {
      x = 0;
      ++row;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (b.size() - p < 2) return kImageTruncated;
      x += static_cast<unsigned char>(b[p]);
      row += static_cast<unsigned char>(b[p + 1]);
      p += 2;
    } else {
      const std::size_t bytes = four ? (value + 1) / 2 : value;
      if (b.size() - p < bytes) return kImageTruncated;
      for (unsigned i = 0; i < value; ++i) {
        const unsigned byte = static_cast<unsigned char>(b[p + (four ? i / 2 : i)]);
        const unsigned index = !four ? byte : (i % 2 == 0 ? byte >> 4 : byte & 15);
        canvas.Put(x++, row, palette[index]);
      }
      p += bytes + bytes % 2;  // the padding byte may be the file's last: p may pass the end
    }
  }
  return kImageOk;
}

}  // namespace

ImageResult ReadBmp(std::string_view bytes, render::Texture& out) {
  out = render::Texture{};
  Header h;
  if (const ImageResult read = ReadHeader(bytes, h); read != kImageOk) return read;
  const std::array<Rgba, 256> palette = ReadPalette(bytes, h);
  render::Texture picture;
  picture.width = static_cast<int>(h.width);
  picture.height = static_cast<int>(h.height);
  const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  if (!rle && !RowsFit(bytes, h)) return kImageTruncated;
  picture.rgba.resize(static_cast<std::size_t>(h.width * h.height) * 4);
  if (rle) {
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
      for (std::size_t c = 0; c < 4; ++c) picture.rgba[i + c] = palette[0][c];
    }
  }
  Canvas canvas{h, picture};
  if (!rle) {
    ReadRows(bytes, h, palette, canvas);
  } else if (const ImageResult read = ReadRunLengths(bytes, h, palette, canvas); read != kImageOk) {
    return read;
  }
  out = std::move(picture);
  return kImageOk;
}

}  // namespace textures
