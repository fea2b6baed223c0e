// NextWebModel and CheckModelUrl against a scripted loopback server: what is requested, what is
// logged, and what is left on disk. Every log text below is written out from the web fetch's
// log lines, CR LF included.
#include "boxtally/web/web_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/fake_web_host.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

using testing_support::FakeWebHost;
using testing_support::PauseFor;
using testing_support::ReadFile;
using testing_support::ScriptedServer;
using testing_support::SendBytes;
using testing_support::ServerScript;
using testing_support::TempDir;
using testing_support::WriteFile;
using web::NextResult;

namespace {

const std::string kAccept =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string kContentType = "Content-type: application/x-www-form-urlencoded\r\n";
const std::string kHeadOk = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n";
const std::string kNotFound = "HTTP/1.0 404 Not Found\r\n\r\n<html>no such file</html>";

std::string GetOk(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A list file in its own folder, and a host whose object path is a scripted server.
class WebFetch : public ::testing::Test {
 protected:
  WebFetch() : host_(dir_ / "log.txt", dir_.path() + "/") {
    std::filesystem::create_directory(dir_ / "lists");
    host_.controls.list_file = dir_ / "lists/models.txt";
  }
  void List(const std::string& bytes, bool propdump = false) {
    WriteFile(host_.controls.list_file, bytes);
    host_.controls.propdump = propdump;
    ASSERT_TRUE(web::OpenListFile(host_));
  }
  void Serve(std::vector<ServerScript> scripts) {
    server_ = std::make_unique<ScriptedServer>(std::move(scripts));
    host_.controls.url = "http://127.0.0.1:" + std::to_string(server_->port()) + "/objects";
  }
  std::string Url(const std::string& file) const { return host_.controls.url + "/" + file; }
  NextResult Next() {
    path_.clear();
    return web::NextWebModel(host_, path_);
  }
  std::string Log() const { return ReadFile(dir_ / "log.txt"); }
  // The names in the list's folder: what a run leaves behind.
  std::vector<std::string> ListFolder() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "lists")) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Methods() const {
    std::vector<std::string> methods;
    for (const std::string& r : server_->requests()) methods.push_back(r.substr(0, r.find('\r')));
    return methods;
  }

  TempDir dir_;
  FakeWebHost host_;
  std::unique_ptr<ScriptedServer> server_;
  std::string path_;
};

}  // namespace

TEST_F(WebFetch, ChecksThenDownloadsBesideTheListAndReportsInTheStatusBar) {
  Serve({{SendBytes(kHeadOk)}, {SendBytes(GetOk("archive bytes"))}});
  List("# models\nmy box.rwx\tthe crate\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(path_, dir_ / "lists/my box.zip");
  EXPECT_EQ(ReadFile(path_), "archive bytes");
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD /objects/my%20box.zip HTTP/1.0",
                                                 "GET /objects/my%20box.zip HTTP/1.0"}));
  EXPECT_EQ(host_.status, (std::vector<std::string>{"1:Checking " + Url("my%20box.zip"),
                                                    "1:Getting " + Url("my%20box.zip")}));
  EXPECT_EQ(host_.http.ReportLevel, web::kGetReportLevel);
  EXPECT_EQ(host_.http.Header, "HTTP/1.0 200 OK\r\nContent-Length: 13\r\n\r\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(host_.list.stream, nullptr);
  EXPECT_EQ(ListFolder(), (std::vector<std::string>{"models.txt", "my box.zip"}));
  EXPECT_EQ(Log(), "");
}

TEST_F(WebFetch, AMissingModelIsLoggedWithoutALineEndAndNotRequested) {
  Serve({{SendBytes(kNotFound)}});
  List("  missing.rwx  \r\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD /objects/missing.zip HTTP/1.0"}));
  EXPECT_EQ(Log(), "File " + Url("missing.zip") + " doesn't exist missing.rwx");
  EXPECT_EQ(ListFolder(), (std::vector<std::string>{"models.txt"}));
}

TEST_F(WebFetch, FailedDownloadsAreLoggedAndLeaveNothingOnDisk) {
  const std::string body10 = "0123456789";
  struct Case {
    const char* label;
    std::string reply;
    std::string log;       // URL stands for the model's URL
    bool bounded = false;  // a size bound of 10 bytes
  };
  const Case cases[] = {
      {"an error reply", kNotFound, "Error (204) in getting URL\r\n"},
      {"a reply of 201", "HTTP/1.0 201 Created\r\n\r\nbody", "Error (1) in getting URL\r\n"},
      {"a body cut short", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n01234",
       "Incomplete download of URL: 5 of 10 bytes\r\n"},
      {"a body past the size bound", GetOk(body10 + "!"),
       "Error exception in getting URL  hdr=HTTP/1.0 200 OK__Content-Length: 11____ Rep=200   "
       "errno=0 sent=0 recvd=0\r\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    FakeWebHost host(dir / "log.txt", dir.path() + "/");
    ScriptedServer server({{SendBytes(c.reply)}});
    host.controls.url = "http://127.0.0.1:" + std::to_string(server.port());
    host.controls.list_file = dir / "list.txt";
    host.controls.connect_fix = true;
    host.max_download_bytes = c.bounded ? 10 : web::kMaxDownloadBytes;
    WriteFile(dir / "list.txt", "tree.rwx\n");
    ASSERT_TRUE(web::OpenListFile(host));
    std::string path;
    EXPECT_EQ(web::NextWebModel(host, path), NextResult::kListEnd);
    std::string log = c.log;
    log.replace(log.find("URL"), 3, host.controls.url + "/tree.zip");
    EXPECT_EQ(ReadFile(dir / "log.txt"), log);
    EXPECT_FALSE(platform::FileExists(dir / "tree.zip"));
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      (void)e;
      ++files;
    }
    EXPECT_EQ(files, 2u);  // the list and the log
  }
  // Exactly at the bound is whole.
  Serve({{SendBytes(GetOk(body10))}});
  host_.controls.connect_fix = true;
  host_.max_download_bytes = 10;
  List("tree.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(ReadFile(path_), body10);
}

TEST_F(WebFetch, AStalledServerTimesOutWithTheErrorExceptionLine) {
  Serve({{SendBytes("HTTP/1.0 200 OK\r\n\r\npartial"), PauseFor(3000)}});
  host_.timeout_ms = 200;
  host_.controls.connect_fix = true;
  List("tree.rwx\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(Log(), "Error exception in getting " + Url("tree.zip") +
                       "  hdr=HTTP/1.0 200 OK____ Rep=200 timeout errno=0 sent=0 recvd=7\r\n");
  EXPECT_EQ(ListFolder(), (std::vector<std::string>{"models.txt"}));
}

TEST_F(WebFetch, ARefusedConnectionIsAMissingModelOrAnErrorException) {
  host_.controls.url = "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort());
  List("a.rwx\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(Log(), "File " + host_.controls.url + "/a.zip doesn't exist a.rwx");
  EXPECT_EQ(host_.events.Count("ConnectionFailed"), 1);

  host_.ResetLog();
  host_.controls.connect_fix = true;
  List("b.rwx\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  // No reply came: the header is still the placeholder, the reply number the last request's.
  EXPECT_EQ(Log(), "Error exception in getting " + host_.controls.url +
                       "/b.zip  hdr=syntax$$$.hdr Rep=0   errno=10061 sent=0 recvd=0\r\n");
}

TEST_F(WebFetch, ConnectFixSendsNoHeadAndReuseWebNoRequestAtAll) {
  Serve({{SendBytes(GetOk("fresh"))}});
  host_.controls.connect_fix = true;
  List("tree.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GET /objects/tree.zip HTTP/1.0"}));

  // The file is there now: with ReuseWeb it is the result as it is, without a "Checking" text.
  WriteFile(path_, "kept");
  host_.controls.reuse_web = true;
  host_.status.clear();
  List("tree.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(ReadFile(path_), "kept");
  EXPECT_EQ(server_->connections(), 1);
  EXPECT_TRUE(host_.status.empty());
}

TEST_F(WebFetch, AGoodDownloadAfterFailedOnesIsReturned) {
  Serve({{SendBytes(kNotFound)}, {SendBytes(GetOk("second"))}});
  host_.controls.connect_fix = true;
  List("first.rwx\n../evil\n#x\nsecond.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(path_, dir_ / "lists/second.zip");
  EXPECT_EQ(ReadFile(path_), "second");
  EXPECT_EQ(Log(), "Error (204) in getting " + Url("first.zip") +
                       "\r\nRefused model name ../evil: not a plain file name\r\n");
  EXPECT_FALSE(platform::FileExists(dir_ / "evil.zip"));
}

TEST_F(WebFetch, TheLastLineWithoutALineEndIsUsed) {
  Serve({{SendBytes(GetOk("a"))}, {SendBytes(GetOk("b"))}});
  host_.controls.connect_fix = true;
  List("a.rwx\nb.rwx");
  ASSERT_EQ(Next(), NextResult::kModel);
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(ReadFile(path_), "b");
  EXPECT_EQ(Next(), NextResult::kListEnd);
}

TEST_F(WebFetch, APropdumpNameIsFetchedOnceInAnyLetterCaseForTheHostsLife) {
  Serve({{SendBytes(GetOk("tree"))}});
  host_.controls.connect_fix = true;
  const std::string dump =
      "propdump version 4\r\n"
      "1 2 3 4 5 6 7 8 8 1 1 Tree.rwxda\r\n"
      "1 2 3 4 5 6 7 8 8 1 1 tree.RWXda\r\n";
  List(dump, true);
  ASSERT_EQ(Next(), NextResult::kModel);
  EXPECT_EQ(path_, dir_ / "lists/Tree.zip");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  List(dump, true);  // a second run of the same host
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(server_->connections(), 1);
}

TEST_F(WebFetch, UseRefererSendsTheRefererAndUserAgentLinesInTheirOrder) {
  Serve({{SendBytes(kHeadOk)}, {SendBytes(GetOk("m"))}, {SendBytes(GetOk("n"))}});
  host_.controls.use_referer = true;
  host_.controls.referer = "gm://w.example:1/";
  host_.controls.referer_world = "MyWorld";
  host_.controls.user_agent = "Agent 1";
  List("m.rwx\nn.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  host_.controls.connect_fix = true;
  ASSERT_EQ(Next(), NextResult::kModel);
  const std::string lines = "Host: 127.0.0.1\r\n" + kAccept +
                            "Referer: gm://w.example:1/MyWorld\r\n" + kContentType +
                            "User-Agent: Agent 1\r\n\r\n";
  ASSERT_EQ(server_->requests().size(), 3u);
  EXPECT_EQ(server_->requests()[0], "HEAD /objects/m.zip HTTP/1.0\r\n" + lines);
  EXPECT_EQ(server_->requests()[1], "GET /objects/m.zip HTTP/1.0\r\n" + lines);
  EXPECT_EQ(server_->requests()[2], "GET /objects/n.zip HTTP/1.0\r\n" + lines);
}

TEST_F(WebFetch, TheFirstGetOfConnectFixCarriesTheRefererToo) {
  Serve({{SendBytes(GetOk("m"))}});
  host_.controls.connect_fix = true;
  host_.controls.use_referer = true;
  host_.controls.referer_world = "W";
  List("m.rwx\n");
  ASSERT_EQ(Next(), NextResult::kModel);
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_NE(server_->requests()[0].find("\r\nReferer: gm://localhost:5670/W\r\n"),
            std::string::npos);
  EXPECT_NE(server_->requests()[0].find("\r\nUser-Agent: Gridmere/3.60 (560)\r\n"),
            std::string::npos);
}

TEST_F(WebFetch, AStopRequestEndsTheSearchBetweenEntriesAndKeepsTheListOpen) {
  Serve({{SendBytes(kNotFound)}});
  List("a.rwx\nb.rwx\n");
  host_.on_pump = [&] { host_.stop = true; };  // pressed during a.rwx's HEAD
  EXPECT_EQ(Next(), NextResult::kStopped);
  EXPECT_EQ(server_->connections(), 1);
  EXPECT_NE(host_.list.stream, nullptr);
  web::CloseListFile(host_);
  EXPECT_EQ(host_.list.stream, nullptr);
}

TEST_F(WebFetch, AHeadThatFailsBeforeAnyReplyAnswersFalse) {
  Serve({{SendBytes(kHeadOk)}});
  EXPECT_TRUE(web::CheckModelUrl(host_, Url("a.zip")));
  EXPECT_EQ(host_.http.ReportLevel, web::kHeadReportLevel);
  EXPECT_EQ(host_.http.TimeOut, host_.timeout_ms);
  // The component still holds the 200 of the last reply.
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + "/a.zip";
  EXPECT_FALSE(web::CheckModelUrl(host_, refused));
}

TEST_F(WebFetch, AListFileThatCannotBeOpenedOrIsAFolder) {
  host_.controls.list_file = dir_ / "no/such/list.txt";
  EXPECT_FALSE(web::OpenListFile(host_));
  host_.controls.list_file = dir_ / "lists";
  EXPECT_FALSE(web::OpenListFile(host_));
  EXPECT_EQ(Next(), NextResult::kListEnd);
}
