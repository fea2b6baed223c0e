// Extraction of a zip archive's first entry (or of a one-member gzip stream) into a work file:
// stored or deflated data, traditional decryption, data descriptor and CRC-32 check. The entry
// is streamed, so memory use does not depend on its size. The central directory is read only
// for a stored entry whose local header leaves its sizes to a descriptor or a Zip64 field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/text_file.h"

namespace archive {

inline constexpr std::size_t kOutputBlockSize = 32768;  // bytes written to the work file at once
// Entries up to this size (and archives up to this size, read whole) are extracted in memory
// when the caller does not need the file itself; bigger ones go through the work file.
inline constexpr std::size_t kMaxMemoryEntry = std::size_t{64} << 20;  // bytes
inline constexpr std::size_t kMaxPasswordLength = 62;  // characters ExtractToWorkFile accepts
// An entry that inflates past this many bytes is refused, and no more than this is ever written
// to the work file: deflate shrinks a run of text a thousandfold, so a few megabytes of archive
// could otherwise fill the disk. No real model comes near it.
inline constexpr std::uint64_t kMaxEntryBytes = std::uint64_t{256} << 20;

// Result codes of UnzipFirst. Callers and the log line "error from unzip=%d" show the numbers,
// so they are fixed; several messages share one code.
enum UnzipResult : int {
  kUnzipOk = 0,
  kUnzipBadData = 1,         // no password, out of memory, damaged data, early end, CRC error
  kUnzipCannotOpen = 2,      // the archive or the work file cannot be opened
  kUnzipBadHeader = 3,       // not zip or gzip, damaged header, other method, wrong password
  kUnzipLengthMismatch = 4,  // stored entry whose two sizes disagree
  kUnzipTooLarge = 5,        // the entry passes the size bound: "first entry larger than N bytes"
  kUnzipOutOfSpace = 9,      // the work file could not be written completely
};

// Extracts the first entry. `args` is read like a command line: position 0 is not read; an
// entry beginning with "-" carries the password (the rest of it; empty means none); then the
// archive path, then the work file path (created or truncated). Returns an UnzipResult; before
// a non-zero one, writes "funzip error in <archive>: <message>" to `log`. Two notes go to `err`
// (standard error by default), never to the log: the sizes of a stored entry whose lengths
// disagree, and a warning when more entries follow the first. Both files are closed on return;
// after a failure the work file may hold part of the entry.
[[nodiscard]] int UnzipFirst(const std::vector<std::string>& args, platform::TextFile& log);
[[nodiscard]] int UnzipFirst(const std::vector<std::string>& args, platform::TextFile& log,
                             std::FILE* err);

// Why an extraction failed: its result code and the message of its "funzip error" log line.
struct ExtractFailure {
  int code = kUnzipOk;
  std::string message;
};

enum class EntryDestination {
  kWorkFile,          // the converter needs the file itself
  kMemoryWhenItFits,  // in memory up to kMaxMemoryEntry bytes, else the work file
};

// Extracts the first entry of `archive_path` (password may be empty) and returns it opened for
// reading in text mode, as ExtractToWorkFile does, with the same log lines and codes. With
// kMemoryWhenItFits the entry is held in memory and the work file is not written unless the
// entry is bigger than kMaxMemoryEntry; `*in_memory` (may be nullptr) tells which. An entry of
// more than `max_bytes` is refused (kUnzipTooLarge) once that many bytes have come out. After a
// failure `*failure` (may be nullptr) tells why.
std::unique_ptr<platform::InStream> ExtractFirstEntry(
    const std::string& archive_path, const std::string& password, platform::TextFile& log,
    const std::string& work_path, EntryDestination destination, bool* in_memory,
    std::FILE* err = stderr, std::uint64_t max_bytes = kMaxEntryBytes,
    ExtractFailure* failure = nullptr);

// Extracts the first entry of `archive_path` into `work_path` (password may be empty) and
// returns the work file opened for reading in text mode. nullptr after a failure, which is
// logged as "error from unzip=<code> for file:<archive>" after UnzipFirst's own line; a
// password over kMaxPasswordLength characters is refused with one log line of its own; a work
// file that cannot be reopened gives nullptr without a line.
std::unique_ptr<platform::InStream> ExtractToWorkFile(const std::string& archive_path,
                                                      const std::string& password,
                                                      platform::TextFile& log,
                                                      const std::string& work_path);

}  // namespace archive
