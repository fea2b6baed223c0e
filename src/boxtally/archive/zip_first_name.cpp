#include "boxtally/archive/zip_first_name.h"

#include <cstdint>

#include "boxtally/archive/zip_format.h"

namespace archive {

namespace {

// Little-endian 16-bit value of the next two bytes; nullopt when the stream ends first.
std::optional<unsigned> ReadU16(std::FILE* stream) {
  const int lo = std::fgetc(stream);
  const int hi = std::fgetc(stream);
  if (lo == EOF || hi == EOF) return std::nullopt;
  return static_cast<unsigned>(lo) | static_cast<unsigned>(hi) << 8;
}

bool Skip(std::FILE* stream, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    if (std::fgetc(stream) == EOF) return false;
  }
  return true;
}

bool IsMarkerByte(int c) { return c >= 0x30 && c <= 0x7F; }

std::optional<std::string> ZipName(std::FILE* stream) {
  int b0 = std::fgetc(stream);
  int b1 = std::fgetc(stream);
  // Two printable bytes ("00" of the split-archive marker "PK00") belong to a four-byte marker
  // in front of the real local header: skip its "PK" and take the next two bytes instead.
  if (IsMarkerByte(b0) && IsMarkerByte(b1)) {
    std::fgetc(stream);
    std::fgetc(stream);
    b0 = std::fgetc(stream);
    b1 = std::fgetc(stream);
  }
  std::uint8_t header[26];  // the local header after its four signature bytes
  if (std::fread(header, 1, sizeof header, stream) != sizeof header) return std::nullopt;
  if (b0 != 0x03 || b1 != 0x04) return std::nullopt;
  const unsigned method = header[4] | static_cast<unsigned>(header[5]) << 8;
  if (method != kMethodStored && method != kMethodDeflated) return std::nullopt;
  const std::size_t name_length = header[22] | static_cast<std::size_t>(header[23]) << 8;
  if (name_length > kMaxZipNameLength) return std::nullopt;
  std::string name(name_length, '\0');
  // A name cut short by the end of the file is a damaged header, not a shorter name.
  if (std::fread(name.data(), 1, name_length, stream) != name_length) return std::nullopt;
  name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
  return name;
}

std::optional<std::string> GzipName(std::FILE* stream) {
  std::uint8_t header[8];  // method, flags, time (4), extra flags, operating system
  if (std::fread(header, 1, sizeof header, stream) != sizeof header) return std::nullopt;
  const unsigned flags = header[1];
  if (header[0] != kMethodDeflated || (flags & kGzipFlagMultiPart) != 0) return std::nullopt;
  if ((flags & kGzipFlagExtra) != 0) {
    const std::optional<unsigned> extra_length = ReadU16(stream);
    if (!extra_length || !Skip(stream, *extra_length)) return std::nullopt;
  }
  std::string name;
  if ((flags & kGzipFlagName) == 0) return name;
  // The name ends at a 0 byte, at 0xFF or at the end of the stream; what does not fit the
  // caller's name buffer is cut off rather than read on.
  while (name.size() < kMaxGzipNameLength) {
    const int c = std::fgetc(stream);
    if (c == EOF || c == 0x00 || c == 0xFF) break;
    name.push_back(static_cast<char>(c));
  }
  return name;
}

}  // namespace

bool FirstEntryCutShort(std::FILE* stream) {
  std::uint8_t header[30];  // a local header without marker, name or extra field
  if (std::fread(header, 1, sizeof header, stream) != sizeof header) return false;
  if (LoadU32(header) != kLocalHeaderSignature) return false;
  const unsigned flags = LoadU16(header + 6);
  const std::uint32_t compressed = LoadU32(header + 18);
  if ((flags & kZipFlagDescriptor) != 0 || compressed == kZip64SizeMarker) return false;
  const std::uint64_t needed =
      sizeof header + LoadU16(header + 26) + LoadU16(header + 28) + std::uint64_t{compressed};
  if (std::fseek(stream, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(stream);
  return size >= 0 && static_cast<std::uint64_t>(size) < needed;
}

std::optional<std::uint64_t> FirstEntrySize(std::FILE* stream) {
  std::uint8_t header[30];
  if (std::fread(header, 1, sizeof header, stream) != sizeof header) return std::nullopt;
  if (LoadU16(header) == kGzipSignature) {
    // The trailer's ISIZE: the size modulo 2^32, which is what a model of this size can be.
    std::uint8_t trailer[4];
    if (std::fseek(stream, -4, SEEK_END) != 0 || std::fread(trailer, 1, 4, stream) != 4) {
      return std::nullopt;
    }
    return LoadU32(trailer);
  }
  if (LoadU32(header) != kLocalHeaderSignature) return std::nullopt;
  const std::uint32_t size = LoadU32(header + 22);
  if ((LoadU16(header + 6) & kZipFlagDescriptor) != 0 || size == kZip64SizeMarker) {
    return std::nullopt;
  }
  return size;
}

std::optional<std::string> ZipFirstName(std::FILE* stream) {
  const std::optional<unsigned> signature = ReadU16(stream);
  if (!signature) return std::nullopt;
  if (*signature == kZipSignatureLow) return ZipName(stream);
  if (*signature == kGzipSignature) return GzipName(stream);
  return std::nullopt;
}

}  // namespace archive
