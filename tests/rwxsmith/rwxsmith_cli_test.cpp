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
    "Rwxsmith build 3.3.352 - part of boxtally " BOXTALLY_VERSION "\n"
    "You may optionally specify command line parameters FILENAME and OUTPUTMODE\n"
    "Please report problems as README.md describes under \"Reporting problems\"\n"
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

TEST(RwxsmithOneShot, FileThatIsNotABinaryCobWritesNothingAndExitsSix) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* mode;
    std::string console;  // after the banner
  };
  const std::string ascii = "Caligari V00.01ALH             \n(rest)";
  const Case cases[] = {
      {"ASCII scene", ascii, "Rwx",
       "in.cob: ASCII format COB files are not supported - resave as binary\n"},
      {"text", "not a scene", "Rwx", "in.cob: Can not read header - file probably corrupted\n"},
      {"empty file", "", "Rwx", "in.cob: Can not read header - file probably corrupted\n"},
      {"header cut at 31 bytes", SmallCob().substr(0, 31), "Rwx",
       "in.cob: Can not read header - file probably corrupted\n"},
      // The animation mode has its own header messages, without a line end.
      {"ASCII scene, animation", ascii, "A", "This program only supports Binary format COB files"},
      {"text, animation", "not a scene", "A", "File specified is not correctly formatted COB file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFile(dir / "in.cob", c.bytes);
    const ProgramRun run = RunProgram({kProgram, "in.cob", c.mode}, dir.path());
    EXPECT_EQ(run.exit_status, 6);
    EXPECT_EQ(run.out, kBanner + c.console);
    EXPECT_FALSE(Exists(dir / "in.rwx"));
    EXPECT_FALSE(Exists(dir / "in.seq"));
  }
  // An earlier conversion's output is left as it was.
  TempDir dir;
  WriteFile(dir / "in.cob", "not a scene");
  WriteFile(dir / "in.rwx", "earlier model");
  EXPECT_EQ(RunProgram({kProgram, "in.cob"}, dir.path()).exit_status, 6);
  EXPECT_EQ(ReadFile(dir / "in.rwx"), "earlier model");
}

TEST(RwxsmithOneShot, DamagedSceneWritesWhatWasReadAndExitsSeven) {
  const std::string whole = SmallCob();
  cobtest::CobFile group_only;
  group_only.Group(10, 0, "G");
  const std::size_t polh = group_only.bytes().size();  // where the polyhedron's chunk starts
  cobtest::CobFile bad_extension;
  bad_extension.Group(10, 0, "G").Poly(20, 10, cobtest::Triangle("tri"));
  const std::size_t mat1 = bad_extension.bytes().size();
  cobtest::Bytes mat = cobtest::MatData(cobtest::MatDef{});
  mat.Raw(cobtest::Extension('x', "ab"));  // an extension the format does not have
  bad_extension.Chunk("Mat1", 30, 20, mat).End();
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t damaged_chunk;
    const char* kept;  // text the model holds from before the damage, if any
  };
  const Case cases[] = {
      {"cut inside the polyhedron", whole.substr(0, polh + 60), polh, nullptr},
      {"cut inside a chunk header", whole.substr(0, polh + 7), polh, nullptr},
      {"unknown material extension",
       std::string(bad_extension.bytes().begin(), bad_extension.bytes().end()), mat1,
       " ProtoBegin tri_0_0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFile(dir / "in.cob", c.bytes);
    const ProgramRun run = RunProgram({kProgram, "in.cob"}, dir.path());
    EXPECT_EQ(run.exit_status, 7);
    EXPECT_EQ(run.out, kBanner + "in.cob: Can not read the chunk at offset " +
                           std::to_string(c.damaged_chunk) +
                           " whole - file probably corrupted or cut short\n");
    const std::string rwx = ReadFile(dir / "in.rwx");
    EXPECT_TRUE(rwx.ends_with(" ClumpEnd\r\nModelEnd\r\n"));
    if (c.kept != nullptr) {
      EXPECT_NE(rwx.find(c.kept), std::string::npos) << rwx;
    }
  }
  // Neither a file without "END " that stops between two chunks nor bytes after "END " are
  // damage: every chunk was read whole.
  for (const std::string& bytes : {whole.substr(0, whole.size() - 20), whole + "trailing"}) {
    TempDir dir;
    WriteFile(dir / "in.cob", bytes);
    const ProgramRun run = RunProgram({kProgram, "in.cob"}, dir.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, kBanner);
  }
}

TEST(RwxsmithOneShot, OutputThatWouldReplaceTheInputIsRefused) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string output;  // as the message names it
  };
  const Case cases[] = {
      {"an RWX file given as input", {"keep.rwx"}, "keep.rwx"},
      {"a scene whose name ends in .rwx", {"scene.rwx", "Rwx"}, "scene.rwx"},
      {"the same name spelt another way", {"./scene.rwx"}, "./scene.rwx"},
      {"a symbolic link in the output's place", {"chair.cob"}, "chair.rwx"},
      {"a hard link in the output's place", {"table.cob"}, "table.rwx"},
      {"a sequence name in animation mode", {"walk.seq", "A"}, "walk.seq"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFile(dir / "keep.rwx", "modelbegin\nblock 1 1 1\nmodelend\n");
    WriteFile(dir / "scene.rwx", SmallCob());
    WriteFile(dir / "chair.cob", SmallCob());
    ASSERT_EQ(symlink("chair.cob", (dir / "chair.rwx").c_str()), 0);
    WriteFile(dir / "table.cob", SmallCob());
    ASSERT_EQ(link((dir / "table.cob").c_str(), (dir / "table.rwx").c_str()), 0);
    WriteFile(dir / "walk.seq", SmallCob());
    const std::string input = dir / (c.args[0].starts_with("./") ? c.args[0].substr(2) : c.args[0]);
    const std::string before = ReadFile(input);

    std::vector<std::string> argv{kProgram};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProgramRun run = RunProgram(argv, dir.path());
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.out, kBanner);
    EXPECT_EQ(run.err, "Can not open output file '" + c.output + "': it is the input file\n");
    EXPECT_EQ(ReadFile(input), before);
  }
  // The interactive loop says so and asks for the next file.
  TempDir dir;
  WriteFile(dir / "scene.rwx", SmallCob());
  const ProgramRun run = RunProgram({kProgram}, dir.path(), "scene.rwx\nr\nq\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kBanner + kFilePrompt + kModePrompt + kFilePrompt);
  EXPECT_EQ(run.err, "Can not open output file 'scene.rwx': it is the input file\n");
  EXPECT_EQ(ReadFile(dir / "scene.rwx"), SmallCob());
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

TEST(RwxsmithOneShot, SourceDateEpochThatDoesNotFitIsIgnoredWithAWarning) {
  struct Case {
    const char* value;
    const char* stamp;  // the timestamp line's text, or nullptr for the clock's
  };
  // The bounds: 0 - 7200 s is 1969-12-31 22:00:00; 253402300799 is 9999-12-31 23:59:59 UTC, a
  // Friday, shown two hours earlier.
  const Case cases[] = {
      {"0", "Wed Dec 31 22:00:00 1969"},
      {"253402300799", "Fri Dec 31 21:59:59 9999"},
      {"253402300800", nullptr},
      {"67767976233316800", nullptr},  // near the year 2^31: tm_year + 1900 would overflow
      {"99999999999999999999", nullptr},
      {"-1", nullptr},
      {"1700007200s", nullptr},
      {"now", nullptr},
  };
  const std::string warning =
      "Warning: SOURCE_DATE_EPOCH is not a number of seconds from 0 to 253402300799; the clock "
      "is used\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    WriteFile(dir / "model.cob", SmallCob());
    const SourceDateEpoch epoch(c.value);
    const ProgramRun run = RunProgram({kProgram, "model.cob"}, dir.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, c.stamp != nullptr ? "" : warning);
    const std::string rwx = ReadFile(dir / "model.rwx");
    const std::string label = "#####  VRT Timestamp: ";
    const std::size_t at = rwx.find(label);
    ASSERT_NE(at, std::string::npos);
    const std::string stamp = rwx.substr(at + label.size(), 24);
    if (c.stamp != nullptr) {
      EXPECT_EQ(stamp, c.stamp);
    } else {
      // The clock's time: a year of this century, not the value given.
      EXPECT_EQ(stamp.substr(20, 2), "20") << stamp;
    }
    EXPECT_TRUE(rwx.ends_with("ModelEnd\r\n"));
  }
}

TEST(RwxsmithOneShot, HelpAndVersion) {
  TempDir dir;
  const ProgramRun version = RunProgram({kProgram, "--version"}, dir.path());
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "Rwxsmith build 3.3.352 - part of boxtally " BOXTALLY_VERSION "\n");
  const ProgramRun help = RunProgram({kProgram, "--help"}, dir.path());
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out.rfind("Usage: rwxsmith [FILENAME [OUTPUTMODE]]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("7 FILE is damaged"), std::string::npos);
  EXPECT_TRUE(help.out.ends_with(
      "Please report problems as README.md describes under \"Reporting problems\"\n"));
  EXPECT_EQ(help.err, "");
  // A file of that name is still reachable by another spelling of its path.
  WriteFile(dir / "--help", SmallCob());
  EXPECT_EQ(RunProgram({kProgram, "./--help"}, dir.path()).exit_status, 0);
  EXPECT_TRUE(Exists(dir / "--help.rwx"));
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
