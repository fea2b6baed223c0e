#include "boxtally/driver/run_textures.h"

#include <strings.h>

#include <climits>
#include <cstdlib>

#include "boxtally/web/web_fetch.h"
#include "platform/file_search.h"
#include "platform/paths.h"

namespace driver {

namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}

// The parent of a folder whose name gives none ("", ".", "x/.."), from the file system.
std::string ResolvedSibling(const std::string& dir) {
  char resolved[PATH_MAX];
  if (realpath(dir.empty() ? "." : dir.c_str(), resolved) == nullptr) return {};
  const std::string path = resolved;
  const std::size_t slash = path.rfind('/');
  if (path == "/" || slash == std::string::npos) return {};
  return path.substr(0, slash + 1) + textures::kTexturesFolderName + "/";
}

// The folders the library lists: the named one, or the default places. nullopt: none known.
std::optional<textures::TexturePlaces> LocalPlaces(RunHost& host, const std::string& named,
                                                   const std::string& models_dir) {
  textures::TexturePlaces places;
  if (!named.empty()) {
    if (!platform::IsDirectory(named)) {
      platform::LogF(host.Log(), "Unable to read the textures folder %s\n", named.c_str());
      return std::nullopt;
    }
    places.folders.push_back({WithSlash(named), true});
    return places;
  }
  const std::string sibling = SiblingTexturesFolder(models_dir);
  if (!sibling.empty() && platform::IsDirectory(sibling)) {
    places.folders.push_back({sibling, true});
    places.folders.push_back({models_dir, false});
    return places;
  }
  // Without a textures folder, the models' folder counts only when it holds pictures: listed
  // here once, and the library keeps that listing.
  auto index = std::make_shared<textures::FolderIndex>();
  if (!textures::AddFolderToIndex(*index, models_dir, false) || index->paths.empty()) {
    return std::nullopt;
  }
  places.folders.push_back({models_dir, false});
  places.index = std::move(index);
  return places;
}

textures::WebTexturePlaces WebPlaces(RunHost& host, const std::string& url, const RunState& state) {
  textures::WebTexturePlaces web;
  web.url = WithSlash(url);
  web::WebHost* fetch = host.WebFetch();
  if (fetch != nullptr) {
    web.controls = fetch->Controls();
    web.time_out_ms = fetch->RequestTimeOutMs();
  }
  if (host.GetFromWeb() && fetch != nullptr) {
    // Beside the models the run downloads, in a folder of their own, with records as theirs.
    const std::string& list = web.controls.list_file;
    web.download_dir =
        list.substr(0, platform::DirectoryPrefixLength(list)) + textures::kTexturesFolderName + "/";
    web.keep_records = true;
    web.reuse_files = web.controls.reuse_web;
  } else {
    web.download_dir = state.work_dir;  // read once and removed: nowhere to keep them
  }
  return web;
}

}  // namespace

std::string SiblingTexturesFolder(const std::string& models_dir) {
  std::string dir = models_dir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir == "/") return {};
  const std::size_t slash = dir.rfind('/');
  const std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return ResolvedSibling(models_dir);
  return dir.substr(0, slash == std::string::npos ? 0 : slash + 1) + textures::kTexturesFolderName +
         "/";
}

bool IsTexturesUrl(const std::string& named) {
  return strncasecmp(named.c_str(), "http://", 7) == 0 ||
         strncasecmp(named.c_str(), "https://", 8) == 0;
}

std::shared_ptr<textures::TextureLibrary> OpenRunTextures(RunHost& host, const std::string& pattern,
                                                          const RunState& state) {
  const std::string named = host.TexturesFolder();
  std::optional<textures::TexturePlaces> places;
  if (IsTexturesUrl(named)) {
    places.emplace().web = WebPlaces(host, named, state);
  } else if (!named.empty() || !host.GetFromWeb()) {
    places = LocalPlaces(host, named, pattern.substr(0, platform::DirectoryPrefixLength(pattern)));
  } else if (web::WebHost* fetch = host.WebFetch()) {
    const std::string sibling = textures::SiblingTexturesUrl(fetch->Controls().url);
    if (!sibling.empty()) places.emplace().web = WebPlaces(host, sibling, state);
  }
  if (!places) return nullptr;
  places->password = state.password;
  return std::make_shared<textures::TextureLibrary>(std::move(*places));
}

std::vector<std::string> MissingTextures(render::TextureSource& textures,
                                         const std::vector<std::string>& names) {
  std::vector<std::string> missing;
  for (const std::string& name : names) {
    if (textures.Lacks(name)) missing.push_back(name);
  }
  return missing;
}

}  // namespace driver
