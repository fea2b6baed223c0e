// A RunHost that is also the web fetch's host: web controls as plain fields, a real HTTP
// component whose events are recorded, and hooks into its message pump.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "boxtally/http/kest_http.h"
#include "boxtally/http/recording_events.h"
#include "boxtally/web/web_fetch.h"
#include "support/fake_host.h"

namespace testing_support {

class FakeWebHost : public FakeHost, public web::WebHost {
 public:
  FakeWebHost(const std::string& log_path, const std::string& work_dir)
      : FakeHost(log_path, work_dir) {
    events.on_about_to_send = [this] { web::ApplyReferer(http, controls); };
    http.SetMessagePump([this] {
      if (on_pump) on_pump();
    });
  }

  // Both bases ask for these.
  platform::TextFile& Log() override { return FakeHost::Log(); }
  bool StopRequested() const override { return stop || FakeHost::StopRequested(); }

  bool GetFromWeb() const override { return web_mode; }
  web::WebHost* WebFetch() override { return this; }
  web::WebControls Controls() const override { return controls; }
  http::TKestHTTP& Http() override { return http; }
  web::SeenNames& Seen() override { return seen; }
  web::ListFile& List() override { return list; }
  void ShowStatusNow(int panel, const std::string& text) override { SetStatusText(panel, text); }
  std::int64_t MaxDownloadBytes() const override { return max_download_bytes; }
  int RequestTimeOutMs() const override { return timeout_ms; }

  bool web_mode = true;
  bool stop = false;
  web::WebControls controls;
  web::SeenNames seen;
  web::ListFile list;
  std::int64_t max_download_bytes = web::kMaxDownloadBytes;
  int timeout_ms = 3000;
  std::function<void()> on_pump;  // called between the component's poll steps
  RecordingEvents events;
  http::TKestHTTP http{&events};
};

}  // namespace testing_support
