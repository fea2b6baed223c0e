#include "boxtally/textures/web_textures.h"

#include <sys/stat.h>

#include <algorithm>

#include "boxtally/textures/image_decode.h"
#include "boxtally/textures/texture_names.h"
#include "boxtally/web/model_names.h"
#include "platform/file_search.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "platform/termination.h"

namespace textures {

namespace {

constexpr const char* kPartialPrefix = ".download-";  // hidden, as the web fetch's own

bool Missing(int status) { return status == 404 || status == 410; }

std::string ExtensionOf(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? std::string() : file_name.substr(dot);
}

}  // namespace

std::string SiblingTexturesUrl(const std::string& models_url) {
  const std::size_t scheme = models_url.find("://");
  if (scheme == std::string::npos) return {};
  std::string url = models_url;
  while (!url.empty() && url.back() == '/') url.pop_back();
  const std::size_t path = url.find('/', scheme + 3);
  if (path == std::string::npos) return {};  // the server's root has no parent
  return url.substr(0, url.rfind('/') + 1) + kTexturesFolderName + "/";
}

std::string TextureUrl(const std::string& folder_url, const std::string& file_name) {
  std::string url = folder_url;
  for (const char c : file_name) url += c == '%' ? std::string("%25") : web::EncodeForUrl({&c, 1});
  return url;
}

// One kept connection: its own HTTP component, whose pump ends a request once the folder is
// abandoned or a stop signal came.
struct WebTextureFolder::Connection {
  explicit Connection(const std::atomic<bool>& abandoned) {
    http.SetMessagePump([this, &abandoned] {
      if (abandoned || platform::TerminationSignal() != 0) http.Abort();
    });
  }
  http::TKestHTTP http;
};

struct WebTextureFolder::NameState {
  std::mutex mutex;
  bool asked = false;
  Presence presence = Presence::kUnknown;
  std::string there;     // the file found on the server
  bool current = false;  // the download folder holds what the server has
};

// A connection for one request, given back when the lease ends.
class WebTextureFolder::Lease {
 public:
  explicit Lease(WebTextureFolder& folder) : folder_(folder) {
    std::unique_lock<std::mutex> lock(folder.mutex_);
    folder.connection_free_.wait(
        lock, [&] { return !folder.idle_.empty() || folder.made_ < kMaxTextureConnections; });
    if (folder.idle_.empty()) {
      folder.idle_.push_back(std::make_unique<Connection>(folder.abandoned_));
      ++folder.made_;
    }
    connection_ = std::move(folder.idle_.back());
    folder.idle_.pop_back();
    folder.busy_.push_back(connection_.get());
  }
  ~Lease() {
    {
      std::lock_guard<std::mutex> lock(folder_.mutex_);
      folder_.busy_.erase(std::find(folder_.busy_.begin(), folder_.busy_.end(), connection_.get()));
      folder_.idle_.push_back(std::move(connection_));
    }
    folder_.connection_free_.notify_one();
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  // The component, set up for a request with `conditions`.
  http::TKestHTTP& Prepare(const WebTexturePlaces& places,
                           const web::RequestConditions& conditions) {
    http::TKestHTTP& http = connection_->http;
    http.TimeOut = places.time_out_ms;
    http.CaFile = places.controls.ca_file;
    http.Proxies = web::ProxyRulesOf(places.controls);
    http.InputFileMode = false;
    http.OutputFileMode = false;
    http.MaxBodyFileBytes = static_cast<std::int64_t>(kMaxImageFileBytes);
    http.HeaderInfo.IfModifiedSince = conditions.if_modified_since;
    http.HeaderInfo.IfNoneMatch = conditions.if_none_match;
    web::ApplyReferer(http, places.controls);
    http.ReplyNumber = 0;  // a request that fails before a reply is judged by none
    return http;
  }

 private:
  WebTextureFolder& folder_;
  std::unique_ptr<Connection> connection_;
};

WebTextureFolder::WebTextureFolder(WebTexturePlaces places) : places_(std::move(places)) {
  if (places_.keep_records) records_ = web::LoadValidatorStore(places_.download_dir);
}

WebTextureFolder::~WebTextureFolder() = default;  // the records are saved with their last owner

void WebTextureFolder::Abandon() {
  abandoned_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Connection* c : busy_) c->http.Wake();
}

bool WebTextureFolder::Known() {
  std::call_once(known_once_, [this] {
    if (abandoned_) return;
    Lease lease(*this);
    http::TKestHTTP& http = lease.Prepare(places_, {});
    (void)http.Head(places_.url);
    known_ = http.ReplyNumber != 0 && !Missing(http.ReplyNumber);
  });
  return known_;
}

std::shared_ptr<WebTextureFolder::NameState> WebTextureFolder::StateOf(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<NameState>& state = names_[name];
  if (!state) state = std::make_shared<NameState>();
  return state;
}

void WebTextureFolder::NoteFound(const std::string& file_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_extension_ = ExtensionOf(file_name);
}

// The name's files, the one found there first, then those an earlier run downloaded, then the
// kind the last texture found had: a folder of JPEG files costs one request a texture.
std::vector<std::string> WebTextureFolder::CandidatesFor(const NameState& state,
                                                         const std::string& name) {
  std::vector<std::string> names = TextureFileNames(name);
  std::string last;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last = last_extension_;
  }
  const auto rank = [&](const std::string& file_name) {
    if (file_name == state.there) return 0;
    if (records_ && web::FindValidators(*records_, file_name)) return 1;
    if (!last.empty() && ExtensionOf(file_name) == last) return 2;
    return 3;
  };
  std::stable_sort(names.begin(), names.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  return names;
}

WebTextureFolder::Presence WebTextureFolder::AskFor(NameState& state, const std::string& name) {
  for (const std::string& file_name : CandidatesFor(state, name)) {
    if (abandoned_) return Presence::kUnknown;
    const std::string local = places_.download_dir + file_name;
    if (places_.reuse_files && platform::IsRegularFile(local)) {
      state.there = file_name;
      state.current = true;
      return Presence::kThere;
    }
    const std::string url = TextureUrl(places_.url, file_name);
    Lease lease(*this);
    http::TKestHTTP& http =
        lease.Prepare(places_, web::ConditionsFor(records_.get(), file_name, url, local));
    (void)http.Head(url);
    if (Missing(http.ReplyNumber)) continue;
    if (http.ReplyNumber != 200 && http.ReplyNumber != 304) return Presence::kUnknown;
    state.there = file_name;
    state.current = http.ReplyNumber == 304;
    if (state.current) web::RefreshEtag(records_.get(), file_name, http.ReplyEtag);
    NoteFound(file_name);
    return Presence::kThere;
  }
  return Presence::kAbsent;
}

WebTextureFolder::Presence WebTextureFolder::Has(const std::string& name) {
  if (!IsPlainTextureName(name)) return Presence::kUnknown;
  const std::shared_ptr<NameState> state = StateOf(name);
  std::lock_guard<std::mutex> lock(state->mutex);
  if (!state->asked) {
    state->presence = Known() ? AskFor(*state, name) : Presence::kUnknown;
    // A request cut short by a stop is asked again by whoever asks next.
    state->asked = !abandoned_;
  }
  return state->presence;
}

// GETs one file into the download folder: into a hidden file first, renamed to its name only
// when the reply was 200 and the body whole; a 304 keeps the file there. Returns its path, or
// the empty text after a 404 or 410 (with `missing` set) or a failure.
std::string WebTextureFolder::FetchFile(NameState& state, const std::string& file_name,
                                        bool& missing) {
  missing = false;
  const std::string local = places_.download_dir + file_name;
  const std::string url = TextureUrl(places_.url, file_name);
  if (places_.keep_records) ::mkdir(places_.download_dir.c_str(), 0777);
  const std::string partial = platform::CreateUniqueFile(places_.download_dir + kPartialPrefix);
  if (partial.empty()) return {};
  struct RemovedOnSignal {
    int slot;
    ~RemovedOnSignal() { platform::UnregisterRemoveOnSignal(slot); }
  } on_signal{platform::RegisterRemoveOnSignal(partial)};
  Lease lease(*this);
  const web::RequestConditions conditions =
      places_.keep_records ? web::ConditionsFor(records_.get(), file_name, url, local)
                           : web::RequestConditions{};
  http::TKestHTTP& http = lease.Prepare(places_, conditions);
  http.InputFileMode = true;
  http.Body = partial;
  const http::SockResult got = http.Get(url);
  const bool whole = got.ok && http.ReplyNumber == 200 &&
                     (http.BytesTotal <= 0 || http.BytesRecvd == http.BytesTotal);
  std::string path;
  if (got.ok && http.ReplyNumber == 304 && conditions.Any()) {
    web::RefreshEtag(records_.get(), file_name, http.ReplyEtag);
    path = local;
  } else if (whole && !places_.keep_records) {
    return partial;  // the caller's to remove once read
  } else if (whole) {
    if (http.ReplyLastModified >= 0) platform::SetModificationTime(partial, http.ReplyLastModified);
    if (platform::RenameFile(partial, local)) {
      web::RecordDownload(records_.get(), file_name, url, local, http.ReplyEtag,
                          http.ReplyLastModified);
      path = local;
    }
  }
  platform::RemoveFile(partial);
  if (!path.empty()) {
    state.there = file_name;
    state.current = true;
    NoteFound(file_name);
  } else {
    missing = got.ok && Missing(http.ReplyNumber);
  }
  return path;
}

std::string WebTextureFolder::Fetch(const std::string& name) {
  if (!IsPlainTextureName(name) || !Known()) return {};
  const std::shared_ptr<NameState> state = StateOf(name);
  std::lock_guard<std::mutex> lock(state->mutex);
  if (state->asked && state->presence == Presence::kAbsent) return {};
  if (state->current && places_.keep_records) return places_.download_dir + state->there;
  for (const std::string& file_name : CandidatesFor(*state, name)) {
    if (abandoned_) return {};
    const std::string local = places_.download_dir + file_name;
    if (places_.reuse_files && platform::IsRegularFile(local)) {
      return local;
    }
    bool missing = false;
    std::string path = FetchFile(*state, file_name, missing);
    if (!path.empty() || !missing) return path;  // found, or failed: no other kind is tried
  }
  return {};
}

}  // namespace textures
