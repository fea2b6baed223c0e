// The web fetch: in web mode the models of a run come one by one from a list file. Each name
// gives an archive on the web object path, which is checked with a HEAD request, downloaded
// with a GET request beside the list file, and handed to the driver as a local path. It runs on
// the host's thread, between models, through the host's one HTTP component.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "boxtally/http/kest_http.h"
#include "boxtally/http/proxy.h"
#include "boxtally/web/model_names.h"
#include "boxtally/web/validators.h"
#include "platform/text_file.h"

namespace web {

inline constexpr int kRequestTimeOutMs = 30000;
inline constexpr int kGetReportLevel = 4;
inline constexpr int kHeadReportLevel = 2;
inline constexpr const char* kHeaderPlaceholder = "syntax$$$.hdr";  // Header until a reply comes
// A download that passes this many bytes is stopped and dropped: a server must not be able to
// fill the disk. Far above any model archive.
inline constexpr std::int64_t kMaxDownloadBytes = std::int64_t{1} << 30;
inline constexpr int kGetException = -1111;  // the GET raised an error: no reply to judge
// The failed-request log line quotes at most this much of the reply header: a server must not be
// able to fill the log.
inline constexpr std::size_t kMaxQuotedHeader = 1024;  // bytes

// The settings' defaults for the user agent and the referer a world's object server may ask for.
// The referer names no real service: world builders who need one set their own.
inline constexpr const char* kDefaultUserAgent = "Gridmere/3.60 (560)";
inline constexpr const char* kDefaultReferer = "gm://localhost:5670/";

// The controls the web fetch reads, at the moment it needs them.
struct WebControls {
  std::string url;           // UrlEdit: the web object path
  std::string list_file;     // ModelsEdit: the list file
  bool propdump = false;     // ItIsThePropfile: the list file is a propdump
  bool reuse_web = false;    // ReuseWeb: a model already beside the list is used as it is
  bool connect_fix = false;  // ConnectFix: no HEAD request before the GET
  bool use_referer = false;  // UseReferer
  std::string user_agent = kDefaultUserAgent;  // UserAgentEdit
  std::string referer = kDefaultReferer;       // RefererEdit
  std::string referer_world;                   // RefererWorldEdit
  std::string ca_file;  // one more file of trusted authorities for https (CaFile, --ca-file)
  // The proxy of every request (Proxy, --proxy); nullopt: the environment's proxy variables;
  // empty: none at all.
  std::optional<std::string> proxy;
  // The run's own files, which no download may replace; empty: none (standard error or output).
  std::string log_file;
  std::string registry_file;
};

// The first of the referer's three texts that holds a control byte (a line break would start
// another request line), as "UserAgent", "Referer" or "RefererWorld"; empty when none does.
std::string RefererTextWithControl(const WebControls& controls);

// The proxies the controls ask for: the proxy named, or the environment's.
http::ProxyRules ProxyRulesOf(const WebControls& controls);

// What keeps a web run from starting, checked before it does: a file of authorities without a
// certificate in it ("cannot read trusted certificates from FILE: ..."), or a proxy that cannot
// be used ("--proxy: socks5://h: only http:// proxies are supported"). Empty when nothing does.
std::string CaFileProblem(const WebControls& controls);
std::string ProxyProblem(const WebControls& controls);

// The list stream slot: the open list file of a web run, how it was opened, and the records of
// earlier downloads beside it (saved once the run's downloads are done with them).
struct ListFile {
  std::unique_ptr<platform::InStream> stream;
  bool propdump = false;
  std::shared_ptr<ValidatorStore> validators;
};

// The model names already taken from propdump files, compared without regard to case. It lives
// as long as its owner (the window: across runs), so a name is fetched once.
struct SeenNames {
  std::unordered_set<std::string> lowered;
};

// Adds `name`; false when it was there already (in any letter case).
bool AddSeenName(SeenNames& seen, const std::string& name);

// What became of a list entry that gave no model, for the run's results.
struct EntryEnd {
  enum class Kind {
    kRefused,        // refused before any request (see `refusal`)
    kMissing,        // the server answered 404 or 410
    kNotDownloaded,  // another answer, or no answer (see `cause`)
    kStopped,        // the stop request abandoned it
  };
  enum class Refusal { kNone, kLineTooLong, kNotPlain, kTooLong, kFileNameTooLong, kRunFile };
  enum class Cause {
    kNone,
    kStatus,  // an answer other than 200 (`status`)
    kHostNotFound,
    kConnection,  // refused, reset, unreachable
    kTimedOut,
    kCertificate,       // the server's certificate was refused
    kSecureConnection,  // the TLS handshake failed otherwise
    kRedirection,       // a redirection it would not follow
    kReply,             // a reply it would not take
    kIncomplete,        // the body ended before its length
    kTooLarge,          // the body passed the download bound
    kNotSaved,          // no download file, or it could not take the model's name
    kProxyRefused,      // the proxy refused the request or its tunnel (407, 403, 502, ...)
    kOther,
  };
  Kind kind = Kind::kNotDownloaded;
  Refusal refusal = Refusal::kNone;
  Cause cause = Cause::kNone;
  std::string name;  // the entry's model name (a refused long line: its start)
  std::string url;   // empty for refused entries
  int status = 0;    // the HTTP status of the answer; 0 when none came
  std::string why;   // the particulars in one line, as the log words them
};

// What the web fetch reads from, and reports to, its host (the window or the terminal).
class WebHost {
 public:
  virtual ~WebHost() = default;
  virtual platform::TextFile& Log() = 0;  // the run's open log
  virtual WebControls Controls() const = 0;
  virtual http::TKestHTTP& Http() = 0;  // the host's one HTTP component, events bound
  virtual SeenNames& Seen() = 0;
  virtual ListFile& List() = 0;
  // The stop request of the run: between entries the fetch gives up the search for a model.
  virtual bool StopRequested() const = 0;
  // A status panel text shown at once (the status bar repainted before the network waits).
  virtual void ShowStatusNow(int panel, const std::string& text) = 0;
  // The size bound of one download, in bytes, and the time-out of each request's steps.
  virtual std::int64_t MaxDownloadBytes() const { return kMaxDownloadBytes; }
  virtual int RequestTimeOutMs() const { return kRequestTimeOutMs; }
  // How many downloads may run at once; 1: one after another through Http().
  virtual std::size_t Downloads() const { return 1; }
  // The dialogs of requests that run on other threads, asked on the host's thread: a connection
  // that failed (the window's message box), and a host name that cannot be found (its input box:
  // another name, or nullopt for Cancel). A host without dialogs shows and answers nothing.
  virtual void ShowConnectionFailed() {}
  virtual std::optional<std::string> AskForOtherHost() { return std::nullopt; }
  // A list entry ended without a model, right after the log lines that say why.
  virtual void EntryEnded(const EntryEnd& end) { (void)end; }
};

// The dialogs of failed requests come once per run and host name (compared without regard to
// case): the first failed connection to a host is shown, and the first answer about a host name
// that cannot be found holds for every later request to it. One per run, on the host's thread.
class HostPrompts {
 public:
  // Shows host.ShowConnectionFailed() unless this run has shown it for `host_name`.
  void ConnectionFailed(WebHost& host, const std::string& host_name);
  // The other host name for `host_name` (nullopt: Cancel), asked of the host the first time.
  std::optional<std::string> OtherHost(WebHost& host, const std::string& host_name);

 private:
  std::vector<std::string> failures_shown_;
  std::vector<std::pair<std::string, std::optional<std::string>>> other_hosts_;
};

// Opens the list file of Controls().list_file into List(): byte for byte for a propdump, as text
// otherwise, with the records of earlier downloads beside it. False when it cannot be opened (or
// is no regular file).
bool OpenListFile(WebHost& host);
// Closes the list (the records of this run's downloads are saved once no download still needs
// them) and the connection the host's component kept. Accepts a closed slot.
void CloseListFile(WebHost& host);

enum class NextResult : int {
  kModel = 0,     // `path` holds the local path of a model, checked and downloaded (or reused)
  kListEnd = -1,  // the list is exhausted; the list file is closed
  kStopped = 1,   // the stop request came before another model was found; the list stays open
};

// One list entry that passed the checks, with the controls as they were when it was read.
struct WebEntry {
  std::string name;  // the model name the list gives
  ModelPlaces places;
  std::string line;  // the trimmed list line, for "File %s doesn't exist %s"
  WebControls controls;
  std::shared_ptr<ValidatorStore> validators;  // the list's records; nullptr: none kept
};

enum class EntryResult { kEntry, kListEnd, kStopped };

// Reads list entries until one names a model that may be fetched. Entries refused on the way are
// logged (a line too long, a name that is no plain file name, too long, or one of the run's own
// files) or skipped silently (comments, short lines, names seen before). kListEnd closes the
// list; kStopped: the stop request came first.
EntryResult ReadWebEntry(WebHost& host, WebEntry& entry);

// Checks (HEAD, unless ConnectFix) and downloads (GET) the entry's model, or finds it beside the
// list (ReuseWeb). A model already beside the list from an earlier download is asked for with a
// conditional GET instead (no HEAD): 304 keeps it, 200 replaces it; such a GET in the HEAD's
// place is logged as the HEAD would be. True when the model is ready at its local path; every
// failure is logged, and told in `*end` (may be nullptr).
bool FetchWebModel(WebHost& host, const WebEntry& entry, EntryEnd* end = nullptr);

// ReadWebEntry and FetchWebModel until an entry gives a model; each entry that gives none is
// told to host.EntryEnded. `entry` (may be nullptr) receives the entry of the model.
NextResult NextWebModel(WebHost& host, std::string& path, WebEntry* entry = nullptr);

// The names of the entries a run reads from `list` on (those it hands out or refuses), by the
// rules of ReadWebEntry but without a log line, a request or a change to `seen`.
std::vector<std::string> ListEntryNames(platform::InStream& list, bool propdump, SeenNames seen);
// How many entries the host's list file gives a run, read apart from the run's own stream.
std::size_t CountListEntries(WebHost& host);

// Whether the object path holds `url`: a HEAD request answered with 200. A request that fails
// before any reply answers false.
bool CheckModelUrl(WebHost& host, const std::string& url);

// With UseReferer: the referer (RefererEdit followed by RefererWorldEdit) for the requests to
// come, and the "User-Agent" line of the request being composed. Nothing without it. Hosts call
// it from their OnAboutToSend handler.
void ApplyReferer(http::TKestHTTP& http, const WebControls& controls);

// The texts the HTTP component's events show in status panel 0.
std::string SuccessText(http::CmdType cmd);             // "Get Success", "Head Success", ...
std::string FailureText(http::CmdType cmd);             // "Get Failed", ...
std::string ReceivedText(const http::TKestHTTP& http);  // "N bytes of M received"
std::string SentText(const http::TKestHTTP& http);      // "N bytes of M sent"

}  // namespace web
