// Wildcard file search: `*` and `?` in the last path component, case-insensitive, files only,
// dot-files hidden from wildcard matches, matches sorted case-insensitively (the order Windows
// file systems give). A last component without wildcards names one file, found ignoring case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// True when `name` matches `pattern` (`*` any run, `?` one character), ignoring ASCII case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Index just past the last '/' or '\' of `path` (0 when it has none).
std::size_t DirectoryPrefixLength(std::string_view path);

// The found names (last component only) of the regular files matching `pattern`, sorted.
// Empty when the directory cannot be read or nothing matches.
std::vector<std::string> FindFiles(const std::string& pattern);

// As FindFiles, but every entry that matches counts, whatever it is (a folder, a FIFO, a device,
// a link that points nowhere): a run names each of them rather than pass over it in silence.
std::vector<std::string> FindMatches(const std::string& pattern);

}  // namespace platform
