#include "boxtally/archive/first_entry.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "boxtally/archive/central_directory.h"
#include "boxtally/archive/zip_crypto.h"
#include "boxtally/archive/zip_format.h"

namespace archive {

namespace {

constexpr std::size_t kReadBufferSize = 65536;  // bytes of archive read at once

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The archive is read through this buffer rather than through stdio alone: zlib is handed
// slices of it, and whatever zlib leaves unconsumed after the end of the deflate stream is
// still here for the trailer or data descriptor that follows.
// A small archive is read whole instead (`whole`): then `raw` holds the entire file.
struct ArchiveInput {
  std::FILE* file = nullptr;
  std::vector<std::uint8_t> raw;
  std::size_t pos = 0;  // next unread byte of raw
  std::size_t len = 0;  // bytes of raw filled by the last read
  bool whole = false;
};

// True when at least one byte is waiting; refills the buffer from the start when it is empty.
bool Refill(ArchiveInput& in) {
  if (in.pos < in.len) return true;
  if (in.whole) return false;
  in.pos = 0;
  in.len = std::fread(in.raw.data(), 1, in.raw.size(), in.file);
  return in.len > 0;
}

// Reads the whole archive when it is no bigger than `limit`, else prepares the streaming buffer.
// The file position is at the start either way.
void PrepareInput(ArchiveInput& in, std::FILE* file, std::uint64_t limit) {
  in.file = file;
  struct stat st {};
  if (limit > 0 && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<std::uint64_t>(st.st_size) <= limit) {
    in.raw.resize(static_cast<std::size_t>(st.st_size));
    in.len = std::fread(in.raw.data(), 1, in.raw.size(), file);
    if (in.len == in.raw.size() && std::fgetc(file) == EOF) {
      in.whole = true;
      return;
    }
    std::rewind(file);  // the file changed under us: stream it
    in.len = 0;
  }
  in.raw.assign(kReadBufferSize, 0);
}

int ReadByte(ArchiveInput& in) { return Refill(in) ? in.raw[in.pos++] : -1; }

std::size_t ReadBytes(ArchiveInput& in, std::uint8_t* out, std::size_t count) {
  std::size_t got = 0;
  while (got < count && Refill(in)) {
    const std::size_t take = std::min(count - got, in.len - in.pos);
    std::memcpy(out + got, in.raw.data() + in.pos, take);
    in.pos += take;
    got += take;
  }
  return got;
}

bool SkipBytes(ArchiveInput& in, std::uint64_t count) {
  while (count > 0 && Refill(in)) {
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, in.len - in.pos));
    in.pos += take;
    count -= take;
  }
  return count == 0;
}

// Skips a zero-terminated gzip field, its 0 included; the end of the stream also ends it.
void SkipZeroTerminated(ArchiveInput& in) {
  for (int c = ReadByte(in); c > 0; c = ReadByte(in)) {
  }
}

struct Extraction {
  std::string archive_path;  // for messages
  platform::TextFile* log = nullptr;
  std::FILE* err = nullptr;
  FilePtr archive;
  // The destination: the work file, or `memory` while the entry fits kMaxMemoryEntry; an entry
  // that grows past it is moved to the work file, opened only then.
  FilePtr work;
  std::string work_path;
  bool to_memory = false;
  std::string memory;
  ArchiveInput input;
  std::string password;  // empty: none given
  bool gzip = false;
  bool encrypted = false;
  // Local header fields (zip only); the sizes may come from the central directory instead.
  std::uint64_t header_offset = 0;  // where the local header starts: after a marker, 4
  unsigned flags = 0;
  unsigned method = kMethodDeflated;
  unsigned mod_time = 0;
  std::uint32_t header_crc = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  ZipKeys keys;
  std::uint32_t crc = 0;  // running CRC-32 of the bytes written
  std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kOutputBlockSize);
  std::size_t block_fill = 0;
  std::uint64_t max_bytes = kMaxEntryBytes;  // the entry's bound
  std::uint64_t produced = 0;                // bytes of the entry taken so far
  bool too_large = false;                    // the bound was passed: nothing more was taken
  std::string message;                       // of the failure, as logged
};

int Fail(Extraction& x, int code, const char* message) {
  platform::LogF(*x.log, "funzip error in %s: %s\n", x.archive_path.c_str(), message);
  x.message = message;
  return code;
}

// A block that could not be kept: the bound was passed, or the work file is full.
int FailFlush(Extraction& x) {
  if (!x.too_large) return Fail(x, kUnzipOutOfSpace, "out of space on workfile");
  const std::string message =
      "first entry larger than " + std::to_string(x.max_bytes) + " bytes--not extracted";
  return Fail(x, kUnzipTooLarge, message.c_str());
}

int FailEndedEarly(Extraction& x) {
  return Fail(x, kUnzipBadData,
              x.gzip ? "gzip file ended prematurely" : "zipfile ended prematurely");
}

bool WriteToWorkFile(Extraction& x, const void* data, std::size_t size) {
  return size == 0 || std::fwrite(data, 1, size, x.work.get()) == size;
}

// Moves what is held in memory to the work file; false when the file cannot take it.
bool SpillToWorkFile(Extraction& x) {
  x.to_memory = false;
  x.work.reset(platform::CreateWorkFile(x.work_path));
  if (x.work == nullptr) return false;
  const bool complete = WriteToWorkFile(x, x.memory.data(), x.memory.size());
  std::string().swap(x.memory);
  return complete;
}

// Adds the filled part of the output block to the CRC and keeps it; false when the work file
// did not take all of it, or the entry passed its bound (`too_large`).
bool FlushBlock(Extraction& x) {
  if (x.block_fill == 0) return true;
  if (x.block_fill > x.max_bytes - x.produced) {
    x.too_large = true;
    return false;
  }
  x.produced += x.block_fill;
  x.crc = static_cast<std::uint32_t>(crc32(x.crc, x.block.data(), static_cast<uInt>(x.block_fill)));
  const std::size_t fill = x.block_fill;
  x.block_fill = 0;
  if (x.to_memory && x.memory.size() + fill <= kMaxMemoryEntry) {
    x.memory.append(reinterpret_cast<const char*>(x.block.data()), fill);
    return true;
  }
  if (x.to_memory && !SpillToWorkFile(x)) return false;
  return WriteToWorkFile(x, x.block.data(), fill);
}

int ReadZipHeader(Extraction& x) {
  ArchiveInput& in = x.input;
  int b0 = ReadByte(in);
  int b1 = ReadByte(in);
  // Two printable bytes are the rest of a four-byte marker such as the split-archive "PK00":
  // the real local header's signature follows it.
  if (b0 >= 0x30 && b0 <= 0x7F && b1 >= 0x30 && b1 <= 0x7F) {
    ReadByte(in);
    ReadByte(in);
    b0 = ReadByte(in);
    b1 = ReadByte(in);
    x.header_offset = 4;
  }
  std::uint8_t h[26];  // the local header after its four signature bytes
  if (ReadBytes(in, h, sizeof h) != sizeof h || b0 != 0x03 || b1 != 0x04) {
    return Fail(x, kUnzipBadHeader, "invalid zipfile");
  }
  x.flags = LoadU16(h + 2);
  x.method = LoadU16(h + 4);
  x.mod_time = LoadU16(h + 6);
  x.header_crc = LoadU32(h + 10);
  x.compressed_size = LoadU32(h + 14);
  x.uncompressed_size = LoadU32(h + 18);
  if (x.method != kMethodStored && x.method != kMethodDeflated) {
    return Fail(x, kUnzipBadHeader, "first entry not deflated or stored--cannot unpack");
  }
  // A header whose name or extra field runs past the end of the file is damaged.
  if (!SkipBytes(in, std::uint64_t{LoadU16(h + 22)} + LoadU16(h + 24))) {
    return Fail(x, kUnzipBadHeader, "invalid zipfile");
  }
  x.encrypted = (x.flags & kZipFlagEncrypted) != 0;
  return kUnzipOk;
}

// A stored entry is copied by its size, which a writer that could not seek back leaves to the
// data descriptor (zeros in the local header) or to a Zip64 field. The central directory holds
// the sizes for both. Without a usable one the local header's values stand.
void TakeStoredSizesFromCentralDirectory(Extraction& x) {
  if (x.method != kMethodStored) return;
  if ((x.flags & kZipFlagDescriptor) == 0 && x.compressed_size != kZip64SizeMarker &&
      x.uncompressed_size != kZip64SizeMarker) {
    return;
  }
  const std::optional<CentralEntry> entry = FindCentralEntry(x.archive.get(), x.header_offset);
  if (!entry || entry->method != x.method) return;
  x.compressed_size = entry->compressed_size;
  x.uncompressed_size = entry->uncompressed_size;
}

int ReadGzipHeader(Extraction& x) {
  ArchiveInput& in = x.input;
  x.gzip = true;
  std::uint8_t h[8];  // method, flags, time (4), extra flags, operating system
  if (ReadBytes(in, h, sizeof h) != sizeof h) return Fail(x, kUnzipBadHeader, "invalid gzip file");
  const unsigned flags = h[1];
  if (h[0] != kMethodDeflated) return Fail(x, kUnzipBadHeader, "gzip file not deflated");
  if ((flags & kGzipFlagMultiPart) != 0) {
    return Fail(x, kUnzipBadHeader, "cannot handle multi-part gzip files");
  }
  if ((flags & kGzipFlagExtra) != 0) {
    std::uint8_t length[2];
    if (ReadBytes(in, length, 2) != 2 || !SkipBytes(in, LoadU16(length))) {
      return Fail(x, kUnzipBadHeader, "invalid gzip file");
    }
  }
  if ((flags & kGzipFlagName) != 0) SkipZeroTerminated(in);
  if ((flags & kGzipFlagComment) != 0) SkipZeroTerminated(in);
  x.encrypted = (flags & kGzipFlagEncrypted) != 0;
  return kUnzipOk;
}

int ReadEncryptionHeader(Extraction& x) {
  if (x.password.empty()) return Fail(x, kUnzipBadData, "Provide a password. File is encrypted");
  x.keys = InitKeys(x.password);
  std::uint8_t h[kEncryptionHeaderSize];
  if (ReadBytes(x.input, h, sizeof h) != sizeof h) return FailEndedEarly(x);
  DecryptBytes(x.keys, h, h, sizeof h);
  // A gzip header has no field to check the last byte against: a wrong password there shows
  // as damaged data or a CRC error instead.
  if (x.gzip) return kUnzipOk;
  // Streamed entries learn their CRC only after the data, so their check byte is the high
  // byte of the modification time instead.
  const unsigned check = (x.flags & kZipFlagDescriptor) != 0 ? x.mod_time >> 8 : x.header_crc >> 24;
  if (h[kEncryptionHeaderSize - 1] != check) {
    return Fail(x, kUnzipBadHeader, "incorrect password for first entry");
  }
  return kUnzipOk;
}

struct InflateEnder {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The size the entry should have, when the archive says so: the local header's (ignored when a
// descriptor follows and it says 0), or a gzip trailer's. 0 when unknown.
std::uint64_t SizeHint(const Extraction& x) {
  if (!x.gzip) return x.uncompressed_size == kZip64SizeMarker ? 0 : x.uncompressed_size;
  const ArchiveInput& in = x.input;
  return in.whole && in.len >= 4 ? LoadU32(in.raw.data() + in.len - 4) : 0;
}

// Inflates an entry held whole in memory in one call, when its size is known and fits, into
// `memory`. libdeflate does this about twice as fast as zlib's streaming; whatever it refuses
// (damaged data, a wrong size hint) is left to the streaming path, which gives the messages.
// True when done; nothing is changed otherwise.
bool InflateAtOnce(Extraction& x) {
  ArchiveInput& in = x.input;
  const std::uint64_t hint = SizeHint(x);
  if (!x.to_memory || !in.whole || hint == 0 || hint > kMaxMemoryEntry || hint > x.max_bytes) {
    return false;
  }
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
      libdeflate_alloc_decompressor());
  if (decompressor == nullptr) return false;
  const std::uint8_t* source = in.raw.data() + in.pos;
  std::vector<std::uint8_t> plain;
  if (x.encrypted) {
    ZipKeys keys = x.keys;  // the streaming path starts from the same keys if this fails
    plain.resize(in.len - in.pos);
    DecryptBytes(keys, source, plain.data(), plain.size());
    source = plain.data();
  }
  std::string out(static_cast<std::size_t>(hint), '\0');
  std::size_t used = 0;
  std::size_t produced = 0;
  if (libdeflate_deflate_decompress_ex(decompressor.get(), source, in.len - in.pos, out.data(),
                                       out.size(), &used, &produced) != LIBDEFLATE_SUCCESS) {
    return false;
  }
  out.resize(produced);
  in.pos += used;
  x.produced = produced;
  x.crc = static_cast<std::uint32_t>(libdeflate_crc32(x.crc, out.data(), out.size()));
  x.memory = std::move(out);
  return true;
}

int Inflate(Extraction& x) {
  if (InflateAtOnce(x)) return kUnzipOk;
  z_stream stream{};
  const int init = inflateInit2(&stream, -MAX_WBITS);  // raw deflate: no zlib header
  if (init == Z_MEM_ERROR) return Fail(x, kUnzipBadData, "out of memory");
  if (init != Z_OK) return Fail(x, kUnzipBadData, "invalid compressed data--format violated");
  const std::unique_ptr<z_stream, InflateEnder> ender(&stream);

  ArchiveInput& in = x.input;
  // Decrypted copy of the input buffer, index for index: bytes that zlib leaves unconsumed
  // stay unchanged in `in.raw` for the (unencrypted) data descriptor.
  std::vector<std::uint8_t> plain(x.encrypted ? kReadBufferSize : 0);
  std::size_t plain_end = 0;  // plain[0, plain_end) holds the decrypted in.raw[0, plain_end)
  for (;;) {
    if (x.block_fill == kOutputBlockSize && !FlushBlock(x)) return FailFlush(x);
    bool have_input = in.pos < in.len;
    if (!have_input) {
      have_input = Refill(in);
      plain_end = 0;
    }
    const std::size_t avail = in.len - in.pos;
    std::uint8_t* next = in.raw.data() + in.pos;
    if (x.encrypted && avail > 0) {
      const std::size_t from = std::max(in.pos, plain_end);
      DecryptBytes(x.keys, in.raw.data() + from, plain.data() + from, in.len - from);
      plain_end = in.len;
      next = plain.data() + in.pos;
    }
    const std::size_t space = kOutputBlockSize - x.block_fill;
    stream.next_in = next;
    stream.avail_in = static_cast<uInt>(avail);
    stream.next_out = x.block.data() + x.block_fill;
    stream.avail_out = static_cast<uInt>(space);
    const int ret = inflate(&stream, Z_NO_FLUSH);
    in.pos += avail - stream.avail_in;
    const std::size_t produced = space - stream.avail_out;
    x.block_fill += produced;
    switch (ret) {
      case Z_STREAM_END:
        return kUnzipOk;
      case Z_OK:
        break;
      case Z_BUF_ERROR:  // no progress: the output block is full, or the input has run out
        // Deflate data that stops before its final block is damaged data; "ended prematurely"
        // is kept for the trailer and the descriptor that follow it.
        if (!have_input && produced == 0) {
          return Fail(x, kUnzipBadData, "invalid compressed data--format violated");
        }
        break;
      case Z_MEM_ERROR:
        return Fail(x, kUnzipBadData, "out of memory");
      default:
        return Fail(x, kUnzipBadData, "invalid compressed data--format violated");
    }
  }
}

int CopyStored(Extraction& x) {
  const std::uint64_t header = x.encrypted ? kEncryptionHeaderSize : 0;
  if (x.compressed_size < header || x.compressed_size - header != x.uncompressed_size) {
    std::fprintf(x.err, "len %ld, siz %ld\n", static_cast<long>(x.uncompressed_size),
                 static_cast<long>(x.compressed_size));
    return Fail(x, kUnzipLengthMismatch, "invalid compressed data--length mismatch");
  }
  ArchiveInput& in = x.input;
  std::uint64_t remaining = x.uncompressed_size;
  while (remaining > 0) {
    if (x.block_fill == kOutputBlockSize && !FlushBlock(x)) return FailFlush(x);
    // The sizes come from the header (or the directory); a file that ends sooner is damaged,
    // not short data.
    if (!Refill(in)) return FailEndedEarly(x);
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(
        remaining, std::min(in.len - in.pos, kOutputBlockSize - x.block_fill)));
    std::uint8_t* out = x.block.data() + x.block_fill;
    if (x.encrypted) {
      DecryptBytes(x.keys, in.raw.data() + in.pos, out, take);
    } else {
      std::memcpy(out, in.raw.data() + in.pos, take);
    }
    in.pos += take;
    x.block_fill += take;
    remaining -= take;
  }
  return kUnzipOk;
}

// The CRC-32 the extracted bytes must have: from the gzip trailer, the data descriptor or the
// local header. The data descriptor is read from the first byte after the entry data.
int ReadExpectedCrc(Extraction& x, std::uint32_t& expected) {
  ArchiveInput& in = x.input;
  if (x.gzip) {
    std::uint8_t trailer[8];  // CRC-32, size modulo 2^32
    if (ReadBytes(in, trailer, sizeof trailer) != sizeof trailer) return FailEndedEarly(x);
    expected = LoadU32(trailer);
    return kUnzipOk;
  }
  if ((x.flags & kZipFlagDescriptor) == 0) {
    expected = x.header_crc;
    return kUnzipOk;
  }
  // The descriptor's signature is optional in the zip format; without it the CRC comes first.
  std::uint8_t descriptor[16];
  if (ReadBytes(in, descriptor, 4) != 4) return FailEndedEarly(x);
  const bool signed_descriptor = LoadU32(descriptor) == kDescriptorSignature;
  const std::size_t rest = signed_descriptor ? 12 : 8;
  if (ReadBytes(in, descriptor + 4, rest) != rest) return FailEndedEarly(x);
  expected = LoadU32(signed_descriptor ? descriptor + 4 : descriptor);
  return kUnzipOk;
}

int Extract(Extraction& x) {
  ArchiveInput& in = x.input;
  const int b0 = ReadByte(in);
  const int b1 = ReadByte(in);
  const unsigned signature = b0 < 0 || b1 < 0 ? 0 : static_cast<unsigned>(b0 | b1 << 8);
  int result = kUnzipOk;
  if (signature == kZipSignatureLow) {
    if ((result = ReadZipHeader(x)) == kUnzipOk) TakeStoredSizesFromCentralDirectory(x);
  } else if (signature == kGzipSignature) {
    result = ReadGzipHeader(x);
  } else {
    result = Fail(x, kUnzipBadHeader, "input not a zip or gzip file");
  }
  if (result != kUnzipOk) return result;
  // A password given for an entry that is not encrypted is ignored.
  if (x.encrypted && (result = ReadEncryptionHeader(x)) != kUnzipOk) return result;

  // A zip entry whose header says it passes the bound is refused before a byte of it is written
  // (a gzip member tells its size only at its end, which a damaged file may not have).
  if (!x.gzip && SizeHint(x) > x.max_bytes) {
    x.too_large = true;
    return FailFlush(x);
  }
  result = x.gzip || x.method == kMethodDeflated ? Inflate(x) : CopyStored(x);
  if (result != kUnzipOk) return result;
  if (!FlushBlock(x)) return FailFlush(x);
  if (!x.to_memory && std::fflush(x.work.get()) != 0) {
    return Fail(x, kUnzipOutOfSpace, "out of space on workfile");
  }

  std::uint32_t expected = 0;
  if ((result = ReadExpectedCrc(x, expected)) != kUnzipOk) return result;
  if (expected != x.crc) return Fail(x, kUnzipBadData, "invalid compressed data--crc error");

  if (!x.gzip) {
    std::uint8_t next[4];
    if (ReadBytes(in, next, 4) == 4 && LoadU32(next) == kLocalHeaderSignature) {
      std::fprintf(x.err, "funzip warning: zipfile has more than one entry--rest ignored %s\n",
                   x.archive_path.c_str());
    }
  }
  if (!x.to_memory && std::fclose(x.work.release()) != 0) {
    return Fail(x, kUnzipOutOfSpace, "out of space on workfile");
  }
  return kUnzipOk;
}

}  // namespace

int UnzipFirst(const std::vector<std::string>& args, platform::TextFile& log) {
  return UnzipFirst(args, log, stderr);
}

namespace {
// Opens the archive (and the work file, unless the entry goes to memory) and extracts.
int ExtractFrom(Extraction& x) {
  // Never a FIFO: it would wait for a writer.
  x.archive.reset(x.archive_path.empty() ? nullptr : platform::OpenRegularFile(x.archive_path));
  if (x.archive == nullptr) return Fail(x, kUnzipCannotOpen, "cannot find input file");
  PrepareInput(x.input, x.archive.get(), x.to_memory ? kMaxMemoryEntry : 0);
  if (!x.to_memory) {
    x.work.reset(x.work_path.empty() ? nullptr : platform::CreateWorkFile(x.work_path));
    if (x.work == nullptr) return Fail(x, kUnzipCannotOpen, "cannot write to workfile");
  }
  return Extract(x);
}
}  // namespace

int UnzipFirst(const std::vector<std::string>& args, platform::TextFile& log, std::FILE* err) {
  Extraction x;
  x.log = &log;
  x.err = err;
  std::size_t next = 1;
  if (next < args.size() && !args[next].empty() && args[next][0] == '-') {
    x.password = args[next].substr(1);
    ++next;
  }
  if (next < args.size()) x.archive_path = args[next];
  if (next + 1 < args.size()) x.work_path = args[next + 1];
  return ExtractFrom(x);
}

std::unique_ptr<platform::InStream> ExtractFirstEntry(
    const std::string& archive_path, const std::string& password, platform::TextFile& log,
    const std::string& work_path, EntryDestination destination, bool* in_memory, std::FILE* err,
    std::uint64_t max_bytes, ExtractFailure* failure) {
  if (in_memory != nullptr) *in_memory = false;
  ExtractFailure ignored;
  if (failure == nullptr) failure = &ignored;
  // Cutting a long password would only turn into a puzzling "incorrect password" later.
  if (password.size() > kMaxPasswordLength) {
    platform::LogF(log, "password longer than %zu characters refused for file:%s\n",
                   kMaxPasswordLength, archive_path.c_str());
    *failure = {kUnzipBadHeader,
                "password longer than " + std::to_string(kMaxPasswordLength) + " characters"};
    return nullptr;
  }
  Extraction x;
  x.log = &log;
  x.err = err;
  x.password = password;
  x.archive_path = archive_path;
  x.work_path = work_path;
  x.to_memory = destination == EntryDestination::kMemoryWhenItFits;
  x.max_bytes = max_bytes;
  const int result = ExtractFrom(x);
  if (result != kUnzipOk) {
    platform::LogF(log, "error from unzip=%d for file:%s\n", result, archive_path.c_str());
    *failure = {result, x.message};
    return nullptr;
  }
  if (x.to_memory) {
    if (in_memory != nullptr) *in_memory = true;
    return platform::MemoryInStream(std::move(x.memory), true);
  }
  return platform::OpenWorkInStream(work_path, true);
}

std::unique_ptr<platform::InStream> ExtractToWorkFile(const std::string& archive_path,
                                                      const std::string& password,
                                                      platform::TextFile& log,
                                                      const std::string& work_path) {
  return ExtractFirstEntry(archive_path, password, log, work_path, EntryDestination::kWorkFile,
                           nullptr, stderr);
}

}  // namespace archive
