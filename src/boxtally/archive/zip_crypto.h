// Traditional PKWARE encryption of zip entries: three 32-bit keys set up from the password and
// stirred by every plain byte, and the 12-byte encryption header in front of the entry data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace archive {

inline constexpr std::size_t kEncryptionHeaderSize = 12;  // bytes in front of the entry data

struct ZipKeys {
  std::uint32_t key0 = 0x12345678;
  std::uint32_t key1 = 0x23456789;
  std::uint32_t key2 = 0x34567890;
};

// Fresh keys stirred by every byte of `password` (bytes as they are, no character set).
ZipKeys InitKeys(std::string_view password);
// Stirs the keys with one plain byte.
void UpdateKeys(ZipKeys& keys, std::uint8_t plain);
// The byte the keys currently mix into the data (XOR mask for the next byte).
std::uint8_t KeyStreamByte(const ZipKeys& keys);
// Decrypts `n` bytes from `in` into `out` (the two may be the same buffer).
void DecryptBytes(ZipKeys& keys, const std::uint8_t* in, std::uint8_t* out, std::size_t n);

}  // namespace archive
