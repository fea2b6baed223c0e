// The real boxtally program, on Qt's offscreen platform, as the desktop starts and ends it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/run_program.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;

namespace {
// Whether `dir` holds a work folder of the program (Qt may make a runtime folder there too).
bool HasWorkFolder(const std::string& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("boxtally.", 0) == 0) return true;
  }
  return false;
}
}  // namespace

TEST(WindowProgram, ATerminationSignalClosesTheWindowAsTheUserWould) {
  // A copy of the program in a folder of its own: its settings file goes beside it.
  TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  std::filesystem::copy_file(std::string(BOXTALLY_BIN_DIR) + "/boxtally", dir / "boxtally");
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    std::filesystem::remove(dir / "boxtally.INI");
    const auto run = testing_support::StartProgram(
        {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "TMPDIR=" + (dir / "tmp"), dir / "boxtally"},
        dir.path(), dir.path());
    // The window is up once its work folder exists (made when the window is built).
    for (int i = 0; i < 500 && !HasWorkFolder(dir / "tmp"); ++i) usleep(10000);
    ASSERT_TRUE(HasWorkFolder(dir / "tmp"));
    kill(run.pid, signal_number);
    EXPECT_EQ(testing_support::WaitProgram(run).exit_status, 0);
    EXPECT_NE(ReadFile(dir / "boxtally.INI").find("ModelPath=*.zip\r\n"), std::string::npos);
    EXPECT_FALSE(HasWorkFolder(dir / "tmp"));  // the work folder went
  }
}
