// The name of a zip archive's first entry (or the name stored in a gzip header), read from the
// first local header alone; the central directory is never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace archive {

inline constexpr std::size_t kMaxZipNameLength = 512;    // bytes; a longer zip name is refused
inline constexpr std::size_t kMaxGzipNameLength = 1255;  // bytes; a longer gzip name is cut here

// Reads `stream` (binary, at its first byte) forward far enough to return the first entry's
// name, bytes as stored (folders kept, no character set conversion, cut at a 0 byte). An empty
// name is a success. nullopt: not zip or gzip, a short or wrong header, a method other than
// stored or deflated, a zip name over kMaxZipNameLength, gzip flag 0x02. The stream is left
// wherever reading stopped; the caller closes it.
std::optional<std::string> ZipFirstName(std::FILE* stream);

// True when `stream` (binary, at its first byte) is a zip archive whose first local header
// gives the entry's compressed size and the file ends before that many bytes follow the header:
// the archive was cut short. False when it cannot tell (sizes in a descriptor or a Zip64 field,
// not a zip archive) or nothing is missing.
bool FirstEntryCutShort(std::FILE* stream);

// The size of the first entry once extracted, as a zip archive's first local header or a gzip
// member's trailer gives it; nullopt when the archive does not say (sizes in a descriptor or a
// Zip64 field, not an archive). `stream` is binary, at its first byte.
std::optional<std::uint64_t> FirstEntrySize(std::FILE* stream);

}  // namespace archive
