// Builds small binary COB files for the animation writer and dump tests: the file header, any
// chunk, the name field of Grou/PolH, Chan keyframe channels and Mat1 extension lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace anim_test {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutU32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutF32(Bytes& out, float f) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  PutU32(out, bits);
}

inline void PutText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

// A 32-byte header: "Caligari ", a version, the format byte at offset 15, the rest of the line.
inline Bytes FileHeader(char format = 'B') {
  std::string h = "Caligari V00.01";
  h += format;
  h += "LH             \n";
  return Bytes(h.begin(), h.end());
}

// Grou/PolH data as far as the scan reads it: duplicate count, name length, name; then filler
// standing for the local axes and the rest, which the scan must skip by the chunk length.
inline Bytes NameField(const std::string& name, std::int16_t duplicate = 0) {
  Bytes out;
  PutU16(out, static_cast<std::uint16_t>(duplicate));
  PutU16(out, static_cast<std::uint16_t>(name.size()));
  PutText(out, name);
  out.insert(out.end(), 48, 0xEE);
  return out;
}

struct RotateKey {
  float frame;
  float p20, p24, p28, p32;
};

struct MoveKey {
  float frame;
  float p20, p24, p28;
};

// The Chan head: 16-bit a, a bytes (an animation set name), 16-bit n, the channel name, two
// bytes, 16-bit keyframe count.
inline Bytes ChanHead(const std::string& name, std::uint16_t count) {
  Bytes out;
  const std::string set = "AnimationSet0";
  PutU16(out, static_cast<std::uint16_t>(set.size()));
  PutText(out, set);
  PutU16(out, static_cast<std::uint16_t>(name.size()));
  PutText(out, name);
  out.push_back(0x01);  // the two unread bytes
  out.push_back(0x00);
  PutU16(out, count);
  return out;
}

// 36 bytes per keyframe: the frame float, 16 unread bytes (0xAB, to catch a misplaced read),
// then p20, p24, p28, p32.
inline Bytes RotateChan(const std::string& name, const std::vector<RotateKey>& keys,
                        int declared = -1) {
  Bytes out = ChanHead(name, static_cast<std::uint16_t>(declared < 0 ? keys.size() : declared));
  for (const RotateKey& k : keys) {
    PutF32(out, k.frame);
    out.insert(out.end(), 16, 0xAB);
    PutF32(out, k.p20);
    PutF32(out, k.p24);
    PutF32(out, k.p28);
    PutF32(out, k.p32);
  }
  return out;
}

// 32 bytes per keyframe: the frame float, 16 unread bytes, then p20, p24, p28.
inline Bytes MoveChan(const std::string& name, const std::vector<MoveKey>& keys,
                      int declared = -1) {
  Bytes out = ChanHead(name, static_cast<std::uint16_t>(declared < 0 ? keys.size() : declared));
  for (const MoveKey& k : keys) {
    PutF32(out, k.frame);
    out.insert(out.end(), 16, 0xAB);
    PutF32(out, k.p20);
    PutF32(out, k.p24);
    PutF32(out, k.p28);
  }
  return out;
}

// One Mat1 extension: identifier, ':', flags, 16-bit path length, path, then the floats the
// identifier carries ('t' 4, 'b' 5, 'e' none).
inline Bytes Extension(char identifier, const std::string& path, std::uint8_t flags = 0) {
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(identifier));
  out.push_back(':');
  out.push_back(flags);
  PutU16(out, static_cast<std::uint16_t>(path.size()));
  PutText(out, path);
  const int floats = identifier == 't' ? 4 : identifier == 'b' ? 5 : 0;
  for (int i = 0; i < floats; ++i) PutF32(out, 1.0f);
  return out;
}

// Mat1 data: the 37-byte fixed part (material number, shader, facet, angle, 8 floats), then
// the extensions.
inline Bytes Material(const std::vector<Bytes>& extensions, std::uint16_t number = 0) {
  Bytes out;
  PutU16(out, number);
  out.push_back('p');
  out.push_back('f');
  out.push_back(30);
  for (int i = 0; i < 8; ++i) PutF32(out, 0.5f);
  for (const Bytes& e : extensions) out.insert(out.end(), e.begin(), e.end());
  return out;
}

class CobBuilder {
 public:
  explicit CobBuilder(char format = 'B') : bytes_(FileHeader(format)) {}

  // A chunk with its 20-byte header; `declared_length` overrides the true data length.
  CobBuilder& Chunk(const std::string& type, std::int32_t id, std::int32_t parent,
                    const Bytes& data, long long declared_length = -1) {
    PutText(bytes_, type.substr(0, 4));
    PutU16(bytes_, 1);  // versions: not examined
    PutU16(bytes_, 4);
    PutU32(bytes_, static_cast<std::uint32_t>(id));
    PutU32(bytes_, static_cast<std::uint32_t>(parent));
    PutU32(bytes_, static_cast<std::uint32_t>(declared_length < 0 ? data.size() : declared_length));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  CobBuilder& Object(const std::string& type, std::int32_t id, std::int32_t parent,
                     const std::string& name) {
    return Chunk(type, id, parent, NameField(name));
  }
  CobBuilder& End() { return Chunk("END ", 0, 0, {}); }

  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A stream in memory standing for the console.
class MemoryConsole {
 public:
  MemoryConsole() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryConsole() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  MemoryConsole(const MemoryConsole&) = delete;
  MemoryConsole& operator=(const MemoryConsole&) = delete;

  std::FILE* file() const { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_ = nullptr;
};

}  // namespace anim_test
