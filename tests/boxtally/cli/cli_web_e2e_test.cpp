// boxtally-cli in web mode: a real HTTP server (Python's http.server on 127.0.0.1) serving a
// generated object path, and a scripted one for the stop and termination signals. A web run
// must give the registry a local run over the same archives gives, byte for byte.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

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

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
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
    for (int i = 0; i < 200 && !Accepts(port_); ++i) {
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
  ProgramRun Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kCli, "--quiet", "--log", dir_ / "log.txt"};
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
                "/missing.zip doesn't exist missing.rwx"
                "Refused model name ../site/objects/tree.rwx: not a plain file name\r\n");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "kept\r\n");

  run = Cli({"--web", server.Url(), "nolist.txt", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "boxtally-cli: cannot open the list file nolist.txt\n");
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "kept\r\n");
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

TEST(CliWebSignals, CtrlCDuringADownloadEndsTheRunAfterThatModel) {
  TempDir dir;
  // A zip of one model, sent slowly enough for the signal to come in the middle.
  WriteFile(dir / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  if (!HaveTool("zip")) GTEST_SKIP() << "needs zip";
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -X a.zip a.rwx").c_str()), 0);
  const std::string zip = ReadFile(dir / "a.zip");
  const std::string reply =
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n\r\n" + zip;
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    testing_support::ServerScript slow;
    testing_support::AppendDrip(slow, reply, 20, 50);
    testing_support::ScriptedServer server({slow, {testing_support::SendBytes(reply)}});
    WriteFile(dir / "models.txt", "a.rwx\nb.rwx\n");
    std::filesystem::remove(dir / "reg.txt");
    const testing_support::BackgroundProgram program = testing_support::StartProgram(
        {kCli, "--quiet", "--connect-fix", "--web",
         "http://127.0.0.1:" + std::to_string(server.port()), "models.txt", "-oreg.txt"},
        dir.path(), dir.path());
    for (int i = 0; i < 500 && server.connections() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the body
    kill(-program.pid, signal_number);
    const ProgramRun run = testing_support::WaitProgram(program);
    EXPECT_EQ(server.connections(), 1);  // b.rwx was never asked for
    if (signal_number == SIGINT) {
      // The stop button: the download goes on, the model is measured, then the run ends.
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_EQ(ReadFile(dir / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
    } else {
      // Termination cuts the download short; nothing of it is left.
      EXPECT_EQ(run.exit_status, 128 + SIGTERM);
      EXPECT_FALSE(std::filesystem::exists(dir / "reg.txt"));
      EXPECT_NE(run.err.find("Error exception in getting"), std::string::npos) << run.err;
    }
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      left.push_back(e.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    for (const std::string& name : left) EXPECT_EQ(name.rfind(".download-", 0), std::string::npos);
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
  const ProgramRun run =
      testing_support::RunOnTerminal({kCli, "--web", url, "models.txt", "-oreg.txt"}, dir.path());
  const std::string& screen = run.out;
  EXPECT_EQ(run.exit_status, 0);
  // The log text without a line end is ended before the progress line is drawn over it.
  EXPECT_NE(screen.find("File " + url + "/missing.zip doesn't exist missing.rwx\r\n"),
            std::string::npos)
      << screen;
  for (const std::string& shown :
       {"0 done  Checking " + url + "/tree.zip", "0 done  Getting " + url + "/tree.zip",
        "0 done  Checking " + url + "/tree.zip  Head Success",
        "0 done  Getting " + url + "/tree.zip  Get Success",
        std::string("1 done  Processing tree.zip")}) {
    EXPECT_NE(screen.find(shown), std::string::npos) << shown << " in\n" << screen;
  }
  // The progress line is erased before the run's summary, the last line.
  const std::size_t erased = screen.rfind("\r\033[K");
  ASSERT_NE(erased, std::string::npos) << screen;
  EXPECT_TRUE(std::regex_match(
      screen.substr(erased + 4),
      std::regex("boxtally-cli: done: 1 model measured \\([0-9]+\\.[0-9] s\\)\r\n")))
      << screen;
  EXPECT_EQ(ReadFile(dir / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
}
