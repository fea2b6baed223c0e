#include "rwxsmith/cob_format.h"

#include <cstdio>
#include <cstring>

#include "rwxsmith/byte_cursor.h"

namespace cob {

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

HeaderKind ClassifyHeader(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kFileHeaderSize) return HeaderKind::kNotCob;
  if (std::memcmp(data, kMagic.data(), kMagic.size()) != 0) return HeaderKind::kNotCob;
  switch (data[kFormatByteOffset]) {
    case 'B':
      return HeaderKind::kBinary;
    case 'A':
      return HeaderKind::kAscii;
    default:
      return HeaderKind::kOtherFormat;
  }
}

std::optional<std::size_t> CheckBinaryHeader(const std::uint8_t* data, std::size_t size,
                                             std::FILE* console) {
  switch (ClassifyHeader(data, size)) {
    case HeaderKind::kBinary:
      return kFileHeaderSize;
    case HeaderKind::kNotCob:
      std::fputs("File specified is not correctly formatted COB file", console);
      return std::nullopt;
    case HeaderKind::kAscii:
    case HeaderKind::kOtherFormat:
      break;
  }
  std::fputs("This program only supports Binary format COB files", console);
  return std::nullopt;
}

bool ReadChunkHeader(const std::uint8_t* data, std::size_t size, std::size_t offset,
                     ChunkHeader& out) {
  if (offset > size || size - offset < kChunkHeaderSize) return false;
  ByteCursor cur = MakeCursor(data, size, offset);
  ChunkHeader h;
  std::memcpy(h.type.data(), data + offset, h.type.size());
  // Twenty bytes are known to be there, so none of these reads can fail.
  (void)Skip(cur, h.type.size());
  (void)ReadU16(cur, h.major_version);
  (void)ReadU16(cur, h.minor_version);
  (void)ReadI32(cur, h.chunk_id);
  (void)ReadI32(cur, h.parent_id);
  (void)ReadI32(cur, h.data_length);
  h.data_start = cur.pos;
  const std::size_t room = size - h.data_start;
  if (h.data_length < 0 || static_cast<std::uint32_t>(h.data_length) > room) {
    // A chunk that claims more than the file holds (or a negative length, which would send the
    // walk backwards for ever) is the last one: whatever it holds ends at the buffer's end.
    h.data_available = h.data_length < 0 ? 0 : room;
    h.next_offset = size;
  } else {
    h.data_available = static_cast<std::size_t>(h.data_length);
    h.next_offset = h.data_start + h.data_available;
  }
  out = h;
  return true;
}

bool ChunkTypeIs(const ChunkHeader& chunk, std::string_view tag) {
  if (tag.size() != chunk.type.size()) return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    if (LowerAscii(chunk.type[i]) != LowerAscii(tag[i])) return false;
  }
  return true;
}

}  // namespace cob
