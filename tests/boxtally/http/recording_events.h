// An event receiver for the HTTP tests: records every event as a short text, in order, and lets
// a test hook in where a handler may act (answer OnInvalidHost, handle OnRedirect, Abort).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "boxtally/http/kest_http.h"

namespace testing_support {

class RecordingEvents : public http::HttpEvents {
 public:
  void OnConnect() override { events.push_back("Connect"); }
  void OnDisconnect() override { events.push_back("Disconnect"); }
  void OnHostResolved() override { events.push_back("HostResolved"); }
  void OnInvalidHost(bool& handled) override {
    events.push_back("InvalidHost");
    if (on_invalid_host) handled = on_invalid_host();
  }
  void OnStatus(const std::string& status) override { statuses.push_back(status); }
  void OnConnectionFailed() override { events.push_back("ConnectionFailed"); }
  void OnPacketRecvd() override {
    events.push_back("PacketRecvd");
    if (on_packet_recvd) on_packet_recvd();
  }
  void OnPacketSent() override { events.push_back("PacketSent"); }
  void OnAboutToSend() override {
    events.push_back("AboutToSend");
    if (on_about_to_send) on_about_to_send();
  }
  void OnSuccess(http::CmdType cmd) override { events.push_back("Success" + std::to_string(cmd)); }
  void OnFailure(http::CmdType cmd) override { events.push_back("Failure" + std::to_string(cmd)); }
  void OnRedirect(bool& handled) override {
    events.push_back("Redirect");
    handled = handle_redirect;
  }
  void OnAuthenticationNeeded() override { events.push_back("AuthenticationNeeded"); }

  int Count(const std::string& event) const {
    int n = 0;
    for (const std::string& e : events) n += e == event ? 1 : 0;
    return n;
  }

  std::vector<std::string> events;
  std::vector<std::string> statuses;
  std::function<bool()> on_invalid_host;  // returns `handled`
  std::function<void()> on_packet_recvd;
  std::function<void()> on_about_to_send;
  bool handle_redirect = false;
};

}  // namespace testing_support
