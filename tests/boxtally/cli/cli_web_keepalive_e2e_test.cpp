// boxtally-cli in web mode against nginx (keep-alive on, ETag and Last-Modified on every file) and
// a local proxy: connections kept per download slot, conditional second runs, and the proxy
// variables. Every run must give the registry a local run over the same archives gives, and the
// same files for any number of downloads.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/https_server.h"
#include "support/nginx_server.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::NginxServer;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kCli = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";
constexpr int kModels = 24;

std::string ModelName(int i) { return (i < 10 ? "m0" : "m") + std::to_string(i); }

class CliWebKept : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing_support::NginxProgram().empty() || !testing_support::HaveProgram("zip")) {
      GTEST_SKIP() << "needs nginx and zip";
    }
    std::filesystem::create_directories(dir_ / "site/objects");
    std::filesystem::create_directories(dir_ / "src");
    std::string list;
    for (int i = 1; i <= kModels; ++i) {
      MakeModel(i, i);
      list += ModelName(i) + ".rwx\n";
    }
    WriteFile(dir_ / "list.txt", list + "missing.rwx\n");
  }
  // site/objects/mNN.zip holding a block `size` units high; `later`: dated a minute ahead, so the
  // server's Last-Modified changes even within the second it was first made.
  void MakeModel(int i, int size, bool later = false) {
    const std::string name = ModelName(i);
    WriteFile(dir_ / ("src/" + name + ".rwx"),
              "modelbegin\nblock 1 " + std::to_string(size) + " 2\nmodelend\n");
    const std::string zip = dir_ / ("site/objects/" + name + ".zip");
    std::filesystem::remove(zip);
    ASSERT_EQ(std::system(("cd '" + (dir_ / "src") + "' && zip -q -X '" + zip + "' " + name +
                           ".rwx").c_str()),
              0);
    if (later) {
      std::filesystem::last_write_time(
          zip, std::filesystem::file_time_type::clock::now() + std::chrono::minutes(1));
    }
  }
  // The registry of a local run over the site's archives.
  std::string LocalRegistry() {
    const ProgramRun local = Cli({dir_ / "site/objects/*.zip", "-o" + (dir_ / "local.txt")});
    EXPECT_EQ(local.exit_status, 0) << local.err;
    return ReadFile(dir_ / "local.txt");
  }
  // A web run of the list in `folder` (made, with the list, when missing).
  ProgramRun Web(const std::string& folder, const std::string& url,
                 std::vector<std::string> switches, const std::vector<std::string>& env = {}) {
    std::filesystem::create_directories(dir_ / folder);
    if (!std::filesystem::exists(dir_ / (folder + "/list.txt"))) {
      std::filesystem::copy_file(dir_ / "list.txt", dir_ / (folder + "/list.txt"));
    }
    switches.insert(switches.begin(), {"--new-log", "--web", url});
    switches.insert(switches.end(),
                    {dir_ / (folder + "/list.txt"), "-o" + (dir_ / (folder + "/reg.txt"))});
    return Cli(switches, env);
  }
  ProgramRun Cli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{"/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {kCli, "--quiet", "--log", dir_ / "log.txt"});
    argv.insert(argv.end(), args.begin(), args.end());
    return testing_support::RunProgram(argv, dir_.path());
  }
  std::string Log() const { return ReadFile(dir_ / "log.txt"); }

  TempDir dir_;
};

}  // namespace

TEST_F(CliWebKept, KeptConnectionsAndConditionalRunsNeverGiveAStaleRegistry) {
  const std::string expected = LocalRegistry();
  NginxServer nginx(dir_ / "site");
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/objects";
  const std::string missing = "File " + url + "/missing.zip doesn't exist missing.rwx\r\n";
  std::size_t seen = 0;
  // The access log's lines of the last run.
  const auto last_run = [&] {
    std::vector<std::string> lines = nginx.AccessLines();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(seen));
    seen += lines.size();
    return lines;
  };

  // HEAD and GET of every model on kept connections, at most one per download.
  ProgramRun run = Web("fresh", url, {"--downloads", "6"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "fresh/reg.txt"), expected);
  EXPECT_EQ(Log(), missing);
  std::vector<std::string> lines = last_run();
  EXPECT_EQ(lines.size(), 2u * kModels + 1);
  EXPECT_LE(NginxServer::ConnectionsOf(lines), 6u);
  // Kept connections that the server closes as soon as they are idle.
  NginxServer hasty(dir_ / "site", {"", "", "1ms"});
  run = Web("closing", "http://127.0.0.1:" + std::to_string(hasty.port()) + "/objects",
            {"--downloads", "1"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "closing/reg.txt"), expected);

  // The second run asks conditionally, in the HEAD's place: nothing comes again.
  run = Web("fresh", url, {});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "fresh/reg.txt"), expected);
  EXPECT_EQ(Log(), missing);
  lines = last_run();
  ASSERT_EQ(lines.size(), kModels + 1u) << ::testing::PrintToString(lines);  // and the missing one
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find(" GET /objects/m") != std::string::npos &&
                                   l.substr(l.size() - 4) == " 304";
                          }),
            kModels);

  // Three models change on the server: those three come again, and the registry follows.
  for (int i : {2, 11, 23}) MakeModel(i, 40 + i, /*later=*/true);
  const std::string changed = LocalRegistry();
  ASSERT_NE(changed, expected);
  run = Web("fresh", url, {"--downloads", "3"});
  EXPECT_EQ(ReadFile(dir_ / "fresh/reg.txt"), changed);
  lines = last_run();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.substr(l.size() - 4) == " 200"; }),
            3);
}

// A proxy from the environment or from --proxy: an https object path goes through the proxy's
// CONNECT tunnel, with the credentials of the proxy's URL, and checks the server's own
// certificate. Which variable names the proxy, and no_proxy, are the proxy rules' own test; the
// bytes sent to a proxy, and its refusals, the client's.
TEST_F(CliWebKept, GoesThroughTheProxyOfTheEnvironmentOrTheSwitch) {
  if (!testing_support::HaveProgram("openssl")) GTEST_SKIP() << "needs openssl";
  const std::string expected = LocalRegistry();
  ASSERT_TRUE(testing_support::MakeAuthority(dir_.path(), "authority"));
  ASSERT_TRUE(testing_support::MakeServerCertificate(dir_.path(), "server", "authority",
                                                     "IP:127.0.0.1"));
  NginxServer secure(dir_ / "site", {dir_ / "server.pem", dir_ / "server.key"});
  const testing_support::BackgroundProgram proxy = testing_support::StartProgram(
      {"/usr/bin/env", "python3", std::string(BOXTALLY_TEST_SUPPORT_DIR) + "/connect_proxy.py",
       dir_ / "proxy.port", dir_ / "proxy.log", "boxtally:s3cret"},
      dir_.path(), dir_.path());
  for (int i = 0; i < 250 && !std::filesystem::exists(dir_ / "proxy.port"); ++i) usleep(20000);
  const std::string proxy_at = "127.0.0.1:" + ReadFile(dir_ / "proxy.port");
  const std::string https = "https://127.0.0.1:" + std::to_string(secure.port()) + "/objects";
  const std::string trusted = "SSL_CERT_FILE=" + (dir_ / "authority.pem");
  const std::string with_credentials = "http://boxtally:s3cret@" + proxy_at;
  struct Case {
    const char* label;
    std::vector<std::string> env;
    std::vector<std::string> switches;
    bool tunnelled;  // the proxy saw the tunnel's CONNECT; else nothing at all
  };
  const std::string tunnel = "CONNECT 127.0.0.1:" + std::to_string(secure.port()) + " HTTP/1.1\n";
  const Case cases[] = {
      {"https_proxy", {"https_proxy=" + with_credentials}, {}, true},
      {"--proxy \"\" over it", {"https_proxy=" + with_credentials}, {"--proxy", ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(dir_ / "proxy.log");
    std::filesystem::remove_all(dir_ / "run");
    std::vector<std::string> env = c.env;
    env.push_back(trusted);
    const ProgramRun run = Web("run", https, c.switches, env);
    const std::string saw = ReadFile(dir_ / "proxy.log");
    if (c.tunnelled) {
      EXPECT_NE(saw.find(tunnel), std::string::npos) << saw;
    } else {
      EXPECT_EQ(saw, "");
    }
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(ReadFile(dir_ / "run/reg.txt"), expected);
    EXPECT_EQ(Log(), "File " + https + "/missing.zip doesn't exist missing.rwx\r\n");
  }
  // A plain http object path goes through the proxy in one request; its 407 to a wrong password
  // is the proxy's refusal, as the tunnel's is.
  NginxServer plain(dir_ / "site");
  const std::string http = "http://127.0.0.1:" + std::to_string(plain.port()) + "/objects";
  std::filesystem::remove_all(dir_ / "run");
  ProgramRun run = Web("run", http, {"--proxy", with_credentials});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "run/reg.txt"), expected);
  std::filesystem::remove_all(dir_ / "run");
  run = Web("run", http, {"--proxy", "http://boxtally:wrong@" + proxy_at});
  EXPECT_EQ(run.exit_status, 1) << run.err;
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, log.find('\n', log.find('\n') + 1) + 1),
            "Refused by the proxy " + proxy_at + ": 407 Proxy Authentication Required\r\n"
            "File " + http + "/m01.zip doesn't exist m01.rwx\r\n");
  kill(proxy.pid, SIGTERM);
  testing_support::WaitProgram(proxy);
}
