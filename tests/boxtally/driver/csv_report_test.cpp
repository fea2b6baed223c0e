// What became of each model, in words and as the CSV report's rows.
#include "boxtally/driver/csv_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "boxtally/driver/report_outcome.h"
#include "support/temp_dir.h"

using driver::Fate;
using driver::ModelOutcome;
using driver::Reason;
using testing_support::Outcome;

TEST(ModelResults, ReasonsReadAsPlainEnglishWithTheirFacts) {
  struct Case {
    Reason reason;
    const char* facts;
    const char* text;
  };
  const Case cases[] = {
      {Reason::kNone, "ignored", ""},
      {Reason::kArchiveEncrypted, "", "archive encrypted, no password given"},
      {Reason::kArchiveDamaged, "invalid compressed data--crc error",
       "archive damaged: invalid compressed data--crc error"},
      {Reason::kHttpStatus, "404", "HTTP status 404"},
      {Reason::kConnectionFailed, "10061:Connection refused",
       "server unreachable (10061:Connection refused)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(driver::ReasonText(c.reason, c.facts), c.text);
  }
  // Every reason but kNone has words, and no two share them.
  std::vector<std::string> seen;
  for (int r = 1; r <= static_cast<int>(Reason::kRunEndedEarly); ++r) {
    const std::string words = driver::ReasonText(static_cast<Reason>(r), "");
    EXPECT_FALSE(words.empty()) << r;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), words), 0) << words;
    seen.push_back(words);
  }
}

TEST(CsvReport, OneRowPerModelAsRfc4180Wants) {
  ModelOutcome tree = Outcome("tree.rwx", Fate::kMeasured);
  tree.box = {-0.5f, 0.0f, -1.25f, 0.5f, 6.1f, 1.25f};
  tree.vertices = 8;
  tree.polygons = 12;
  tree.textures = 2;
  tree.flags = driver::kFlagNotCentred | driver::kFlagFacer;
  tree.missing_textures = {"bark.jpg", "leaf,old"};
  // A box whose float difference is 0.72499996: the report gives the size of its decimals.
  ModelOutcome post = Outcome("=1+1.rwx", Fate::kMeasured);
  post.box = {-0.35f, -0.025f, 0.1f, 0.375f, 0.7f, 0.7f};
  struct Case {
    ModelOutcome model;
    driver::CsvStyle style;
    const char* row;
  };
  const Case cases[] = {
      {tree,
       {},
       "tree.rwx,measured,,objects/tree.rwx,-0.5,0,-1.25,0.5,6.1,1.25,1,6.1,2.5,8,12,2,"
       "not_centred facer,\"bark.jpg;leaf,old\"\r\n"},
      // A name that a spreadsheet would take for a formula stays as it is.
      {post,
       {},
       "=1+1.rwx,measured,,objects/=1+1.rwx,-0.35,-0.025,0.1,0.375,0.7,0.7,0.725,0.725,"
       "0.6,0,0,0,,\r\n"},
      {Outcome("a,b.zip", Fate::kFailed, Reason::kScriptError, "Application error in \"x\""),
       {},
       "\"a,b.zip\",failed,\"script error: Application error in \"\"x\"\"\",\"objects/a,b.zip\","
       ",,,,,,,,,,,,,\r\n"},
      // For a French spreadsheet: ';' between fields, decimal commas.
      {Outcome("a,b.zip", Fate::kFailed, Reason::kScriptError, "x;y"),
       {';', ',', true},
       "a,b.zip;failed;\"script error: x;y\";objects/a,b.zip;;;;;;;;;;;;;;\r\n"},
      // A line break in a name cannot split the record; bytes that are not UTF-8 are replaced.
      {Outcome("new\nline\xE9.zip", Fate::kMissingOnServer, Reason::kHttpStatus, "404"),
       {},
       "new_line\xEF\xBF\xBD.zip,missing,HTTP status 404,objects/new_line\xEF\xBF\xBD.zip,,,,,,,,"
       ",,,,,,\r\n"},
      {Outcome("caf\xC3\xA9.rwx", Fate::kNotReached, Reason::kRunStopped),
       {},
       "caf\xC3\xA9.rwx,not_reached,run stopped,objects/caf\xC3\xA9.rwx,,,,,,,,,,,,,,\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    std::string row;
    driver::AppendCsvRow(c.model, driver::EnglishWording(), c.style, row);
    EXPECT_EQ(row, c.row);
  }
  EXPECT_EQ(driver::CsvHeader(driver::EnglishWording(), {}),
            "name,fate,reason,source,left,bottom,back,right,top,front,size_x,size_y,size_z,"
            "vertices,polygons,textures,flags,missing_textures\r\n");
}

TEST(CsvReport, NumbersReadBackAsTheSameFloatInAnyLocale) {
  const float values[] = {0.1f,
                          -0.0f,
                          1.0f / 3.0f,
                          1e-7f,
                          123456.789f,
                          -2e30f,
                          std::numeric_limits<float>::denorm_min()};
  for (const float v : values) {
    const std::string text = driver::ReportNumber(v);
    SCOPED_TRACE(text);
    EXPECT_EQ(text.find(','), std::string::npos);
    float back = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(ec, std::errc{});
    EXPECT_EQ(end, text.data() + text.size());
    EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0);
  }
}

TEST(CsvReport, SizesAreTheDifferencesOfTheSidesAsWritten) {
  struct Case {
    float low, high;
    const char* size;  // high - low in decimals
  };
  const Case cases[] = {
      {-0.025f, 0.7f, "0.725"},  // the float subtraction gives 0.72499996
      {0.1f, 0.3f, "0.2"},       // 0.20000002
      {0.1f, 0.7f, "0.6"},       // 0.59999996
      {-0.35f, 0.375f, "0.725"}, {-0.5f, 0.5f, "1"}, {-1e30f, 1e30f, "2e+30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ModelOutcome m;
    m.box = {0, c.low, 0, 0, c.high, 0};
    EXPECT_EQ(driver::ReportNumber(driver::BoxSizes(m)[1]), c.size);
  }
}

TEST(CsvReport, AReportLargerThanAChunkIsWrittenWhole) {
  testing_support::TempDir dir;
  std::vector<ModelOutcome> results(5000, Outcome("model-with-a-longer-name.rwx", Fate::kMeasured));
  const driver::CsvStyle style{';', ',', true};
  std::string expected =
      driver::kByteOrderMark + driver::CsvHeader(driver::EnglishWording(), style);
  for (const ModelOutcome& m : results)
    driver::AppendCsvRow(m, driver::EnglishWording(), style, expected);
  const int fd = open((dir / "report.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(driver::WriteCsvReport(fd, results, driver::EnglishWording(), style));
  close(fd);
  EXPECT_GT(expected.size(), 64u * 1024u);
  EXPECT_EQ(testing_support::ReadFile(dir / "report.csv"), expected);
  // A closed descriptor: the failure is reported.
  EXPECT_FALSE(driver::WriteCsvReport(fd, results));
}
