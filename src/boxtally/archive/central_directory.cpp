#include "boxtally/archive/central_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "boxtally/archive/zip_format.h"

namespace archive {

namespace {

constexpr unsigned k16BitMarker = 0xFFFF;  // "see the Zip64 field" in a 16-bit field
constexpr std::uint32_t k32BitMarker = 0xFFFFFFFF;
constexpr unsigned kZip64ExtraId = 0x0001;  // the extra field that holds the 64-bit values

struct Directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entries = 0;
  bool zip64 = false;  // the end record defers to the Zip64 end record
};

// The end record: the last signature in the archive's tail whose comment ends inside the
// archive. Its offset goes to `end_offset`.
std::optional<Directory> ReadEndRecord(const ReadAt& read_at, std::uint64_t archive_size,
                                       std::uint64_t& end_offset) {
  if (archive_size < kEndRecordSize) return std::nullopt;
  const std::uint64_t tail_size =
      std::min<std::uint64_t>(archive_size, kEndRecordSize + kMaxArchiveComment);
  const std::uint64_t tail_start = archive_size - tail_size;
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(tail_size));
  if (!read_at(tail_start, tail.data(), tail.size())) return std::nullopt;
  for (std::size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
    const std::uint8_t* r = tail.data() + at;
    if (LoadU32(r) != kEndRecordSignature) continue;
    if (at + kEndRecordSize + LoadU16(r + 20) > tail.size()) continue;  // the comment runs past
    end_offset = tail_start + at;
    // Disk numbers other than 0 belong to an archive spread over several files.
    const unsigned disk = LoadU16(r + 4);
    const unsigned directory_disk = LoadU16(r + 6);
    if ((disk != 0 && disk != k16BitMarker) ||
        (directory_disk != 0 && directory_disk != k16BitMarker)) {
      return std::nullopt;
    }
    Directory d{LoadU32(r + 16), LoadU32(r + 12), LoadU16(r + 10)};
    d.zip64 = disk == k16BitMarker || directory_disk == k16BitMarker ||
              LoadU16(r + 8) == k16BitMarker || d.entries == k16BitMarker ||
              d.size == k32BitMarker || d.offset == k32BitMarker;
    return d;
  }
  return std::nullopt;
}

// The Zip64 end record named by the locator right before the end record at `end_offset`. Its
// offset goes to `record_offset`.
std::optional<Directory> ReadZip64EndRecord(const ReadAt& read_at, std::uint64_t end_offset,
                                            std::uint64_t& record_offset) {
  if (end_offset < kZip64LocatorSize) return std::nullopt;
  const std::uint64_t locator_offset = end_offset - kZip64LocatorSize;
  std::uint8_t locator[kZip64LocatorSize];
  if (!read_at(locator_offset, locator, sizeof locator)) return std::nullopt;
  if (LoadU32(locator) != kZip64LocatorSignature || LoadU32(locator + 4) != 0 ||
      LoadU32(locator + 16) > 1) {
    return std::nullopt;
  }
  record_offset = LoadU64(locator + 8);
  if (record_offset > locator_offset || locator_offset - record_offset < kZip64EndRecordSize) {
    return std::nullopt;
  }
  std::uint8_t r[kZip64EndRecordSize];
  if (!read_at(record_offset, r, sizeof r)) return std::nullopt;
  if (LoadU32(r) != kZip64EndSignature || LoadU32(r + 16) != 0 || LoadU32(r + 20) != 0)
    return std::nullopt;
  return Directory{LoadU64(r + 48), LoadU64(r + 40), LoadU64(r + 32)};
}

// Replaces the fields a central header marks as "in the Zip64 field" by that field's values,
// which follow in this order. False when the extra field does not hold them all.
bool ApplyZip64Field(const std::vector<std::uint8_t>& extra, CentralEntry& entry,
                     bool disk_marked) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const unsigned id = LoadU16(extra.data() + at);
    const std::size_t size = LoadU16(extra.data() + at + 2);
    at += 4;
    if (size > extra.size() - at) return false;
    if (id == kZip64ExtraId) {
      const std::uint8_t* p = extra.data() + at;
      std::size_t left = size;
      for (std::uint64_t* field :
           {&entry.uncompressed_size, &entry.compressed_size, &entry.local_header_offset}) {
        if (*field != k32BitMarker) continue;
        if (left < 8) return false;
        *field = LoadU64(p);
        p += 8;
        left -= 8;
      }
      return !disk_marked || left >= 4;
    }
    at += size;
  }
  return false;
}

}  // namespace

std::optional<CentralEntry> FindCentralEntry(const ReadAt& read_at, std::uint64_t archive_size,
                                             std::uint64_t local_header_offset) {
  std::uint64_t end_offset = 0;
  std::optional<Directory> directory = ReadEndRecord(read_at, archive_size, end_offset);
  if (!directory) return std::nullopt;
  // The directory ends where the record after it begins.
  std::uint64_t limit = end_offset;
  if (directory->zip64) {
    directory = ReadZip64EndRecord(read_at, end_offset, limit);
    if (!directory) return std::nullopt;
  }
  if (directory->offset > limit || directory->size > limit - directory->offset) {
    return std::nullopt;
  }
  std::uint64_t at = directory->offset;
  const std::uint64_t end = directory->offset + directory->size;
  // Each record takes at least kCentralHeaderSize bytes, so the walk ends within the directory.
  for (std::uint64_t n = 0; n < directory->entries && end - at >= kCentralHeaderSize; ++n) {
    std::uint8_t h[kCentralHeaderSize];
    if (!read_at(at, h, sizeof h) || LoadU32(h) != kCentralHeaderSignature) return std::nullopt;
    const std::uint64_t name_size = LoadU16(h + 28);
    const std::uint64_t extra_size = LoadU16(h + 30);
    const std::uint64_t record_size = kCentralHeaderSize + name_size + extra_size + LoadU16(h + 32);
    if (record_size > end - at) return std::nullopt;
    CentralEntry entry;
    entry.flags = LoadU16(h + 8);
    entry.method = LoadU16(h + 10);
    entry.crc = LoadU32(h + 16);
    entry.compressed_size = LoadU32(h + 20);
    entry.uncompressed_size = LoadU32(h + 24);
    entry.local_header_offset = LoadU32(h + 42);
    const bool disk_marked = LoadU16(h + 34) == k16BitMarker;
    if (entry.compressed_size == k32BitMarker || entry.uncompressed_size == k32BitMarker ||
        entry.local_header_offset == k32BitMarker || disk_marked) {
      // A marked field needs the Zip64 field, so a record without an extra field is damaged.
      std::vector<std::uint8_t> extra(static_cast<std::size_t>(extra_size));
      if (extra.empty() ||
          !read_at(at + kCentralHeaderSize + name_size, extra.data(), extra.size()) ||
          !ApplyZip64Field(extra, entry, disk_marked)) {
        return std::nullopt;
      }
    }
    if (entry.local_header_offset == local_header_offset) return entry;
    at += record_size;
  }
  return std::nullopt;
}

std::optional<CentralEntry> FindCentralEntry(std::FILE* archive,
                                             std::uint64_t local_header_offset) {
  const int fd = fileno(archive);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    return std::nullopt;
  }
  const ReadAt read_at = [fd](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    while (size > 0) {
      if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
      const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      size -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return true;
  };
  return FindCentralEntry(read_at, static_cast<std::uint64_t>(st.st_size), local_header_offset);
}

}  // namespace archive
