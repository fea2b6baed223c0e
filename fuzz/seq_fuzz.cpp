// Fuzz target for the animation writer (chunk scan, Chan channels, sequence file) and the two
// dumps. Besides memory safety it checks that every sequence file written is well formed: the
// header's limb count matches the tracks that follow and each track's count its keyframes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rwxsmith/dumps.h"
#include "rwxsmith/sequence_writer.h"

namespace {

struct Reader {
  const std::vector<std::uint8_t>& bytes;
  std::size_t pos = 0;

  bool Has(std::size_t n) const { return n <= bytes.size() - pos; }
  std::uint32_t Be32() {
    if (!Has(4)) std::abort();
    const std::uint8_t* p = bytes.data() + pos;
    pos += 4;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
  }
  void String() {
    if (!Has(2)) std::abort();
    const std::size_t length = (std::size_t{bytes[pos]} << 8) | bytes[pos + 1];
    pos += 2;
    // The length counts the closing zero byte, which must be there.
    if (length == 0 || !Has(length) || bytes[pos + length - 1] != 0) std::abort();
    pos += length;
  }
  void Skip(std::size_t n) {
    if (!Has(n)) std::abort();
    pos += n;
  }
};

void CheckSequence(const std::vector<std::uint8_t>& seq) {
  if (seq.empty()) return;  // the header was rejected
  Reader r{seq};
  if (r.Be32() != 0x7F7F7F79u) std::abort();
  r.Skip(2);
  const std::uint32_t limbs = r.Be32();
  if (limbs == 0) std::abort();  // at least the dummy track
  r.String();
  r.String();
  for (std::uint32_t i = 0; i < limbs; ++i) {
    r.String();
    if (r.Be32() != 16) std::abort();
    const std::uint32_t keys = r.Be32();
    if (keys > seq.size() / 20) std::abort();
    r.Skip(keys * 20u);
  }
  const std::uint32_t marker = r.Be32();
  if (marker == 4) {
    for (int axis = 0; axis < 3; ++axis) {
      if (r.Be32() != 4) std::abort();
      const std::uint32_t keys = r.Be32();
      if (keys > seq.size() / 8) std::abort();
      r.Skip(keys * 8u);
    }
    if (r.Be32() != 16 || r.Be32() != 1) std::abort();
    r.Skip(20);
  } else if (marker != 0) {
    std::abort();
  }
  if (r.pos != seq.size()) std::abort();
}

std::vector<std::uint8_t> ReadBack(std::FILE* file) {
  std::vector<std::uint8_t> bytes;
  std::fflush(file);
  std::rewind(file);
  std::uint8_t chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* console = std::fopen("/dev/null", "w");
  static std::FILE* seq = std::tmpfile();
  if (console == nullptr || seq == nullptr) std::abort();
  const std::vector<std::uint8_t> buffer(data, data + size);

  std::rewind(seq);
  if (ftruncate(fileno(seq), 0) != 0) std::abort();
  cob::WriteAnimationSequence(buffer, "fuzz.cob", seq, console);
  CheckSequence(ReadBack(seq));

  cob::PrintChunkCensus(buffer, console);
  cob::PrintImageCensus(buffer, console);
  return 0;
}
