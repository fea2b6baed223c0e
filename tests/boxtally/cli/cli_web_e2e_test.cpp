// boxtally-cli in web mode: a real HTTP server (Python's http.server on 127.0.0.1) serving a
// generated object path, and a scripted one for the stop and termination signals. A web run
// must give the registry a local run over the same archives gives, byte for byte.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/https_server.h"
#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kCli = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// python3 -m http.server serving `dir` on a free loopback port, for the test's life.
class PythonServer {
 public:
  explicit PythonServer(const std::string& dir) : port_(testing_support::FreeLoopbackPort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      const std::string port = std::to_string(port_);
      execlp("python3", "python3", "-m", "http.server", "--bind", "127.0.0.1", port.c_str(),
             "--directory", dir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !testing_support::AcceptsConnections(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~PythonServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  PythonServer(const PythonServer&) = delete;
  PythonServer& operator=(const PythonServer&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/objects"; }

 private:
  int port_;
  pid_t pid_ = -1;
};

const char* const kModels[][2] = {
    {"Chair.rwx",
     "modelbegin\nclumpbegin\nvertex -0.3 0 -0.3\nvertex 0.3 0.9 0.3\nclumpend\n"
     "modelend\n"},
    {"my box.rwx", "modelbegin\nblock 2 2 2\nmodelend\n"},
    {"tree.rwx",
     "modelbegin\nclumpbegin\ntranslate 0 1 0\nvertex -2 0 -2\nvertex 2 6 2\n"
     "clumpend\nmodelend\n"},
};

// One propdump record of a world object naming `model`.
std::string Record(const std::string& model) {
  return "10 20 30 40 50 60 70 80 " + std::to_string(model.size()) + " 5 0 " + model + "desc.\r\n";
}

class CliWeb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("python3") || !HaveTool("zip")) GTEST_SKIP() << "needs python3 and zip";
    std::filesystem::create_directories(dir_ / "site/objects");
    for (const auto& model : kModels) {
      WriteFile(dir_ / model[0], model[1]);
      const std::string zip_name = std::string(model[0]).substr(0, std::strlen(model[0]) - 4);
      const std::string command = "cd '" + dir_.path() + "' && zip -q -X 'site/objects/" +
                                  zip_name + ".zip' '" + model[0] + "'";
      ASSERT_EQ(std::system(command.c_str()), 0);
    }
  }
  // `environment`: one VAR=value more for the program, such as SSL_CERT_FILE.
  ProgramRun Cli(const std::vector<std::string>& args, const std::string& environment = "") {
    std::vector<std::string> argv{kCli, "--quiet", "--log", dir_ / "log.txt"};
    if (!environment.empty()) argv.insert(argv.begin(), {"/usr/bin/env", environment});
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }

  TempDir dir_;
};

}  // namespace

TEST_F(CliWeb, AWebRunGivesTheRegistryOfALocalRunFromAListAndFromAPropdump) {
  const ProgramRun local = Cli({dir_ / "site/objects/*.zip", "-o" + (dir_ / "local.txt")});
  ASSERT_EQ(local.exit_status, 0) << local.err;
  const std::string expected = ReadFile(dir_ / "local.txt");
  ASSERT_EQ(expected,
            "chair.rwx 1 -295 5 -295 295 895 295\r\n"
            "my box.rwx 1 -995 -995 -995 995 995 995\r\n"
            "tree.rwx 1 -1995 1005 -1995 1995 6995 1995\r\n");

  PythonServer server(dir_.path() + "/site");
  std::filesystem::create_directories(dir_ / "plain");
  WriteFile(dir_ / "plain/models.txt",
            "# the object path\r\nChair.rwx\r\nmy box.rwx\tcrate\r\n"
            "tree.rwx\r\n");
  ProgramRun run = Cli({"--web", server.Url(), dir_ / "plain/models.txt", "-o" + (dir_ / "a.txt")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "a.txt"), expected);
  EXPECT_EQ(ReadFile(dir_ / "plain/my box.zip"), ReadFile(dir_ / "site/objects/my box.zip"));

  std::filesystem::create_directories(dir_ / "dump");
  WriteFile(dir_ / "dump/world.txt", "propdump version 4\r\n" + Record("Chair.rwx") +
                                         Record("my box.rwx") + Record("chair.RWX") +
                                         "damaged 1 2\r\n" + Record("tree.rwx"));
  run = Cli({"--web", server.Url() + "/", "--propdump", dir_ / "dump/world.txt",
             "-o" + (dir_ / "b.txt")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "b.txt"), expected);
  EXPECT_EQ(ReadFile(dir_ / "log.txt"), "");

  // Reused: the server may be gone.
  run = Cli({"--web", "http://127.0.0.1:1/objects", "--reuse-web", dir_ / "plain/models.txt",
             "-o" + (dir_ / "c.txt")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "c.txt"), expected);
}

TEST_F(CliWeb, ListsThatGiveNoModelEndWithOneAndSayWhy) {
  PythonServer server(dir_.path() + "/site");
  WriteFile(dir_ / "reg.txt", "kept\r\n");
  WriteFile(dir_ / "models.txt", "missing.rwx\n../site/objects/tree.rwx\n");
  ProgramRun run = Cli({"--web", server.Url(), "models.txt", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err,
            "boxtally-cli: no model of the list models.txt could be fetched (see the log)\n");
  EXPECT_EQ(ReadFile(dir_ / "log.txt"),
            "File " + server.Url() +
                "/missing.zip doesn't exist missing.rwx\r\n"
                "Refused model name ../site/objects/tree.rwx: not a plain file name\r\n");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "kept\r\n");

  run = Cli({"--web", server.Url(), "nolist.txt", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "boxtally-cli: cannot open the list file nolist.txt\n");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "kept\r\n");
}

// The bytes of a zip holding a.rwx, a block of 2 units, made in `dir`.
std::string ZipOfABlock(const TempDir& dir) {
  WriteFile(dir / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  EXPECT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -X a.zip a.rwx").c_str()), 0);
  return ReadFile(dir / "a.zip");
}

// The records beside the list are the program's own file: a link, a FIFO or another user's file
// planted at their name is left as it is, with a log line, and every model comes in full. (The
// time limit only ends a run that waits on the FIFO.)
TEST_F(CliWeb, RecordsThatAreNoRegularFileOfThisUserAreLeftAlone) {
  PythonServer server(dir_.path() + "/site");
  const std::string records = dir_ / "list/.boxtally-web";
  struct Case {
    const char* is;
    std::function<bool()> plant;  // false: the row needs root
  };
  const Case cases[] = {
      {"a symbolic link", [&] { return symlink("../victim.txt", records.c_str()) == 0; }},
      {"not a regular file", [&] { return mkfifo(records.c_str(), 0600) == 0; }},
      {"another user's file",
       [&] {
         WriteFile(records, "boxtally-web 1\n");
         return geteuid() == 0 && chown(records.c_str(), 65534, 65534) == 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.is);
    std::filesystem::remove_all(dir_ / "list");
    std::filesystem::create_directory(dir_ / "list");
    WriteFile(dir_ / "list/models.txt", "tree.rwx\n");
    WriteFile(dir_ / "victim.txt", "victim\n");
    if (!c.plant()) {
      std::printf("skipped the row \"%s\": it needs root\n", c.is);
      continue;
    }
    struct stat before {};
    ASSERT_EQ(lstat(records.c_str(), &before), 0);
    std::filesystem::remove(dir_ / "log.txt");
    const ProgramRun run = RunProgram(
        {"/usr/bin/timeout", "60", kCli, "--quiet", "--log", dir_ / "log.txt", "--web",
         server.Url(), "list/models.txt", "-oreg.txt"},
        dir_.path());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "tree.rwx 1 -1995 1005 -1995 1995 6995 1995\r\n");
    EXPECT_EQ(ReadFile(dir_ / "log.txt"), "Ignored the records file list/.boxtally-web: " +
                                              std::string(c.is) +
                                              "; every model is downloaded in full\r\n");
    struct stat after {};
    ASSERT_EQ(lstat(records.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(dir_ / "victim.txt"), "victim\n");
  }
}

// A stop leaves the records as they were, as it leaves the registry: the first model came whole
// (and was recorded), the second is stopped while it drips.
TEST(CliWebSignals, AStopLeavesTheRecordsAsTheyWere) {
  TempDir dir;
  if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
  const std::string zip = ZipOfABlock(dir);
  const std::string reply = "HTTP/1.0 200 OK\r\nETag: \"v1\"\r\nContent-Length: " +
                            std::to_string(zip.size()) + "\r\n\r\n" + zip;
  testing_support::ServerScript drip;
  testing_support::AppendDrip(drip, reply, 1, 100);
  testing_support::ScriptedServer server({{testing_support::SendBytes(reply)}, drip});
  WriteFile(dir / "models.txt", "a.rwx\nb.rwx\n");
  WriteFile(dir / ".boxtally-web", "boxtally-web 1\n");
  WriteFile(dir / "reg.txt", "old\r\n");
  const testing_support::BackgroundProgram program = testing_support::StartProgram(
      {kCli, "--connect-fix", "--downloads", "1", "--web",
       "http://127.0.0.1:" + std::to_string(server.port()), "models.txt", "-oreg.txt"},
      dir.path(), dir.path());
  for (int i = 0; i < 500 && server.connections() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the second reply
  kill(-program.pid, SIGTERM);
  const ProgramRun run = testing_support::WaitProgram(program);
  EXPECT_EQ(run.exit_status, 128 + SIGTERM) << run.err;
  EXPECT_EQ(ReadFile(dir / ".boxtally-web"), "boxtally-web 1\n");
  EXPECT_EQ(ReadFile(dir / "reg.txt"), "old\r\n");
  EXPECT_NE(run.err.find("the registry was not changed"), std::string::npos) << run.err;
}

// A reply framed both ways is framed by its chunks (RFC 9112, 6.3), whatever its Content-Length.
TEST(CliWebReplies, AChunkedBodyBesideAContentLengthIsReadByItsChunks) {
  TempDir dir;
  if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
  const std::string zip = ZipOfABlock(dir);
  char size[16];
  std::snprintf(size, sizeof size, "%zx", zip.size());
  testing_support::ScriptedServer server({{testing_support::SendBytes(
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(zip.size() * 3) +
      "\r\nTransfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + zip + "\r\n0\r\n\r\n")}});
  WriteFile(dir / "models.txt", "a.rwx\n");
  const ProgramRun run = RunProgram({kCli, "--quiet", "--connect-fix", "--web",
                                     "http://127.0.0.1:" + std::to_string(server.port()),
                                     "models.txt", "-oreg.txt"},
                                    dir.path());
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
}

// The names in a folder that start with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

TEST_F(CliWeb, HttpsAndARedirectionUpToItGiveTheRegistryOfALocalRun) {
  if (!HaveTool("openssl")) GTEST_SKIP() << "needs openssl";
  const ProgramRun local = Cli({dir_ / "site/objects/*.zip", "-o" + (dir_ / "local.txt")});
  ASSERT_EQ(local.exit_status, 0) << local.err;
  ASSERT_TRUE(testing_support::MakeAuthority(dir_.path(), "authority"));
  ASSERT_TRUE(testing_support::MakeServerCertificate(dir_.path(), "server", "authority",
                                                     "IP:127.0.0.1,DNS:localhost"));
  testing_support::HttpsServer server(dir_.path() + "/site", dir_ / "server.pem",
                                      dir_ / "server.key", /*with_plain_port=*/true);
  WriteFile(dir_ / "models.txt", "Chair.rwx\nmy box.rwx\ntree.rwx\n");
  // The private authority through OpenSSL's own variable.
  const std::string trusted = "SSL_CERT_FILE=" + (dir_ / "authority.pem");
  const ProgramRun run_ip =
      Cli({"--web", "https://127.0.0.1:" + std::to_string(server.port()) + "/objects", "models.txt",
           "-o" + (dir_ / "a.txt")},
          trusted);
  EXPECT_EQ(run_ip.exit_status, 0) << run_ip.err;
  EXPECT_EQ(ReadFile(dir_ / "a.txt"), ReadFile(dir_ / "local.txt"));
  const ProgramRun by_name =
      Cli({"--web", "https://localhost:" + std::to_string(server.port()) + "/objects/",
           "models.txt", "-o" + (dir_ / "b.txt")},
          trusted);
  EXPECT_EQ(by_name.exit_status, 0) << by_name.err;
  EXPECT_EQ(ReadFile(dir_ / "b.txt"), ReadFile(dir_ / "local.txt"));
  // Through --ca-file, from a plain object path that redirects every request to https.
  const ProgramRun run =
      Cli({"--web", "http://127.0.0.1:" + std::to_string(server.plain_port()) + "/objects",
           "--ca-file", dir_ / "authority.pem", "models.txt", "-o" + (dir_ / "c.txt")});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "c.txt"), ReadFile(dir_ / "local.txt"));
  EXPECT_EQ(ReadFile(dir_ / "log.txt"), "");
}

TEST_F(CliWeb, CertificatesThatFailAndRedirectionsDownToHttpKeepNothing) {
  if (!HaveTool("openssl")) GTEST_SKIP() << "needs openssl";
  ASSERT_TRUE(testing_support::MakeAuthority(dir_.path(), "authority"));
  ASSERT_TRUE(testing_support::MakeAuthority(dir_.path(), "stranger"));
  ASSERT_TRUE(testing_support::MakeServerCertificate(dir_.path(), "other", "authority",
                                                     "DNS:other.example"));
  ASSERT_TRUE(testing_support::MakeServerCertificate(dir_.path(), "unknown", "stranger",
                                                     "IP:127.0.0.1,DNS:localhost"));
  ASSERT_TRUE(
      testing_support::MakeServerCertificate(dir_.path(), "good", "authority", "IP:127.0.0.1"));
  testing_support::HttpsServer other(dir_.path() + "/site", dir_ / "other.pem", dir_ / "other.key",
                                     false);
  testing_support::HttpsServer unknown(dir_.path() + "/site", dir_ / "unknown.pem",
                                       dir_ / "unknown.key", false);
  testing_support::HttpsServer good(dir_.path() + "/site", dir_ / "good.pem", dir_ / "good.key",
                                    true);
  const std::string trusted = "SSL_CERT_FILE=" + (dir_ / "authority.pem");
  struct Case {
    std::string url;
    std::string refusal;
  };
  const std::string other_url = "https://localhost:" + std::to_string(other.port()) + "/objects";
  const std::string unknown_url =
      "https://127.0.0.1:" + std::to_string(unknown.port()) + "/objects";
  const std::string down_url = "https://127.0.0.1:" + std::to_string(good.port()) + "/down/objects";
  const Case cases[] = {
      {other_url, "Refused the certificate of localhost: hostname mismatch"},
      {unknown_url, "Refused the certificate of 127.0.0.1: unable to get local issuer certificate"},
      {down_url, "Refused the redirection from " + down_url +
                     "/tree.zip to http://127.0.0.1:" + std::to_string(good.plain_port()) +
                     "/objects/tree.zip: from https down to http"},
  };
  std::filesystem::create_directories(dir_ / "list");
  WriteFile(dir_ / "list/models.txt", "tree.rwx\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::filesystem::remove(dir_ / "log.txt");
    const ProgramRun run = Cli(
        {"--web", c.url, "--connect-fix", "list/models.txt", "-o" + (dir_ / "reg.txt")}, trusted);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(
        run.err,
        "boxtally-cli: no model of the list list/models.txt could be fetched (see the log)\n");
    const std::string log = ReadFile(dir_ / "log.txt");
    EXPECT_EQ(log.substr(0, c.refusal.size() + 2), c.refusal + "\r\n");
    EXPECT_NE(log.find("\r\nError exception in getting " + c.url + "/tree.zip  hdr="),
              std::string::npos)
        << log;
    EXPECT_EQ(NamesStartingWith(dir_ / "list", ""), std::vector<std::string>{"models.txt"});
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
  }
}

TEST(CliWebSwitches, WebSwitchesNeedWebAndWebNeedsAUrl) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"--propdump", "list.txt"}, "boxtally-cli: --propdump needs --web URL\n"},
      {{"list.txt", "--referer-world", "W"}, "boxtally-cli: --referer-world needs --web URL\n"},
      {{"--web", "", "list.txt"}, "boxtally-cli: --web needs the URL of the web object path\n"},
      {{"--web", "http://h/o"}, "boxtally-cli: no list file named\n"},
      {{"list.txt", "--web"}, "boxtally-cli: --web needs a value\n"},
      {{"--web", "http://h/o", "--user-agent", "A\r\nX-Evil: 1", "list.txt"},
       "boxtally-cli: --user-agent must not hold a control character\n"},
      {{"--web", "http://h/o", "--referer-world", "W\n", "list.txt"},
       "boxtally-cli: --referer-world must not hold a control character\n"},
      {{"--ca-file", "authority.pem", "list.txt"}, "boxtally-cli: --ca-file needs --web URL\n"},
      {{"--web", "http://h/o", "--ca-file", "/no/such/authority.pem", "list.txt"},
       "boxtally-cli: cannot read the certificate file /no/such/authority.pem\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::vector<std::string> argv{kCli};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), c.says);
  }
}

TEST(CliWebSignals, AStopDuringADripOrAStallAbandonsTheRequestAndLeavesNoDownload) {
  TempDir dir;
  // A zip of one model, dripped a byte every 100 ms: whole only after many seconds.
  WriteFile(dir / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -X a.zip a.rwx").c_str()), 0);
  const std::string zip = ReadFile(dir / "a.zip");
  std::filesystem::remove(dir / "a.zip");
  const std::string reply =
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n\r\n" + zip;
  testing_support::ServerScript drip;
  testing_support::AppendDrip(drip, reply, 1, 100);
  const testing_support::ServerScript stall = {
      testing_support::SendBytes("HTTP/1.0 200 OK\r\nContent-Len"),
      testing_support::PauseFor(60000)};
  struct Case {
    const char* label;
    testing_support::ServerScript script;
    int signal_number;
  };
  const Case cases[] = {
      {"Ctrl-C in a dripping body", drip, SIGINT},
      {"Ctrl-C in a stalled header", stall, SIGINT},
      {"SIGTERM in a dripping body", drip, SIGTERM},
      {"SIGHUP in a stalled header", stall, SIGHUP},
  };
  for (const char* downloads : {"1", "6"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.label + std::string(", downloads ") + downloads);
      const bool one = downloads[0] == '1';
      // With several downloads at once, b.rwx is asked for at once too, and gets nothing.
      testing_support::ScriptedServer server(
          {c.script, one ? testing_support::ServerScript{testing_support::SendBytes(reply)}
                         : testing_support::ServerScript{testing_support::PauseFor(60000)}});
      WriteFile(dir / "models.txt", "a.rwx\nb.rwx\n");
      std::filesystem::remove(dir / "reg.txt");
      const testing_support::BackgroundProgram program = testing_support::StartProgram(
          {kCli, "--quiet", "--connect-fix", "--downloads", downloads, "--web",
           "http://127.0.0.1:" + std::to_string(server.port()), "models.txt", "-oreg.txt"},
          dir.path(), dir.path());
      for (int i = 0; i < 500 && server.connections() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the reply
      kill(-program.pid, c.signal_number);
      const ProgramRun run = testing_support::WaitProgram(program);
      if (one) {
        EXPECT_EQ(server.connections(), 1);  // b.rwx was never asked for
      }
      // The request was abandoned: a.rwx never came whole, so there is no registry either.
      EXPECT_EQ(run.exit_status, 128 + c.signal_number) << run.err;
      EXPECT_FALSE(std::filesystem::exists(dir / "reg.txt"));
      EXPECT_FALSE(std::filesystem::exists(dir / "a.zip"));
      EXPECT_NE(run.err.find("Error exception in getting"), std::string::npos) << run.err;
      EXPECT_EQ(NamesStartingWith(dir.path(), ".download-"), std::vector<std::string>{});
    }
  }
}

TEST(CliWebTerminal, TheProgressLineShowsTheStepsAndEventsAndKeepsOpenLogLines) {
  TempDir dir;
  if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
  WriteFile(dir / "tree.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -X tree.zip tree.rwx").c_str()), 0);
  const std::string zip = ReadFile(dir / "tree.zip");
  testing_support::ScriptedServer server(
      {{testing_support::SendBytes("HTTP/1.0 404 Not Found\r\n\r\n")},
       {testing_support::SendBytes("HTTP/1.0 200 OK\r\n\r\n")},
       {testing_support::SendBytes("HTTP/1.0 200 OK\r\nContent-Length: " +
                                   std::to_string(zip.size()) + "\r\n\r\n" + zip)}});
  WriteFile(dir / "models.txt", "missing.rwx\ntree.rwx\n");
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port());
  // The log on standard error and the progress line share the terminal.
  const ProgramRun run = testing_support::RunOnTerminal(
      {kCli, "--downloads", "1", "--web", url, "models.txt", "-oreg.txt"}, dir.path());
  const std::string& screen = run.out;
  EXPECT_EQ(run.exit_status, 0);
  // The log text without a line end is ended before the progress line is drawn over it.
  EXPECT_NE(screen.find("File " + url + "/missing.zip doesn't exist missing.rwx\r\n"),
            std::string::npos)
      << screen;
  // Entries done of the list's entries: the missing one counts once its line is written.
  for (const std::string& shown :
       {"0 of 2 done  Checking " + url + "/tree.zip", "0 of 2 done  Getting " + url + "/tree.zip",
        "0 of 2 done  Checking " + url + "/tree.zip  Head Success",
        "0 of 2 done  Getting " + url + "/tree.zip  Get Success",
        std::string("1 of 2 done  Processing tree.zip"), std::string("2 of 2 done  Done!")}) {
    EXPECT_NE(screen.find(shown), std::string::npos) << shown << " in\n" << screen;
  }
  // The progress line is erased before the run's summary, the last line.
  const std::size_t erased = screen.rfind("\r\033[K");
  ASSERT_NE(erased, std::string::npos) << screen;
  EXPECT_TRUE(std::regex_match(
      screen.substr(erased + 4),
      std::regex("boxtally-cli: done: 1 model measured, 1 missing on the server "
                 "\\([0-9]+\\.[0-9] s\\)\r\n")))
      << screen;
  EXPECT_EQ(ReadFile(dir / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
}

// A server some way off (every reply after 20 ms): any number of downloads at once gives the
// files one download at a time gives, with a missing model, a download that fails after its check
// passed, and a name the list repeats (fetched twice, never two downloads of it at once).
TEST_F(CliWeb, SeveralDownloadsAtOnceGiveTheFilesOfOneAtATime) {
  const std::string site = dir_ / "site/objects";
  for (const char* name : {"Chair", "tree"}) {
    std::filesystem::copy_file(site + "/" + name + ".zip", site + "/" + name + "2.zip");
  }
  std::filesystem::copy_file(site + "/tree.zip", site + "/broken.zip");
  WriteFile(site + "/broken.zip.status", "500");
  const std::string port_file = dir_ / "port";
  const testing_support::BackgroundProgram server = testing_support::StartProgram(
      {"/usr/bin/env", "python3", std::string(BOXTALLY_TEST_SUPPORT_DIR) + "/slow_http_server.py",
       dir_ / "site", "20", port_file},
      dir_.path(), dir_.path());
  for (int i = 0; i < 250 && !std::filesystem::exists(port_file); ++i) usleep(20000);
  const std::string url = "http://127.0.0.1:" + ReadFile(port_file) + "/objects";
  struct Result {
    int exit_status;
    std::string registry, log, err;
  };
  auto run = [&](const std::string& downloads, const std::vector<std::string>& extra) {
    std::filesystem::remove_all(dir_ / "list");
    std::filesystem::create_directories(dir_ / "list");
    WriteFile(dir_ / "list/models.txt",
              "Chair.rwx\nmissing.rwx\ntree.rwx\nbroken.rwx\nmy box.rwx\nChair.rwx\n"
              "Chair2.rwx\ntree2.rwx\n# end\ntree.rwx\n");
    std::vector<std::string> args{"--new-log", "--web", url, "--downloads", downloads};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {dir_ / "list/models.txt", "-o" + (dir_ / "reg.txt")});
    const ProgramRun done = Cli(args);
    return Result{done.exit_status, ReadFile(dir_ / "reg.txt"), ReadFile(dir_ / "log.txt"),
                  done.err};
  };
  const std::string chair = " 1 -295 5 -295 295 895 295\r\n";
  const std::string tree = " 1 -1995 1005 -1995 1995 6995 1995\r\n";
  const std::string registry = "chair.rwx" + chair + "tree.rwx" + tree + "my box.rwx" +
                               " 1 -995 -995 -995 995 995 995\r\n" + "chair.rwx" + chair +
                               "chair2.rwx" + chair + "tree2.rwx" + tree + "tree.rwx" + tree;
  for (const std::vector<std::string>& extra :
       std::vector<std::vector<std::string>>{{}, {"--connect-fix"}, {"--jobs", "1"}}) {
    SCOPED_TRACE(extra.empty() ? "HEAD and GET" : extra[0]);
    const Result one = run("1", extra);
    const Result many = run("16", extra);
    EXPECT_EQ(one.exit_status, 3);  // broken.zip was not downloaded (500)
    EXPECT_EQ(one.registry, registry);
    EXPECT_EQ(many.exit_status, one.exit_status);
    EXPECT_EQ(many.registry, one.registry);
    EXPECT_EQ(many.log, one.log);
    EXPECT_EQ(many.err, one.err);
    const std::string missing = extra.empty() || extra[0] == "--jobs"
                                    ? "File " + url + "/missing.zip doesn't exist missing.rwx\r\n"
                                    : "Error (204) in getting " + url + "/missing.zip\r\n";
    EXPECT_EQ(many.log, missing + "Error (300) in getting " + url + "/broken.zip\r\n");
  }
  kill(server.pid, SIGTERM);
  testing_support::WaitProgram(server);
}
