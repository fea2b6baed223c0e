// Text files in the Windows sense: lines end with CR LF when written; reading in text mode drops
// the CR of each CR LF. Also the buffered byte reader every parser of model text reads through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where the writes that a stream batches go out, besides whenever its batch is full: at every
// model's end, at the end of every model file, or only when the stream is flushed or closed.
enum class FlushPoint { kModelEnd, kFileEnd, kClose };

inline constexpr std::size_t kBatchBytes = std::size_t{64} << 10;  // a batching stream's batch

// An output stream. `crlf` turns every "\n" written into "\r\n" (files); the standard streams
// of a terminal are written as they are.
struct TextFile {
  std::FILE* file = nullptr;
  bool crlf = true;
  bool owned = true;    // false for stdout/stderr: Close flushes but does not fclose them
  bool failed = false;  // a write or flush failed (full disk, closed pipe): bytes were lost
  std::string* memory = nullptr;  // instead of a file: the text is appended here
  // Batching (BatchWrites): what is written waits here, in order, and goes out with one write
  // when the next text would not fit, at `flush_at` (FlushAt) and at FlushTextFile. A text
  // written with WriteWhole is never split between two writes unless it is bigger than a batch.
  std::string batch{};
  bool batching = false;
  FlushPoint flush_at = FlushPoint::kModelEnd;
};

// A TextFile that appends to `target` (which must outlive it); line ends converted per `crlf`.
inline TextFile MemoryTextFile(std::string& target, bool crlf) {
  return TextFile{nullptr, crlf, false, false, &target};
}

enum class OpenMode { kCreate, kAppend };

// Opens `path` for writing (created or truncated, or appended to). nullptr when it cannot be
// opened.
TextFile* OpenTextFile(const std::string& path, OpenMode mode);
// An output that is no regular file (a device, a FIFO, a socket) is written as a stream into it,
// never replaced. It is opened without waiting, so a FIFO that no process reads fails at once
// (errno ENXIO) instead of hanging the run; its writes wait for room in short steps and give up
// once a termination signal has come, so a reader that stops reading never holds a stopped run
// (the bytes are then lost, and `failed` is set). nullptr with errno set when it cannot be opened.
TextFile* OpenStreamOutput(const std::string& path, bool crlf);
// Whether `path` names an output to write as a stream: something that is there and is neither a
// regular file nor a folder (symbolic links followed).
bool IsStreamOutput(const std::string& path);
// The reason to show for a failed open of an output: the system's, or "a FIFO that no process
// reads" for ENXIO.
std::string OutputOpenError(int error);
// Work files of this process, created or emptied, or read back: refused when anything but a
// regular file of this user's stands at the name (see OpenOwnFile). nullptr when they cannot be
// opened.
TextFile* CreateWorkTextFile(const std::string& path);
std::FILE* CreateWorkFile(const std::string& path);  // binary, for writing
// Opens a log file for appending whole lines, as several runs may share one: every message goes
// out with one write at the end of the file. Every run holds a shared advisory lock on its log;
// kCreate also empties the file, which it does only when no other run holds the log (nullptr
// with `*locked` true otherwise, the file untouched). Appending to a file whose last line lacks
// its line end starts a new line first. Files that are no regular files are neither locked nor
// emptied: they are written as streams (OpenStreamOutput). nullptr with errno set on failure.
TextFile* OpenLogFile(const std::string& path, OpenMode mode, bool* locked);
// Wraps a standard stream; `crlf` as for files.
TextFile* WrapStream(std::FILE* stream, bool crlf);
// From now on `out` (a file stream) gathers what is written into batches of up to kBatchBytes,
// sent at `flush_at`.
void BatchWrites(TextFile& out, FlushPoint flush_at);
// Whether `out` writes to a terminal.
bool IsTerminal(const TextFile& out);
void CloseTextFile(TextFile* file);  // accepts nullptr
struct TextFileCloser {
  void operator()(TextFile* file) const { CloseTextFile(file); }
};
using TextFilePtr = std::unique_ptr<TextFile, TextFileCloser>;

void WriteText(TextFile& out, std::string_view text);
// Writes `text` (line ends converted) with as few system calls as the kernel allows, after
// flushing what the stream buffered: the lines of one model reach the file whole or not at all
// when the process is killed. Sets `failed` when not every byte was written; a regular file that
// took part of the text is cut back to where it ended before, so it never keeps a torn line.
void WriteWhole(TextFile& out, std::string_view text);
[[gnu::format(printf, 2, 3)]] void TextPrintf(TextFile& out, const char* format, ...);
// One log message: formatted, line ends converted, written whole with WriteWhole.
// Control characters that arguments bring in (a file name holding a line feed) are written as
// "_", so a message is one line whatever it names; only a line feed ending it stays.
[[gnu::format(printf, 2, 3)]] void LogF(TextFile& log, const char* format, ...);
// Flushes the stream; false (and `failed` set) when buffered bytes could not be written.
bool FlushTextFile(TextFile& out);
// The run reached `point`: a stream that batches its writes sends them when that is its
// flush_at (or a later point), one that does not is flushed. False when bytes were lost.
bool FlushAt(TextFile& out, FlushPoint point);
// The size of the file the stream writes, once flushed: where the next line will start. nullopt
// for memory texts and for streams that are no regular file (a terminal, a pipe).
std::optional<std::uint64_t> EndOffset(TextFile& out);

// `text` with every control character (below 0x20, and 0x7F) replaced by "_".
std::string WithoutControls(std::string_view text);

inline constexpr std::size_t kInBufferBytes = std::size_t{1} << 16;  // an InStream's buffer

// A buffered input stream over a FILE*, or over bytes held in memory, read byte by byte. In text
// mode a CR directly followed by LF is dropped (as the C library does on Windows); in binary mode
// bytes pass unchanged. `AtEnd` becomes true once a read has found no more bytes, like feof.
class InStream {
 public:
  // `buffer_bytes`: the buffer of a file stream, never bigger than the file needs.
  InStream(std::FILE* file, bool text_mode, std::size_t buffer_bytes = kInBufferBytes);
  InStream(std::string bytes, bool text_mode);  // reads `bytes`, then ends
  InStream(const char* data, std::size_t size, bool text_mode);  // bytes that outlive the stream
  ~InStream();
  InStream(const InStream&) = delete;
  InStream& operator=(const InStream&) = delete;

  // The next byte (0..255), or -1 at the end of the stream.
  int Get() {
    if (pos_ == len_ && !Fill()) return -1;
    const int c = static_cast<unsigned char>(buffer_[pos_++]);
    if (c == '\r' && text_mode_) return AfterCarriageReturn();
    return c;
  }
  bool AtEnd() const { return at_end_; }

  // The bytes buffered and not yet read, reading more when none are left; empty at the end of
  // the stream (AtEnd is then set). The bytes are raw: text mode does not apply to them, so this
  // is for readers that treat CR and LF alike. Consume(n) takes n of them.
  std::string_view Buffered() {
    if (pos_ == len_ && !Fill()) return {};
    return {buffer_ + pos_, len_ - pos_};
  }
  void Consume(std::size_t n) { pos_ += n; }

  // As Buffered, but at least `want` bytes in one piece unless the stream ends first: the bytes
  // not yet read move to the front of the buffer and more are read behind them. The view stays
  // valid until the next call that reads.
  std::string_view Window(std::size_t want) {
    if (len_ - pos_ < want && !eof_) Gather(want);
    if (pos_ == len_) at_end_ = true;
    return {buffer_ + pos_, len_ - pos_};
  }

 private:
  bool Fill();
  void Gather(std::size_t want);
  int AfterCarriageReturn();

  std::FILE* file_;
  bool text_mode_;
  bool at_end_ = false;
  bool eof_ = false;                 // Window's reads found the end of the file
  std::string memory_;               // the bytes of a memory stream
  std::unique_ptr<char[]> storage_;  // a file stream's buffer, not cleared: it is filled first
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
};

// Opens `path` for reading; nullptr when it cannot be opened.
std::unique_ptr<InStream> OpenInStream(const std::string& path, bool text_mode);
// Opens `path` for reading only when it is a regular file, without ever waiting (a FIFO would
// wait for a writer): nullptr with errno EINVAL for anything else that is there (a folder, a
// device, a link that points nowhere).
std::FILE* OpenRegularFile(const std::string& path);
std::unique_ptr<InStream> OpenRegularInStream(const std::string& path, bool text_mode,
                                              std::size_t buffer_bytes = kInBufferBytes);
// A work file read back (see CreateWorkTextFile).
std::unique_ptr<InStream> OpenWorkInStream(const std::string& path, bool text_mode);
// The bytes of the regular file at `path`; nullopt when it cannot be opened as one or holds more
// than `limit` bytes.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit);
// A stream over bytes in memory.
std::unique_ptr<InStream> MemoryInStream(std::string bytes, bool text_mode);
// A stream over bytes in memory that the caller keeps until the stream is gone.
std::unique_ptr<InStream> ViewInStream(std::string_view bytes, bool text_mode);

// Reads a text-mode line of at most `limit` bytes including its "\n" into `line` (the "\n" kept).
// Returns false when the stream ended before any byte or before the line end: the caller reads
// such a last line as incomplete, as fgets followed by feof would.
bool ReadTextLine(InStream& in, std::size_t limit, std::string& line);

}  // namespace platform
