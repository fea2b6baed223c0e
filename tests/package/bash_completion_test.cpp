// The bash completions, run by bash with Debian's bash-completion loaded, as a shell would run
// them after a Tab: every switch of --help is offered, file names where a file is expected,
// nothing where a number or a text is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "package/package_support.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

using package_test::FindProgram;
using package_test::HelpSwitches;
using package_test::Lines;
using testing_support::ProgramRun;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const std::string kBin = BOXTALLY_BIN_DIR;
const std::string kCompletions = std::string(BOXTALLY_SOURCE_DIR) + "/completions/";
const char* const kBashCompletion = "/usr/share/bash-completion/bash_completion";

// Sets up what bash hands a completion function for the command line `line` (the cursor at its
// end), calls the function the program's completion registered and prints one reply a line.
const char* const kDriver = R"(
source "$1" || exit 3
source "$2" || exit 3
COMP_LINE=$3
COMP_POINT=${#COMP_LINE}
read -ra COMP_WORDS <<<"$COMP_LINE"
[[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
function=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || exit 4
"$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
)";

class BashCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    bash_ = FindProgram("bash");
    if (bash_.empty() || testing_support::ReadFile(kBashCompletion).empty()) {
      GTEST_SKIP() << "bash or Debian's bash-completion is not installed";
    }
    WriteFile(io_ / "driver.sh", kDriver);
    for (const char* name : {"a.zip", "b.cob", "c.SCN", "reg.txt", "--lines.txt"}) {
      WriteFile(work_ / name, "");
    }
    ASSERT_EQ(mkdir((work_ / "sub").c_str(), 0700), 0);
  }

  // The replies for `line`, typed in the folder that holds the files above.
  std::set<std::string> Complete(const std::string& line) {
    const std::string program = line.substr(0, line.find(' '));
    const ProgramRun run = RunProgram(
        {bash_, io_ / "driver.sh", kBashCompletion, kCompletions + program, line}, work_.path());
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    std::set<std::string> replies(lines.begin(), lines.end());
    replies.erase("");
    return replies;
  }

  std::string bash_;
  TempDir io_, work_;
};

using Replies = std::set<std::string>;

}  // namespace

TEST_F(BashCompletion, OffersEverySwitchThatHelpPrints) {
  for (const char* program : {"boxtally-cli", "rwxsmith"}) {
    SCOPED_TRACE(program);
    const ProgramRun help = RunProgram({kBin + "/" + program, "--help"});
    ASSERT_EQ(help.exit_status, 0);
    const Replies offered = Complete(std::string(program) + " -");
    for (const std::string& s : HelpSwitches(help.out)) {
      EXPECT_TRUE(offered.count(s)) << s << " is not offered";
    }
  }
}

TEST_F(BashCompletion, CompletesFileNamesWhereAFileIsExpected) {
  const Replies every_file{"a.zip", "b.cob", "c.SCN", "reg.txt", "--lines.txt", "sub"};
  struct Case {
    const char* line;
    Replies expected;
  };
  const Case cases[] = {
      {"boxtally-cli ", every_file},
      {"boxtally-cli --log ", every_file},
      {"boxtally-cli --ca-file r", {"reg.txt"}},
      {"boxtally-cli --report ", {"-", "a.zip", "b.cob", "c.SCN", "reg.txt", "--lines.txt", "sub"}},
      {"boxtally-cli --report r", {"reg.txt"}},
      {"boxtally-cli 'x' -ore", {"-oreg.txt"}},  // -oREGISTRY: the name right after the letter
      {"boxtally-cli -- --l", {"--lines.txt"}},  // after "--" everything is an operand
      {"boxtally-cli --jobs ", {}},
      {"boxtally-cli --downloads ", {}},
      {"boxtally-cli --max-entry-size ", {}},
      {"boxtally-cli --password ", {}},
      {"boxtally-cli --web ", {}},
      {"boxtally-cli --lo", {"--log"}},
      {"rwxsmith ", {"b.cob", "c.SCN", "sub"}},  // scenes, either case, and folders to go into
      {"rwxsmith b.cob ", {"Rwx", "Animation"}},
      {"rwxsmith b.cob a", {"animation"}},  // the mode is read in either case
      {"rwxsmith --help ", {}},
      {"rwxsmith --v", {"--version"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Complete(c.line), c.expected);
  }
}
