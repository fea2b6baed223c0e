// nginx for the tests, as a web object path is served in the wild: keep-alive on, files with their
// ETag and Last-Modified, over HTTP or HTTPS, started as the user running the tests on a free
// 127.0.0.1 port with a configuration, logs and temporary folders of its own. Its access log
// numbers the connections, so a test can count how many a run opened.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace testing_support {

// The nginx program, or the empty text when it is not installed.
inline std::string NginxProgram() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
}

struct NginxOptions {
  std::string cert;                      // with `key`: HTTPS (PEM files)
  std::string key;
  std::string keepalive_timeout = "65s";  // how long an idle kept connection stays open
};

class NginxServer {
 public:
  // Serves `root`.
  NginxServer(const std::string& root, const NginxOptions& options = {})
      : port_(FreeLoopbackPort()) {
    const std::string prefix = dir_.path();
    const std::string tls = options.cert.empty()
                                ? std::string()
                                : " ssl;\n    ssl_certificate " + options.cert +
                                      ";\n    ssl_certificate_key " + options.key;
    WriteFile(dir_ / "nginx.conf",
              "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + prefix +
                  "/nginx.pid;\nerror_log " + prefix + "/error.log warn;\n"
                  "events { worker_connections 512; }\nhttp {\n"
                  "  client_body_temp_path " + prefix + "/tmp; proxy_temp_path " + prefix +
                  "/tmp;\n  fastcgi_temp_path " + prefix + "/tmp; uwsgi_temp_path " + prefix +
                  "/tmp; scgi_temp_path " + prefix + "/tmp;\n"
                  "  log_format counted '$connection $connection_requests $request_method $uri "
                  "$status';\n  access_log " + prefix + "/access.log counted;\n"
                  "  default_type application/octet-stream;\n"
                  "  keepalive_timeout " + options.keepalive_timeout + ";\n"
                  "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + tls + ";\n"
                  "    root " + root + ";\n  }\n}\n");
    std::filesystem::create_directories(dir_ / "tmp");
    const std::string program = NginxProgram();
    const std::string conf = dir_ / "nginx.conf";
    const std::string error_log = dir_ / "error.log";
    pid_ = fork();
    if (pid_ == 0) {
      execl(program.c_str(), program.c_str(), "-p", prefix.c_str(), "-c", conf.c_str(), "-e",
            error_log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !AcceptsConnections(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~NginxServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int port() const { return port_; }

  // "CONNECTION REQUEST-NUMBER METHOD URI STATUS" per request so far. nginx logs a request after
  // its reply is sent, so a client may be done before its line is written: the log is read again
  // until it has `at_least` lines and stays the same for 20 ms (a few seconds at most).
  std::vector<std::string> AccessLines(std::size_t at_least = 0) const {
    std::string text = ReadFile(dir_ / "access.log");
    for (int attempt = 0; attempt < 250; ++attempt) {
      usleep(20000);
      std::string again = ReadFile(dir_ / "access.log");
      const bool enough =
          static_cast<std::size_t>(std::count(again.begin(), again.end(), '\n')) >= at_least;
      if (again == text && enough) break;
      text = std::move(again);
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // How many connections the requests of `lines` came on.
  static std::size_t ConnectionsOf(const std::vector<std::string>& lines) {
    std::set<std::string> connections;
    for (const std::string& line : lines) connections.insert(line.substr(0, line.find(' ')));
    return connections.size();
  }

 private:
  TempDir dir_;
  int port_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
