#include "boxtally/textures/texture_names.h"

#include <dirent.h>

#include <memory>

namespace textures {

namespace {

constexpr const char* kImageExtensions[] = {".jpg", ".jpeg", ".png", ".bmp", ".gif"};
constexpr const char* kArchiveExtension = ".zip";
constexpr std::size_t kLongestExtension = 5;  // ".jpeg"

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool HasTextureExtension(std::string_view lowered) {
  if (EndsWith(lowered, kArchiveExtension)) return true;
  for (const char* extension : kImageExtensions) {
    if (EndsWith(lowered, extension)) return true;
  }
  return false;
}

}  // namespace

bool IsPlainTextureName(std::string_view name) {
  if (name.empty() || name.size() + kLongestExtension > kMaxTextureFileName) return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (const char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

std::vector<std::string> TextureFileNames(std::string_view name) {
  if (!IsPlainTextureName(name)) return {};
  const std::string lowered = Lowered(name);
  if (HasTextureExtension(lowered)) return {lowered};
  std::vector<std::string> names;
  for (const char* extension : kImageExtensions) names.push_back(lowered + extension);
  names.push_back(lowered + kArchiveExtension);
  return names;
}

bool IsImageFileName(std::string_view file_name) {
  const std::string lowered = Lowered(file_name);
  for (const char* extension : kImageExtensions) {
    if (EndsWith(lowered, extension)) return true;
  }
  return false;
}

bool AddFolderToIndex(FolderIndex& index, const std::string& dir, bool archives) {
  struct Closer {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, Closer> folder(opendir(dir.empty() ? "." : dir.c_str()));
  if (!folder) return false;
  // Only the names: whether one is a regular file is asked when it is opened.
  while (const dirent* entry = readdir(folder.get())) {
    const std::string lowered = Lowered(entry->d_name);
    if (lowered.empty() || lowered[0] == '.') continue;
    const bool wanted =
        IsImageFileName(lowered) || (archives && EndsWith(lowered, kArchiveExtension));
    if (wanted) index.paths.emplace(lowered, dir + entry->d_name);
  }
  return true;
}

std::string FindTextureFile(const FolderIndex& index, std::string_view name) {
  for (const std::string& file_name : TextureFileNames(name)) {
    const auto found = index.paths.find(file_name);
    if (found != index.paths.end()) return found->second;
  }
  return {};
}

}  // namespace textures
