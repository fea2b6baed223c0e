// The workbook report as spreadsheets read it: its cells from the sheet's own XML, the same cells
// through LibreOffice on a French desktop where it is installed, and the limits of a workbook.
#include "boxtally/driver/xlsx_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "boxtally/driver/report_outcome.h"
#include "support/sheet_cells.h"
#include "support/temp_dir.h"

using driver::Fate;
using driver::ModelOutcome;
using driver::Reason;
using testing_support::Outcome;
using testing_support::ReadFile;
using testing_support::SheetCells;
using testing_support::TempDir;
using Lines = std::vector<std::string>;

namespace {

// A measured model, names that a spreadsheet would take for formulas, and a reason holding
// U+FFFE, which XML does not allow.
std::vector<ModelOutcome> Results() {
  ModelOutcome tree = Outcome("tree.rwx", Fate::kMeasured);
  tree.box = {-0.5f, -0.025f, -1.25f, 0.5f, 0.7f, 1.25f};
  tree.vertices = 8;
  tree.polygons = 12;
  tree.textures = 2;
  tree.flags = driver::kFlagNotCentred | driver::kFlagFacer;
  tree.missing_textures = {"bark.jpg", "leaf"};
  return {tree, Outcome("=1+1.rwx", Fate::kFailed, Reason::kArchiveTruncated, "error 1: cut"),
          Outcome("@sum.rwx", Fate::kMissingOnServer, Reason::kHttpStatus, "404"),
          Outcome("-2.rwx", Fate::kFailed, Reason::kScriptError, "bad \xEF\xBF\xBE")};
}

// The cells of Results() in English: every number a number cell, every name a text cell.
const Lines kCells = {"A2 text tree.rwx",
                      "B2 text measured",
                      "D2 text objects/tree.rwx",
                      "E2 number -0.5",
                      "F2 number -0.025",
                      "G2 number -1.25",
                      "H2 number 0.5",
                      "I2 number 0.7",
                      "J2 number 1.25",
                      "K2 number 1",
                      "L2 number 0.725",
                      "M2 number 2.5",
                      "N2 number 8",
                      "O2 number 12",
                      "P2 number 2",
                      "Q2 text not_centred facer",
                      "R2 text bark.jpg;leaf",
                      "A3 text =1+1.rwx",
                      "B3 text failed",
                      "C3 text archive truncated: error 1: cut",
                      "D3 text objects/=1+1.rwx",
                      "A4 text @sum.rwx",
                      "B4 text missing",
                      "C4 text HTTP status 404",
                      "D4 text objects/@sum.rwx",
                      "A5 text -2.rwx",
                      "B5 text failed",
                      "C5 text script error: bad \xEF\xBF\xBD",
                      "D5 text objects/-2.rwx"};

// The header's cells, each in bold.
Lines Header() {
  Lines lines;
  const char* const keys[] = {"name",     "fate",   "reason",          "source",   "left",
                              "bottom",   "back",   "right",           "top",      "front",
                              "size_x",   "size_y", "size_z",          "vertices", "polygons",
                              "textures", "flags",  "missing_textures"};
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    const std::string ref = std::string(1, static_cast<char>('A' + i)) + "1";
    lines.push_back("bold " + ref);
    lines.push_back(ref + " text " + keys[i]);
  }
  return lines;
}

// The cells alone ("A1 text name"), without what sheet_cells.py says of the sheet and its style.
Lines CellsOnly(const Lines& lines) {
  Lines cells;
  for (const std::string& line : lines) {
    const std::size_t letters = line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    if (letters > 0 && letters < line.size() &&
        std::isdigit(static_cast<unsigned char>(line[letters]))) {
      cells.push_back(line);
    }
  }
  return cells;
}

driver::XlsxOutcome WriteFile(const std::string& path, const std::vector<ModelOutcome>& results,
                              const driver::ReportWording& words = driver::EnglishWording()) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_GE(fd, 0);
  const driver::XlsxOutcome outcome = driver::WriteXlsxReport(fd, results, words);
  close(fd);
  return outcome;
}
}  // namespace

// The cells as the sheet's XML holds them, then as LibreOffice reads them on a French desktop
// where it is installed.
TEST(XlsxReport, NumbersAreNumbersAndNamesStayTextsInAnySpreadsheet) {
  TempDir dir;
  ASSERT_EQ(WriteFile(dir / "report.xlsx", Results()).result, driver::kXlsxOk);
  const Lines lines = SheetCells(dir / "report.xlsx");
  ASSERT_GT(lines.size(), 3u + 18u);
  // The header frozen, the autofilter over the whole table, columns as wide as their texts (and
  // their titles beside the filter's button), plus one character.
  const Lines sheet = {"sheet results", "frozen 1", "filter A1:R5"};
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3), sheet);
  for (const char* width : {"width A 10", "width C 33", "width E 9", "width R 21"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), width), lines.end()) << width;
  }
  Lines expected = Header();
  expected.insert(expected.end(), kCells.begin(), kCells.end());
  EXPECT_EQ(Lines(lines.begin() + 3 + 18, lines.end()), expected);
  if (!testing_support::HaveSpreadsheet()) {
    GTEST_SKIP() << "LibreOffice is not installed (scripts/install-deps --spreadsheet): the "
                    "workbook was checked through its XML only";
  }
  EXPECT_EQ(testing_support::SpreadsheetCells(dir / "report.xlsx", dir.path()),
            CellsOnly(expected));
}

TEST(XlsxReport, TextsPastWhatACellHoldsWriteNothing) {
  const std::string smiley = "\xF0\x9F\x98\x80";  // two UTF-16 code units
  std::string smileys;
  for (int i = 0; i < 16383; ++i) smileys += smiley;
  struct Case {
    std::string texture;
    driver::XlsxResult result;
  };
  const Case cases[] = {
      {std::string(32767, 'a'), driver::kXlsxOk},
      {std::string(32768, 'a'), driver::kXlsxTextTooLong},
      {smileys + "a", driver::kXlsxOk},
      {smileys + smiley, driver::kXlsxTextTooLong},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texture.size());
    std::vector<ModelOutcome> results = Results();
    results[2].missing_textures = {c.texture};
    const driver::XlsxOutcome outcome = WriteFile(dir / "long.xlsx", results);
    EXPECT_EQ(outcome.result, c.result);
    if (c.result == driver::kXlsxOk) continue;
    EXPECT_EQ(outcome.model, 2u);
    EXPECT_EQ(outcome.column, 17u);
    EXPECT_EQ(ReadFile(dir / "long.xlsx"), "");
    EXPECT_EQ(driver::XlsxErrorText(outcome, results),
              "the missing_textures of model 3 (@sum.rwx) is longer than 32767 characters, the "
              "most a workbook cell holds: write the report as CSV (a file name not ending in "
              ".xlsx)");
  }
  // A sheet name that a workbook refuses.
  driver::ReportWording words = driver::EnglishWording();
  words.sheet = "a/b";
  EXPECT_EQ(WriteFile(dir / "sheet.xlsx", Results(), words).result, driver::kXlsxLibraryFailed);
  EXPECT_EQ(ReadFile(dir / "sheet.xlsx"), "");
}

TEST(XlsxReport, AWorkbookGoesIntoAStreamAsIntoAFile) {
  struct Name {
    const char* path;
    bool workbook;
  };
  const Name names[] = {{"r.xlsx", true}, {"dir.d/R.XLSX", true}, {".xlsx", true},
                        {"r.xls", false}, {"r.xlsx.csv", false},  {"xlsx", false}};
  for (const Name& n : names) EXPECT_EQ(driver::IsWorkbookName(n.path), n.workbook) << n.path;

  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  // The workbook of a few models fits in the pipe's buffer: no reader is needed meanwhile.
  EXPECT_EQ(driver::WriteXlsxReport(pipe_ends[1], Results(), driver::EnglishWording()).result,
            driver::kXlsxOk);
  close(pipe_ends[1]);
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<std::size_t>(n));
  close(pipe_ends[0]);
  TempDir dir;
  testing_support::WriteFile(dir / "piped.xlsx", bytes);
  EXPECT_EQ(CellsOnly(SheetCells(dir / "piped.xlsx")).back(), kCells.back());
}
