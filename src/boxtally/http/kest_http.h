// TKestHTTP: the HTTP/1.0 client on the socket base, over plain connections (http:) and TLS
// (https:). One request per connection: parse the URL, compose the header lines, connect, send,
// read the reply header and the body (Content-Length bytes, else until the server closes), judge
// the reply, disconnect; redirections are followed up to a bound. Get and Head are the requests
// this system needs. A reply that could be taken for something it is not (a body in a coding
// other than identity, a length that is not a plain number) fails the request instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "boxtally/http/http_message.h"
#include "boxtally/http/powersock.h"

namespace http {

inline constexpr int kMaxRequestRepeats = 10;  // requests sent again after the first one
inline constexpr std::size_t kMaxReplyHeaderBytes = 1048576;  // bytes of one reply header
inline constexpr std::int64_t kMaxBodyTextBytes = 64 << 20;   // body kept as text, not in a file

// The command kind passed to OnSuccess and OnFailure; the numbers are fixed.
enum CmdType : int {
  kCmdGet = 0,
  kCmdOptions = 1,
  kCmdHead = 2,
  kCmdPost = 3,
  kCmdPut = 4,
  kCmdPatch = 5,
  kCmdCopy = 6,
  kCmdMove = 7,
  kCmdDelete = 8,
  kCmdLink = 9,
  kCmdUnLink = 10,
  kCmdTrace = 11,
  kCmdWrapped = 12,
};

// The socket events plus the request's own. Every handler does nothing unless overridden.
class HttpEvents : public SocketEvents {
 public:
  // The header lines are composed: changes to SendHeader made here are sent with this request,
  // changes to HeaderInfo take effect from the next one.
  virtual void OnAboutToSend() {}
  virtual void OnSuccess(CmdType cmd) { (void)cmd; }  // a reply number below 299
  virtual void OnFailure(CmdType cmd) { (void)cmd; }  // a reply number of 400 or more
  // A reply from 300 to 398; setting `handled` ends the request with that reply.
  virtual void OnRedirect(bool& handled) { (void)handled; }
  virtual void OnAuthenticationNeeded() {}  // a 401 reply
};

class TKestHTTP : public TPowersock {
 public:
  // `events` may be nullptr (no handlers); it must outlive the component.
  explicit TKestHTTP(HttpEvents* events = nullptr);

  // Properties.
  std::string Header = "Head.txt";   // OutputFileMode: the reply header's file; else its text
  std::string Body = "Default.htm";  // InputFileMode: the reply body's file; else its text
  bool InputFileMode = false;
  bool OutputFileMode = false;
  // InputFileMode: a body of more bytes fails the request ("Socket capture longer than N
  // bytes"); negative: no bound.
  std::int64_t MaxBodyFileBytes = -1;
  THeaderInfo HeaderInfo;
  std::vector<std::string> SendHeader;  // the request's header lines, in sending order

  // Results of the last request.
  std::int16_t ReplyNumber = 0;  // 0 once a request is sent, then the reply's status code
  std::int64_t BytesTotal = 0;   // the reply's Content-Length, 0 when absent
  std::string Location;          // the reply's Location value, whole
  std::string ReceivedCookie;    // the reply's Set-Cookie value (see kMaxCookie)
  CmdType Command = kCmdGet;     // the kind of the current request
  std::string Url;               // the current URL; a redirection replaces it
  std::string RequestPath;
  // Why the client itself refused or failed the last request, in one line naming the host or
  // URL: a certificate or a handshake, a reply or a redirection it would not take, a request line
  // it would not send. Empty otherwise (a socket error, a time-out, an Abort).
  std::string Refusal;

  // SetHeaderValue on SendHeader (see http_message.h).
  void SetHeaderValue(std::string_view name, std::string_view value);

  // The requests. On return either an error was raised (ok false, with its text: "Empty URL",
  // "Too many redirections", an error of the socket base or of the reply header, or the text of
  // Refusal), or a reply was read: ReplyNumber, Header and Body tell which.
  SockResult Get(const std::string& url);
  SockResult Head(const std::string& url);

  // Also keeps a request from being sent again after a redirection.
  void Abort() override;

 private:
  SockResult RequestLoop(std::string_view method_word);
  SockResult Exchange();
  SockResult ReadReplyHeader();
  SockResult ReadBody();
  SockResult FollowLocation();
  SockResult Refuse(std::string why);  // sets Refusal, and fails with it
  std::string CurrentUrl() const;      // absolute: scheme, host, port, request path
  THeaderInfo InfoToSend() const;

  HttpEvents* http_events_;
  bool abort_request_ = false;
  ReplyHeaderFacts facts_;  // of the last reply header
  // A cookie taken from a redirection goes back only to the host and port that set it.
  std::string cookie_from_reply_;
  std::string cookie_host_;
  int cookie_port_ = 0;
};

}  // namespace http
