// A bounds-checked little-endian reader over a byte buffer the cursor does not own. Every read
// either succeeds whole or fails without moving, so a caller can stop at the first short read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cob {

struct ByteCursor {
  const std::uint8_t* data = nullptr;  // not owned; must outlive the cursor
  std::size_t size = 0;                // bytes in `data`
  std::size_t pos = 0;                 // next byte to read; never above `size`
};

inline ByteCursor MakeCursor(const std::uint8_t* data, std::size_t size, std::size_t pos = 0) {
  return ByteCursor{data, size, pos <= size ? pos : size};
}

inline std::size_t Remaining(const ByteCursor& cur) { return cur.size - cur.pos; }

// Moves to `pos`; false (and no move) when it lies past the end.
inline bool Seek(ByteCursor& cur, std::size_t pos) {
  if (pos > cur.size) return false;
  cur.pos = pos;
  return true;
}

inline bool Skip(ByteCursor& cur, std::size_t count) {
  if (count > Remaining(cur)) return false;
  cur.pos += count;
  return true;
}

// Points `out` at the next `count` bytes inside the buffer and moves past them.
inline bool ReadBytes(ByteCursor& cur, std::size_t count, const std::uint8_t*& out) {
  if (count > Remaining(cur)) return false;
  out = cur.data + cur.pos;
  cur.pos += count;
  return true;
}

inline bool ReadU8(ByteCursor& cur, std::uint8_t& out) {
  if (Remaining(cur) < 1) return false;
  out = cur.data[cur.pos++];
  return true;
}

inline bool ReadU16(ByteCursor& cur, std::uint16_t& out) {
  if (Remaining(cur) < 2) return false;
  const std::uint8_t* p = cur.data + cur.pos;
  out = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  cur.pos += 2;
  return true;
}

inline bool ReadU32(ByteCursor& cur, std::uint32_t& out) {
  if (Remaining(cur) < 4) return false;
  const std::uint8_t* p = cur.data + cur.pos;
  out = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  cur.pos += 4;
  return true;
}

inline bool ReadI16(ByteCursor& cur, std::int16_t& out) {
  std::uint16_t raw = 0;
  if (!ReadU16(cur, raw)) return false;
  out = static_cast<std::int16_t>(raw);
  return true;
}

inline bool ReadI32(ByteCursor& cur, std::int32_t& out) {
  std::uint32_t raw = 0;
  if (!ReadU32(cur, raw)) return false;
  out = static_cast<std::int32_t>(raw);
  return true;
}

// IEEE single, little-endian, taken bit for bit.
inline bool ReadF32(ByteCursor& cur, float& out) {
  std::uint32_t raw = 0;
  if (!ReadU32(cur, raw)) return false;
  std::memcpy(&out, &raw, sizeof out);
  return true;
}

}  // namespace cob
