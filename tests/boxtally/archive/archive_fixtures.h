// Shared helpers of the archive tests: shell tools, a captured log, and a builder of zip and
// gzip bytes for the cases that the real tools cannot make (damaged, crafted or fixed bytes).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "boxtally/archive/zip_crypto.h"
#include "platform/text_file.h"
#include "support/temp_dir.h"

namespace archive_test {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `command` with `dir` as working directory; true when it ended with status 0.
inline bool Shell(const std::string& dir, const std::string& command) {
  return std::system(("cd " + Quote(dir) + " && " + command).c_str()) == 0;
}

// A log file in `dir` that the code under test writes through platform::LogF.
struct CapturedLog {
  explicit CapturedLog(const std::string& dir)
      : path(dir + "/test.log"), file(platform::OpenTextFile(path, platform::OpenMode::kCreate)) {}
  std::string Text() {
    platform::FlushTextFile(*file);
    return ReadFile(path);
  }
  std::string path;
  platform::TextFilePtr file;
};

// Standard error as UnzipFirst writes it, caught in a temporary file.
struct CapturedErr {
  CapturedErr() : file(std::tmpfile()) {}
  ~CapturedErr() {
    if (file != nullptr) std::fclose(file);
  }
  std::string Text() {
    std::fflush(file);
    std::rewind(file);
    std::string out;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
      out.push_back(static_cast<char>(c));
    return out;
  }
  std::FILE* file;
};

inline void PutU16(std::string& out, unsigned value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}
inline void PutU32(std::string& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

inline std::uint32_t Crc32(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate of `data` (no zlib or gzip wrapper), at `level` (0 makes stored blocks).
inline std::string RawDeflate(const std::string& data, int level = 9) {
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

// One local entry as a zip writer would lay it out.
struct EntrySpec {
  std::string name = "m.rwx";
  std::string data;
  unsigned method = 8;            // 0 stored, 8 deflated, anything else kept as it is
  std::string password;           // non-empty: traditional encryption
  bool descriptor = false;        // flag bit 3: CRC and sizes after the data
  bool sizes_in_header = true;    // false: zeros in the local header (streamed writers)
  bool signed_descriptor = true;  // the descriptor's optional signature
  bool zip64 = false;             // sizes in a Zip64 field: all ones in the header, 8-byte sizes
  std::uint16_t mod_time = 0x6B2C;
  std::string extra;
};

// Encrypts `plain` behind a fixed encryption header whose last byte is `check`, so a test
// with a wrong password fails the same way on every run.
inline std::string Encrypt(const std::string& password, std::uint8_t check,
                           const std::string& plain) {
  archive::ZipKeys keys = archive::InitKeys(password);
  std::string out;
  auto put = [&](std::uint8_t p) {
    out.push_back(static_cast<char>(p ^ archive::KeyStreamByte(keys)));
    archive::UpdateKeys(keys, p);
  };
  for (std::size_t i = 0; i + 1 < archive::kEncryptionHeaderSize; ++i)
    put(static_cast<std::uint8_t>(0x41 + i));
  put(check);
  for (const char c : plain) put(static_cast<std::uint8_t>(c));
  return out;
}

inline void PutU64(std::string& out, std::uint64_t value) {
  PutU32(out, static_cast<std::uint32_t>(value));
  PutU32(out, static_cast<std::uint32_t>(value >> 32));
}

inline unsigned EntryFlags(const EntrySpec& e) {
  return (e.descriptor ? 0x08 : 0) | (e.password.empty() ? 0 : 0x01);
}

// The entry's data as stored: deflated or not, then encrypted.
inline std::string EntryBody(const EntrySpec& e) {
  std::string body = e.method == 8 ? RawDeflate(e.data) : e.data;
  if (e.password.empty()) return body;
  const std::uint32_t crc = Crc32(e.data);
  const std::uint8_t check = e.descriptor ? static_cast<std::uint8_t>(e.mod_time >> 8)
                                          : static_cast<std::uint8_t>(crc >> 24);
  return Encrypt(e.password, check, body);
}

// A Zip64 extended information field holding `values`.
inline std::string Zip64Field(const std::vector<std::uint64_t>& values) {
  std::string out;
  PutU16(out, 0x0001);
  PutU16(out, static_cast<unsigned>(values.size() * 8));
  for (const std::uint64_t v : values) PutU64(out, v);
  return out;
}

inline std::string LocalEntry(const EntrySpec& e) {
  const std::uint32_t crc = Crc32(e.data);
  const std::string body = EntryBody(e);
  std::string extra = e.extra;
  if (e.zip64) {
    extra += Zip64Field(e.sizes_in_header ? std::vector<std::uint64_t>{e.data.size(), body.size()}
                                          : std::vector<std::uint64_t>{0, 0});
  }
  std::string out = "PK\x03\x04";
  PutU16(out, e.zip64 ? 45 : 20);
  PutU16(out, EntryFlags(e));
  PutU16(out, e.method);
  PutU16(out, e.mod_time);
  PutU16(out, 0x5A21);  // date
  PutU32(out, e.sizes_in_header ? crc : 0);
  if (e.zip64) {
    PutU32(out, 0xFFFFFFFF);
    PutU32(out, 0xFFFFFFFF);
  } else {
    PutU32(out, e.sizes_in_header ? static_cast<std::uint32_t>(body.size()) : 0);
    PutU32(out, e.sizes_in_header ? static_cast<std::uint32_t>(e.data.size()) : 0);
  }
  PutU16(out, static_cast<unsigned>(e.name.size()));
  PutU16(out, static_cast<unsigned>(extra.size()));
  out += e.name + extra + body;
  if (e.descriptor) {
    if (e.signed_descriptor) out += "PK\x07\x08";
    PutU32(out, crc);
    if (e.zip64) {
      PutU64(out, body.size());
      PutU64(out, e.data.size());
    } else {
      PutU32(out, static_cast<std::uint32_t>(body.size()));
      PutU32(out, static_cast<std::uint32_t>(e.data.size()));
    }
  }
  return out;
}

// The central directory record of `e`, whose local header starts at `local_offset`; with
// `zip64` its sizes and offset are all ones and follow in a Zip64 field.
inline std::string CentralRecord(const EntrySpec& e, std::uint64_t local_offset, bool zip64) {
  const std::string body = EntryBody(e);
  const std::string extra = zip64 ? Zip64Field({e.data.size(), body.size(), local_offset}) : "";
  std::string out = "PK\x01\x02";
  PutU16(out, 0x031E);  // made by: Unix
  PutU16(out, zip64 ? 45 : 20);
  PutU16(out, EntryFlags(e));
  PutU16(out, e.method);
  PutU16(out, e.mod_time);
  PutU16(out, 0x5A21);
  PutU32(out, Crc32(e.data));
  PutU32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(body.size()));
  PutU32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.data.size()));
  PutU16(out, static_cast<unsigned>(e.name.size()));
  PutU16(out, static_cast<unsigned>(extra.size()));
  PutU16(out, 0);  // comment
  PutU16(out, 0);  // disk
  PutU16(out, 0);  // internal attributes
  PutU32(out, 0);  // external attributes
  PutU32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(local_offset));
  return out + e.name + extra;
}

// A whole archive as a zip writer lays it out: `marker` (such as "PK00", counted in the
// offsets), the local entries, the central directory, with `zip64` the Zip64 end record and its
// locator, and the end record with `comment`.
inline std::string WholeArchive(const std::vector<EntrySpec>& entries, bool zip64 = false,
                                const std::string& comment = "", const std::string& marker = "") {
  std::string out = marker;
  std::string directory;
  for (const EntrySpec& e : entries) {
    directory += CentralRecord(e, out.size(), zip64);
    out += LocalEntry(e);
  }
  const std::uint64_t directory_offset = out.size();
  out += directory;
  if (zip64) {
    const std::uint64_t record_offset = out.size();
    out += "PK\x06\x06";
    PutU64(out, 44);      // size of the rest of the record
    PutU16(out, 0x031E);  // made by
    PutU16(out, 45);      // needed
    PutU32(out, 0);       // this disk
    PutU32(out, 0);       // disk of the directory
    PutU64(out, entries.size());
    PutU64(out, entries.size());
    PutU64(out, directory.size());
    PutU64(out, directory_offset);
    out += "PK\x06\x07";
    PutU32(out, 0);  // disk of the Zip64 end record
    PutU64(out, record_offset);
    PutU32(out, 1);  // disks in all
  }
  out += "PK\x05\x06";
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, zip64 ? 0xFFFF : static_cast<unsigned>(entries.size()));
  PutU16(out, zip64 ? 0xFFFF : static_cast<unsigned>(entries.size()));
  PutU32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(directory.size()));
  PutU32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(directory_offset));
  PutU16(out, static_cast<unsigned>(comment.size()));
  return out + comment;
}

// An end-of-central-directory record with no entries: something that is not a local header
// after the first entry, as in a real archive.
inline std::string EndRecord() { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); }

// A gzip member: `flags` as in the header, with the optional fields the flags name.
inline std::string GzipMember(const std::string& data, unsigned flags, const std::string& name = "",
                              const std::string& extra = "", const std::string& comment = "") {
  std::string out = "\x1F\x8B\x08";
  out.push_back(static_cast<char>(flags));
  PutU32(out, 0);       // modification time
  out.push_back('\0');  // extra flags
  out.push_back('\3');  // operating system
  if ((flags & 0x04) != 0) {
    PutU16(out, static_cast<unsigned>(extra.size()));
    out += extra;
  }
  if ((flags & 0x08) != 0) out += name + std::string(1, '\0');
  if ((flags & 0x10) != 0) out += comment + std::string(1, '\0');
  out += RawDeflate(data);
  PutU32(out, Crc32(data));
  PutU32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

// Text of `size` bytes that compresses only partly: model lines with varying numbers.
inline std::string ModelText(std::size_t size, std::uint32_t seed = 1) {
  std::string out;
  std::uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    out += "vertex " + std::to_string(x % 1000) + " " + std::to_string((x >> 10) % 777) + " 0\r\n";
  }
  out.resize(size);
  return out;
}

// Bytes that deflate cannot shrink.
inline std::string NoiseBytes(std::size_t size, std::uint32_t seed = 7) {
  std::string out(size, '\0');
  std::uint32_t x = seed;
  for (char& c : out) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

}  // namespace archive_test
