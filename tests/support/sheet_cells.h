// The cells of a spreadsheet file as sheet_cells.py prints them ("E2 number 0.725"), read from
// the workbook's XML, or by LibreOffice itself where it is installed.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace testing_support {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of sheet_cells.py for a .xlsx or .fods file; a failure of the script fails the test.
inline std::vector<std::string> SheetCells(const std::string& path) {
  const ProgramRun run =
      RunProgram({"/usr/bin/env", "python3",
                  std::string(BOXTALLY_TEST_SUPPORT_DIR) + "/sheet_cells.py", path});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return Lines(run.out);
}

inline bool HaveSpreadsheet() { return access("/usr/bin/soffice", X_OK) == 0; }

// The cells LibreOffice reads from `path` on a French desktop, converted into `folder`;
// `import_filter` as soffice's --infilter (for CSV: separator, quote, character set, first line).
inline std::vector<std::string> SpreadsheetCells(const std::string& path, const std::string& folder,
                                                 const std::string& import_filter = "") {
  std::vector<std::string> argv = {"/usr/bin/env",
                                   "LC_ALL=fr_FR.UTF-8",
                                   "LANG=fr_FR.UTF-8",
                                   "/usr/bin/soffice",
                                   "-env:UserInstallation=file://" + folder + "/profile",
                                   "--headless",
                                   "--convert-to",
                                   "fods",
                                   "--outdir",
                                   folder};
  if (!import_filter.empty()) argv.push_back("--infilter=" + import_filter);
  argv.push_back(path);
  const ProgramRun run = RunProgram(argv);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const std::string name = path.substr(path.rfind('/') + 1);
  return SheetCells(folder + "/" + name.substr(0, name.rfind('.')) + ".fods");
}

}  // namespace testing_support
