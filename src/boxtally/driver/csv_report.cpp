#include "boxtally/driver/csv_report.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>

namespace driver {

namespace {
constexpr std::size_t kChunkBytes = 64 * 1024;  // bytes gathered before each write
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the UTF-8 sequence at `text[i]`, or 0 when it is not one (overlong forms,
// surrogates and code points past U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char b = byte(0);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < n) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
  }
  return n;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}
}  // namespace

std::string FlagWords(std::uint8_t flags) {
  std::string words;
  const auto add = [&words](const char* word) {
    if (!words.empty()) words += ' ';
    words += word;
  };
  if (flags & kFlagNotCentred) add("not_centred");
  if (flags & kFlagOversized) add("oversized");
  if (flags & kFlagFacer) add("facer");
  return words;
}

std::string CsvNumber(float value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc{}) return {};
  return std::string(text, end);
}

std::string CsvField(const std::string& text) {
  std::string clean;
  clean.reserve(text.size());
  bool quote = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      clean += kReplacement;
      ++i;
      continue;
    }
    if (n == 1) {
      const char c = text[i];
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        clean += '_';
      } else {
        quote = quote || c == ',' || c == '"';
        clean += c;
        if (c == '"') clean += '"';
      }
    } else {
      clean.append(text, i, n);
    }
    i += n;
  }
  return quote ? '"' + clean + '"' : clean;
}

void AppendCsvRow(const ModelOutcome& model, std::string& out) {
  out += CsvField(model.name);
  out += ',';
  out += FateWord(model.fate);
  out += ',';
  out += CsvField(ReasonText(model.reason, model.facts));
  out += ',';
  out += CsvField(model.source);
  const bool measured = model.fate == Fate::kMeasured;
  const std::array<float, 3> sizes = BoxSizes(model);
  for (const float v : model.box) {
    out += ',';
    if (measured) out += CsvNumber(v);
  }
  for (const float v : sizes) {
    out += ',';
    if (measured) out += CsvNumber(v);
  }
  for (const std::int32_t n : {model.vertices, model.polygons, model.textures}) {
    out += ',';
    if (measured) out += std::to_string(n);
  }
  out += ',';
  if (measured) out += FlagWords(model.flags);
  out += "\r\n";
}

bool WriteCsvReport(int fd, const std::vector<ModelOutcome>& results) {
  std::string chunk = kCsvHeader;
  for (const ModelOutcome& m : results) {
    AppendCsvRow(m, chunk);
    if (chunk.size() < kChunkBytes) continue;
    if (!WriteAll(fd, chunk)) return false;
    chunk.clear();
  }
  return WriteAll(fd, chunk);
}

}  // namespace driver
