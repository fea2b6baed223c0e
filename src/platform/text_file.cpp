#include "platform/text_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <algorithm>
#include <cstring>

#include "platform/paths.h"
#include "platform/termination.h"

namespace platform {

TextFile* OpenTextFile(const std::string& path, OpenMode mode) {
  std::FILE* f = std::fopen(path.c_str(), mode == OpenMode::kCreate ? "wb" : "ab");
  if (f == nullptr) return nullptr;
  return new TextFile{f, true, true};
}

namespace {
constexpr int kStreamWaitStepMs = 100;  // a write waiting for room looks at the stop this often

struct StreamCookie {
  int fd = -1;
};

// Every byte, or as many as went out before the stop or an error: a short count tells stdio the
// write failed.
ssize_t WriteStreamCookie(void* cookie, const char* data, std::size_t size) {
  const int fd = static_cast<StreamCookie*>(cookie)->fd;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR) || TerminationSignal() != 0) break;
    if (errno == EAGAIN) {
      pollfd room{fd, POLLOUT, 0};
      poll(&room, 1, kStreamWaitStepMs);
    }
  }
  if (done == 0 && size > 0) return -1;
  return static_cast<ssize_t>(done);
}

int CloseStreamCookie(void* cookie) {
  auto* c = static_cast<StreamCookie*>(cookie);
  const int result = close(c->fd);
  delete c;
  return result;
}

TextFile* WrapStreamDescriptor(int fd, bool crlf) {
  cookie_io_functions_t io{};
  io.write = WriteStreamCookie;
  io.close = CloseStreamCookie;
  auto* cookie = new StreamCookie{fd};
  std::FILE* f = fopencookie(cookie, "w", io);
  if (f == nullptr) {
    close(fd);
    delete cookie;
    return nullptr;
  }
  return new TextFile{f, crlf, true};
}
}  // namespace

TextFile* OpenStreamOutput(const std::string& path, bool crlf) {
  // Non-blocking for good: the writes wait in poll(), where a stop can reach them.
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return WrapStreamDescriptor(fd, crlf);
}

bool IsStreamOutput(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string OutputOpenError(int error) {
  if (error == ENXIO) return "a FIFO that no process reads";
  return ErrorText(error);
}

namespace {
std::FILE* OpenWorkFile(const std::string& path, int flags, const char* mode) {
  std::string why;
  const int fd = OpenOwnFile(path, flags, why);
  std::FILE* f = fd >= 0 ? fdopen(fd, mode) : nullptr;
  if (f == nullptr && fd >= 0) close(fd);
  return f;
}
}  // namespace

std::FILE* CreateWorkFile(const std::string& path) {
  return OpenWorkFile(path, O_WRONLY | O_CREAT | O_TRUNC, "wb");
}

TextFile* CreateWorkTextFile(const std::string& path) {
  std::FILE* f = CreateWorkFile(path);
  return f == nullptr ? nullptr : new TextFile{f, true, true};
}

namespace {
// A new line first when the file's last byte ends no line: what comes never runs on from a line
// that a full disk or a killed writer left unfinished.
bool EndLastLine(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size == 0) return true;
  char last = '\n';
  if (pread(fd, &last, 1, st.st_size - 1) != 1 || last == '\n') return true;
  return ::write(fd, "\r\n", 2) == 2;
}
}  // namespace

TextFile* OpenLogFile(const std::string& path, OpenMode mode, bool* locked) {
  *locked = false;
  // Read too: the last byte tells whether the last line was ended. Without waiting: a FIFO
  // opened for reading and writing would take our own messages until its buffer is full.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
    close(fd);
    return OpenStreamOutput(path, /*crlf=*/true);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  bool ok = true;
  if (mode == OpenMode::kCreate) {
    // Emptied only while no other run writes it; then shared like any other run's log.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *locked = errno == EWOULDBLOCK;
      ok = false;
    } else {
      ok = ftruncate(fd, 0) == 0 && flock(fd, LOCK_SH) == 0;
    }
  } else {
    ok = flock(fd, LOCK_SH) == 0 && EndLastLine(fd);
  }
  std::FILE* f = ok ? fdopen(fd, "ab") : nullptr;
  if (f == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  return new TextFile{f, true, true};
}

TextFile* WrapStream(std::FILE* stream, bool crlf) { return new TextFile{stream, crlf, false}; }

void BatchWrites(TextFile& out, FlushPoint flush_at) {
  out.batching = out.file != nullptr;
  out.flush_at = flush_at;
  if (out.batching) out.batch.reserve(kBatchBytes);
}

bool IsTerminal(const TextFile& out) {
  return out.file != nullptr && ::fileno(out.file) >= 0 && isatty(::fileno(out.file)) == 1;
}

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  if (file->file != nullptr) {
    FlushTextFile(*file);
    if (file->owned) {
      std::fclose(file->file);
    } else {
      std::fflush(file->file);
    }
  }
  delete file;
}

namespace {
bool WriteBatched(TextFile& out, const char* data, std::size_t size);

bool WriteRaw(TextFile& out, const char* data, std::size_t size) {
  if (size == 0) return true;
  if (out.memory != nullptr) {
    out.memory->append(data, size);
    return true;
  }
  if (out.batching) return WriteBatched(out, data, size);
  if (std::fwrite(data, 1, size, out.file) == size) return true;
  out.failed = true;
  return false;
}

void AppendWithLineEnds(std::string& out, std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      out.append(text.substr(start));
      return;
    }
    out.append(text.substr(start, nl - start));
    out.append("\r\n");
    start = nl + 1;
  }
}

// write(2) until every byte is taken; false on the first error other than an interruption.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// WriteAll, and when it fails midway in a regular file, the part written is cut off again, unless
// another writer has appended since (its bytes are not ours to cut).
bool WriteAllOrNothing(int fd, const char* data, std::size_t size) {
  struct stat before {};
  const bool regular = fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
  const off_t start = regular ? lseek(fd, 0, SEEK_CUR) : -1;
  if (WriteAll(fd, data, size)) return true;
  const int error = errno;
  struct stat after {};
  if (regular && fstat(fd, &after) == 0 && after.st_size > before.st_size) {
    // An appending descriptor wrote at the old end; any other wrote at its own position.
    const off_t ours = (fcntl(fd, F_GETFL) & O_APPEND) != 0 ? before.st_size : start;
    if (ours >= 0 && after.st_size <= ours + static_cast<off_t>(size) && ftruncate(fd, ours) == 0) {
      lseek(fd, ours, SEEK_SET);
    }
  }
  errno = error;
  return false;
}

bool WriteOut(TextFile& out, const char* data, std::size_t size) {
  if (size == 0) return true;
  if (std::fflush(out.file) == 0) {
    const int fd = ::fileno(out.file);
    if (fd >= 0 && WriteAllOrNothing(fd, data, size)) return true;
    if (fd < 0 && std::fwrite(data, 1, size, out.file) == size && std::fflush(out.file) == 0) {
      return true;
    }
  }
  out.failed = true;
  return false;
}

bool SendBatch(TextFile& out) {
  const bool sent = WriteOut(out, out.batch.data(), out.batch.size());
  out.batch.clear();
  return sent;
}

// Into the batch, after sending the batch when the text would not fit; a text bigger than a
// batch goes out at once.
bool WriteBatched(TextFile& out, const char* data, std::size_t size) {
  if (out.batch.size() + size > kBatchBytes && !SendBatch(out)) return false;
  if (size > kBatchBytes) return WriteOut(out, data, size);
  out.batch.append(data, size);
  return true;
}

[[gnu::format(printf, 1, 0)]] std::string FormatV(const char* format, std::va_list args) {
  char small[512];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(big.data(), big.size() + 1, format, args);
  return big;
}

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}
}  // namespace

void WriteText(TextFile& out, std::string_view text) {
  if (out.file == nullptr && out.memory == nullptr) return;
  if (!out.crlf) {
    WriteRaw(out, text.data(), text.size());
    return;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      WriteRaw(out, text.data() + start, text.size() - start);
      return;
    }
    WriteRaw(out, text.data() + start, nl - start);
    WriteRaw(out, "\r\n", 2);
    start = nl + 1;
  }
}

void WriteWhole(TextFile& out, std::string_view text) {
  if (out.memory != nullptr) {
    WriteText(out, text);
    return;
  }
  if (out.file == nullptr || text.empty()) return;
  std::string converted;
  if (out.crlf) {
    converted.reserve(text.size() + text.size() / 16);
    AppendWithLineEnds(converted, text);
    text = converted;
  }
  if (out.batching) {
    WriteBatched(out, text.data(), text.size());
    return;
  }
  // Only what this flush could not write stops the text: a log goes on trying after a full disk.
  if (std::fflush(out.file) != 0) {
    out.failed = true;
    return;
  }
  const int fd = ::fileno(out.file);
  if (fd < 0) {  // a stream of our own making (memory, cookie): it has no descriptor
    WriteRaw(out, text.data(), text.size());
    FlushTextFile(out);
    return;
  }
  if (!WriteAllOrNothing(fd, text.data(), text.size())) out.failed = true;
}

void TextPrintf(TextFile& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  WriteText(out, text);
}

void LogF(TextFile& log, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  const std::size_t body = (!text.empty() && text.back() == '\n') ? text.size() - 1 : text.size();
  for (std::size_t i = 0; i < body; ++i) {
    if (IsControl(text[i])) text[i] = '_';
  }
  WriteWhole(log, text);
}

bool FlushTextFile(TextFile& out) {
  if (out.file == nullptr) return true;
  if (!out.batch.empty()) SendBatch(out);
  if (std::fflush(out.file) == 0 && std::ferror(out.file) == 0) return !out.failed;
  out.failed = true;
  return false;
}

bool FlushAt(TextFile& out, FlushPoint point) {
  if (!out.batching || point >= out.flush_at) return FlushTextFile(out);
  return !out.failed;
}

std::optional<std::uint64_t> EndOffset(TextFile& out) {
  if (out.file == nullptr) return std::nullopt;
  FlushTextFile(out);
  struct stat st {};
  const int fd = ::fileno(out.file);
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::string WithoutControls(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsControl(c)) c = '_';
  }
  return out;
}

InStream::InStream(std::FILE* file, bool text_mode, std::size_t buffer_bytes)
    : file_(file), text_mode_(text_mode) {
  // A small file gets a buffer only as big as itself.
  capacity_ = buffer_bytes;
  struct stat st {};
  if (file != nullptr && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      static_cast<std::uint64_t>(st.st_size) < buffer_bytes) {
    capacity_ = static_cast<std::size_t>(st.st_size) + 1;  // one more: the end is seen at once
  }
  storage_.reset(new char[capacity_]);
  buffer_ = storage_.get();
}

InStream::InStream(std::string bytes, bool text_mode)
    : file_(nullptr), text_mode_(text_mode), memory_(std::move(bytes)) {
  buffer_ = memory_.data();
  capacity_ = len_ = memory_.size();
}

InStream::InStream(const char* data, std::size_t size, bool text_mode)
    : file_(nullptr), text_mode_(text_mode) {
  buffer_ = const_cast<char*>(data);  // a stream without a file never writes into its buffer
  capacity_ = len_ = size;
}

InStream::~InStream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool InStream::Fill() {
  if (file_ == nullptr) {
    at_end_ = true;
    return false;
  }
  len_ = std::fread(buffer_, 1, capacity_, file_);
  pos_ = 0;
  if (len_ == 0) {
    at_end_ = true;
    return false;
  }
  return true;
}

void InStream::Gather(std::size_t want) {
  if (file_ == nullptr) {
    eof_ = true;
    return;
  }
  const std::size_t kept = len_ - pos_;
  if (want > capacity_) {  // a file that grew since it was opened: its buffer grows with it
    std::unique_ptr<char[]> bigger(new char[want]);
    std::memcpy(bigger.get(), buffer_ + pos_, kept);
    storage_ = std::move(bigger);
    buffer_ = storage_.get();
    capacity_ = want;
  } else {
    std::memmove(buffer_, buffer_ + pos_, kept);
  }
  pos_ = 0;
  len_ = kept;
  while (len_ < want) {
    const std::size_t got = std::fread(buffer_ + len_, 1, capacity_ - len_, file_);
    len_ += got;
    if (got == 0) {
      eof_ = true;
      return;
    }
  }
}

int InStream::AfterCarriageReturn() {
  if (pos_ == len_ && !Fill()) {
    at_end_ = false;  // the CR itself was read; the end is found by the next read
    return '\r';
  }
  if (buffer_[pos_] == '\n') {
    ++pos_;
    return '\n';
  }
  return '\r';
}

std::unique_ptr<InStream> OpenInStream(const std::string& path, bool text_mode) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  return std::make_unique<InStream>(f, text_mode);
}

std::FILE* OpenRegularFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat link {};
  if (fd < 0 && errno == ENOENT && lstat(path.c_str(), &link) == 0) {
    errno = EINVAL;  // a link that points nowhere
    return nullptr;
  }
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
}

std::unique_ptr<InStream> OpenRegularInStream(const std::string& path, bool text_mode,
                                              std::size_t buffer_bytes) {
  std::FILE* f = OpenRegularFile(path);
  if (f == nullptr) return nullptr;
  return std::make_unique<InStream>(f, text_mode, buffer_bytes);
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit) {
  std::unique_ptr<InStream> in = OpenRegularInStream(path, false);
  if (!in) return std::nullopt;
  std::string bytes;
  for (std::string_view chunk = in->Buffered(); !chunk.empty(); chunk = in->Buffered()) {
    if (bytes.size() + chunk.size() > limit) return std::nullopt;
    bytes.append(chunk);
    in->Consume(chunk.size());
  }
  return bytes;
}

std::unique_ptr<InStream> OpenWorkInStream(const std::string& path, bool text_mode) {
  std::FILE* f = OpenWorkFile(path, O_RDONLY, "rb");
  if (f == nullptr) return nullptr;
  return std::make_unique<InStream>(f, text_mode);
}

std::unique_ptr<InStream> MemoryInStream(std::string bytes, bool text_mode) {
  return std::make_unique<InStream>(std::move(bytes), text_mode);
}

std::unique_ptr<InStream> ViewInStream(std::string_view bytes, bool text_mode) {
  return std::make_unique<InStream>(bytes.data(), bytes.size(), text_mode);
}

bool ReadTextLine(InStream& in, std::size_t limit, std::string& line) {
  line.clear();
  while (line.size() < limit) {
    // The bytes before the next line feed or carriage return go in at once; those two go through
    // Get, which knows what text mode makes of them.
    const std::string_view chunk = in.Buffered();
    const std::size_t room = std::min(chunk.size(), limit - line.size());
    std::size_t n = 0;
    while (n < room && chunk[n] != '\n' && chunk[n] != '\r') ++n;
    line.append(chunk.data(), n);
    in.Consume(n);
    if (line.size() == limit) break;
    const int c = in.Get();
    if (c < 0) return false;
    line.push_back(static_cast<char>(c));
    if (c == '\n') return true;
  }
  return true;
}

}  // namespace platform
