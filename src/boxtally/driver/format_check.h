// The format template of a run, read once when the run starts and checked for the mistakes that
// would make a registry of nothing or of nonsense: a template that gives no registry line, and a
// file that is no template at all (a registry or another text named in its place).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace driver {

inline constexpr std::size_t kMaxTemplateBytes = std::size_t{16} << 20;  // a template, read whole
// A template this long whose lines hold no tag at all is probably some other text.
inline constexpr int kTaglessTemplateLines = 100;

// The template's bytes; nullopt when it is no regular file, cannot be read or passes
// kMaxTemplateBytes.
std::optional<std::string> ReadTemplate(const std::string& path);

// True when the template has at least one complete line: each complete line gives one registry
// line per model, and a last line without its line end gives none.
bool GivesRegistryLines(const std::string& text);

// Why the template looks like something else, for one warning before the run, or nullopt:
// "looks like a registry (every line ends with six numbers)", or "line N holds no tag" in a
// template of more than kTaglessTemplateLines lines.
std::optional<std::string> TemplateDoubt(const std::string& text);

}  // namespace driver
