// boxtally-cli measuring on several workers: the registry, the log, standard error and the exit
// status are the same for every job count, also for runs that end early.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "boxtally/cli/cube_scene.h"
#include "support/run_program.h"
#include "support/sheet_cells.h"
#include "support/temp_dir.h"

using testing_support::CubeScene;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";

class JobsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunProgram({"/bin/sh", "-c", "command -v zip && command -v gzip"}).exit_status != 0) {
      GTEST_SKIP() << "needs Info-ZIP zip and gzip";
    }
    for (const char* d : {"objects", "src", "tmp"}) std::filesystem::create_directory(dir_ / d);
  }
  void Shell(const std::string& command) {
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", command}, dir_ / "src").exit_status, 0) << command;
  }
  // Every kind of model, in an order the search sorts them into.
  void MakeObjectPath() {
    for (int i = 0; i < 12; ++i) {
      const std::string n = std::to_string(10 + i);
      WriteFile(dir_ / ("objects/a" + n + ".rwx"),
                "modelbegin\nvertex " + n + " 0 0\nvertex 0 " + n + " 1\nmodelend\n");
      WriteFile(dir_ / ("src/b" + n + ".rwx"), "modelbegin\nblock 1 " + n + " 2\nmodelend\n");
      Shell("zip -q -X ../objects/b" + n + ".zip b" + n + ".rwx");
    }
    WriteFile(dir_ / "src/c.rwx", "modelbegin\ncone 1 2 8\nmodelend\n");
    Shell("gzip -c c.rwx > ../objects/c.zip");
    Shell("zip -q -X -P secret ../objects/d1.zip c.rwx");  // the run's password
    Shell("zip -q -X -P other ../objects/d2.zip c.rwx");   // refused
    WriteFile(dir_ / "src/two.rwx", kBox);
    Shell("zip -q -X ../objects/d3.zip c.rwx two.rwx");         // a note on standard error
    Shell("head -c 60 ../objects/b10.zip > ../objects/e.zip");  // damaged
    WriteFile(dir_ / "objects/f.cob", CubeScene());
    WriteFile(dir_ / "src/g.cob", CubeScene());
    Shell("zip -q -X ../objects/g.zip g.cob");
    WriteFile(dir_ / "objects/h.rwx", "modelbegin\ntransformend\nvertex 1 1 1\nmodelend\nbad\n");
    WriteFile(dir_ / "objects/i.cob", "not a scene");  // the converter refuses it
    // The third line's format does not fit integer mode: warned about once per run, whatever
    // worker meets it first.
    WriteFile(dir_ / "fmt.txt",
              "<ffile> <fx> <fvert> <fpoly>\n<ffname> <fleft> <ftop>\n<ffile> <fleft%8.3f>\n");
  }
  // One run; the log with the work folders' random names replaced by WORK/.
  struct Result {
    int exit_status = -1;
    std::string registry, log, err;
  };
  Result Run(int jobs, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{"/usr/bin/env",
                                  "TMPDIR=" + (dir_ / "tmp"),
                                  kBin + "/boxtally-cli",
                                  "--quiet",
                                  "--all-messages",
                                  "--cob-debug",
                                  "--new-log",
                                  "--log",
                                  "log.txt",
                                  "--jobs",
                                  std::to_string(jobs)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    for (const char* operand : {"objects/*.*", "fmt.txt", "-r", "-ssecret", "-oreg.txt"}) {
      argv.push_back(operand);
    }
    const ProgramRun run = RunProgram(argv, dir_.path());
    const std::regex work(dir_.path() + "/tmp/boxtally\\.[A-Za-z0-9]{6}/");
    return {run.exit_status, ReadFile(dir_ / "reg.txt"),
            std::regex_replace(ReadFile(dir_ / "log.txt"), work, "WORK/"), run.err};
  }
  void ExpectSameForEveryJobCount() {
    const Result one = Run(1);
    for (const int jobs : {2, 8}) {
      SCOPED_TRACE(jobs);
      const Result many = Run(jobs);
      EXPECT_EQ(many.exit_status, one.exit_status);
      EXPECT_EQ(many.registry, one.registry);
      EXPECT_EQ(many.log, one.log);
      EXPECT_EQ(many.err, one.err);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
  }

  TempDir dir_;
};

// The pictures in a folder, by file name, each a PNG of size x size (libpng reads the encoder's
// files back in render_test).
std::map<std::string, std::string> Pictures(const std::string& dir, unsigned size) {
  const std::string side{0, 0, static_cast<char>(size >> 8), static_cast<char>(size & 255)};
  const std::string head = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + side + side;
  std::map<std::string, std::string> pictures;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string bytes = ReadFile(entry.path().string());
    EXPECT_EQ(bytes.substr(0, head.size()), head) << entry.path();
    pictures[entry.path().filename().string()] = bytes;
  }
  return pictures;
}

}  // namespace

TEST_F(JobsRun, ThumbnailsLeaveTheRunAsItWasAndDrawEveryMeasuredModelOnce) {
  MakeObjectPath();
  WriteFile(dir_ / "objects/b10.rwx", kBox);  // comes before b10.zip, whose picture is b10-2.png
  std::set<std::string> expected{"b10-2.png", "c.png", "d1.png", "d3.png", "f.png", "g.png",
                                 "h.png"};
  for (int i = 10; i < 22; ++i) {
    if (i < 21) expected.insert("a" + std::to_string(i) + ".png");  // a21 reaches 21: too large
    expected.insert("b" + std::to_string(i) + ".png");
  }
  const Result plain = Run(1);
  std::map<std::string, std::string> first;
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    std::filesystem::remove_all(dir_ / "thumbs");
    const Result drawn = Run(jobs, {"--thumbnails", "thumbs", "--thumbnail-size", "40"});
    EXPECT_EQ(drawn.exit_status, plain.exit_status);
    EXPECT_EQ(drawn.registry, plain.registry);
    EXPECT_EQ(drawn.log, plain.log);
    EXPECT_EQ(drawn.err, plain.err);
    const std::map<std::string, std::string> pictures = Pictures(dir_ / "thumbs", 40);
    std::set<std::string> names;
    for (const auto& picture : pictures) names.insert(picture.first);
    EXPECT_EQ(names, expected);
    if (first.empty()) first = pictures;
    EXPECT_TRUE(pictures == first) << "not the same pictures for every job count";
  }
  EXPECT_NE(first["a10.png"], first["b10.png"]);
  // Like the registry, the folder changes only when the run completes: a measurement abort at
  // the last model leaves it as it was.
  std::string deep = "modelbegin\n";
  for (int i = 0; i < 257; ++i) deep += "transformbegin\n";
  WriteFile(dir_ / "objects/z.rwx", deep);
  std::filesystem::remove_all(dir_ / "thumbs");
  EXPECT_EQ(Run(3, {"--thumbnails", "thumbs"}).exit_status, 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "thumbs"));
}

TEST_F(JobsRun, ThumbnailSwitchMistakesStopTheRunBeforeAnythingIsWritten) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "file", "");
  const std::vector<std::string> registry{"objects/*.rwx", "-oreg.txt"};
  const std::vector<std::string> cases[] = {
      {"--thumbnails", "thumbs", "--thumbnail-size", "15"},
      {"--thumbnails", "thumbs", "--thumbnail-size", "2049"},
      {"--thumbnails", "thumbs", "--thumbnail-size", "64px"},
      {"--thumbnail-size", "64"},  // no folder for them
      {"--thumbnails", ""},
      {"--thumbnails", "file"},  // the folder's other refusals are the thumbnails module's
      // A file of the run under a name a picture may take: the picture would replace it.
      {"--thumbnails", "thumbs", "objects/*.rwx", "-othumbs/a.png"},
      {"--thumbnails", "thumbs/", "--log", "./thumbs/log.png"},
      {"--thumbnails", "thumbs", "--report", "objects/../thumbs/report.png"},
  };
  for (std::vector<std::string> c : cases) {
    SCOPED_TRACE(c.back());
    if (c.size() < 4 || c[2] != "objects/*.rwx") c.insert(c.end(), registry.begin(), registry.end());
    std::vector<std::string> argv{kBin + "/boxtally-cli"};
    argv.insert(argv.end(), c.begin(), c.end());
    const ProgramRun run = RunProgram(argv, dir_.path());
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_NE(run.err.find("thumbnail"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "thumbs"));
  }
}

TEST_F(JobsRun, EveryKindOfModelGivesTheSameFilesForEveryJobCount) {
  MakeObjectPath();
  ExpectSameForEveryJobCount();
  const Result one = Run(1);
  EXPECT_EQ(one.exit_status, 0);
  EXPECT_NE(one.registry.find("g.cob"), std::string::npos);  // the path did what it should
  EXPECT_NE(one.log.find("incorrect password"), std::string::npos);
  EXPECT_NE(one.err.find("more than one entry"), std::string::npos);
  const std::regex warning("Unusable tag format in template line 3");
  EXPECT_EQ(std::distance(std::sregex_iterator(one.log.begin(), one.log.end(), warning),
                          std::sregex_iterator()),
            1);
}

TEST_F(JobsRun, AMeasurementAbortEndsTheRunAfterTheSameModels) {
  MakeObjectPath();
  std::string deep = "modelbegin\n";
  for (int i = 0; i < 257; ++i) deep += "transformbegin\n";
  WriteFile(dir_ / "objects/b15.rwx", deep + "modelend\n");  // sorted before b15.zip
  ExpectSameForEveryJobCount();
  const Result one = Run(1);
  EXPECT_EQ(one.exit_status, 1);
  EXPECT_EQ(one.registry.find("b16"), std::string::npos);
}

TEST_F(JobsRun, TheSummaryLineNamesEveryKindOfModelOnStandardErrorOnly) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "src/b.rwx", kBox);
  Shell("zip -q -X ../objects/b.zip b.rwx");
  WriteFile(dir_ / "objects/c.cob", "Caligari garbage");    // the converter refuses it
  Shell("head -c 60 ../objects/b.zip > ../objects/d.zip");  // damaged
  WriteFile(dir_ / "objects/e.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // huge
  WriteFile(dir_ / "src/readme.txt", "a text, no model\n");
  Shell("zip -q -X ../objects/f.zip readme.txt");
  struct Case {
    std::vector<std::string> switches;
    std::string summary;  // the time left out
  };
  const Case cases[] = {
      {{},
       "boxtally-cli: done: 2 models measured, 2 failed, 1 skipped as too large, "
       "1 archive without a model"},
      // Neither the log nor the registry gets the line; --quiet leaves it out.
      {{"--quiet"}, ""},
  };
  const std::regex time(" \\([0-9]+\\.[0-9] s\\)\n$");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    // The counts are the driver's, checked there for one worker and four.
    std::vector<std::string> argv{"/usr/bin/env",
                                  "TMPDIR=" + (dir_ / "tmp"),
                                  kBin + "/boxtally-cli",
                                  "--jobs",
                                  "4",
                                  "--log",
                                  "log.txt",
                                  "--new-log"};
    argv.insert(argv.end(), c.switches.begin(), c.switches.end());
    argv.insert(argv.end(), {"objects/*.*", "-oreg.txt"});
    const ProgramRun run = RunProgram(argv, dir_.path());
    EXPECT_EQ(run.exit_status, 0);
    std::smatch found;
    if (c.summary.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      ASSERT_TRUE(std::regex_search(run.err, found, time)) << run.err;
      EXPECT_EQ(run.err.substr(0, found.position(0)), c.summary);
    }
    EXPECT_EQ(ReadFile(dir_ / "log.txt").find("boxtally-cli"), std::string::npos);
    EXPECT_EQ(ReadFile(dir_ / "reg.txt").find("boxtally-cli"), std::string::npos);
  }
}

// The report: one row per model in the search's order, in a file or on standard output, for one
// worker or two. The rows' forms are the report writer's, each model's fate the driver's.
TEST_F(JobsRun, TheReportGivesOneRowPerModelForAnyJobCount) {
  WriteFile(dir_ / "objects/a.rwx", kBox);
  WriteFile(dir_ / "src/c.rwx", kBox);
  Shell("zip -q -X -P secret ../objects/c.zip c.rwx");  // no password given
  WriteFile(dir_ / "objects/d.zip", "not an archive at all");
  WriteFile(dir_ / "objects/e.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // over 20 units
  WriteFile(dir_ / "objects/g.rwx", "modelbegin\nmodelend\n");                // not one vertex
  Shell("zip -q -X -0 whole.zip c.rwx && head -c 50 whole.zip > ../objects/i.zip");
  WriteFile(dir_ / "objects/t.cob", "Caligari V00.01ALH             \n(the rest as text)\n");
  const std::string rows =
      "name,fate,reason,source,left,bottom,back,right,top,front,size_x,size_y,size_z,vertices,"
      "polygons,textures,flags,missing_textures\r\n"
      "a.rwx,measured,,objects/a.rwx,-1,-1,-1,1,1,1,2,2,2,8,6,0,oversized,\r\n"
      "c.rwx,failed,\"archive encrypted, no password given: error 1: Provide a password. File is "
      "encrypted\",objects/c.zip,,,,,,,,,,,,,,\r\n"
      "d.rwx,failed,not a zip or gzip file,objects/d.zip,,,,,,,,,,,,,,\r\n"
      "e.rwx,skipped_huge,,objects/e.rwx,-25,-0.5,-0.5,25,0.5,0.5,50,1,1,8,6,0,oversized,\r\n"
      "g.rwx,empty,,objects/g.rwx,,,,,,,,,,,,,,\r\n"
      "i.rwx,failed,archive truncated: error 1: zipfile ended prematurely,objects/i.zip,,,,,,,,,,,"
      ",,,\r\n"
      "t.cob,failed,conversion failed (exit status 6): ASCII format COB files are not "
      "supported - resave as binary,objects/t.cob,,,,,,,,,,,,,,\r\n";
  const auto cli = [&](const char* jobs, const char* report, const char* models) {
    return RunProgram(
        {"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kBin + "/boxtally-cli", "--log", "log.txt",
         "--jobs", jobs, "--oversized", "--report", report, models, "-oreg.txt"},
        dir_.path());
  };
  WriteFile(dir_ / "report.csv", "an older report\r\n");
  const ProgramRun to_file = cli("1", "report.csv", "objects/*.*");
  EXPECT_EQ(to_file.exit_status, 0) << to_file.err;
  EXPECT_EQ(ReadFile(dir_ / "report.csv"), rows);
  EXPECT_EQ(cli("2", "-", "objects/*.*").out, rows);
  EXPECT_EQ(ReadFile(dir_ / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
  // A name ending in .xlsx, in any letter case, gives the same rows as a workbook.
  EXPECT_EQ(cli("2", "report.XLSX", "objects/*.*").exit_status, 0);
  const std::vector<std::string> cells = testing_support::SheetCells(dir_ / "report.XLSX");
  for (const char* cell : {"A2 text a.rwx", "K2 number 2", "N2 number 8", "Q2 text oversized",
                           "B8 text failed",
                           "C8 text conversion failed (exit status 6): ASCII format COB files are "
                           "not supported - resave as binary"}) {
    EXPECT_NE(std::find(cells.begin(), cells.end(), cell), cells.end()) << cell;
  }
  // A run that does not complete leaves the report as it was, and no file beside it.
  EXPECT_EQ(cli("1", "report.csv", "objects/*.none").exit_status, 1);
  EXPECT_EQ(ReadFile(dir_ / "report.csv"), rows);
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".report.csv"), std::string::npos);
  }
}

TEST_F(JobsRun, AStopCommitsTheModelInProgressAndDropsTheWorkDoneAhead) {
  // A converter that takes its time for b.cob: Ctrl-C comes while b.cob is being converted.
  std::filesystem::create_directory(dir_ / "bin");
  std::filesystem::copy_file(kBin + "/boxtally-cli", dir_ / "bin/boxtally-cli");
  WriteFile(dir_ / "bin/rwxsmith",
            "#!/bin/sh\ntouch \"$0.started\"\nsleep 1\n"
            "printf 'modelbegin\\nblock 2 2 2\\nmodelend\\n' > \"${1%.*}.rwx\"\n");
  std::filesystem::permissions(dir_ / "bin/rwxsmith", std::filesystem::perms::owner_all);
  std::string all;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h"}) {
    const std::string file = std::string(name) + (name[0] == 'b' ? ".cob" : ".rwx");
    WriteFile(dir_ / ("objects/" + file), kBox);
    all += file + " 1 -995 -995 -995 995 995 995\r\n";
  }
  const auto run = testing_support::StartProgram(
      {"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), dir_ / "bin/boxtally-cli", "--quiet", "--jobs",
       "4", "objects/*.*", "-oreg.txt"},
      dir_.path(), dir_.path());
  for (int i = 0; i < 1000 && !std::filesystem::exists(dir_ / "bin/rwxsmith.started"); ++i) {
    usleep(10000);
  }
  kill(-run.pid, SIGINT);
  EXPECT_EQ(testing_support::WaitProgram(run).exit_status, 128 + SIGINT);
  // A stopped run leaves no registry behind, nor a file of its own beside it.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

TEST_F(JobsRun, AKilledParallelRunMakesNoRegistry) {
  std::string format;
  // Enough lines that the run is still going when it is killed (they are written in batches: 300
  // models of 100 lines took under 60 ms).
  for (int i = 0; i < 800; ++i) format += std::string(80, 'x') + " <ffile>\n";
  WriteFile(dir_ / "fmt.txt", format);
  for (int i = 0; i < 1000; ++i) {
    WriteFile(dir_ / ("objects/m" + std::to_string(1000 + i) + ".rwx"), kBox);
  }
  for (const int delay_ms : {30, 60, 90}) {
    SCOPED_TRACE(delay_ms);
    const auto run = testing_support::StartProgram(
        {"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kBin + "/boxtally-cli", "--quiet", "--jobs",
         "4", "objects/*.rwx", "fmt.txt", "-oreg.txt"},
        dir_.path(), dir_.path());
    usleep(delay_ms * 1000);
    kill(run.pid, SIGKILL);
    testing_support::WaitProgram(run);
    // Only a completed run makes the registry, whatever the workers had measured ahead.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "reg.txt"));
  }
}
