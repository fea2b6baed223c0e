// boxtally-cli over folders of zip and gzip archives made by Info-ZIP zip and gzip.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kCli = std::string(BOXTALLY_BIN_DIR) + "/boxtally-cli";
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";

bool HaveTool(const char* tool) {
  return RunProgram({"/bin/sh", "-c", std::string("command -v ") + tool}).exit_status == 0;
}

class ZipRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("zip") || !HaveTool("gzip")) GTEST_SKIP() << "zip or gzip missing";
    std::filesystem::create_directory(dir_ / "objects");
    std::filesystem::create_directory(dir_ / "src");
    std::filesystem::create_directory(dir_ / "tmp");
  }
  // Zips src/<entry> (written with `text`) into objects/<archive> with extra zip flags.
  std::string Zip(const std::string& archive, const std::string& entry, const std::string& text,
                  const std::string& flags = "") {
    const std::filesystem::path source = dir_ / ("src/" + entry);
    std::filesystem::create_directories(source.parent_path());
    WriteFile(source, text);
    const std::string cmd = "cd '" + (dir_ / "src") + "' && zip -q -X " + flags + " '../objects/" +
                            archive + "' '" + entry + "'";
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", cmd}).exit_status, 0) << cmd;
    return dir_ / ("objects/" + archive);
  }
  // Runs with TMPDIR inside the test folder, so the private work folder can be checked.
  ProgramRun Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "TMPDIR=" + (dir_ / "tmp"), kCli, "--quiet",
                                  "--log", dir_ / "log.txt"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir_.path());
  }
  std::string Log() const { return ReadFile(dir_ / "log.txt"); }
  bool WorkFilesLeft() const { return !std::filesystem::is_empty(dir_ / "tmp"); }

  TempDir dir_;
};

}  // namespace

TEST_F(ZipRun, MeasuresTheFirstEntryOfEachArchive) {
  Zip("Box.ZIP", "box.rwx", kBox);
  Zip("stored.zip", "inner/cube.txt", "modelbegin\nblock 4 2 2\nmodelend\n", "-0");
  const ProgramRun run = Run({"--all-messages", dir_ / "objects/*.zip"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            "box.rwx 1 -995 -995 -995 995 995 995\r\n"
            "stored.rwx 1 -1995 -995 -995 1995 995 995\r\n");
  EXPECT_EQ(Log(), "File name within (" + (dir_ / "objects/Box.ZIP") + ") archive=box.rwx\r\n"
                   "File name within (" + (dir_ / "objects/stored.zip") +
                   ") archive=inner/cube.txt\r\n");
  EXPECT_FALSE(WorkFilesLeft());
}

TEST_F(ZipRun, EncryptedArchivesNeedTheRightPassword) {
  const std::string a = Zip("secret.zip", "box.rwx", kBox, "-P letmein");
  ProgramRun run = Run({"--password", "letmein", a});
  EXPECT_EQ(run.out, "secret.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "");

  // zip draws the encryption header at random, so one wrong password in 256 passes the check
  // byte and fails later, on the data. Another wrong password is then caught by the check.
  const std::string unable = "Unable to unzip file " + a + "\r\n";
  std::string log;
  for (const char* wrong : {"wrong", "Wrong", "wrong!", "WRONG"}) {
    WriteFile(dir_ / "log.txt", "");
    run = Run({"--password", wrong, a});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, "");
    log = Log();
    ASSERT_TRUE(log.ends_with(unable)) << log;
    if (log.find("incorrect password") != std::string::npos) break;
  }
  EXPECT_EQ(log, "funzip error in " + a + ": incorrect password for first entry\r\n"
                 "error from unzip=3 for file:" + a + "\r\n" + unable);
  WriteFile(dir_ / "log.txt", "");

  run = Run({a});
  EXPECT_EQ(Log(), "funzip error in " + a + ": Provide a password. File is encrypted\r\n"
                   "error from unzip=1 for file:" + a + "\r\n"
                   "Unable to unzip file " + a + "\r\n");
  EXPECT_FALSE(WorkFilesLeft());
}

TEST_F(ZipRun, DamagedArchivesAreLoggedAndTheRunGoesOn) {
  const std::string bad = dir_ / "objects/a.zip";
  WriteFile(bad, "this is no archive");
  Zip("b.zip", "b.rwx", kBox);
  const ProgramRun run = Run({dir_ / "objects/*.zip"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "b.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "Unable to get zipfile name " + bad + "\r\n");
}

TEST_F(ZipRun, GzipMemberUnderAZipName) {
  WriteFile(dir_ / "src/tree.rwx", kBox);
  ASSERT_EQ(RunProgram({"/bin/sh", "-c",
                        "gzip -c '" + (dir_ / "src/tree.rwx") + "' > '" +
                            (dir_ / "objects/tree.zip") + "'"})
                .exit_status,
            0);
  const ProgramRun run = Run({"--all-messages", dir_ / "objects/tree.zip"});
  EXPECT_EQ(run.out, "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Log(), "File name within (" + (dir_ / "objects/tree.zip") + ") archive=tree.rwx\r\n");
}
