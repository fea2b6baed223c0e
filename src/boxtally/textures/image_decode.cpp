#include "boxtally/textures/image_decode.h"

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "boxtally/textures/bmp_reader.h"

namespace textures {

namespace {

bool StartsWith(std::string_view bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && bytes.substr(0, magic.size()) == magic;
}

const unsigned char* Bytes(std::string_view bytes) {
  return reinterpret_cast<const unsigned char*>(bytes.data());
}

std::size_t PixelBytes(int width, int height) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
}

// ---- GIF ---------------------------------------------------------------------------------------

struct GifInput {
  std::string_view bytes;
  std::size_t pos = 0;
};

int ReadGifBytes(GifFileType* gif, GifByteType* into, int wanted) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const std::size_t n =
      std::min(static_cast<std::size_t>(std::max(wanted, 0)), in->bytes.size() - in->pos);
  std::memcpy(into, in->bytes.data() + in->pos, n);
  in->pos += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// The transparent index a graphic control extension gives, or -1. Other extensions are skipped.
bool SkipExtension(GifFileType* gif, int& transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
    transparent = (block[1] & 1) != 0 ? block[4] : -1;
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// The first frame's indexes, row by row (interlaced frames come in four passes).
bool ReadGifFrame(GifFileType* gif, std::vector<GifPixelType>& indexes) {
  const GifImageDesc& d = gif->Image;
  indexes.assign(static_cast<std::size_t>(d.Width) * static_cast<std::size_t>(d.Height), 0);
  const auto row = [&](int y) { return indexes.data() + static_cast<std::size_t>(y) * d.Width; };
  if (!d.Interlace) {
    for (int y = 0; y < d.Height; ++y) {
      if (DGifGetLine(gif, row(y), d.Width) != GIF_OK) return false;
    }
    return true;
  }
  static const int kStart[] = {0, 4, 2, 1};
  static const int kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = kStart[pass]; y < d.Height; y += kStep[pass]) {
      if (DGifGetLine(gif, row(y), d.Width) != GIF_OK) return false;
    }
  }
  return true;
}

// The frame on its logical screen; what it does not cover is transparent.
void PaintGifFrame(const GifFileType* gif, const std::vector<GifPixelType>& indexes,
                   int transparent, render::Texture& out) {
  const GifImageDesc& d = gif->Image;
  const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif->SColorMap;
  for (int y = 0; y < d.Height; ++y) {
    const int to_y = d.Top + y;
    if (to_y < 0 || to_y >= out.height) continue;
    for (int x = 0; x < d.Width; ++x) {
      const int to_x = d.Left + x;
      if (to_x < 0 || to_x >= out.width) continue;
      const int index = indexes[static_cast<std::size_t>(y) * d.Width + x];
      if (index == transparent) continue;
      std::uint8_t* p = out.rgba.data() + PixelBytes(out.width, to_y) + 4 * to_x;
      if (map != nullptr && index < map->ColorCount) {
        p[0] = map->Colors[index].Red;
        p[1] = map->Colors[index].Green;
        p[2] = map->Colors[index].Blue;
      }
      p[3] = 255;
    }
  }
}

}  // namespace

ImageKind SniffImageKind(std::string_view bytes) {
  if (StartsWith(bytes, "\xFF\xD8\xFF")) return ImageKind::kJpeg;
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n")) return ImageKind::kPng;
  if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a")) return ImageKind::kGif;
  if (StartsWith(bytes, "BM")) return ImageKind::kBmp;
  return ImageKind::kUnknown;
}

bool WithinTextureBounds(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= render::kMaxTextureSide &&
         height <= render::kMaxTextureSide &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <=
             render::kMaxTexturePixels;
}

ImageResult DecodeImage(std::string_view bytes, render::Texture& out) {
  out = render::Texture{};
  if (bytes.size() > kMaxImageFileBytes) return kImageTooLarge;
  switch (SniffImageKind(bytes)) {
    case ImageKind::kJpeg:
      return DecodeJpeg(bytes, out);
    case ImageKind::kPng:
      return DecodePng(bytes, out);
    case ImageKind::kGif:
      return DecodeGif(bytes, out);
    case ImageKind::kBmp:
      return ReadBmp(bytes, out);
    default:
      return kImageUnknownKind;
  }
}

ImageResult DecodeJpeg(std::string_view bytes, render::Texture& out) {
  out = render::Texture{};
  struct Closer {
    void operator()(void* handle) const { tjDestroy(handle); }
  };
  std::unique_ptr<void, Closer> handle(tjInitDecompress());
  if (!handle) return kImageDamaged;
  const unsigned long size = static_cast<unsigned long>(bytes.size());
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colour_space = 0;
  if (tjDecompressHeader3(handle.get(), Bytes(bytes), size, &width, &height, &subsampling,
                          &colour_space) != 0) {
    return kImageDamaged;
  }
  if (!WithinTextureBounds(width, height)) return kImageTooLarge;
  render::Texture picture{width, height, std::vector<std::uint8_t>(PixelBytes(width, height))};
  // A warning (data cut short, a damaged marker) stops the decoder: what it would draw is a grey
  // guess, and a bad image counts as a missing one. Progressive scans are bounded, so a crafted
  // file cannot keep the decoder busy for minutes.
  if (tjDecompress2(handle.get(), Bytes(bytes), size, picture.rgba.data(), width, 0, height,
                    TJPF_RGBA, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
    return kImageDamaged;
  }
  out = std::move(picture);
  return kImageOk;
}

ImageResult DecodePng(std::string_view bytes, render::Texture& out) {
  out = render::Texture{};
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
    return kImageDamaged;
  }
  struct Freer {
    png_image* image;
    ~Freer() { png_image_free(image); }
  } freer{&image};
  if (!WithinTextureBounds(image.width, image.height)) return kImageTooLarge;
  image.format = PNG_FORMAT_RGBA;
  const int width = static_cast<int>(image.width);
  const int height = static_cast<int>(image.height);
  render::Texture picture{width, height, std::vector<std::uint8_t>(PixelBytes(width, height))};
  if (png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr) == 0) {
    return kImageDamaged;
  }
  out = std::move(picture);
  return kImageOk;
}

// The first frame only: a texture does not move. giflib's own DGifSlurp is not used: it allocates
// every frame at the size its descriptor claims before reading a byte of it.
ImageResult DecodeGif(std::string_view bytes, render::Texture& out) {
  out = render::Texture{};
  GifInput input{bytes};
  int error = 0;
  GifPtr gif(DGifOpen(&input, ReadGifBytes, &error));
  if (!gif) return input.pos >= bytes.size() ? kImageTruncated : kImageDamaged;
  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return kImageDamaged;
    if (type == TERMINATE_RECORD_TYPE) return kImageDamaged;  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      if (!SkipExtension(gif.get(), transparent)) return kImageDamaged;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) return kImageDamaged;
    if (DGifGetImageDesc(gif.get()) != GIF_OK) return kImageDamaged;
    break;
  }
  const GifImageDesc& d = gif->Image;
  // A screen of 0 (some writers leave it out) is the frame's own size.
  const int width = gif->SWidth > 0 ? gif->SWidth : d.Width;
  const int height = gif->SHeight > 0 ? gif->SHeight : d.Height;
  if (!WithinTextureBounds(width, height) || !WithinTextureBounds(d.Width, d.Height)) {
    return kImageTooLarge;
  }
  std::vector<GifPixelType> indexes;
  if (!ReadGifFrame(gif.get(), indexes)) {
    return input.pos >= bytes.size() ? kImageTruncated : kImageDamaged;
  }
  render::Texture picture{width, height, std::vector<std::uint8_t>(PixelBytes(width, height))};
  PaintGifFrame(gif.get(), indexes, transparent, picture);
  out = std::move(picture);
  return kImageOk;
}

}  // namespace textures
