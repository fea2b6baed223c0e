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

// Stored entries whose local header leaves the sizes to the central directory: Info-ZIP's Zip64
// fields (-fz, or reading the entry from standard input), and a data descriptor after zeros in
// the header, as Python's zipfile writes to a pipe.
TEST_F(ZipRun, StoredEntriesWithSizesOnlyInTheCentralDirectory) {
  Zip("fz.zip", "fz.rwx", kBox, "-0 -fz");
  WriteFile(dir_ / "src/piped.rwx", kBox);
  ASSERT_EQ(RunProgram(
                {"/bin/sh", "-c",
                 "cd '" + (dir_ / "src") + "' && zip -q -0 - - < piped.rwx > ../objects/piped.zip"})
                .exit_status,
            0);
  if (HaveTool("python3")) {
    WriteFile(dir_ / "src/stream.py",
              "import sys, zipfile\n"
              "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_STORED) as z:\n"
              "    with z.open('streamed.rwx', 'w') as f:\n"
              "        f.write(open('piped.rwx', 'rb').read())\n");
    ASSERT_EQ(RunProgram({"/bin/sh", "-c",
                          "cd '" + (dir_ / "src") +
                              "' && python3 stream.py | cat > ../objects/streamed.zip"})
                  .exit_status,
              0);
  }
  const ProgramRun run = Run({dir_ / "objects/*.zip"});
  EXPECT_EQ(run.exit_status, 0);
  std::string expected =
      "fz.rwx 1 -995 -995 -995 995 995 995\r\n"
      "piped.rwx 1 -995 -995 -995 995 995 995\r\n";
  if (HaveTool("python3")) expected += "streamed.rwx 1 -995 -995 -995 995 995 995\r\n";
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(Log(), "");
}

// Deflate data that stops before its last block is damaged data (code 1), not a file that ended
// early.
TEST_F(ZipRun, DeflateDataCutShortIsAFormatViolation) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "vertex " + std::to_string(i * 7919 % 1000) + " 1 2\n";
  const std::string archive = Zip("cut.zip", "cut.rwx", "modelbegin\n" + text + "modelend\n");
  const std::string whole = ReadFile(archive);
  // The data starts after the 30-byte header, the name and the extra field.
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(whole[at]) |
                                    static_cast<unsigned char>(whole[at + 1]) << 8);
  };
  const std::size_t data_start = 30 + u16(26) + u16(28);
  ASSERT_LT(data_start + 100, whole.size() / 2);
  WriteFile(archive, whole.substr(0, data_start + 100));
  const ProgramRun run = Run({archive});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  const std::string error = "funzip error in " + archive + ": ";
  EXPECT_EQ(Log(), error + "invalid compressed data--format violated\r\n" +
                       "error from unzip=1 for file:" + archive + "\r\n" + "Unable to unzip file " +
                       archive + "\r\n");
  EXPECT_FALSE(WorkFilesLeft());
}

// A small archive that inflates to much more than the bound (here 1 MiB) is refused however its
// sizes are told: in the local header, only after the data (a streamed zip), in a gzip trailer.
// The COB models go the same way, and a plain COB is not copied to be converted.
TEST_F(ZipRun, EntriesAndCobModelsOverTheSizeBoundAreRefusedAndTheRunGoesOn) {
  std::string big;
  while (big.size() < (3u << 20)) big += "# a comment line that deflate shrinks to almost nothing\n";
  big += kBox;
  Zip("a.zip", "a.rwx", big);
  Zip("d.zip", "d.cob", big);
  WriteFile(dir_ / "objects/f.cob", big);
  WriteFile(dir_ / "src/big.rwx", big);
  const std::string src = dir_ / "src";
  for (const std::string cmd : {"zip -q - - < big.rwx > ../objects/b.zip",
                                "gzip -c big.rwx > ../objects/c.zip"}) {
    ASSERT_EQ(RunProgram({"/bin/sh", "-c", "cd '" + src + "' && " + cmd}).exit_status, 0) << cmd;
  }
  Zip("g.zip", "g.rwx", kBox);
  const ProgramRun run = Run({"--max-entry-size", "1", dir_ / "objects/*.*"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "g.rwx 1 -995 -995 -995 995 995 995\r\n");
  std::string expected;
  for (const char* name : {"a.zip", "b.zip", "c.zip", "d.zip"}) {
    const std::string path = dir_ / (std::string("objects/") + name);
    expected += "funzip error in " + path +
                ": first entry larger than 1048576 bytes--not extracted\r\n"
                "error from unzip=5 for file:" + path + "\r\nUnable to unzip file " + path + "\r\n";
  }
  expected += "Unable to convert " + (dir_ / "objects/f.cob") + ": larger than 1048576 bytes\r\n";
  EXPECT_EQ(Log(), expected);
  EXPECT_FALSE(WorkFilesLeft());
}
