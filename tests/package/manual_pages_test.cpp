// The manual pages: every switch a program's --help names is in its page, and man formats each
// built page without a warning, as Debian's checks run it.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "package/package_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using package_test::FindProgram;
using package_test::HelpSwitches;
using package_test::HoldsSwitch;
using testing_support::ProgramRun;
using testing_support::ReadFile;
using testing_support::RunProgram;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;
const std::string kPageSources = std::string(BOXTALLY_SOURCE_DIR) + "/docs/man/";

// The pages this build made ("boxtally-cli.1 rwxsmith.1 ..."); none without scdoc.
std::vector<std::string> BuiltPages() {
  std::vector<std::string> pages;
  std::istringstream list(BOXTALLY_MAN_PAGES);
  std::string page;
  while (list >> page) pages.push_back(page);
  return pages;
}

}  // namespace

TEST(ManualPages, HelpSwitchExtractionFindsLongSwitchesAndRunOptions) {
  // The reading of --help that the tests below rely on, on the shapes the programs print.
  const std::string help =
      "Usage: tool [SWITCHES] MODELS\n"
      "Run options: -r integer mode, -sPASSWORD zip\n"
      "  password, -oREGISTRY create it, -v,\n"
      "  -tTEXT.\n"
      "  --log FILE       append the log (a one-line note)\n"
      "  --user-agent TEXT, --referer TEXT\n"
      "  --help, --version\n"
      "Switches may stand anywhere; after \"--\" everything is an operand.\n";
  const std::set<std::string> expected{"-r",    "-s",           "-o",        "-v",     "-t",
                                       "--log", "--user-agent", "--referer", "--help", "--version"};
  EXPECT_EQ(HelpSwitches(help), expected);

  EXPECT_TRUE(HoldsSwitch("*--log* _FILE_", "--log"));
  EXPECT_TRUE(HoldsSwitch("*-s*PASSWORD", "-s"));
  EXPECT_FALSE(HoldsSwitch("*--referer-world*", "--referer"));
  EXPECT_FALSE(HoldsSwitch("*--referer*", "-r"));
  EXPECT_FALSE(HoldsSwitch("boxtally-cli", "-c"));
}

TEST(ManualPages, NameEverySwitchThatHelpPrints) {
  struct Case {
    const char* program;
    const char* page;
  };
  const Case cases[] = {{"boxtally-cli", "boxtally-cli.1.scd"}, {"rwxsmith", "rwxsmith.1.scd"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    const ProgramRun help = RunProgram({kBin + "/" + c.program, "--help"});
    ASSERT_EQ(help.exit_status, 0);
    const std::string page = ReadFile(kPageSources + c.page);
    ASSERT_FALSE(page.empty());
    const std::set<std::string> switches = HelpSwitches(help.out);
    EXPECT_TRUE(switches.count("--help") && switches.count("--version")) << help.out;
    // Only this direction: a page may describe a switch that --help leaves out.
    for (const std::string& s : switches) {
      EXPECT_TRUE(HoldsSwitch(page, s)) << s << " is missing from " << c.page;
    }
  }
}

TEST(ManualPages, FormatWithoutWarnings) {
  const std::vector<std::string> pages = BuiltPages();
  if (pages.empty()) GTEST_SKIP() << "scdoc was not found when the build was configured";
  const std::string env = FindProgram("env");
  if (env.empty() || FindProgram("man").empty()) GTEST_SKIP() << "man (man-db) is not installed";
  for (const std::string& page : pages) {
    SCOPED_TRACE(page);
    const std::string path = std::string(BOXTALLY_MAN_DIR) + "/" + page;
    ASSERT_FALSE(ReadFile(path).empty());
    // Debian's package checks format pages so, on an 80-column terminal.
    const ProgramRun run = RunProgram({env, "LC_ALL=C.UTF-8", "MANROFFSEQ=", "MANWIDTH=80", "man",
                                       "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", path});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(run.out.empty());
  }
}
