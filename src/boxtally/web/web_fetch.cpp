#include "boxtally/web/web_fetch.h"

#include <algorithm>
#include <cctype>

#include "boxtally/http/socket_errors.h"
#include "boxtally/web/list_reader.h"
#include "boxtally/web/model_names.h"
#include "platform/file_search.h"
#include "platform/file_time.h"
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

// A list line too long to be an entry is named by its start, as its log line quotes it.
std::string LongLineName(const std::string& text) { return text.substr(0, 40) + "..."; }

void Refused(WebHost& host, EntryEnd::Refusal refusal, const std::string& name,
             const char* own_file = nullptr) {
  EntryEnd end;
  end.kind = EntryEnd::Kind::kRefused;
  end.refusal = refusal;
  end.name = name;
  if (own_file != nullptr) end.why = own_file;
  host.EntryEnded(end);
}

// Which of the run's own files `path` would replace, or nullptr.
const char* OwnFileAt(const WebControls& controls, const std::string& path) {
  if (platform::SameFile(path, controls.list_file)) return "list file";
  if (platform::SameFile(path, controls.log_file)) return "log";
  if (platform::SameFile(path, controls.registry_file)) return "registry";
  return nullptr;
}

// Why a request that got no usable answer failed, from the kind the client gives it.
void ClassifyFailure(const http::TKestHTTP& http, const std::string& error, EntryEnd& end) {
  using Cause = EntryEnd::Cause;
  using Kind = http::FailureKind;
  end.why = !http.Refusal.empty() ? http.Refusal : error;
  switch (http.Failure) {
    case Kind::kCertificateRefused:
      end.cause = Cause::kCertificate;
      end.why = http.SecureFailure;
      break;
    case Kind::kSecureConnectionFailed:
      end.cause = Cause::kSecureConnection;
      if (!http.SecureFailure.empty()) end.why = http.SecureFailure;
      break;
    case Kind::kRedirectionRefused:
      end.cause = Cause::kRedirection;
      break;
    case Kind::kReplyRefused:
      end.cause = Cause::kReply;
      break;
    case Kind::kIncompleteBody:
      end.cause = Cause::kIncomplete;
      break;
    case Kind::kBodyTooLarge:
      end.cause = Cause::kTooLarge;
      break;
    case Kind::kTimedOut:
      end.cause = Cause::kTimedOut;
      break;
    case Kind::kHostNotFound:
      end.cause = Cause::kHostNotFound;
      break;
    case Kind::kProxyRefused:
      end.cause = Cause::kProxyRefused;
      break;
    case Kind::kConnectionFailed:
      end.cause = Cause::kConnection;
      if (http.LastErrorNo != 0 && http.Refusal.empty()) {
        end.why = http::SocketErrorText(http.LastErrorNo);
      }
      break;
    default:
      end.cause = Cause::kOther;
      break;
  }
}

void AnswerStatus(int status, EntryEnd& end) {
  end.status = status;
  end.kind =
      status == 404 || status == 410 ? EntryEnd::Kind::kMissing : EntryEnd::Kind::kNotDownloaded;
  end.cause = EntryEnd::Cause::kStatus;
  end.why = "HTTP status " + std::to_string(status);
}

// The conditions of a GET for a file already beside the list (see ConditionsFor).
using Conditions = RequestConditions;

Conditions ConditionsOf(const WebEntry& entry) {
  return ConditionsFor(entry.validators.get(), entry.places.file_name, entry.places.url,
                       entry.places.local_path);
}

// Records what the server said of the file now beside the list.
void RecordValidators(const WebEntry& entry, const http::TKestHTTP& http) {
  RecordDownload(entry.validators.get(), entry.places.file_name, entry.places.url,
                 entry.places.local_path, http.ReplyEtag, http.ReplyLastModified);
}

// A check that found no model: "File %s doesn't exist %s", after the refusal of its request.
// Nothing is logged for a check cut short by the stop request.
void CheckFoundNoModel(WebHost& host, const WebEntry& entry, EntryEnd& end) {
  http::TKestHTTP& http = host.Http();
  LogRefusal(host.Log(), http);
  if (host.StopRequested()) {
    end.kind = EntryEnd::Kind::kStopped;
    return;
  }
  platform::LogF(host.Log(), "File %s doesn't exist %s\n", entry.places.url.c_str(),
                 entry.line.c_str());
  // A proxy's own reply (407) is the proxy's refusal, not the server's answer.
  if (http.ReplyNumber != 0 && http.Failure != http::FailureKind::kProxyRefused) {
    AnswerStatus(http.ReplyNumber, end);
  } else {
    ClassifyFailure(http, http.Refusal, end);
  }
}

// The GET of one model into a fresh file beside the list, renamed into place only when the
// reply was 200 and the body is whole (a 304 to a conditional GET keeps the file there).
// `for_check`: the GET stands in for the HEAD, and a reply that gives no model is logged as the
// HEAD's would be. Logs every failure, tells it in `end`; a failure leaves no file behind.
bool Download(WebHost& host, const WebEntry& entry, const Conditions& conditions, bool for_check,
              EntryEnd& end) {
  platform::TextFile& log = host.Log();
  const WebControls& controls = entry.controls;
  const ModelPlaces& places = entry.places;
  const std::string& url = places.url;
  // A signal that ends the program at once still takes the file along, once it is registered:
  // it waits for that.
  platform::HoldImmediateEnd();
  const std::string partial = platform::CreateUniqueFile(
      places.local_path.substr(0, platform::DirectoryPrefixLength(places.local_path)) +
      kPartialPrefix);
  struct RemovedOnSignal {
    int slot;
    ~RemovedOnSignal() { platform::UnregisterRemoveOnSignal(slot); }
  } on_signal{partial.empty() ? -1 : platform::RegisterRemoveOnSignal(partial)};
  platform::ReleaseImmediateEnd();
  if (partial.empty()) {
    platform::LogF(log, "Unable to create a download file for %s\n", places.local_path.c_str());
    end.cause = EntryEnd::Cause::kNotSaved;
    end.why = "no download file beside the list";
    return false;
  }
  http::TKestHTTP& http = host.Http();
  http.TimeOut = host.RequestTimeOutMs();
  http.Header = kHeaderPlaceholder;
  http.Body = partial;
  http.InputFileMode = true;
  http.OutputFileMode = false;
  http.ReportLevel = kGetReportLevel;
  http.MaxBodyFileBytes = host.MaxDownloadBytes();
  http.CaFile = controls.ca_file;
  http.Proxies = ProxyRulesOf(controls);
  // The referer goes with this GET too, not only from the next request on (with ConnectFix no
  // HEAD would have set it before the first one).
  ApplyReferer(http, controls);
  // Without a HEAD of its own before it, the GET's "previous reply" would be another entry's
  // (another connection's, with several downloads): it starts from none.
  if (controls.connect_fix || for_check) http.ReplyNumber = 0;
  http.HeaderInfo.IfModifiedSince = conditions.if_modified_since;
  http.HeaderInfo.IfNoneMatch = conditions.if_none_match;
  const http::SockResult got = http.Get(url);
  http.HeaderInfo.IfModifiedSince.clear();
  http.HeaderInfo.IfNoneMatch.clear();
  const int result = got.ok ? http.ReplyNumber - 200 : kGetException;
  const bool not_modified = got.ok && http.ReplyNumber == 304;
  // What a HEAD in its place would have answered: a model is there once a 200 (or the 304) came,
  // also when its body then failed.
  const bool model_there = not_modified || http.ReplyNumber == 200;
  bool kept = false;
  if (for_check && !model_there) {
    CheckFoundNoModel(host, entry, end);
  } else if (result == kGetException) {
    LogRefusal(log, http);
    platform::LogF(log,
                   "Error exception in getting %s  hdr=%s Rep=%d %s errno=%d sent=%lld "
                   "recvd=%lld\n",
                   url.c_str(), http.Header.substr(0, kMaxQuotedHeader).c_str(), http.ReplyNumber,
                   http.TimedOut ? "timeout" : " ", http.LastErrorNo, AsLong(http.BytesSent),
                   AsLong(http.BytesRecvd));
    ClassifyFailure(http, got.error, end);
  } else if (not_modified) {
    RefreshEtag(entry.validators.get(), entry.places.file_name, http.ReplyEtag);
    kept = true;
  } else if (result != 0) {
    platform::LogF(log, "Error (%d) in getting %s\n", result, url.c_str());
    AnswerStatus(http.ReplyNumber, end);
  } else if (http.BytesTotal > 0 && http.BytesRecvd != http.BytesTotal) {
    // The server closed the connection before (or after) the length it announced.
    platform::LogF(log, "Incomplete download of %s: %lld of %lld bytes\n", url.c_str(),
                   AsLong(http.BytesRecvd), AsLong(http.BytesTotal));
    end.cause = EntryEnd::Cause::kIncomplete;
    end.why = std::to_string(http.BytesRecvd) + " of " + std::to_string(http.BytesTotal) + " bytes";
  } else {
    // The file carries the server's time, which the next run's conditional GET sends back.
    if (http.ReplyLastModified >= 0) platform::SetModificationTime(partial, http.ReplyLastModified);
    if (!platform::RenameFile(partial, places.local_path)) {
      platform::LogF(log, "Unable to rename %s to %s\n", partial.c_str(),
                     places.local_path.c_str());
      end.cause = EntryEnd::Cause::kNotSaved;
      end.why = "cannot rename the download to " + places.local_path;
    } else {
      RecordValidators(entry, http);
      return true;
    }
  }
  platform::RemoveFile(partial);
  return kept;
}

bool Readable(const std::string& path) {
  return platform::IsRegularFile(path) && platform::OpenInStream(path, false) != nullptr;
}

}  // namespace

bool FetchWebModel(WebHost& host, const WebEntry& entry, EntryEnd* end) {
  const WebControls& controls = entry.controls;
  const ModelPlaces& places = entry.places;
  EntryEnd ignored;
  if (end == nullptr) end = &ignored;
  *end = EntryEnd{};
  end->name = entry.name;
  end->url = places.url;
  if (controls.reuse_web && Readable(places.local_path)) return true;
  host.ShowStatusNow(1, "Checking " + places.url);
  // A conditional GET answers what the HEAD would ask, and more: it takes the HEAD's place.
  const Conditions conditions = ConditionsOf(entry);
  const bool for_check = !controls.connect_fix && conditions.Any();
  if (!controls.connect_fix && !for_check && !CheckModelUrl(host, places.url)) {
    CheckFoundNoModel(host, entry, *end);
    return false;
  }
  host.ShowStatusNow(1, "Getting " + places.url);
  if (Download(host, entry, conditions, for_check, *end)) return true;
  if (host.StopRequested() && end->cause != EntryEnd::Cause::kStatus) {
    end->kind = EntryEnd::Kind::kStopped;
  }
  return false;
}

namespace {
std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

void HostPrompts::ConnectionFailed(WebHost& host, const std::string& host_name) {
  const std::string name = Lowered(host_name);
  if (std::find(failures_shown_.begin(), failures_shown_.end(), name) != failures_shown_.end()) {
    return;
  }
  failures_shown_.push_back(name);
  host.ShowConnectionFailed();
}

std::optional<std::string> HostPrompts::OtherHost(WebHost& host, const std::string& host_name) {
  const std::string name = Lowered(host_name);
  for (const auto& [asked, answer] : other_hosts_) {
    if (asked == name) return answer;
  }
  other_hosts_.emplace_back(name, host.AskForOtherHost());
  return other_hosts_.back().second;
}

bool AddSeenName(SeenNames& seen, const std::string& name) {
  return seen.lowered.insert(Lowered(name)).second;
}

bool OpenListFile(WebHost& host) {
  const WebControls controls = host.Controls();
  ListFile& list = host.List();
  list.stream.reset();
  list.validators.reset();
  if (!platform::IsRegularFile(controls.list_file)) return false;
  list.stream = platform::OpenInStream(controls.list_file, /*text_mode=*/!controls.propdump);
  list.propdump = controls.propdump;
  if (!list.stream) return false;
  std::string refusal;
  list.validators = LoadValidatorStore(controls.list_file, &refusal);
  if (!refusal.empty()) {
    platform::LogF(host.Log(), "Ignored the records file %s: %s; every model is downloaded in full\n",
                   list.validators->path.c_str(), refusal.c_str());
  }
  return true;
}

void CloseListFile(WebHost& host) {
  ListFile& list = host.List();
  list.stream.reset();
  list.validators.reset();  // saved once the downloads still running are done with it too
  // A connection kept for a next request that will not come in this run.
  if (host.Http().Connected()) host.Http().Disconnect();
}

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
      Refused(host, EntryEnd::Refusal::kLineTooLong, LongLineName(text));
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
      Refused(host, EntryEnd::Refusal::kNotPlain, name);
      continue;
    }
    if (formed == PlacesResult::kTooLong) {
      platform::LogF(log, "Refused model name %s: its URL or local path is too long\n",
                     name.c_str());
      Refused(host, EntryEnd::Refusal::kTooLong, name);
      continue;
    }
    if (formed == PlacesResult::kFileNameTooLong) {
      platform::LogF(log, "Refused model name %s: its file name is longer than %zu bytes\n",
                     name.c_str(), kMaxFileName);
      Refused(host, EntryEnd::Refusal::kFileNameTooLong, name);
      continue;
    }
    if (const char* own = OwnFileAt(controls, places.local_path)) {
      platform::LogF(log, "Refused model name %s: %s would replace the run's %s\n", name.c_str(),
                     places.local_path.c_str(), own);
      Refused(host, EntryEnd::Refusal::kRunFile, name, own);
      continue;
    }
    // A last entry without a line end is used like any other: the list ends after it.
    entry.name = name;
    entry.places = std::move(places);
    entry.line = line;
    entry.controls = controls;
    entry.validators = list.validators;
    return EntryResult::kEntry;
  }
  CloseListFile(host);
  return EntryResult::kListEnd;
}

NextResult NextWebModel(WebHost& host, std::string& path, WebEntry* found) {
  for (;;) {
    WebEntry entry;
    const EntryResult read = ReadWebEntry(host, entry);
    if (read == EntryResult::kStopped) return NextResult::kStopped;
    if (read == EntryResult::kListEnd) return NextResult::kListEnd;
    EntryEnd end;
    if (FetchWebModel(host, entry, &end)) {
      path = entry.places.local_path;
      if (found != nullptr) *found = std::move(entry);
      return NextResult::kModel;
    }
    host.EntryEnded(end);
  }
}

namespace {
// The entry's name as ReadWebEntry takes it from a list entry's text; empty: no entry.
std::string EntryName(const std::string& text) { return ModelNameOfLine(TrimListLine(text)); }
}  // namespace

std::vector<std::string> ListEntryNames(platform::InStream& list, bool propdump, SeenNames seen) {
  std::vector<std::string> names;
  for (;;) {
    std::string text;
    const EntryRead read = propdump ? ReadPropdumpRecord(list, text) : ReadListLine(list, text);
    if (read == EntryRead::kEnd) return names;
    if (read == EntryRead::kDropped) continue;
    if (read == EntryRead::kTooLong) {
      names.push_back(LongLineName(text));
      continue;
    }
    if (propdump && !AddSeenName(seen, text)) continue;
    std::string name = EntryName(text);
    if (!name.empty()) names.push_back(std::move(name));
  }
}

std::size_t CountListEntries(WebHost& host) {
  const WebControls controls = host.Controls();
  if (!platform::IsRegularFile(controls.list_file)) return 0;
  auto stream = platform::OpenInStream(controls.list_file, /*text_mode=*/!controls.propdump);
  if (!stream) return 0;
  return ListEntryNames(*stream, controls.propdump, host.Seen()).size();
}

bool CheckModelUrl(WebHost& host, const std::string& url) {
  http::TKestHTTP& http = host.Http();
  http.TimeOut = host.RequestTimeOutMs();
  http.InputFileMode = false;
  http.OutputFileMode = false;
  http.ReportLevel = kHeadReportLevel;
  const WebControls controls = host.Controls();
  http.CaFile = controls.ca_file;
  http.Proxies = ProxyRulesOf(controls);
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

http::ProxyRules ProxyRulesOf(const WebControls& controls) {
  if (!controls.proxy) return http::ProxyRulesFromEnvironment();
  return http::ProxyRulesForUrl(*controls.proxy, "--proxy");
}

std::string CaFileProblem(const WebControls& controls) {
  if (controls.ca_file.empty()) return {};
  std::string error;
  return http::SharedTlsContext(controls.ca_file, error) == nullptr ? error : std::string();
}

std::string ProxyProblem(const WebControls& controls) {
  return http::CheckProxyRules(ProxyRulesOf(controls));
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
