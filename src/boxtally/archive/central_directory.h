// The central directory record of one zip entry, for entries whose local header leaves their
// sizes to others: a data descriptor written by a zipper that could not seek back, or Zip64
// fields. Only these need it; everything else is read from the local header alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

namespace archive {

inline constexpr std::size_t kEndRecordSize = 22;          // bytes before the archive comment
inline constexpr std::size_t kMaxArchiveComment = 0xFFFF;  // bytes; its length has 16 bits
inline constexpr std::size_t kZip64LocatorSize = 20;       // bytes, right before the end record
inline constexpr std::size_t kZip64EndRecordSize = 56;     // bytes read of the Zip64 end record
inline constexpr std::size_t kCentralHeaderSize = 46;      // bytes before name, extra, comment

// What the central directory says of one entry.
struct CentralEntry {
  unsigned flags = 0;
  unsigned method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
};

// Fills `out` with `size` bytes of the archive from `offset`; false when fewer are there.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t size)>;

// The record of the entry whose local header starts at `local_header_offset`, in an archive of
// `archive_size` bytes read through `read_at`. The end record is looked for in the last
// kEndRecordSize + kMaxArchiveComment bytes, its Zip64 locator and end record when its fields say
// so; every offset and length is checked against the archive before it is used, and memory use
// does not depend on the archive. nullopt: no end record, an archive spread over several disks,
// a record that does not fit, or no record for that entry.
std::optional<CentralEntry> FindCentralEntry(const ReadAt& read_at, std::uint64_t archive_size,
                                             std::uint64_t local_header_offset);

// The same for an archive open as a regular file. It reads with pread, so the stream's position
// and buffer stay as they were. nullopt also when `archive` is not a regular file.
std::optional<CentralEntry> FindCentralEntry(std::FILE* archive, std::uint64_t local_header_offset);

}  // namespace archive
