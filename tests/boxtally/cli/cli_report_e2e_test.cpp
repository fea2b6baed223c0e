// boxtally-cli --report and the summary line, from the real program: a mixed object path on one
// worker and two, and a web list with missing names and a server that stops halfway.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
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
const char* const kHeader =
    "name,fate,reason,source,left,bottom,back,right,top,front,size_x,size_y,size_z,vertices,"
    "polygons,textures,flags\r\n";
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";

// The summary line without its time, which varies.
std::string Summary(const std::string& err) {
  static const std::regex time(" \\([0-9]+\\.[0-9] s\\)\n$");
  std::smatch found;
  if (!std::regex_search(err, found, time)) return "no summary in: " + err;
  const std::size_t start = err.rfind("boxtally-cli: ", found.position(0));
  return err.substr(start, found.position(0) - start);
}

class ReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunProgram({"/bin/sh", "-c", "command -v zip"}).exit_status != 0) {
      GTEST_SKIP() << "needs Info-ZIP zip";
    }
    for (const char* d : {"objects", "src", "tmp"}) std::filesystem::create_directory(dir_ / d);
  }
  void Shell(const std::string& command) {
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", command}, dir_ / "src").exit_status, 0) << command;
  }
  ProgramRun Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kCli, "--log",
                                  "log.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }

  TempDir dir_;
};

}  // namespace

TEST_F(ReportRun, AMixedObjectPathGivesOneRowPerModelForAnyJobCount) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "src/c.rwx", kBox);
  Shell("zip -q -X -P secret ../objects/c.zip c.rwx");  // no password given
  WriteFile(dir_ / "objects/d.zip", "not an archive at all");
  WriteFile(dir_ / "objects/e.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // over 20 units
  WriteFile(dir_ / "objects/g.rwx", "modelbegin\nmodelend\n");                // not one vertex
  Shell("zip -q -X -0 whole.zip c.rwx && head -c 50 whole.zip > ../objects/i.zip");
  WriteFile(dir_ / "objects/t.cob", "Caligari V00.01ALH             \n(the rest as text)\n");
  const std::string rows =
      std::string(kHeader) +
      "a.rwx,measured,,objects/a.rwx,-1,-1,-1,1,1,1,2,2,2,8,6,0,oversized\r\n"
      "c.rwx,failed,\"archive encrypted, no password given: error 1: Provide a password. File is "
      "encrypted\",objects/c.zip,,,,,,,,,,,,,\r\n"
      "d.rwx,failed,not a zip or gzip file,objects/d.zip,,,,,,,,,,,,,\r\n"
      "e.rwx,skipped_huge,,objects/e.rwx,,,,,,,,,,,,,\r\n"
      "g.rwx,empty,,objects/g.rwx,,,,,,,,,,,,,\r\n"
      "i.rwx,failed,archive truncated: error 1: zipfile ended prematurely,objects/i.zip,,,,,,,,,,,"
      ",,\r\n"
      "t.cob,failed,conversion failed (exit status 6),objects/t.cob,,,,,,,,,,,,,\r\n";
  WriteFile(dir_ / "report.csv", "an older report\r\n");
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    const ProgramRun to_file = Cli({"--jobs", jobs, "--oversized", "--report", "report.csv",
                                    "objects/*.*", "-oreg.txt"});
    EXPECT_EQ(to_file.exit_status, 0) << to_file.err;
    EXPECT_EQ(ReadFile(dir_ / "report.csv"), rows);
    EXPECT_EQ(Summary(to_file.err),
              "boxtally-cli: done: 1 model measured, 4 failed, 1 skipped as too large, 1 empty "
              "model");
    const ProgramRun to_stdout =
        Cli({"--jobs", jobs, "--oversized", "--report", "-", "objects/*.*", "-oreg.txt"});
    EXPECT_EQ(to_stdout.out, rows);
    EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
  }
  // A run that does not complete leaves the report as it was, and no file beside it.
  const ProgramRun early = Cli({"--report", "report.csv", "objects/*.none", "-oreg.txt"});
  EXPECT_EQ(early.exit_status, 1);
  EXPECT_EQ(ReadFile(dir_ / "report.csv"), rows);
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".report.csv"), std::string::npos);
  }
}

TEST_F(ReportRun, TheReportNeverTakesTheRegistrysPlace) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  struct Case {
    std::vector<std::string> args;
    std::string error;  // the first line on standard error
  };
  const Case cases[] = {
      {{"--report", "-", "objects/*.rwx"},
       "boxtally-cli: --report - needs a registry file (-oREGISTRY or REGISTRY): the registry "
       "lines go to standard output otherwise"},
      {{"--report", "reg.txt", "objects/*.rwx", "-oreg.txt"},
       "boxtally-cli: --report reg.txt names a file the run reads or writes otherwise"},
      {{"--report", "log.txt", "objects/*.rwx", "reg.txt"},
       "boxtally-cli: --report log.txt names a file the run reads or writes otherwise"},
      // What the shell makes of --report objects/*.rwx.
      {{"--report", "objects/a.rwx", "objects/b.rwx"},
       "boxtally-cli: the report 'objects/a.rwx' is a model file: was the MODELS pattern expanded "
       "by the shell? Quote it, as in 'objects/*.zip'"},
      {{"--report", "no/such/folder/r.csv", "objects/*.rwx", "-oreg.txt"},
       "boxtally-cli: cannot write the report file no/such/folder/r.csv (No such file or "
       "directory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const ProgramRun run = Cli(c.args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.error);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
  }
}

TEST_F(ReportRun, AWebRunWithMissingNamesAndAServerThatStopsExitsThree) {
  WriteFile(dir_ / "src/tree.rwx", kBox);
  Shell("zip -q -X tree.zip tree.rwx");
  const std::string zip = ReadFile(dir_ / "src/tree.zip");
  const std::string found =
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n\r\n" + zip;
  const std::string missing = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  using testing_support::SendBytes;
  // One request at a time, in the list's order; from the sixth on the server is gone.
  testing_support::ScriptedServer server({{SendBytes(found)},
                                          {SendBytes(missing)},
                                          {SendBytes(found)},
                                          {SendBytes(missing)},
                                          {SendBytes(missing)},
                                          {testing_support::ResetConnection()}});
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/objects";
  WriteFile(dir_ / "list.txt", "a.rwx\nm1.rwx\nb.rwx\nm2.rwx\nm3.rwx\nc.rwx\nd.rwx\n");
  const ProgramRun run = Cli({"--web", url, "--connect-fix", "--downloads", "1", "--report", "-",
                              "list.txt", "-oreg.txt"});
  EXPECT_EQ(run.exit_status, 3) << run.err;
  EXPECT_EQ(Summary(run.err),
            "boxtally-cli: done: 2 models measured, 3 missing on the server, 2 not downloaded "
            "(server unreachable)");
  const std::string reset = ",server unreachable (10054:Connection reset by peer)," + url;
  EXPECT_EQ(run.out, std::string(kHeader) +
                         "a.rwx,measured,," + url + "/a.zip,-1,-1,-1,1,1,1,2,2,2,8,6,0,\r\n"
                         "m1.rwx,missing,HTTP status 404," + url + "/m1.zip,,,,,,,,,,,,,\r\n"
                         "b.rwx,measured,," + url + "/b.zip,-1,-1,-1,1,1,1,2,2,2,8,6,0,\r\n"
                         "m2.rwx,missing,HTTP status 404," + url + "/m2.zip,,,,,,,,,,,,,\r\n"
                         "m3.rwx,missing,HTTP status 404," + url + "/m3.zip,,,,,,,,,,,,,\r\n"
                         "c.rwx,not_downloaded" + reset + "/c.zip,,,,,,,,,,,,,\r\n"
                         "d.rwx,not_downloaded" + reset + "/d.zip,,,,,,,,,,,,,\r\n");
}
