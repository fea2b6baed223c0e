#include "boxtally/archive/zip_crypto.h"

#include <array>

namespace archive {

namespace {

// The CRC-32 table of zip and gzip (reflected polynomial 0xEDB88320), made at compile time so
// the key schedule needs nothing from zlib beyond what the extraction itself uses.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t byte) {
  return kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

}  // namespace

ZipKeys InitKeys(std::string_view password) {
  ZipKeys keys;
  for (const char c : password) UpdateKeys(keys, static_cast<std::uint8_t>(c));
  return keys;
}

void UpdateKeys(ZipKeys& keys, std::uint8_t plain) {
  keys.key0 = CrcStep(keys.key0, plain);
  keys.key1 = (keys.key1 + (keys.key0 & 0xFF)) * 134775813u + 1;
  keys.key2 = CrcStep(keys.key2, static_cast<std::uint8_t>(keys.key1 >> 24));
}

std::uint8_t KeyStreamByte(const ZipKeys& keys) {
  const std::uint32_t temp = (keys.key2 & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((temp * (temp ^ 1)) >> 8);
}

void DecryptBytes(ZipKeys& keys, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t plain = in[i] ^ KeyStreamByte(keys);
    UpdateKeys(keys, plain);
    out[i] = plain;
  }
}

}  // namespace archive
