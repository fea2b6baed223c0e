#include "platform/file_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace platform {

namespace {
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = Lower(a[i]);
    const char y = Lower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names equal but for case: keep a stable, repeatable order
}
bool IsRegular(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Iterative matcher with one backtrack point: linear in practice, no recursion on long names.
  std::size_t p = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::size_t DirectoryPrefixLength(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  return last == std::string_view::npos ? 0 : last + 1;
}

namespace {
bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Search(const std::string& pattern, bool (*counts)(const std::string&)) {
  std::vector<std::string> found;
  const std::size_t prefix_len = DirectoryPrefixLength(pattern);
  const std::string dir = prefix_len == 0 ? std::string(".") : pattern.substr(0, prefix_len);
  const std::string_view mask = std::string_view(pattern).substr(prefix_len);
  // A name without wildcards names its file, dot or not; only wildcards skip hidden files.
  const bool wildcards = mask.find_first_of("*?") != std::string_view::npos;
  if (!wildcards && counts(dir + "/" + std::string(mask))) return {std::string(mask)};
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return found;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name == "." || name == ".." || (wildcards && name[0] == '.')) continue;
    if (!WildcardMatch(mask, name)) continue;
    if (!counts(dir + "/" + name)) continue;
    found.push_back(name);
  }
  closedir(d);
  std::sort(found.begin(), found.end(), LessIgnoringCase);
  if (!wildcards && found.size() > 1) found.resize(1);  // one name names one file
  return found;
}
}  // namespace

std::vector<std::string> FindFiles(const std::string& pattern) {
  return Search(pattern, IsRegular);
}

std::vector<std::string> FindMatches(const std::string& pattern) { return Search(pattern, Exists); }

}  // namespace platform
