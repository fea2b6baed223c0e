#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "platform/paths.h"
#include "support/fake_host.h"
#include "support/temp_dir.h"

using testing_support::FakeHost;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
const char* const kBox = "modelbegin\nblock 2 2 2\nmodelend\n";
const char* const kBoxLine = " 1 -995 -995 -995 995 995 995\r\n";

class DriverRun : public ::testing::Test {
 protected:
  DriverRun() : host_(dir_ / "log.txt", work_.path() + "/") {
    std::filesystem::create_directory(dir_ / "objects");
    WriteFile(dir_ / "fmt.txt", "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n");
    host_.program_dir = bin_.path() + "/";
  }
  std::string Model(const std::string& name, const std::string& text) {
    WriteFile(dir_ / ("objects/" + name), text);
    return dir_ / ("objects/" + name);
  }
  int Batch(const std::string& pattern) {
    return driver::BatchMain(host_, {"boxtally.exe", pattern, dir_ / "fmt.txt", "-r",
                                     "-o" + (dir_ / "reg.txt")});
  }
  // A stand-in converter: a shell script under the converter's name in the program folder.
  void Converter(const std::string& script) {
    const std::string path = bin_ / "rwxsmith";
    WriteFile(path, "#!/bin/sh\n" + script);
    chmod(path.c_str(), 0755);
  }
  std::string Log() const { return ReadFile(dir_ / "log.txt"); }
  std::string Registry() const { return ReadFile(dir_ / "reg.txt"); }

  TempDir dir_, work_, bin_;
  FakeHost host_;
};
}  // namespace

TEST(RunOptions, ReadsEveryArgumentInOrderAndOpensNothing) {
  TempDir dir;
  platform::TextFilePtr log(platform::OpenTextFile(dir / "log.txt", platform::OpenMode::kCreate));
  driver::RunOptions options;
  const std::string reg = dir / "no/such/dir";
  const std::vector<std::string> args{"p", "m", "f", "-r", "-dx", "-sSecret", "-tT", "-q", "-",
                                      reg, "-v"};
  // An absolute path names a registry file: '/' never introduces an option here.
  EXPECT_EQ(driver::ReadRunOptions(args, *log, options), driver::OptionsResult::kOk);
  EXPECT_TRUE(options.integer_mode);
  EXPECT_TRUE(options.debug_trace);
  EXPECT_EQ(options.password, "Secret");
  EXPECT_TRUE(options.registry_named);
  EXPECT_EQ(options.registry_name, reg);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "Unknown option: q\r\nUnknown option: -\r\n");
  bool locked = true;
  EXPECT_EQ(driver::OpenRegistry(options, *log, &locked), nullptr);
  EXPECT_FALSE(locked);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "Unknown option: q\r\nUnknown option: -\r\n"
                                       "Unable to create/append output file " + reg + "\r\n");

  // A second registry name ends the reading; neither file is created.
  driver::RunOptions twice;
  EXPECT_EQ(driver::ReadRunOptions({"p", "m", "f", "-o" + (dir / "a"), dir / "b", "-q"}, *log,
                                   twice),
            driver::OptionsResult::kRegistryTwice);
  EXPECT_FALSE(platform::FileExists(dir / "a"));
  EXPECT_FALSE(platform::FileExists(dir / "b"));
}

TEST(ModelNames, LowerCaseWithTheSuffixReplaced) {
  struct Case { const char* found; const char* suffix; const char* name; const char* type; };
  const Case cases[] = {
      {"Chair.RWX", "rwx", "chair.rwx", "rwx"}, {"Tree.ZIP", "rwx", "tree.rwx", "zip"},
      {"Tree.ZIP", "cob", "tree.cob", "zip"},   {"abc", "rwx", "abc", "abc"},
      {"ABCD", "rwx", "arwx", "bcd"},           {"x.jpg", "rwx", "x.rwx", "jpg"},
      {"a", "rwx", "a", "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.found);
    EXPECT_EQ(driver::ModelName(c.found, c.suffix), c.name);
    EXPECT_EQ(driver::TypeSuffix(c.found), c.type);
  }
}

TEST_F(DriverRun, MeasuresEveryMatchAndShowsDone) {
  Model("b.rwx", kBox);
  Model("A.jpg", kBox);  // any suffix but zip and cob is RWX text
  EXPECT_EQ(Batch(dir_ / "objects/*.*"), 0);
  EXPECT_EQ(Registry(), std::string("a.rwx") + kBoxLine + "b.rwx" + kBoxLine);
  EXPECT_EQ(host_.status, (std::vector<std::string>{"1:Processing A.jpg", "1:Processing b.rwx",
                                                    "1:Done!"}));
  EXPECT_EQ(Log(), "");
}

TEST_F(DriverRun, StopRequestEndsAfterTheModelInProgress) {
  Model("a.rwx", kBox);
  Model("b.rwx", kBox);
  host_.stop_after_models = 1;
  EXPECT_EQ(Batch(dir_ / "objects/*.rwx"), 0);
  EXPECT_EQ(Registry(), std::string("a.rwx") + kBoxLine);
  EXPECT_EQ(host_.status.back(), "1:Done!");
}

TEST_F(DriverRun, NoMatchEndsWithOneAndNoDone) {
  EXPECT_EQ(Batch(dir_ / "objects/*.rwx"), 1);
  EXPECT_TRUE(host_.status.empty());
  EXPECT_EQ(Registry(), "");
}

TEST_F(DriverRun, UnopenableModelIsLoggedAndSkipped) {
  driver::RunState run;
  run.format_path = dir_ / "fmt.txt";
  platform::TextFilePtr reg(platform::OpenTextFile(dir_ / "reg.txt", platform::OpenMode::kCreate));
  run.registry = reg.get();
  const std::string missing = dir_ / "objects/missing.rwx";
  EXPECT_EQ(driver::ProcessModel(host_, missing, "missing.rwx", run), driver::ModelResult::kDone);
  EXPECT_EQ(Log(), "Unable to open file " + missing + "\r\n");
}

TEST_F(DriverRun, CobModelIsConvertedInTheWorkFolderAndCleanedUp) {
  // The stand-in converter also tells where it ran and whether it was given a copy.
  Converter("pwd > \"$0.dir\"\nprintf 'modelbegin\\nblock 2 2 2\\nmodelend\\n' > \"${1%.*}.rwx\"\n");
  const std::string cob = Model("Tree.COB", "binary scene");
  const std::string own = Model("Tree.rwx", "the user's own file");  // must survive
  host_.cob_debug = true;
  const std::string before = *platform::CurrentDirectory();
  EXPECT_EQ(Batch(dir_ / "objects/*.cob"), 0);
  EXPECT_EQ(Registry(), std::string("tree.cob") + kBoxLine);
  const std::string work = work_.path() + "/";
  const std::string converted = work + "Tree.rwx";
  EXPECT_EQ(Log(), "Debug - invoke -" + host_.program_dir + "rwxsmith Tree.COB Rwx-   0\r\n"
                   "Debug - remove Tree.COB   success\r\n"
                   "Debug - open " + converted + "   success\r\n"
                   "Debug - final remove " + converted + "  success\r\n");
  EXPECT_EQ(ReadFile(bin_ / "rwxsmith.dir"), work_.path() + "\n");
  EXPECT_FALSE(platform::FileExists(converted));
  EXPECT_FALSE(platform::FileExists(work + "Tree.COB"));
  EXPECT_EQ(ReadFile(cob), "binary scene");
  EXPECT_EQ(ReadFile(own), "the user's own file");
  EXPECT_EQ(*platform::CurrentDirectory(), before);
}

TEST_F(DriverRun, ConverterFailuresAreLoggedAndTheRunGoesOn) {
  const std::string a = Model("a.cob", "scene");
  Model("b.rwx", kBox);
  // No converter in the program folder.
  EXPECT_EQ(Batch(dir_ / "objects/*.*"), 0);
  EXPECT_EQ(Log(), "Rwxsmith.exe not found for " + a + "\r\n");
  EXPECT_EQ(Registry(), std::string("b.rwx") + kBoxLine);

  Converter("exit 3\n");
  host_.ResetLog();
  EXPECT_EQ(Batch(dir_ / "objects/a.cob"), 0);
  EXPECT_EQ(Log(), "'" + host_.program_dir + "rwxsmith' returned 3 for " + a + " (a.cob)\r\n");

  Converter("exit 0\n");  // ends well but writes nothing
  host_.ResetLog();
  EXPECT_EQ(Batch(dir_ / "objects/a.cob"), 0);
  EXPECT_EQ(Log(), "Rwxsmith.exe did not convert " + a + " (a.cob)\r\n");

  WriteFile(bin_ / "rwxsmith", "not a program");
  chmod((bin_ / "rwxsmith").c_str(), 0755);
  host_.ResetLog();
  EXPECT_EQ(Batch(dir_ / "objects/a.cob"), 0);
  EXPECT_EQ(Log(), "Rwxsmith.exe exec format error for " + a + "\r\n");
}
