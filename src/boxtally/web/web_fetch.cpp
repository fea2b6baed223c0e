#include "boxtally/web/web_fetch.h"

#include <cctype>

#include "boxtally/web/list_reader.h"
#include "boxtally/web/model_names.h"
#include "platform/file_search.h"
#include "platform/paths.h"
#include "platform/termination.h"

namespace web {

namespace {
// Hidden, and without the ".zip" of a model: a wildcard search never measures a download that
// is still coming in or was cut off by a killed program.
constexpr const char* kPartialPrefix = ".download-";

long long AsLong(std::int64_t value) { return static_cast<long long>(value); }

// Why the client refused a request, when it did: the line before the request's own failure line.
void LogRefusal(platform::TextFile& log, const http::TKestHTTP& http) {
  if (!http.Refusal.empty()) platform::LogF(log, "%s\n", http.Refusal.c_str());
}

// Which of the run's own files `path` would replace, or nullptr.
const char* OwnFileAt(const WebControls& controls, const std::string& path) {
  if (platform::SameFile(path, controls.list_file)) return "list file";
  if (platform::SameFile(path, controls.log_file)) return "log";
  if (platform::SameFile(path, controls.registry_file)) return "registry";
  return nullptr;
}

// The GET of one model into a fresh file beside the list, renamed into place only when the
// reply was 200 and the body is whole. Logs every failure; a failure leaves no file behind.
bool Download(WebHost& host, const WebControls& controls, const ModelPlaces& places) {
  platform::TextFile& log = host.Log();
  const std::string& url = places.url;
  const std::string partial = platform::CreateUniqueFile(
      places.local_path.substr(0, platform::DirectoryPrefixLength(places.local_path)) +
      kPartialPrefix);
  if (partial.empty()) {
    platform::LogF(log, "Unable to create a download file for %s\n", places.local_path.c_str());
    return false;
  }
  // A signal that ends the program at once still takes the file along.
  struct RemovedOnSignal {
    int slot;
    ~RemovedOnSignal() { platform::UnregisterRemoveOnSignal(slot); }
  } on_signal{platform::RegisterRemoveOnSignal(partial)};
  http::TKestHTTP& http = host.Http();
  http.TimeOut = host.RequestTimeOutMs();
  http.Header = kHeaderPlaceholder;
  http.Body = partial;
  http.InputFileMode = true;
  http.OutputFileMode = false;
  http.ReportLevel = kGetReportLevel;
  http.MaxBodyFileBytes = host.MaxDownloadBytes();
  http.CaFile = controls.ca_file;
  // The referer goes with this GET too, not only from the next request on (with ConnectFix no
  // HEAD would have set it before the first one).
  ApplyReferer(http, controls);
  const http::SockResult got = http.Get(url);
  const int result = got.ok ? http.ReplyNumber - 200 : kGetException;
  bool kept = false;
  if (result == kGetException) {
    LogRefusal(log, http);
    platform::LogF(log,
                   "Error exception in getting %s  hdr=%s Rep=%d %s errno=%d sent=%lld "
                   "recvd=%lld\n",
                   url.c_str(), http.Header.substr(0, kMaxQuotedHeader).c_str(), http.ReplyNumber,
                   http.TimedOut ? "timeout" : " ", http.LastErrorNo, AsLong(http.BytesSent),
                   AsLong(http.BytesRecvd));
  } else if (result != 0) {
    platform::LogF(log, "Error (%d) in getting %s\n", result, url.c_str());
  } else if (http.BytesTotal > 0 && http.BytesRecvd != http.BytesTotal) {
    // The server closed the connection before (or after) the length it announced.
    platform::LogF(log, "Incomplete download of %s: %lld of %lld bytes\n", url.c_str(),
                   AsLong(http.BytesRecvd), AsLong(http.BytesTotal));
  } else if (!platform::RenameFile(partial, places.local_path)) {
    platform::LogF(log, "Unable to rename %s to %s\n", partial.c_str(), places.local_path.c_str());
  } else {
    kept = true;
  }
  if (!kept) platform::RemoveFile(partial);
  return kept;
}

bool Readable(const std::string& path) {
  return platform::IsRegularFile(path) && platform::OpenInStream(path, false) != nullptr;
}

}  // namespace

bool FetchWebModel(WebHost& host, const WebEntry& entry) {
  const WebControls& controls = entry.controls;
  const ModelPlaces& places = entry.places;
  if (controls.reuse_web && Readable(places.local_path)) return true;
  host.ShowStatusNow(1, "Checking " + places.url);
  if (!controls.connect_fix && !CheckModelUrl(host, places.url)) {
    LogRefusal(host.Log(), host.Http());
    // A HEAD cut short by the stop request found nothing missing.
    if (host.StopRequested()) return false;
    // Ends without a line end: the next log text follows on the same line.
    platform::LogF(host.Log(), "File %s doesn't exist %s", places.url.c_str(), entry.line.c_str());
    return false;
  }
  host.ShowStatusNow(1, "Getting " + places.url);
  return Download(host, controls, places);
}

bool AddSeenName(SeenNames& seen, const std::string& name) {
  std::string lowered = name;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return seen.lowered.insert(std::move(lowered)).second;
}

bool OpenListFile(WebHost& host) {
  const WebControls controls = host.Controls();
  ListFile& list = host.List();
  list.stream.reset();
  if (!platform::IsRegularFile(controls.list_file)) return false;
  list.stream = platform::OpenInStream(controls.list_file, /*text_mode=*/!controls.propdump);
  list.propdump = controls.propdump;
  return list.stream != nullptr;
}

void CloseListFile(WebHost& host) { host.List().stream.reset(); }

EntryResult ReadWebEntry(WebHost& host, WebEntry& entry) {
  ListFile& list = host.List();
  platform::TextFile& log = host.Log();
  while (list.stream) {
    if (host.StopRequested()) return EntryResult::kStopped;
    std::string text;
    const EntryRead read =
        list.propdump ? ReadPropdumpRecord(*list.stream, text) : ReadListLine(*list.stream, text);
    if (read == EntryRead::kEnd) break;
    if (read == EntryRead::kDropped) continue;
    if (read == EntryRead::kTooLong) {
      platform::LogF(log, "Refused list line longer than %zu characters: %.40s...\n", kMaxListLine,
                     text.c_str());
      continue;
    }
    if (list.propdump && !AddSeenName(host.Seen(), text)) continue;
    const std::string line = TrimListLine(text);
    const std::string name = ModelNameOfLine(line);
    if (name.empty()) continue;

    const WebControls controls = host.Controls();
    ModelPlaces places;
    const PlacesResult formed = FormModelPlaces(name, controls.url, controls.list_file, places);
    if (formed == PlacesResult::kNotPlain) {
      platform::LogF(log, "Refused model name %s: not a plain file name\n", name.c_str());
      continue;
    }
    if (formed == PlacesResult::kTooLong) {
      platform::LogF(log, "Refused model name %s: its URL or local path is too long\n",
                     name.c_str());
      continue;
    }
    if (formed == PlacesResult::kFileNameTooLong) {
      platform::LogF(log, "Refused model name %s: its file name is longer than %zu bytes\n",
                     name.c_str(), kMaxFileName);
      continue;
    }
    if (const char* own = OwnFileAt(controls, places.local_path)) {
      platform::LogF(log, "Refused model name %s: %s would replace the run's %s\n", name.c_str(),
                     places.local_path.c_str(), own);
      continue;
    }
    // A last entry without a line end is used like any other: the list ends after it.
    entry.places = std::move(places);
    entry.line = line;
    entry.controls = controls;
    return EntryResult::kEntry;
  }
  CloseListFile(host);
  return EntryResult::kListEnd;
}

NextResult NextWebModel(WebHost& host, std::string& path) {
  for (;;) {
    WebEntry entry;
    const EntryResult read = ReadWebEntry(host, entry);
    if (read == EntryResult::kStopped) return NextResult::kStopped;
    if (read == EntryResult::kListEnd) return NextResult::kListEnd;
    if (FetchWebModel(host, entry)) {
      path = entry.places.local_path;
      return NextResult::kModel;
    }
  }
}

bool CheckModelUrl(WebHost& host, const std::string& url) {
  http::TKestHTTP& http = host.Http();
  http.TimeOut = host.RequestTimeOutMs();
  http.InputFileMode = false;
  http.OutputFileMode = false;
  http.ReportLevel = kHeadReportLevel;
  const WebControls controls = host.Controls();
  http.CaFile = controls.ca_file;
  ApplyReferer(http, controls);
  // A HEAD that fails before any reply would otherwise be judged by the previous reply.
  http.ReplyNumber = 0;
  (void)http.Head(url);
  return http.ReplyNumber == 200;
}

std::string RefererTextWithControl(const WebControls& controls) {
  if (http::HoldsControlByte(controls.user_agent)) return "UserAgent";
  if (http::HoldsControlByte(controls.referer)) return "Referer";
  if (http::HoldsControlByte(controls.referer_world)) return "RefererWorld";
  return {};
}

void ApplyReferer(http::TKestHTTP& http, const WebControls& controls) {
  if (!controls.use_referer) return;
  http.HeaderInfo.Referer = controls.referer + controls.referer_world;
  http.SetHeaderValue("User-Agent", controls.user_agent);
}

namespace {
const char* const kCommandNames[] = {"Get",  "Options", "Head", "Post",   "Put",   "Patch",  "Copy",
                                     "Move", "Delete",  "Link", "UnLink", "Trace", "Wrapped"};
std::string CommandName(http::CmdType cmd) {
  const int i = static_cast<int>(cmd);
  return i >= 0 && i <= http::kCmdWrapped ? kCommandNames[i] : "Unknown";
}
}  // namespace

std::string SuccessText(http::CmdType cmd) { return CommandName(cmd) + " Success"; }
std::string FailureText(http::CmdType cmd) { return CommandName(cmd) + " Failed"; }

std::string ReceivedText(const http::TKestHTTP& http) {
  return std::to_string(http.BytesRecvd) + " bytes of " + std::to_string(http.BytesTotal) +
         " received";
}

std::string SentText(const http::TKestHTTP& http) {
  return std::to_string(http.BytesSent) + " bytes of " + std::to_string(http.BytesTotal) + " sent";
}

}  // namespace web
