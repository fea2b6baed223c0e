// The lookup of a script's texture name, over any name: every file name it stands for stays in
// its folder (no separator, never "." or "..", no control byte, within a file name's length; a
// name "leaf." gives the harmless "leaf..jpg"), is lower
// case, and the index gives a path only from the folder listed. Each file's URL, decoded as a
// server decodes it, is the folder and that very file name. The name also goes through the web
// folder's sibling forming, as the object path's URL would.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "boxtally/textures/texture_names.h"
#include "boxtally/textures/web_textures.h"

namespace {
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const auto files = textures::TextureFileNames(name);
  if (files.empty() != !textures::IsPlainTextureName(name)) __builtin_trap();
  textures::FolderIndex index;
  for (const std::string& file : files) {
    if (file.size() > textures::kMaxTextureFileName || file.find('/') != std::string::npos ||
        file.find('\\') != std::string::npos || file == "." || file == "..") {
      __builtin_trap();
    }
    for (const char c : file) {
      if (static_cast<unsigned char>(c) < 0x20 || (c >= 'A' && c <= 'Z')) __builtin_trap();
    }
    index.paths.emplace(file, "folder/" + file);
    if (PercentDecoded(textures::TextureUrl("http://h/t/", file)) != "http://h/t/" + file) {
      __builtin_trap();
    }
  }
  const std::string found = textures::FindTextureFile(index, name);
  if (!files.empty() && found != "folder/" + files.front()) __builtin_trap();
  const std::string sibling = textures::SiblingTexturesUrl(name);
  if (!sibling.empty() && sibling.size() < 10) __builtin_trap();  // "x://h/textures/" at least
  return 0;
}
