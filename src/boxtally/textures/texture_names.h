// What file a texture name of a script stands for, and where a folder keeps it. A name "wood"
// stands for wood.jpg, wood.jpeg, wood.png, wood.bmp, wood.gif or wood.zip (an archive whose first
// entry is such an image), tried in that order and found whatever their letter case; a name that
// carries one of those extensions ("leaf.png") names that file alone. Names come from scripts, so
// one that could leave its folder (a path, "..") stands for nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace textures {

inline constexpr std::size_t kMaxTextureFileName = 255;  // bytes: no file system takes more
inline constexpr const char* kTexturesFolderName = "textures";

// False for a name that must not become a file name in a folder: empty, holding '/', '\', ".."
// or a control character, or too long for a file name with its extension.
bool IsPlainTextureName(std::string_view name);

// The file names `name` stands for, lower-cased, in the order they are tried; empty when the
// name is not plain.
std::vector<std::string> TextureFileNames(std::string_view name);

// True when `file_name` ends with one of the image extensions (not ".zip"), letter case aside.
bool IsImageFileName(std::string_view file_name);

// The files of a few folders by their lower-cased names, each listed once: the first folder that
// holds a name keeps it.
struct FolderIndex {
  std::unordered_map<std::string, std::string> paths;  // lower-cased file name -> path
};

// Adds the image files of `dir` (with `archives`, the ".zip" files too) to the index. False when
// the folder cannot be read. `dir` ends with '/' or is empty (the current folder).
bool AddFolderToIndex(FolderIndex& index, const std::string& dir, bool archives);

// The path of the first file `name` stands for; empty when the index has none.
std::string FindTextureFile(const FolderIndex& index, std::string_view name);

}  // namespace textures
