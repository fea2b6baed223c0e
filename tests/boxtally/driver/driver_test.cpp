#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "boxtally/archive/archive_fixtures.h"
#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/driver/registry_output.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
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
  int Batch(const std::string& pattern) { return Outcome(pattern).result; }
  driver::RunOutcome Outcome(const std::string& pattern) {
    return driver::RunBatch(host_, {"boxtally.exe", pattern, dir_ / "fmt.txt", "-r",
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
  driver::RegistryOutput registry;
  EXPECT_EQ(driver::OpenRegistryOutput(options, *log, registry), driver::RegistryOpen::kUnopenable);
  EXPECT_EQ(ReadFile(dir / "log.txt"), "Unknown option: q\r\nUnknown option: -\r\n"
                                       "Unable to create/append output file " + reg +
                                           " (No such file or directory)\r\n");

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
  WriteFile(dir_ / "reg.txt", "older\r\n");
  const driver::RunOutcome outcome = Outcome(dir_ / "objects/*.rwx");
  EXPECT_EQ(outcome.result, 0);
  // Only a completed run replaces the registry.
  EXPECT_EQ(Registry(), "older\r\n");
  EXPECT_TRUE(outcome.registry_unchanged);
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
  const driver::ProcessedModel processed = driver::ProcessModel(host_, missing, "missing.rwx", run);
  EXPECT_EQ(processed.result, driver::ModelResult::kDone);
  EXPECT_EQ(processed.fate, driver::Fate::kFailed);
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

  // When no model can be measured for one cause outside them, the run says so and fails.
  WriteFile(bin_ / "rwxsmith", "not a program");
  chmod((bin_ / "rwxsmith").c_str(), 0755);
  host_.ResetLog();
  const driver::RunOutcome outcome = Outcome(dir_ / "objects/a.cob");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.end, driver::RunEnd::kNothingCouldBeMeasured);
  EXPECT_EQ(outcome.about, "the converter " + host_.program_dir +
                               "rwxsmith cannot be started (Exec format error)");
  EXPECT_EQ(Log(), "Rwxsmith.exe exec format error for " + a + "\r\n");
}

TEST_F(DriverRun, GivesEveryModelOneResultWhateverTheNumberOfWorkers) {
  using driver::Fate;
  using driver::Reason;
  Converter("exit 3\n");  // every COB model fails to convert
  struct Expected {
    Fate fate;
    Reason reason;
  };
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> models;
    driver::RunEnd end;
    std::string about;  // under objects/
    driver::RunCounts counts;
    std::vector<Expected> results;  // one per model, in name order
  };
  std::string nested = "modelbegin\n";
  for (int i = 0; i < 257; ++i) nested += "transformbegin\n";  // one past the stack's limit
  archive_test::EntrySpec text;
  text.name = "readme.txt";
  text.data = "not a model\n";
  // An empty model and encrypted, cut and non-zip archives: the report's end-to-end rows.
  const Case cases[] = {
      {"one of every kind",
       {{"a.rwx", kBox},
        {"b.cob", "scene"},                                   // not converted
        {"c.rwx", "modelbegin\nblock 50 50 50\nmodelend\n"},  // huge: left out
        {"d.zip", "PK\x03\x04 not really a zip"},             // no entry name
        {"e.rwx", "just a text\n"},                           // no model in it
        {"f.rwx", kBox},
        {"k.zip", archive_test::WholeArchive({text})}},
       driver::RunEnd::kCompleted,
       "",
       {7, 2, 2, 1, 2},
       {{Fate::kMeasured, Reason::kNone},
        {Fate::kFailed, Reason::kConverterFailed},
        {Fate::kSkippedHuge, Reason::kNone},
        {Fate::kFailed, Reason::kArchiveNoEntryName},
        {Fate::kNotModelFile, Reason::kNone},
        {Fate::kMeasured, Reason::kNone},
        {Fate::kNoModel, Reason::kNone}}},
      {"a measurement abort: the models after it are not reached",
       {{"a.rwx", kBox}, {"b.rwx", nested}, {"c.rwx", kBox}, {"d.rwx", kBox}},
       driver::RunEnd::kMeasurementAbort,
       "b.rwx",
       {4, 1, 1, 0, 0},
       {{Fate::kMeasured, Reason::kNone},
        {Fate::kFailed, Reason::kMeasurementLimit},
        {Fate::kNotReached, Reason::kRunEndedEarly},
        {Fate::kNotReached, Reason::kRunEndedEarly}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_ / "objects");
    std::filesystem::create_directory(dir_ / "objects");
    for (const auto& [name, bytes] : c.models) Model(name, bytes);
    for (const std::size_t jobs : {1u, 4u}) {
      SCOPED_TRACE(jobs);
      host_.jobs = jobs;
      host_.ResetLog();
      const driver::RunOutcome outcome = Outcome(dir_ / "objects/*.*");
      EXPECT_EQ(outcome.end, c.end);
      EXPECT_EQ(outcome.about, c.about.empty() ? "" : dir_ / ("objects/" + c.about));
      EXPECT_EQ(outcome.counts.found, c.counts.found);
      EXPECT_EQ(outcome.counts.measured, c.counts.measured);
      EXPECT_EQ(outcome.counts.failed, c.counts.failed);
      EXPECT_EQ(outcome.counts.skipped_huge, c.counts.skipped_huge);
      EXPECT_EQ(outcome.counts.without_model, c.counts.without_model);
      EXPECT_GE(outcome.seconds, 0.0);
      ASSERT_EQ(outcome.results.size(), c.results.size());
      const std::string log = Log();
      for (std::size_t i = 0; i < c.results.size(); ++i) {
        const driver::ModelOutcome& r = outcome.results[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.source, dir_ / ("objects/" + c.models[i].first));
        EXPECT_EQ(r.fate, c.results[i].fate);
        EXPECT_EQ(r.reason, c.results[i].reason);
        // A failed model's own lines in the log name its file.
        if (r.fate == Fate::kFailed) {
          EXPECT_NE(log.substr(r.log_offset, r.log_length).find(r.source), std::string::npos);
        }
      }
    }
  }
}

TEST(RunReport, DurationInTenthsThenMinutesThenHours) {
  struct Case {
    double seconds;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0.0 s"},          {0.04, "0.0 s"},         {3.44, "3.4 s"},
      {59.94, "59.9 s"},       {59.96, "1 min 00 s"},   {75.0, "1 min 15 s"},
      {3599.4, "59 min 59 s"}, {3599.6, "1 h 00 min"},  {7380.0, "2 h 03 min"},
      {-1.0, "0.0 s"},         {std::nan(""), "0.0 s"}, {1e300, "8784 h 00 min"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(driver::DurationText(c.seconds, '.'), c.text);
  }
  EXPECT_EQ(driver::DurationText(3.44, ','), "3,4 s");
}
