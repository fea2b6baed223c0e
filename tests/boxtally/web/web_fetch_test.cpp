// NextWebModel and CheckModelUrl against a scripted loopback server: what is requested, what is
// logged, and what is left on disk. Every log text below is written out from the web fetch's
// log lines, CR LF included.
#include "boxtally/web/web_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_time.h"
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
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD /objects/my%20box.zip HTTP/1.1",
                                                 "GET /objects/my%20box.zip HTTP/1.1"}));
  EXPECT_EQ(host_.status, (std::vector<std::string>{"1:Checking " + Url("my%20box.zip"),
                                                    "1:Getting " + Url("my%20box.zip")}));
  EXPECT_EQ(host_.http.ReportLevel, web::kGetReportLevel);
  EXPECT_EQ(host_.http.Header, "HTTP/1.0 200 OK\r\nContent-Length: 13\r\n\r\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(host_.list.stream, nullptr);
  EXPECT_EQ(ListFolder(), (std::vector<std::string>{"models.txt", "my box.zip"}));
  EXPECT_EQ(Log(), "");
}

TEST_F(WebFetch, AMissingModelIsLoggedOnALineOfItsOwnAndNotRequested) {
  Serve({{SendBytes(kNotFound)}});
  List("  missing.rwx  \r\n");
  EXPECT_EQ(Next(), NextResult::kListEnd);
  EXPECT_EQ(Methods(), (std::vector<std::string>{"HEAD /objects/missing.zip HTTP/1.1"}));
  EXPECT_EQ(Log(), "File " + Url("missing.zip") + " doesn't exist missing.rwx\r\n");
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
       "Refused the reply of 127.0.0.1: a body longer than 10 bytes\r\n"
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
  EXPECT_EQ(Log(), "File " + host_.controls.url + "/a.zip doesn't exist a.rwx\r\n");
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
  EXPECT_EQ(Methods(), (std::vector<std::string>{"GET /objects/tree.zip HTTP/1.1"}));

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
  const std::string lines = "Host: 127.0.0.1:" + std::to_string(server_->port()) + "\r\n" +
                            kAccept + "Referer: gm://w.example:1/MyWorld\r\n" + kContentType +
                            "User-Agent: Agent 1\r\n\r\n";
  ASSERT_EQ(server_->requests().size(), 3u);
  EXPECT_EQ(server_->requests()[0], "HEAD /objects/m.zip HTTP/1.1\r\n" + lines);
  EXPECT_EQ(server_->requests()[1], "GET /objects/m.zip HTTP/1.1\r\n" + lines);
  EXPECT_EQ(server_->requests()[2], "GET /objects/n.zip HTTP/1.1\r\n" + lines);
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

// Replies and names that must never become a wrong model. Each row: what the list names, what
// the server answers, the requests expected, what is kept beside the list and what is logged.
// In the texts, {url} stands for the object path and {dir} for the list's folder.
TEST(WebFetchReplies, NothingWrongIsKeptAndEveryRefusalIsLogged) {
  const std::string long_location = "/" + std::string(2100, 'l');
  const std::string name250(250, 'n');
  // The header as the failed-request line quotes it: 1 KiB at most, control bytes as "_".
  const auto quoted = [](const std::string& header) {
    std::string text = header.substr(0, 1024);
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = '_';
    }
    return text;
  };
  const std::string moved_far = "HTTP/1.0 302 Found\r\nLocation: " + long_location + "\r\n\r\n";
  struct Case {
    const char* label;
    std::string list;
    std::vector<ServerScript> replies;
    std::vector<std::string> requests;  // request lines
    std::string kept;                   // bytes of a.zip beside the list; empty: no file
    std::string log;
    bool head = false;                 // a HEAD before the GET (ConnectFix off)
    std::string in_last_request = {};  // a header line the last request must hold
    std::string list_name = "list.txt";
    std::string registry = {};  // the run's registry, in the list's folder
  };
  const std::string get_a = "GET /objects/a.zip HTTP/1.1";
  const std::string exception = "Error exception in getting {url}/a.zip  hdr=";
  const Case cases[] = {
      // Content-Length as the standard writes it (every spelling in the client's own test): the
      // body is whole at that length, and the server holding the connection open does not matter.
      {"a length after a tab, the name in lower case",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\ncontent-length:\t5 \r\n\r\nhello!"), PauseFor(5000)}},
       {get_a},
       "hello",
       ""},
      {"a length that is no plain number",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nhello")}},
       {get_a},
       "",
       "Refused the reply of 127.0.0.1: Content-Length \"5x\" is not a plain decimal number\r\n" +
           exception +
           "HTTP/1.0 200 OK__Content-Length: 5x____ Rep=200   errno=0 sent=0 recvd=0\r\n"},
      {"two lengths that differ",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!")}},
       {get_a},
       "",
       "Refused the reply of 127.0.0.1: two Content-Length values differ\r\n" + exception +
           "HTTP/1.0 200 OK__Content-Length: 5__Content-Length: 6____ Rep=200   errno=0 sent=0 "
           "recvd=0\r\n"},
      {"a chunked body, read by its chunks",
       "a.rwx\n",
       {{SendBytes("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nhel\r\n"
                   "2\r\nlo\r\n0\r\nX-Trailer: 1\r\n\r\n"),
         PauseFor(5000)}},
       {get_a},
       "hello",
       ""},
      {"a chunked coding over another one",
       "a.rwx\n",
       {{SendBytes("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n")}},
       {get_a},
       "",
       "Refused the reply of 127.0.0.1: Transfer-Encoding: gzip, chunked (only identity is "
       "read)\r\n" +
           exception +
           "HTTP/1.1 200 OK__Transfer-Encoding: gzip, chunked____ Rep=200   errno=0 sent=0 "
           "recvd=0\r\n"},
      {"a gzip body",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 3\r\n\r\nxyz")}},
       {get_a},
       "",
       "Refused the reply of 127.0.0.1: Content-Encoding: gzip (only identity is read)\r\n" +
           exception +
           "HTTP/1.0 200 OK__Content-Encoding: gzip__Content-Length: 3____ Rep=200   "
           "errno=0 sent=0 recvd=0\r\n"},
      // Relative Locations keep scheme, host and port, and resolve against the request's path
      // (every form of them in the client's own test).
      {"a Location beside the model",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 302 Found\r\nLocation: b.zip\r\n\r\n")}, {SendBytes(GetOk("moved"))}},
       {get_a, "GET /objects/b.zip HTTP/1.1"},
       "moved",
       ""},
      {"a Location from the root, by 307",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 307 Temporary\r\nLocation: /objs/x.zip\r\n\r\n")},
        {SendBytes(GetOk("root"))}},
       {get_a, "GET /objs/x.zip HTTP/1.1"},
       "root",
       ""},
      {"a Location holding a control byte",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 302 Found\r\nLocation: /x\x01.zip\r\n\r\n")}},
       {get_a},
       "",
       "Refused the redirection from {url}/a.zip: Location holding a control byte\r\n" + exception +
           "HTTP/1.0 302 Found__Location: /x_.zip____ Rep=302   errno=0 sent=0 recvd=0\r\n"},
      {"a Location past its bound",
       "a.rwx\n",
       {{SendBytes(moved_far)}},
       {get_a},
       "",
       "Refused the redirection from {url}/a.zip: Location longer than 2047 characters\r\n" +
           exception + quoted(moved_far) + " Rep=302   errno=0 sent=0 recvd=0\r\n"},
      {"a cookie back to the host and port that set it",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 302 Found\r\nSet-Cookie: id=9\r\nLocation: b.zip\r\n\r\n")},
        {SendBytes(GetOk("c"))}},
       {get_a, "GET /objects/b.zip HTTP/1.1"},
       "c",
       "",
       false,
       "\r\nCookie: id=9\r\n"},
      {"closed before the status line",
       "a.rwx\n",
       {ServerScript{}},
       {get_a},
       "",
       exception + " Rep=0   errno=0 sent=0 recvd=0\r\n"},
      {"no HTTP status line",
       "a.rwx\n",
       {{SendBytes("ICY 200 OK\r\n\r\nhello")}},
       {get_a},
       "",
       "Refused the reply of 127.0.0.1: no HTTP status line\r\n" + exception +
           "ICY 200 OK__ Rep=0   errno=0 sent=0 recvd=0\r\n"},
      {"closed within the header",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\nContent-Len")}},
       {get_a},
       "",
       exception + "HTTP/1.0 200 OK__Content-Len Rep=200   errno=0 sent=0 recvd=0\r\n"},
      // A HEAD reply's length is the GET's: no body follows it.
      {"a HEAD reply with a length",
       "a.rwx\n",
       {{SendBytes("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n"), PauseFor(5000)},
        {SendBytes(GetOk("hello"))}},
       {"HEAD /objects/a.zip HTTP/1.1", get_a},
       "hello",
       "",
       true},
      // Names: requested whole, or refused before any request.
      {"a name of 250 characters",
       name250 + ".rwx\n",
       {{SendBytes(GetOk("long"))}},
       {"GET /objects/" + name250 + ".zip HTTP/1.1"},
       "",
       ""},
      {"a file name past 255 bytes",
       name250 + "nn\n",
       {},
       {},
       "",
       "Refused model name " + name250 + "nn: its file name is longer than 255 bytes\r\n"},
      {"the list file itself",
       "a.rwx\n",
       {},
       {},
       "",
       "Refused model name a.rwx: {dir}/a.zip would replace the run's list file\r\n",
       false,
       "",
       "a.zip"},
      {"the registry",
       "a.rwx\nb.rwx\n",
       {{SendBytes(GetOk("b"))}},
       {"GET /objects/b.zip HTTP/1.1"},
       "",
       "Refused model name a.rwx: {dir}/a.zip would replace the run's registry\r\n",
       false,
       "",
       "list.txt",
       "a.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    FakeWebHost host(dir / "log.txt", dir.path() + "/");
    std::vector<ServerScript> replies = c.replies;
    if (replies.empty()) replies.push_back({});
    ScriptedServer server(replies);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/objects";
    host.controls.url = url;
    host.controls.list_file = dir / c.list_name;
    host.controls.connect_fix = !c.head;
    if (!c.registry.empty()) {
      host.controls.registry_file = dir / c.registry;
      WriteFile(dir / c.registry, "registry\r\n");
    }
    WriteFile(dir / c.list_name, c.list);
    ASSERT_TRUE(web::OpenListFile(host));
    std::string path;
    while (web::NextWebModel(host, path) == NextResult::kModel) {
    }
    std::vector<std::string> lines;
    for (const std::string& r : server.requests()) lines.push_back(r.substr(0, r.find('\r')));
    EXPECT_EQ(lines, c.requests);
    if (!c.in_last_request.empty() && !server.requests().empty()) {
      EXPECT_NE(server.requests().back().find(c.in_last_request), std::string::npos);
    }
    if (c.kept.empty() && c.registry.empty() && c.list_name == "list.txt") {
      EXPECT_FALSE(platform::FileExists(dir / "a.zip"));
    } else if (!c.kept.empty()) {
      EXPECT_EQ(ReadFile(dir / "a.zip"), c.kept);
    }
    if (!c.registry.empty()) {
      EXPECT_EQ(ReadFile(dir / c.registry), "registry\r\n");
    }
    if (c.list_name != "list.txt") {
      EXPECT_EQ(ReadFile(dir / c.list_name), c.list);
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      EXPECT_NE(e.path().filename().string().rfind(".download-", 0), 0u) << e.path();
    }
    std::string log = c.log;
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{url}", url},
                                      std::pair<std::string, std::string>{"{dir}", dir.path()}}) {
      for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at)) {
        log.replace(at, mark.size(), value);
        at += value.size();
      }
    }
    EXPECT_EQ(ReadFile(dir / "log.txt"), log);
  }
}

// A second run over models already beside the list asks conditionally, in the HEAD's place: each
// row is that second run's server, the requests it must see and what it leaves (the first run
// downloaded "old" with an ETag and a Last-Modified). A 304 that keeps the file and a 200 that
// replaces it are the keep-alive end-to-end run's, against nginx.
TEST_F(WebFetch, ASecondRunAsksConditionallyAndNeverKeepsAStaleModel) {
  const std::string first =
      "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
      "Content-Length: 3\r\n\r\nold";
  const std::string conditions = "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                 "If-None-Match: \"v1\"\r\n";
  struct Case {
    const char* label;
    std::vector<ServerScript> second;
    std::vector<std::string> methods;  // the second run's request lines
    bool conditional;                  // its GET carries both conditions
    std::string kept;                  // the file after it
    std::string log;
    std::function<void(const std::string& file)> meddle;  // between the runs
  };
  const Case cases[] = {
      {"gone: logged as the HEAD would be",
       {{SendBytes("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")}},
       {"GET /objects/a.zip HTTP/1.1"}, true, "old", "File {url}/a.zip doesn't exist a.rwx\r\n",
       nullptr},
      {"changed beside the list: asked for in full",
       {{SendBytes(kHeadOk)}, {SendBytes(GetOk("new"))}},
       {"HEAD /objects/a.zip HTTP/1.1", "GET /objects/a.zip HTTP/1.1"}, false, "new", "",
       [](const std::string& file) { WriteFile(file, "mine"); }},
      {"records lost: asked for in full",
       {{SendBytes(kHeadOk)}, {SendBytes(GetOk("new"))}},
       {"HEAD /objects/a.zip HTTP/1.1", "GET /objects/a.zip HTTP/1.1"}, false, "new", "",
       [](const std::string& file) {
         WriteFile(file.substr(0, file.rfind('/') + 1) + ".boxtally-web", "damaged\n");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    FakeWebHost host(dir / "log.txt", dir.path() + "/");
    host.controls.list_file = dir / "list.txt";
    WriteFile(dir / "list.txt", "a.rwx\n");
    // One server for both runs (the records hold its URL): two connections for the first.
    std::vector<ServerScript> scripts = {{SendBytes(kHeadOk)}, {SendBytes(first)}};
    scripts.insert(scripts.end(), c.second.begin(), c.second.end());
    ScriptedServer server(scripts);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/objects";
    host.controls.url = url;
    std::string path;
    ASSERT_TRUE(web::OpenListFile(host));
    ASSERT_EQ(web::NextWebModel(host, path), NextResult::kModel);
    ASSERT_EQ(web::NextWebModel(host, path), NextResult::kListEnd);
    // The file carries the server's time.
    EXPECT_EQ(platform::StampOf(dir / "a.zip")->mtime_ns, std::int64_t{784111777} * 1000000000);
    if (c.meddle) c.meddle(dir / "a.zip");
    host.ResetLog();
    ASSERT_TRUE(web::OpenListFile(host));
    while (web::NextWebModel(host, path) == NextResult::kModel) {
    }
    std::vector<std::string> methods;
    const std::vector<std::string> requests = server.requests();
    for (std::size_t i = 2; i < requests.size(); ++i) {
      methods.push_back(requests[i].substr(0, requests[i].find('\r')));
    }
    EXPECT_EQ(methods, c.methods);
    EXPECT_EQ(requests.back().find(conditions) != std::string::npos, c.conditional);
    EXPECT_EQ(ReadFile(dir / "a.zip"), c.kept);
    std::string log = c.log;
    if (!log.empty()) log.replace(log.find("{url}"), 5, url);
    EXPECT_EQ(ReadFile(dir / "log.txt"), log);
  }
}
