// The real rwxsmith program: command line, exit codes, output names, the interactive loop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cob_test_builder.h"
#include "rwxsmith/converter_cli.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kProgram = std::string(BOXTALLY_BIN_DIR) + "/rwxsmith";

const std::string kBanner =
    "Rwxsmith build 3.3.352 - part of the boxtally project\n"
    "You may optionally specify command line parameters FILENAME and OUTPUTMODE\n"
    "Please report problems at the boxtally project's issue tracker (see README.md)\n"
    "\n";
const std::string kFilePrompt =
    "Enter COB filename (including .cob or .scn extension) (Q to exit): ";
const std::string kModePrompt =
    "Output (to file): Rwx, Animation; (to screen): Headers, Imagelist ? : ";

std::string SmallCob() {
  cobtest::CobFile file;
  file.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("tri"));
  cobtest::MatDef m;
  file.Mat(30, 20, m).End();
  return std::string(file.bytes().begin(), file.bytes().end());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// SOURCE_DATE_EPOCH for the programs this test starts; restored afterwards.
class SourceDateEpoch {
 public:
  explicit SourceDateEpoch(const char* value) { setenv("SOURCE_DATE_EPOCH", value, 1); }
  ~SourceDateEpoch() { unsetenv("SOURCE_DATE_EPOCH"); }
};

TEST(RwxsmithOutputPath, ReplacesTheLastDotOfTheFileName) {
  struct Case {
    const char* input;
    const char* output;
  };
  const Case cases[] = {
      {"unzipwk.cob", "unzipwk.rwx"},
      {"models\\chair.cob", "models\\chair.rwx"},
      {"release1.2\\chair.cob", "release1.2\\chair.rwx"},
      {"release1.2/chair.cob", "release1.2/chair.rwx"},
      {"chair.old.cob", "chair.old.rwx"},
      {"chair", "chair.rwx"},                        // no dot: appended
      {"release1.2/chair", "release1.2/chair.rwx"},  // a dot in a folder name does not count
      {"./chair", "./chair.rwx"},
      {"chair.", "chair.rwx"},
      {"", ".rwx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(cob::OutputPath(c.input, ".rwx"), c.output);
  }
  EXPECT_EQ(cob::OutputPath("walk.scn", ".seq"), "walk.seq");
}

TEST(RwxsmithOneShot, ExitCodesAndOutputs) {
  struct Case {
    std::vector<std::string> args;
    int exit_status;
    std::string made;  // the output file expected, or empty for none
    std::string console;
  };
  const Case cases[] = {
      {{"model.cob"}, 0, "model.rwx", kBanner},
      {{"model.cob", "Rwx"}, 0, "model.rwx", kBanner},
      {{"model.cob", "r", "ignored"}, 0, "model.rwx", kBanner},
      {{"model.cob", "animation"}, 0, "model.seq", ""},
      {{"model.cob", "headers"}, 3, "", kBanner},
      {{"model.cob", "I"}, 3, "", kBanner},
      {{"model.cob", "x"}, 4, "", kBanner},
      {{"model.cob", ""}, 4, "", kBanner},
      {{"missing.cob"}, 1, "", kBanner + "Can not open file 'missing.cob'\n"},
      {{"missing.cob", "x"}, 1, "", kBanner + "Can not open file 'missing.cob'\n"},
      {{"noext"}, 0, "noext.rwx", kBanner},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : c.args[0]);
    TempDir dir;
    WriteFile(dir / "model.cob", SmallCob());
    WriteFile(dir / "noext", SmallCob());
    std::vector<std::string> argv{kProgram};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProgramRun run = RunProgram(argv, dir.path());
    EXPECT_EQ(run.exit_status, c.exit_status);
    if (!c.console.empty()) {
      EXPECT_EQ(run.out, c.console);
    }
    for (const char* name : {"model.rwx", "model.seq", "noext.rwx"}) {
      EXPECT_EQ(Exists(dir / name), c.made == name) << name;
    }
  }
}

TEST(RwxsmithOneShot, InputTooBigForMemoryExitsFive) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  TempDir dir;
  // A sparse 2 GB file, read under a 512 MB address-space limit.
  WriteFile(dir / "big.cob", "");
  ASSERT_EQ(truncate((dir / "big.cob").c_str(), 2LL << 30), 0);
  const ProgramRun run = RunProgram(
      {"/bin/sh", "-c", "ulimit -v 524288 && exec \"$0\" big.cob", kProgram}, dir.path());
  EXPECT_EQ(run.exit_status, 5);
  EXPECT_EQ(run.out, kBanner + "Memory allocation error\n");
  EXPECT_FALSE(Exists(dir / "big.rwx"));
}

TEST(RwxsmithOneShot, FolderIsNotAnInputFile) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "scene.cob").c_str(), 0700), 0);
  const ProgramRun run = RunProgram({kProgram, "scene.cob"}, dir.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, kBanner + "Can not open file 'scene.cob'\n");
}

TEST(RwxsmithOneShot, OutputThatCannotBeCreatedExitsTwo) {
  TempDir dir;
  WriteFile(dir / "model.cob", SmallCob());
  ASSERT_EQ(mkdir((dir / "model.rwx").c_str(), 0700), 0);  // a folder where the file should go
  const ProgramRun run = RunProgram({kProgram, "model.cob"}, dir.path());
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, kBanner);
}

TEST(RwxsmithOneShot, OutputThatCannotBeWrittenWholeExitsTwo) {
  for (const char* mode : {"Rwx", "Animation"}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    WriteFile(dir / "model.cob", SmallCob());
    const std::string output = dir / (mode[0] == 'R' ? "model.rwx" : "model.seq");
    // The output opens, but every write fails as on a full disk.
    ASSERT_EQ(symlink("/dev/full", output.c_str()), 0);
    const ProgramRun run = RunProgram({kProgram, "model.cob", mode}, dir.path());
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_FALSE(Exists(output));  // nothing half-written is left to be read as whole
  }
}

TEST(RwxsmithOneShot, BadContentStillExitsZeroWithAFrame) {
  TempDir dir;
  WriteFile(dir / "ascii.cob", std::string("Caligari V00.01ALH             \n(rest)"));
  WriteFile(dir / "junk.cob", "not a scene");
  const ProgramRun ascii = RunProgram({kProgram, "ascii.cob"}, dir.path());
  EXPECT_EQ(ascii.exit_status, 0);
  EXPECT_EQ(ascii.out,
            kBanner + "ascii.cob: ASCII format COB files are not supported - resave as binary\n");
  EXPECT_NE(ReadFile(dir / "ascii.rwx")
                .find("ModelBegin\r\n ClumpBegin\r\n  Scale .1 .1 .1\r\n"
                      " ClumpEnd\r\nModelEnd\r\n"),
            std::string::npos);
  const ProgramRun junk = RunProgram({kProgram, "junk.cob"}, dir.path());
  EXPECT_EQ(junk.exit_status, 0);
  EXPECT_EQ(junk.out, kBanner + "junk.cob: Can not read header - file probably corrupted\n");
}

TEST(RwxsmithOneShot, SourceDateEpochMakesRunsIdentical) {
  TempDir dir;
  WriteFile(dir / "model.cob", SmallCob());
  const SourceDateEpoch epoch("1700007200");
  ASSERT_EQ(RunProgram({kProgram, "model.cob"}, dir.path()).exit_status, 0);
  const std::string first = ReadFile(dir / "model.rwx");
  ASSERT_EQ(RunProgram({kProgram, "model.cob"}, dir.path()).exit_status, 0);
  EXPECT_EQ(ReadFile(dir / "model.rwx"), first);
  EXPECT_EQ(first.substr(0, first.find("ModelBegin")),
            "#####  Rwxsmith:      V3.03.352 by the boxtally project (see README.md)\r\n"
            "#####  Source File:   model.cob\r\n"
            "#####  VRT Timestamp: Tue Nov 14 22:13:20 2023\r\n");
}

TEST(RwxsmithInteractive, PromptsUntilQ) {
  TempDir dir;
  WriteFile(dir / "model.cob", SmallCob());
  // A missing file asks again without asking for the mode; an unknown mode says so.
  const ProgramRun run =
      RunProgram({kProgram}, dir.path(), "missing.cob\nmodel.cob\nz\nmodel.cob\nR\nq\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kBanner + kFilePrompt + "Can not open file 'missing.cob'\n" + kFilePrompt +
                         kModePrompt + "Unknown file output type\n" + kFilePrompt + kModePrompt +
                         kFilePrompt);
  EXPECT_TRUE(Exists(dir / "model.rwx"));
}

TEST(RwxsmithInteractive, EndsAtUpperCaseQAndAtTheEndOfInput) {
  TempDir dir;
  const ProgramRun upper = RunProgram({kProgram}, dir.path(), "Q\r\n");
  EXPECT_EQ(upper.exit_status, 0);
  EXPECT_EQ(upper.out, kBanner + kFilePrompt);
  const ProgramRun ended = RunProgram({kProgram}, dir.path(), "");
  EXPECT_EQ(ended.exit_status, 0);
  EXPECT_EQ(ended.out, kBanner + kFilePrompt + "\n");
  // Input ending after a file name: the missing mode answer is an unknown mode.
  WriteFile(dir / "model.cob", SmallCob());
  const ProgramRun cut = RunProgram({kProgram}, dir.path(), "model.cob\n");
  EXPECT_EQ(cut.exit_status, 0);
  EXPECT_EQ(cut.out, kBanner + kFilePrompt + kModePrompt + "Unknown file output type\n" +
                         kFilePrompt + "\n");
}

TEST(RwxsmithInteractive, PrototypeNumbersGoOnFromOneFileToTheNext) {
  TempDir dir;
  WriteFile(dir / "a.cob", SmallCob());
  WriteFile(dir / "b.cob", SmallCob());
  const ProgramRun run = RunProgram({kProgram}, dir.path(), "a.cob\nr\nb.cob\nrwx\nq\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(ReadFile(dir / "a.rwx").find(" ProtoBegin tri_0_0\r\n"), std::string::npos);
  EXPECT_NE(ReadFile(dir / "b.rwx").find(" ProtoBegin tri_0_1\r\n"), std::string::npos);
}

TEST(RwxsmithInteractive, ScreenModesAndOutputFailures) {
  TempDir dir;
  WriteFile(dir / "model.cob", SmallCob());
  ASSERT_EQ(mkdir((dir / "model.seq").c_str(), 0700), 0);
  const ProgramRun run = RunProgram({kProgram}, dir.path(), "model.cob\nh\nmodel.cob\na\nq\n");
  EXPECT_EQ(run.exit_status, 0);
  // The chunk census lists the types in file order.
  EXPECT_NE(run.out.find(kModePrompt + "  Grou : 1\n  PolH : 1\n  Mat1 : 1\n  END  : 1\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(kModePrompt + "Can not open output file 'model.seq'\n" + kFilePrompt),
            std::string::npos)
      << run.out;
}

}  // namespace
