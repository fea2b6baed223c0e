// A scripted server on 127.0.0.1 for the HTTP client's tests: a thread that accepts connections
// one after another on a free port, records the bytes of each request, and plays back a script of
// replies, pauses, drips and resets. Connection i plays script i (the last script again once they
// run out). Everything it waits for is bounded, so a test that goes wrong still ends.
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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct ServerStep {
  enum class Kind { kSend, kPause, kReset };
  Kind kind = Kind::kSend;
  std::string bytes;  // kSend: the bytes sent
  int ms = 0;         // kPause: how long
};
using ServerScript = std::vector<ServerStep>;

inline ServerStep SendBytes(std::string bytes) {
  return {ServerStep::Kind::kSend, std::move(bytes), 0};
}
inline ServerStep PauseFor(int ms) { return {ServerStep::Kind::kPause, {}, ms}; }
// Closes the connection with a reset (RST) instead of an orderly close.
inline ServerStep ResetConnection() { return {ServerStep::Kind::kReset, {}, 0}; }

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
  explicit ScriptedServer(std::vector<ServerScript> scripts) : scripts_(std::move(scripts)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listen_fd_, 8);
    socklen_t length = sizeof address;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
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
  // The request bytes of every connection so far.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(requests_.size());
  }

 private:
  static constexpr int kStepMs = 10;

  void Run() {
    while (!stop_) {
      pollfd entry{listen_fd_, POLLIN, 0};
      if (poll(&entry, 1, kStepMs) <= 0) continue;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const std::string request = ReadRequest(fd);
      std::size_t index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = std::min(requests_.size(), scripts_.size() - 1);
        requests_.push_back(request);
      }
      Play(fd, scripts_[index]);
    }
  }

  // Reads until the blank line that ends a request header, the client's close, 300 ms of
  // silence after some bytes, or 3 s without any.
  std::string ReadRequest(int fd) {
    std::string bytes;
    int quiet_ms = 0;
    while (!stop_ && bytes.find("\r\n\r\n") == std::string::npos) {
      if (quiet_ms >= (bytes.empty() ? 3000 : 300)) break;
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, kStepMs) <= 0) {
        quiet_ms += kStepMs;
        continue;
      }
      char buffer[65536];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
      quiet_ms = 0;
    }
    return bytes;
  }

  void Play(int fd, const ServerScript& script) {
    for (const ServerStep& step : script) {
      if (stop_) break;
      if (step.kind == ServerStep::Kind::kSend) {
        std::size_t sent = 0;
        while (sent < step.bytes.size()) {
          const ssize_t n =
              send(fd, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<std::size_t>(n);
        }
        if (sent < step.bytes.size()) break;  // the client has gone
      } else if (step.kind == ServerStep::Kind::kPause) {
        if (!PauseWhileConnected(fd, step.ms)) break;
      } else {
        const linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        break;
      }
    }
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
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace testing_support
