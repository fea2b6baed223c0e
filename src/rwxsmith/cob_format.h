// The fixed layouts every reader of a binary COB/SCN buffer shares: the 32-byte file header and
// the 20-byte chunk header that precedes each chunk's data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

namespace cob {

inline constexpr std::size_t kFileHeaderSize = 32;       // bytes; the first chunk starts here
inline constexpr std::size_t kChunkHeaderSize = 20;      // bytes
inline constexpr std::string_view kMagic = "Caligari ";  // file bytes 0..8, with the blank
inline constexpr std::size_t kFormatByteOffset = 15;     // 'B' binary, 'A' ASCII

enum class HeaderKind {
  kBinary,       // magic right, format byte 'B'
  kAscii,        // magic right, format byte 'A'
  kOtherFormat,  // magic right, any other format byte
  kNotCob,       // shorter than the header, or the magic is wrong
};

// Classifies the file header; prints nothing.
HeaderKind ClassifyHeader(const std::uint8_t* data, std::size_t size);

// The header check of the animation writer and the dumps. On success returns the offset of the
// first chunk (kFileHeaderSize). On failure prints, to `console` and without a line end,
// "File specified is not correctly formatted COB file" (short buffer or wrong magic) or
// "This program only supports Binary format COB files" (any format byte but 'B').
std::optional<std::size_t> CheckBinaryHeader(const std::uint8_t* data, std::size_t size,
                                             std::FILE* console);

struct ChunkHeader {
  std::array<char, 4> type{};  // as the file spells it ("PolH", "END ")
  std::uint16_t major_version = 0;
  std::uint16_t minor_version = 0;
  std::int32_t chunk_id = 0;
  std::int32_t parent_id = 0;
  std::int32_t data_length = 0;  // as stored; may be negative or run past the buffer
  std::size_t data_start = 0;    // offset of the chunk's first data byte
  // The bytes of the chunk's data that lie inside the buffer: data_length clamped to
  // 0..(size - data_start). Use it to copy or walk the chunk's own data.
  std::size_t data_available = 0;
  // Where the next chunk header starts: data_start + data_length. A negative length, or one
  // reaching past the buffer, gives the buffer size, so every walk moves forward and ends.
  std::size_t next_offset = 0;
};

// Reads the chunk header at `offset`. False when fewer than kChunkHeaderSize bytes remain there
// (a walk then ends quietly); `out` is then unchanged.
bool ReadChunkHeader(const std::uint8_t* data, std::size_t size, std::size_t offset,
                     ChunkHeader& out);

// True when the chunk's type equals `tag` (four characters) without regard to case.
bool ChunkTypeIs(const ChunkHeader& chunk, std::string_view tag);

}  // namespace cob
