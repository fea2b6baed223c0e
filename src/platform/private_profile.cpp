#include "platform/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace platform {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

// The file's lines without their line ends (LF or CR LF). A missing file has no lines.
std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The section a header line names, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view t = Trimmed(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  return Trimmed(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// The key of a key=value line; comment lines (";") and lines without "=" have none.
std::optional<std::string_view> KeyName(std::string_view line) {
  const std::string_view t = Trimmed(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Trimmed(t.substr(0, eq));
}

struct SectionSpan {
  std::size_t header = 0;  // index of the "[name]" line
  std::size_t end = 0;     // one past the section's last line
};

std::optional<SectionSpan> FindSection(const std::vector<std::string>& lines,
                                       std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name || !SameName(*name, section)) continue;
    SectionSpan span{i, i + 1};
    while (span.end < lines.size() && !SectionName(lines[span.end])) ++span.end;
    return span;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<std::string>& lines, const SectionSpan& span,
                                   std::string_view key) {
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    const auto name = KeyName(lines[i]);
    if (name && SameName(*name, key)) return i;
  }
  return std::nullopt;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

bool UsableNames(std::string_view section, std::string_view key) {
  if (Trimmed(section).empty() || Trimmed(key).empty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key)) return false;
  return section.find(']') == section.npos && key.find('=') == key.npos;
}

// A file whose write bits are all off counts as read-only even for root, as the read-only
// attribute does on Windows.
bool ReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Writes the lines to a temporary file beside `path` and renames it over `path`. A symbolic link
// is followed, so the file it names is replaced and the link stays.
ProfileResult ReplaceFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string target = path;
  if (char* real = realpath(path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  if (ReadOnlyFile(target)) return kProfileCannotWrite;
  struct stat old {};
  const mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();

  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "." + name + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return kProfileCannotWrite;
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ok = false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temp.c_str(), target.c_str()) == 0) return kProfileOk;
  unlink(temp.c_str());
  return kProfileCannotWrite;
}

}  // namespace

std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key, std::size_t limit) {
  const std::vector<std::string> lines = ReadLines(path);
  const auto span = FindSection(lines, section);
  if (!span) return std::nullopt;
  const auto at = FindKey(lines, *span, key);
  if (!at) return std::nullopt;
  const std::string& line = lines[*at];
  std::string_view value = Trimmed(std::string_view(line).substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, limit));
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int fallback) {
  const auto text = ReadProfileString(path, section, key);
  if (!text || text->empty()) return fallback;
  std::string_view digits = *text;
  bool negative = false;
  if (digits.front() == '-' || digits.front() == '+') {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty() || digits.front() == '-' || digits.front() == '+') return fallback;
  long long magnitude = 0;
  const auto [end, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (ec != std::errc{} || end != digits.data() + digits.size()) return fallback;
  const long long value = negative ? -magnitude : magnitude;
  if (value < INT_MIN || value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key,
                     bool fallback) {
  return ReadProfileInt(path, section, key, fallback ? 1 : 0) != 0;
}

ProfileResult WriteProfileString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view value) {
  if (!UsableNames(section, key) || HasLineBreak(value)) return kProfileBadText;
  std::vector<std::string> lines = ReadLines(path);
  std::string entry = std::string(Trimmed(key)) + "=" + std::string(value);
  const auto span = FindSection(lines, section);
  if (!span) {
    if (!lines.empty() && !Trimmed(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + std::string(Trimmed(section)) + "]");
    lines.push_back(std::move(entry));
    return ReplaceFile(path, lines);
  }
  if (const auto at = FindKey(lines, *span, key)) {
    if (lines[*at] == entry) return kProfileOk;
    lines[*at] = std::move(entry);
    return ReplaceFile(path, lines);
  }
  // After the section's last non-blank line, so the blank line before the next section stays.
  std::size_t insert = span->end;
  while (insert > span->header + 1 && Trimmed(lines[insert - 1]).empty()) --insert;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert), std::move(entry));
  return ReplaceFile(path, lines);
}

ProfileResult WriteProfileInt(const std::string& path, std::string_view section,
                              std::string_view key, int value) {
  return WriteProfileString(path, section, key, std::to_string(value));
}

ProfileResult WriteProfileBool(const std::string& path, std::string_view section,
                               std::string_view key, bool value) {
  return WriteProfileString(path, section, key, value ? "1" : "0");
}

ProfileResult DeleteProfileKey(const std::string& path, std::string_view section,
                               std::string_view key) {
  if (!UsableNames(section, key)) return kProfileBadText;
  std::vector<std::string> lines = ReadLines(path);
  const auto span = FindSection(lines, section);
  if (!span) return kProfileOk;
  bool removed = false;
  for (std::size_t i = span->end; i-- > span->header + 1;) {
    const auto name = KeyName(lines[i]);
    if (name && SameName(*name, key)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
    }
  }
  return removed ? ReplaceFile(path, lines) : kProfileOk;
}

}  // namespace platform
