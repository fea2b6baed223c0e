// A web folder of textures: asked with the web fetch's HTTP client, on connections it keeps for
// the next request, with the same controls (proxy, authorities, referer, time-out). Whether a
// texture is there costs HEAD requests, asked once per name and run; a texture is downloaded
// only when a picture needs it, into a download folder, where a records file of the web fetch's
// kind (".boxtally-web") lets a later run ask with a conditional request instead. Any thread may
// call it; the requests of different names run at once, up to kMaxTextureConnections.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "boxtally/http/kest_http.h"
#include "boxtally/web/validators.h"
#include "boxtally/web/web_fetch.h"

namespace textures {

inline constexpr std::size_t kMaxTextureConnections = 4;  // requests at once

struct WebTexturePlaces {
  std::string url;            // the folder's URL, ending with '/'
  std::string download_dir;   // where fetched files go, ending with '/' (made when needed)
  bool keep_records = false;  // a records file in download_dir, for conditional requests
  bool reuse_files = false;   // a file already in download_dir is used without a request
  web::WebControls controls;  // proxy, authorities, referer and user agent
  int time_out_ms = web::kRequestTimeOutMs;
};

// The URL of the textures folder beside a web object path: "http://h/op/models" and
// "http://h/op/models/" give "http://h/op/textures/". Empty for a URL without a parent folder
// ("http://h", "http://h/models" has "http://h/" as parent and gives "http://h/textures/").
std::string SiblingTexturesUrl(const std::string& models_url);

// The URL of a texture file in the folder `folder_url` (ending with '/'): its name encoded as the
// web fetch encodes a model's, and a '%' of the name as "%25" too, so that no name can spell an
// encoded "../" and ask for a file outside the folder.
std::string TextureUrl(const std::string& folder_url, const std::string& file_name);

class WebTextureFolder {
 public:
  explicit WebTextureFolder(WebTexturePlaces places);
  ~WebTextureFolder();  // saves the records
  WebTextureFolder(const WebTextureFolder&) = delete;
  WebTextureFolder& operator=(const WebTextureFolder&) = delete;

  enum class Presence { kThere, kAbsent, kUnknown };

  // Whether the folder is there: a HEAD of its URL, asked once, answered with anything but 404
  // or 410. A request that fails says it is not.
  bool Known();
  // Whether a file `name` stands for is there; kUnknown when a request failed or the name
  // stands for no file.
  Presence Has(const std::string& name);
  // The local path of the file `name` stands for, downloaded if needed; empty when there is none
  // or it cannot be had. Without keep_records the file is a fresh one in download_dir that the
  // caller removes once read.
  std::string Fetch(const std::string& name);
  // Ends the requests in flight at once, and makes no more: a stopped run.
  void Abandon();

 private:
  struct Connection;
  struct NameState;
  class Lease;

  std::shared_ptr<NameState> StateOf(const std::string& name);
  std::vector<std::string> CandidatesFor(const NameState& state, const std::string& name);
  Presence AskFor(NameState& state, const std::string& name);
  std::string FetchFile(NameState& state, const std::string& file_name, bool& missing);
  void NoteFound(const std::string& file_name);

  WebTexturePlaces places_;
  std::shared_ptr<web::ValidatorStore> records_;
  std::atomic<bool> abandoned_{false};
  std::once_flag known_once_;
  bool known_ = false;
  std::mutex mutex_;  // guards what follows
  std::condition_variable connection_free_;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::vector<Connection*> busy_;
  std::size_t made_ = 0;
  std::unordered_map<std::string, std::shared_ptr<NameState>> names_;
  std::string last_extension_;  // the extension the last texture found had: tried first
};

}  // namespace textures
