#include "platform/text_file.h"

#include <cstdarg>
#include <cstring>

namespace platform {

namespace {
constexpr std::size_t kInBufferSize = 1 << 16;  // bytes
}

TextFile* OpenTextFile(const std::string& path, OpenMode mode) {
  std::FILE* f = std::fopen(path.c_str(), mode == OpenMode::kCreate ? "wb" : "ab");
  if (f == nullptr) return nullptr;
  return new TextFile{f, true, true};
}

TextFile* WrapStream(std::FILE* stream, bool crlf) { return new TextFile{stream, crlf, false}; }

void CloseTextFile(TextFile* file) {
  if (file == nullptr) return;
  if (file->file != nullptr) {
    if (file->owned) {
      std::fclose(file->file);
    } else {
      std::fflush(file->file);
    }
  }
  delete file;
}

void WriteText(TextFile& out, std::string_view text) {
  if (out.file == nullptr) return;
  if (!out.crlf) {
    std::fwrite(text.data(), 1, text.size(), out.file);
    return;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      std::fwrite(text.data() + start, 1, text.size() - start, out.file);
      return;
    }
    std::fwrite(text.data() + start, 1, nl - start, out.file);
    std::fwrite("\r\n", 1, 2, out.file);
    start = nl + 1;
  }
}

namespace {
[[gnu::format(printf, 2, 0)]] void WriteV(TextFile& out, const char* format, std::va_list args) {
  char small[512];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    WriteText(out, std::string_view(small, static_cast<std::size_t>(n)));
    return;
  }
  std::string big(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(big.data(), big.size() + 1, format, args);
  WriteText(out, big);
}
}  // namespace

void TextPrintf(TextFile& out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteV(out, format, args);
  va_end(args);
}

void LogF(TextFile& log, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteV(log, format, args);
  va_end(args);
  FlushTextFile(log);
}

void FlushTextFile(TextFile& out) {
  if (out.file != nullptr) std::fflush(out.file);
}

InStream::InStream(std::FILE* file, bool text_mode)
    : file_(file), text_mode_(text_mode), buffer_(kInBufferSize) {}

InStream::~InStream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool InStream::Fill() {
  if (file_ == nullptr) {
    at_end_ = true;
    return false;
  }
  len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  pos_ = 0;
  if (len_ == 0) {
    at_end_ = true;
    return false;
  }
  return true;
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

bool ReadTextLine(InStream& in, std::size_t limit, std::string& line) {
  line.clear();
  while (line.size() < limit) {
    const int c = in.Get();
    if (c < 0) return false;
    line.push_back(static_cast<char>(c));
    if (c == '\n') return true;
  }
  return true;
}

}  // namespace platform
