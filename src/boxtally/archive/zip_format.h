// Field values of the zip local header and the gzip member header that both the first-entry
// name and the extraction look at.
#pragma once

#include <cstdint>

namespace archive {

// Little-endian fields, as zip and gzip store every number.
inline std::uint32_t LoadU16(const std::uint8_t* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}
inline std::uint32_t LoadU32(const std::uint8_t* p) { return LoadU16(p) | LoadU16(p + 2) << 16; }
inline std::uint64_t LoadU64(const std::uint8_t* p) {
  return LoadU32(p) | std::uint64_t{LoadU32(p + 4)} << 32;
}

inline constexpr unsigned kZipSignatureLow = 0x4B50;  // "PK", read as a little-endian 16-bit value
inline constexpr unsigned kGzipSignature = 0x8B1F;    // 0x1F 0x8B, likewise
inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kZip64SizeMarker = 0xFFFFFFFF;  // the size is in a Zip64 field

inline constexpr unsigned kZipFlagEncrypted = 0x01;
inline constexpr unsigned kZipFlagDescriptor = 0x08;  // sizes and CRC follow the data
inline constexpr unsigned kMethodStored = 0;
inline constexpr unsigned kMethodDeflated = 8;  // also the only gzip method

inline constexpr unsigned kGzipFlagMultiPart = 0x02;
inline constexpr unsigned kGzipFlagExtra = 0x04;
inline constexpr unsigned kGzipFlagName = 0x08;
inline constexpr unsigned kGzipFlagComment = 0x10;
inline constexpr unsigned kGzipFlagEncrypted = 0x20;

}  // namespace archive
