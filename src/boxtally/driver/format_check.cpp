#include "boxtally/driver/format_check.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "boxtally/rwx/registry_writer.h"
#include "platform/text_file.h"

namespace driver {

namespace {
// The template's lines as the registry writer reads them.
std::vector<std::string> CompleteLines(const std::string& text) {
  std::vector<std::string> lines;
  auto in = platform::MemoryInStream(text, /*text_mode=*/true);
  std::string line;
  while (platform::ReadTextLine(*in, rwx::kMaxTemplateLine, line)) lines.push_back(line);
  return lines;
}

bool IsNumber(std::string_view token) {
  if (!token.empty() && (token[0] == '-' || token[0] == '+')) token.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  return ec == std::errc{} && end == token.data() + token.size();
}

// A registry line: a name, then (at least) six numbers at the end.
bool EndsWithSixNumbers(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(" \t\r\n", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(" \t\r\n", start), line.size());
    tokens.push_back(line.substr(start, end - start));
    at = end;
  }
  if (tokens.size() < 7) return false;
  for (std::size_t i = tokens.size() - 6; i < tokens.size(); ++i) {
    if (!IsNumber(tokens[i])) return false;
  }
  return true;
}
}  // namespace

std::optional<std::string> ReadTemplate(const std::string& path) {
  return platform::ReadRegularFile(path, kMaxTemplateBytes);
}

bool GivesRegistryLines(const std::string& text) { return !CompleteLines(text).empty(); }

std::optional<std::string> TemplateDoubt(const std::string& text) {
  const std::vector<std::string> lines = CompleteLines(text);
  if (lines.empty()) return std::nullopt;
  bool all_registry = true;
  for (const std::string& line : lines) all_registry = all_registry && EndsWithSixNumbers(line);
  if (all_registry) return "looks like a registry (every line ends with six numbers)";
  if (lines.size() <= static_cast<std::size_t>(kTaglessTemplateLines)) return std::nullopt;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("<f") == std::string::npos) {
      return "holds no tag on line " + std::to_string(i + 1) + " of " +
             std::to_string(lines.size());
    }
  }
  return std::nullopt;
}

}  // namespace driver
