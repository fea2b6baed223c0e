// HTTPS for the tests: a private authority and server certificates made at test time with the
// openssl program (no key is ever checked in), and Python's HTTP server behind its ssl module on
// 127.0.0.1, optionally with a plain HTTP port that redirects every request to it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace testing_support {

inline bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// `dir`/NAME.pem and `dir`/NAME.key: an authority that signs certificates.
inline bool MakeAuthority(const std::string& dir, const std::string& name) {
  return Shell("cd '" + dir +
               "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 " +
               "-nodes -keyout " + name + ".key -out " + name + ".pem -days 2 -subj /CN=" + name +
               " -addext basicConstraints=critical,CA:TRUE" +
               " -addext keyUsage=critical,keyCertSign,cRLSign");
}

// `dir`/NAME.pem and `dir`/NAME.key: a server certificate for `names` (as subjectAltName writes
// them: "IP:127.0.0.1,DNS:localhost") signed by the authority `authority` in the same folder.
inline bool MakeServerCertificate(const std::string& dir, const std::string& name,
                                  const std::string& authority, const std::string& names) {
  WriteFile(
      dir + "/" + name + ".ext",
      "subjectAltName=" + names + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  return Shell("cd '" + dir + "' && openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 " +
               "-nodes -keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name +
               " && openssl x509 -req -in " + name + ".csr -CA " + authority + ".pem -CAkey " +
               authority + ".key -CAcreateserial -days 2 -out " + name + ".pem -extfile " + name +
               ".ext");
}

// The server: files of `root` over HTTPS. A request whose path starts with /down/ is answered
// with a redirection to the same path over plain HTTP (a redirection downwards); the plain port,
// when asked for, redirects every request up to HTTPS.
inline constexpr const char* kHttpsServerScript = R"(
import functools, http.server, ssl, sys, threading
root, cert, key, port, plain = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])

class Files(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)
    def log_message(self, *args):
        pass
    def send_head(self):
        if self.path.startswith('/down/'):
            self.send_response(302)
            self.send_header('Location', 'http://127.0.0.1:%d/%s' % (plain, self.path[6:]))
            self.send_header('Content-Length', '0')
            self.end_headers()
            return None
        return super().send_head()

class Up(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_HEAD(self):
        self.send_response(301)
        self.send_header('Location', 'https://127.0.0.1:%d%s' % (port, self.path))
        self.send_header('Content-Length', '0')
        self.end_headers()
    do_GET = do_HEAD

if plain:
    up = http.server.ThreadingHTTPServer(('127.0.0.1', plain), Up)
    threading.Thread(target=up.serve_forever, daemon=True).start()
secure = http.server.ThreadingHTTPServer(('127.0.0.1', port), Files)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
secure.socket = context.wrap_socket(secure.socket, server_side=True)
secure.serve_forever()
)";

class HttpsServer {
 public:
  // `with_plain_port`: also a plain HTTP port that redirects to this one.
  HttpsServer(const std::string& root, const std::string& cert, const std::string& key,
              bool with_plain_port)
      : port_(FreeLoopbackPort()), plain_port_(with_plain_port ? FreeLoopbackPort() : 0) {
    WriteFile(script_ / "server.py", kHttpsServerScript);
    const std::string script = script_ / "server.py";
    const std::string port = std::to_string(port_);
    const std::string plain = std::to_string(plain_port_);
    pid_ = fork();
    if (pid_ == 0) {
      execlp("python3", "python3", script.c_str(), root.c_str(), cert.c_str(), key.c_str(),
             port.c_str(), plain.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !(AcceptsConnections(port_) &&
                                 (plain_port_ == 0 || AcceptsConnections(plain_port_)));
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~HttpsServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  HttpsServer(const HttpsServer&) = delete;
  HttpsServer& operator=(const HttpsServer&) = delete;

  int port() const { return port_; }
  int plain_port() const { return plain_port_; }

 private:
  TempDir script_;
  int port_;
  int plain_port_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
