#include "rwxsmith/dumps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "rwxsmith/cob_format.h"

namespace cob {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The key under which names that differ only in letter case meet.
std::string LowerKey(std::string_view text) {
  std::string key(text);
  for (char& c : key) c = LowerAscii(c);
  return key;
}

// A chunk type as text: its four characters, ending early at a zero byte as a C string would.
std::string_view TypeText(const std::array<char, 4>& type) {
  const void* zero = std::memchr(type.data(), '\0', type.size());
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - type.data()) : type.size();
  return std::string_view(type.data(), length);
}

struct CensusEntry {
  std::array<char, 4> type{};  // as spelled at its first occurrence
  std::size_t count = 0;
};

struct ImageEntry {
  std::string name;  // as spelled at its first use, at most kMaxImageName characters
  std::size_t uses = 0;
};

// Names in order of first use, with an index by lower-cased name: a crafted file can hold
// hundreds of thousands of names, too many for a linear search per use.
struct ImageCensus {
  std::vector<ImageEntry> images;
  std::unordered_map<std::string, std::size_t> index;
};

void CountImage(ImageCensus& census, const std::string& name) {
  const auto [it, inserted] = census.index.try_emplace(LowerKey(name), census.images.size());
  if (inserted) census.images.push_back(ImageEntry{name, 0});
  ++census.images[it->second].uses;
}

// Walks the extensions of one Mat1 chunk's data and counts its texture map names. A path that
// runs past the chunk ends the walk: a name cut by the end of the data would be a wrong name.
void CountMaterialImages(const std::uint8_t* data, std::size_t length, ImageCensus& census) {
  std::size_t pos = kMaterialFixedSize;
  // Identifier, ':', flags, 16-bit path length and at least two more bytes.
  while (pos + 6 < length) {
    const char identifier = static_cast<char>(data[pos]);
    const std::size_t path_length = static_cast<std::size_t>(data[pos + 3] | (data[pos + 4] << 8));
    pos += 5;
    if (identifier == 't') {
      if (path_length > length - pos) return;
      CountImage(census, ImageNameOfPath(data + pos, path_length));
    }
    // The length is unsigned, so the walk only ever moves forward.
    pos += path_length;
    if (identifier == 't') pos += 16;  // offsets and repeats, 4 floats
    if (identifier == 'b') pos += 20;  // offsets, repeats and amplitude, 5 floats
  }
}

}  // namespace

std::string ImageNameOfPath(const std::uint8_t* path, std::size_t length) {
  const void* zero = length == 0 ? nullptr : std::memchr(path, '\0', length);
  if (zero) length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - path);
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] == '/' || path[i] == '\\') start = i + 1;
  }
  const std::size_t kept = std::min(length - start, kMaxImageName);
  return std::string(reinterpret_cast<const char*>(path + start), kept);
}

void PrintChunkCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console) {
  const std::optional<std::size_t> first = CheckBinaryHeader(buffer.data(), buffer.size(), console);
  if (!first) return;
  std::vector<CensusEntry> entries;
  std::unordered_map<std::string, std::size_t> index;  // lower-cased type -> entry
  ChunkHeader chunk;
  for (std::size_t offset = *first; ReadChunkHeader(buffer.data(), buffer.size(), offset, chunk);
       offset = chunk.next_offset) {
    const auto [it, inserted] = index.try_emplace(
        LowerKey(std::string_view(chunk.type.data(), chunk.type.size())), entries.size());
    if (inserted) entries.push_back(CensusEntry{chunk.type, 0});
    ++entries[it->second].count;
  }
  for (const CensusEntry& entry : entries) {
    const std::string_view type = TypeText(entry.type);
    std::fprintf(console, "  %.*s : %zu\n", static_cast<int>(type.size()), type.data(),
                 entry.count);
  }
}

void PrintImageCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console) {
  const std::optional<std::size_t> first = CheckBinaryHeader(buffer.data(), buffer.size(), console);
  if (!first) return;
  ImageCensus census;
  ChunkHeader chunk;
  for (std::size_t offset = *first; ReadChunkHeader(buffer.data(), buffer.size(), offset, chunk);
       offset = chunk.next_offset) {
    // Only the bytes inside the buffer are walked, whatever length the chunk claims.
    if (ChunkTypeIs(chunk, "Mat1") && chunk.data_available > 43) {
      CountMaterialImages(buffer.data() + chunk.data_start, chunk.data_available, census);
    }
  }
  for (const ImageEntry& image : census.images) {
    std::fprintf(console, "  %s (%zu)\n", image.name.c_str(), image.uses);
  }
  const std::size_t distinct = census.images.size();
  std::fprintf(console, "  %zu image%s (followed by usage count)\n", distinct,
               distinct > 1 ? "s" : "");
}

}  // namespace cob
