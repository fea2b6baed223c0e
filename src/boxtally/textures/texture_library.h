// The textures of a run: where the object path keeps them (local folders, listed once, or a web
// folder), and the decoded images, kept once found and shared by every thread that draws. A
// texture that cannot be found, read or decoded is drawn as missing; whether the object path has
// it at all is what the run's missing-textures check asks (Lacks), without decoding anything.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "boxtally/render/texture.h"
#include "boxtally/textures/texture_names.h"
#include "boxtally/textures/web_textures.h"

namespace textures {

// Decoded images kept at most (RGBA bytes); past it the ones drawn longest ago are let go, and
// found again when a picture needs them.
inline constexpr std::size_t kMaxCachedTextureBytes = std::size_t{256} << 20;

struct LocalTextureFolder {
  std::string dir;        // ending with '/', or empty for the current folder
  bool archives = false;  // its ".zip" files are textures too (not in the models' folder)
};

struct TexturePlaces {
  std::vector<LocalTextureFolder> folders;   // searched in this order
  std::shared_ptr<const FolderIndex> index;  // the folders already listed: not listed again
  std::optional<WebTexturePlaces> web;       // instead of the folders
  std::string password;                      // of texture archives, as of the models'
};

class TextureLibrary : public render::TextureSource {
 public:
  explicit TextureLibrary(TexturePlaces places);

  std::shared_ptr<const render::Texture> Find(const std::string& name) override;
  // True when the textures folder is known to have no file for `name` (or the name could not be
  // a file of it); false when it has one, when no folder is known or when a request failed.
  bool Lacks(const std::string& name) override;
  // A stopped run: web requests in flight end at once, and no more are made.
  void Abandon();

 private:
  struct Entry {
    std::mutex mutex;     // held while the image loads: a name is read once at a time
    bool loaded = false;  // under `mutex`
    std::shared_ptr<const render::Texture> image;  // under `mutex` and the library's
    std::uint64_t last_use = 0;                    // under the library's mutex
  };

  const FolderIndex& Index();
  std::shared_ptr<const render::Texture> Load(const std::string& name);
  void Keep(Entry& entry, std::shared_ptr<const render::Texture> image);
  void LetGoOfOldest(const Entry* current);

  TexturePlaces places_;
  std::unique_ptr<WebTextureFolder> web_;
  std::once_flag index_once_;
  FolderIndex index_;
  std::mutex mutex_;  // guards what follows
  std::unordered_map<std::string, std::shared_ptr<Entry>> entries_;
  std::size_t kept_bytes_ = 0;
  std::uint64_t uses_ = 0;
};

// The image in a texture file's bytes: the picture itself, or the first entry of a zip archive
// (or gzip file) at `path`, extracted with `password`. nullptr when it cannot be read or decoded.
std::shared_ptr<const render::Texture> ReadTextureFile(const std::string& path,
                                                       const std::string& password);

}  // namespace textures
