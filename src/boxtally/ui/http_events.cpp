#include "boxtally/ui/http_events.h"

#include <optional>
#include <utility>

namespace ui {

WindowHttpEvents::WindowHttpEvents(web::WebHost& host,
                                   std::function<void(const std::string&)> show_status)
    : host_(host), show_status_(std::move(show_status)) {}

void WindowHttpEvents::OnConnect() { show_status_("Connected"); }

void WindowHttpEvents::OnConnectionFailed() { prompts_.ConnectionFailed(host_, host_.Http().Host); }

void WindowHttpEvents::OnDisconnect() { show_status_("Disconnected"); }
void WindowHttpEvents::OnFailure(http::CmdType cmd) { show_status_(web::FailureText(cmd)); }
void WindowHttpEvents::OnHostResolved() { show_status_("Host Resolved"); }

void WindowHttpEvents::OnInvalidHost(bool& handled) {
  http::TKestHTTP& http = host_.Http();
  const std::optional<std::string> other = prompts_.OtherHost(host_, http.Host);
  if (!other) return;  // the request fails
  http.Host = *other;
  handled = true;
}

void WindowHttpEvents::OnPacketRecvd() { show_status_(web::ReceivedText(host_.Http())); }
void WindowHttpEvents::OnPacketSent() { show_status_(web::SentText(host_.Http())); }
void WindowHttpEvents::OnStatus(const std::string& status) { show_status_(status); }
void WindowHttpEvents::OnSuccess(http::CmdType cmd) { show_status_(web::SuccessText(cmd)); }
void WindowHttpEvents::OnAboutToSend() { web::ApplyReferer(host_.Http(), host_.Controls()); }

void WindowHttpEvents::OnRedirect(bool& handled) {
  handled = false;  // the component follows the redirection
  show_status_("Redirected");
}

}  // namespace ui
