// The terminal's RunHost: switches from the command line, the log on a file or standard error,
// an optional progress line on a terminal, and Ctrl-C as the stop button.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "boxtally/driver/run_host.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/http/kest_http.h"
#include "boxtally/web/download_pool.h"
#include "boxtally/web/web_fetch.h"
#include "platform/text_file.h"

namespace cli {

struct CliSettings {
  std::string log_path;  // empty: the log goes to standard error
  bool new_log = false;  // create the log anew instead of appending
  bool errors_only = true;
  bool skip_huge_objects = true;
  bool handle_facers = false;
  bool non_centered = false;
  bool over_sized = false;
  bool cob_debug = false;
  bool quiet = false;
  int converter_time_limit = driver::kDefaultConverterTimeLimit;              // seconds; 0: none
  int max_entry_mib = static_cast<int>(driver::kDefaultMaxEntryBytes >> 20);  // --max-entry-size
  int jobs = 0;      // models measured at once; 0: one per core
  bool web = false;  // --web URL: the models come from the list file MODELS
  int downloads = static_cast<int>(web::kDefaultDownloads);  // --downloads N
  web::WebControls web_controls;
  std::string thumbnail_dir;  // --thumbnails DIR; empty: no pictures
  int thumbnail_size = driver::kDefaultThumbnailSize;  // --thumbnail-size N
  std::string textures;  // --textures DIR|URL; empty: the object path's own
};

// Also the web fetch's host in web mode, and the receiver of its HTTP component's events: they
// show on the progress line. There are no dialogs: a host name that cannot be found fails its
// request, and a failed connection is logged by the web fetch's error line.
class CliHost : public driver::RunHost, public web::WebHost, public http::HttpEvents {
 public:
  explicit CliHost(const CliSettings& settings);
  ~CliHost() override;

  // Opens the log; false when the log file cannot be opened (the run must not start then),
  // with `*locked` true when --new-log found another run writing it.
  bool OpenLog(bool* locked);
  // True when the log goes to standard error (no --log).
  bool LogOnStandardError() const { return settings_.log_path.empty(); }
  // Flushes the log; false when a message could not be written.
  bool LogIntact();

  // No progress line when the registry lines go to the same terminal: the two would mix.
  void SetRegistryOnStandardOutput(bool on_stdout);
  // The registry file of the run (empty: standard output), which no download may replace.
  void SetRegistryFile(const std::string& path) { settings_.web_controls.registry_file = path; }

  platform::TextFile& Log() override { return *log_; }
  bool ErrorsOnly() const override { return settings_.errors_only; }
  bool CobDebug() const override { return settings_.cob_debug; }
  bool SkipHugeObjects() const override { return settings_.skip_huge_objects; }
  bool HandleFacers() const override { return settings_.handle_facers; }
  bool NonCentered() const override { return settings_.non_centered; }
  bool OverSized() const override { return settings_.over_sized; }
  bool StopRequested() const override;
  void ClearStopRequest() override;
  std::string ProgramDirectory() const override;
  std::string WorkDirectory() const override;
  int ConverterTimeLimitSeconds() const override { return settings_.converter_time_limit; }
  std::uint64_t MaxEntryBytes() const override {
    return static_cast<std::uint64_t>(settings_.max_entry_mib) << 20;
  }
  std::size_t Jobs() const override {
    return settings_.jobs > 0 ? static_cast<std::size_t>(settings_.jobs) : driver::DefaultJobs();
  }
  void SetStatusText(int panel, const std::string& text) override;
  // Ctrl-C, SIGTERM and SIGHUP set the stop request from their handlers; here a request in
  // flight is abandoned for it, so no network wait outlasts a poll step.
  void ProcessMessages() override;
  void ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) override;
  // Web mode counts the list's entries done, those that gave no model too.
  void ModelCommitted(const driver::ModelOutcome& outcome) override;
  bool GetFromWeb() const override { return settings_.web; }
  web::WebHost* WebFetch() override { return this; }
  std::string TexturesFolder() const override { return settings_.textures; }
  driver::ThumbnailSet* Thumbnails() override {
    return settings_.thumbnail_dir.empty() ? nullptr : &thumbnails_;
  }

  // WebHost.
  web::WebControls Controls() const override { return settings_.web_controls; }
  http::TKestHTTP& Http() override { return http_; }
  web::SeenNames& Seen() override { return seen_; }
  web::ListFile& List() override { return list_; }
  std::size_t Downloads() const override { return static_cast<std::size_t>(settings_.downloads); }
  void ShowStatusNow(int panel, const std::string& text) override;

  // HttpEvents: status texts for the progress line.
  void OnConnect() override { ShowStatusNow(0, "Connected"); }
  void OnDisconnect() override { ShowStatusNow(0, "Disconnected"); }
  void OnHostResolved() override { ShowStatusNow(0, "Host Resolved"); }
  void OnStatus(const std::string& status) override { ShowStatusNow(0, status); }
  // Counts come with every chunk: drawn at most every 100 ms.
  void OnPacketRecvd() override { ShowEvent(web::ReceivedText(http_), false); }
  void OnPacketSent() override { ShowEvent(web::SentText(http_), false); }
  void OnSuccess(http::CmdType cmd) override { ShowStatusNow(0, web::SuccessText(cmd)); }
  void OnFailure(http::CmdType cmd) override { ShowStatusNow(0, web::FailureText(cmd)); }
  void OnAboutToSend() override { web::ApplyReferer(http_, settings_.web_controls); }
  void OnRedirect(bool& handled) override;

  // Erases the progress line, if one is shown, so other text starts on a clean line.
  void ClearProgressLine();
  // A log text on standard error that ended without a line end ("File %s doesn't exist %s"):
  // the progress line, or the end of the program, must not write over it.
  void NoteLogLineOpen(bool open) { log_line_open_ = open; }
  void EndOpenLogLine();

  // The termination signal that stopped the run (SIGTERM, SIGHUP), or 0.
  static int TerminationSignal();

 private:
  CliSettings settings_;
  platform::TextFile* log_ = nullptr;
  bool progress_enabled_ = false;
  bool progress_shown_ = false;
  bool log_line_open_ = false;
  std::chrono::steady_clock::time_point last_progress_{};
  // Web mode: the list's entries done so far and in all (0: not known yet), and the two status
  // panels' texts.
  std::size_t web_done_ = 0;
  std::size_t web_total_ = 0;
  std::string panels_[2];
  web::SeenNames seen_;  // for one run
  web::ListFile list_;
  http::TKestHTTP http_{this};
  driver::ThumbnailSet thumbnails_;

  void DrawWebLine(bool force);
  void ShowEvent(const std::string& text, bool force);
};

}  // namespace cli
