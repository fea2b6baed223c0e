// What the main window does at each event of its HTTP component during a web run: the event's
// text in panel 0 of the status bar, the dialogs of a connection that fails and of a host name
// that cannot be found (once per run and host name), and the referer before each request.
#pragma once

#include <functional>
#include <string>

#include "boxtally/http/kest_http.h"
#include "boxtally/web/web_fetch.h"

namespace ui {

class WindowHttpEvents : public http::HttpEvents {
 public:
  // `host` gives the component, the controls and the dialogs, and outlives these handlers;
  // `show_status` puts a text into panel 0.
  WindowHttpEvents(web::WebHost& host, std::function<void(const std::string&)> show_status);

  // A new run: the dialogs of failed requests come again.
  void StartRun() { prompts_ = web::HostPrompts(); }

  void OnConnect() override;
  void OnConnectionFailed() override;
  void OnDisconnect() override;
  void OnFailure(http::CmdType cmd) override;
  void OnHostResolved() override;
  // The user may name another host: the request goes there (`handled`), or fails on Cancel.
  void OnInvalidHost(bool& handled) override;
  void OnPacketRecvd() override;
  void OnPacketSent() override;
  void OnStatus(const std::string& status) override;
  void OnSuccess(http::CmdType cmd) override;
  void OnAboutToSend() override;
  void OnRedirect(bool& handled) override;

 private:
  web::WebHost& host_;
  std::function<void(const std::string&)> show_status_;
  web::HostPrompts prompts_;  // the failed requests' dialogs of the run in progress
};

}  // namespace ui
