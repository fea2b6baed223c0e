// A scripted server on 127.0.0.1 for the HTTP client's tests: a thread that accepts connections
// one after another on a free port, records the bytes of each request, and plays back a script of
// replies, pauses, drips, resets and further requests on the same connection. Connection i plays
// script i (the last script again once they run out). A transport may carry the bytes (TLS, in
// tls_scripted_server.h). Everything it waits for is bounded, so a test that goes wrong still
// ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct ServerStep {
  enum class Kind { kSend, kSendRaw, kPause, kReset, kReadRequest, kEndWithoutAlert };
  Kind kind = Kind::kSend;
  std::string bytes;  // kSend, kSendRaw: the bytes sent
  int ms = 0;         // kPause: how long
};
using ServerScript = std::vector<ServerStep>;

inline ServerStep SendBytes(std::string bytes) {
  return {ServerStep::Kind::kSend, std::move(bytes), 0};
}
// Bytes on the socket itself, past the transport (garbage inside a TLS connection).
inline ServerStep SendRawBytes(std::string bytes) {
  return {ServerStep::Kind::kSendRaw, std::move(bytes), 0};
}
inline ServerStep PauseFor(int ms) { return {ServerStep::Kind::kPause, {}, ms}; }
// Closes the connection with a reset (RST) instead of an orderly close.
inline ServerStep ResetConnection() { return {ServerStep::Kind::kReset, {}, 0}; }
// Waits for the next request on the same connection and records it (a kept connection).
inline ServerStep ReadNextRequest() { return {ServerStep::Kind::kReadRequest, {}, 0}; }
// Closes without the transport's closing message (TLS's close_notify).
inline ServerStep EndWithoutAlert() { return {ServerStep::Kind::kEndWithoutAlert, {}, 0}; }

// How a connection's bytes go: as they are, unless a transport (TLS) says otherwise. Connections
// are served one at a time, so a transport holds the state of one.
class ServerTransport {
 public:
  virtual ~ServerTransport() = default;
  virtual bool Start(int fd) { return fd >= 0; }  // false: the connection is dropped
  virtual ssize_t Receive(int fd, char* buffer, std::size_t size) {
    return recv(fd, buffer, size, 0);
  }
  virtual bool HasPending() { return false; }  // received bytes waiting in the transport
  virtual ssize_t Send(int fd, const char* data, std::size_t size) {
    return send(fd, data, size, MSG_NOSIGNAL);
  }
  virtual void End(int fd, bool orderly) { (void)fd, (void)orderly; }
};

// `bytes` in pieces of `chunk` bytes, each followed by a pause of `ms`.
inline void AppendDrip(ServerScript& script, const std::string& bytes, std::size_t chunk, int ms) {
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    script.push_back(SendBytes(bytes.substr(at, chunk)));
    script.push_back(PauseFor(ms));
  }
}

// A loopback port on which nothing listens (bound, then released).
inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// Whether a server listens on the loopback port: a server started as a process is ready.
inline bool AcceptsConnections(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

class ScriptedServer {
 public:
  // `ipv6`: on [::1] instead of 127.0.0.1.
  explicit ScriptedServer(std::vector<ServerScript> scripts,
                          std::shared_ptr<ServerTransport> transport = nullptr, bool ipv6 = false)
      : scripts_(std::move(scripts)),
        transport_(transport ? std::move(transport) : std::make_shared<ServerTransport>()) {
    listen_fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    auto* address = ipv6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
    socklen_t length = ipv6 ? sizeof v6 : sizeof v4;
    bind(listen_fd_, address, length);
    listen(listen_fd_, 8);
    getsockname(listen_fd_, address, &length);
    port_ = ntohs(ipv6 ? v6.sin6_port : v4.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  // The bytes of every request so far, in order (several per connection with ReadNextRequest).
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
  }

 private:
  static constexpr int kStepMs = 10;

  void Run() {
    while (!stop_) {
      pollfd entry{listen_fd_, POLLIN, 0};
      if (poll(&entry, 1, kStepMs) <= 0) continue;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      // Only this thread counts connections: the count is read here without a race.
      const std::size_t index = std::min<std::size_t>(connections(), scripts_.size() - 1);
      const bool started = transport_->Start(fd);
      // Counted with its first request, so a test that sees the connection sees its request.
      {
        std::string request = started ? ReadRequest(fd) : std::string();
        std::lock_guard<std::mutex> lock(mutex_);
        ++connections_;
        if (started) requests_.push_back(std::move(request));
      }
      if (!started) {
        close(fd);
        continue;
      }
      Play(fd, scripts_[index]);
    }
  }

  void Record(std::string request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }

  // Reads until the blank line that ends a request header, the client's close, 300 ms of
  // silence after some bytes, or 3 s without any.
  std::string ReadRequest(int fd) {
    std::string bytes;
    int quiet_ms = 0;
    while (!stop_ && bytes.find("\r\n\r\n") == std::string::npos) {
      if (quiet_ms >= (bytes.empty() ? 3000 : 300)) break;
      pollfd entry{fd, POLLIN, 0};
      if (!transport_->HasPending() && poll(&entry, 1, kStepMs) <= 0) {
        quiet_ms += kStepMs;
        continue;
      }
      char buffer[65536];
      const ssize_t n = transport_->Receive(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
      quiet_ms = 0;
    }
    return bytes;
  }

  bool SendAll(int fd, const std::string& bytes, bool raw) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = raw ? send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)
                            : transport_->Send(fd, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  void Play(int fd, const ServerScript& script) {
    bool orderly = true;
    for (const ServerStep& step : script) {
      if (stop_) break;
      using Kind = ServerStep::Kind;
      if (step.kind == Kind::kSend || step.kind == Kind::kSendRaw) {
        if (!SendAll(fd, step.bytes, step.kind == Kind::kSendRaw)) break;  // the client has gone
      } else if (step.kind == Kind::kPause) {
        if (!PauseWhileConnected(fd, step.ms)) break;
      } else if (step.kind == Kind::kReadRequest) {
        std::string request = ReadRequest(fd);
        if (request.empty()) break;  // closed by the client
        Record(std::move(request));
      } else if (step.kind == Kind::kEndWithoutAlert) {
        orderly = false;
        break;
      } else {
        const linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        orderly = false;
        break;
      }
    }
    transport_->End(fd, orderly);
    close(fd);
  }

  // Waits `ms`; false when the client closes the connection meanwhile (the rest of the script
  // is dropped, so the next connection is served at once).
  bool PauseWhileConnected(int fd, int ms) {
    for (int waited = 0; waited < ms && !stop_; waited += kStepMs) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, std::min(kStepMs, ms - waited)) <= 0) continue;
      char byte = 0;
      if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));  // unexpected bytes
    }
    return true;
  }

  std::vector<ServerScript> scripts_;
  std::shared_ptr<ServerTransport> transport_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace testing_support
