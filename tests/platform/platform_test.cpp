#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_search.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text_file.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(WildcardMatch, FollowsTheWindowsRulesIgnoringCase) {
  struct Case { const char* pattern; const char* name; bool match; };
  const Case cases[] = {
      {"*.zip", "tree.zip", true},   {"*.zip", "Tree.ZIP", true},
      {"*.zip", "tree.zipx", false}, {"*.zip", ".zip", true},
      {"t?ee.rwx", "tree.rwx", true}, {"t?ee.rwx", "tee.rwx", false},
      {"*", "anything", true},       {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},    {"tree.rwx", "tree.rwx", true},
      {"**a", "bba", true},          {"", "", true},
      {"?", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.name);
    EXPECT_EQ(platform::WildcardMatch(c.pattern, c.name), c.match);
  }
}

TEST(DirectoryPrefix, EndsAtTheLastSlashOfEitherKind) {
  EXPECT_EQ(platform::DirectoryPrefixLength("tree.rwx"), 0u);
  EXPECT_EQ(platform::DirectoryPrefixLength("objects/tree.rwx"), 8u);
  EXPECT_EQ(platform::DirectoryPrefixLength("C:\\models\\tree"), 10u);
  EXPECT_EQ(platform::DirectoryPrefixLength("/tree.rwx"), 1u);
  EXPECT_EQ(platform::DirectoryPrefixLength("a\\b/c"), 4u);
}

TEST(FindFiles, ListsMatchingFilesSortedWithoutCaseHiddenOrFolders) {
  TempDir dir;
  for (const char* name : {"b.rwx", "A.RWX", "c.zip", ".hidden.rwx", "a2.rwx"}) {
    WriteFile(dir / name, "x");
  }
  std::filesystem::create_directory(dir / "folder.rwx");
  const std::vector<std::string> found = platform::FindFiles(dir / "*.rwx");
  EXPECT_EQ(found, (std::vector<std::string>{"A.RWX", "a2.rwx", "b.rwx"}));
  EXPECT_TRUE(platform::FindFiles(dir / "*.cob").empty());
  EXPECT_TRUE(platform::FindFiles(dir / "missing/*.rwx").empty());
  EXPECT_EQ(platform::FindFiles(dir / "C.ZIP"), std::vector<std::string>{"c.zip"});
}

TEST(TextFile, WritesCrLfLineEndsAndAppends) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  {
    platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
    ASSERT_TRUE(f);
    platform::TextPrintf(*f, "a %d\nb", 1);
    platform::WriteText(*f, "\n\n");
  }
  EXPECT_EQ(ReadFile(path), "a 1\r\nb\r\n\r\n");
  {
    platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kAppend));
    platform::LogF(*f, "%s\n", "more");
    // LogF flushes: the line is in the file before the stream is closed.
    EXPECT_EQ(ReadFile(path), "a 1\r\nb\r\n\r\nmore\r\n");
  }
  {
    platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
  }
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(platform::OpenTextFile(dir / "no/such/dir/x", platform::OpenMode::kCreate), nullptr);
}

TEST(TextFile, BatchedWritesGoOutInOrderAtTheirFlushPoint) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  using platform::FlushPoint;
  struct Case {
    FlushPoint flush_at;
    FlushPoint point;
    bool sent;
  };
  const Case cases[] = {
      {FlushPoint::kModelEnd, FlushPoint::kModelEnd, true},
      {FlushPoint::kFileEnd, FlushPoint::kModelEnd, false},
      {FlushPoint::kFileEnd, FlushPoint::kFileEnd, true},
      {FlushPoint::kClose, FlushPoint::kFileEnd, false},
      {FlushPoint::kClose, FlushPoint::kClose, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.flush_at) * 10 + static_cast<int>(c.point));
    platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
    platform::BatchWrites(*f, c.flush_at);
    platform::WriteWhole(*f, "a\n");
    platform::TextPrintf(*f, "b %d\n", 2);
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_TRUE(platform::FlushAt(*f, c.point));
    EXPECT_EQ(ReadFile(path), c.sent ? "a\r\nb 2\r\n" : "");
    f.reset();  // closing sends what waits
    EXPECT_EQ(ReadFile(path), "a\r\nb 2\r\n");
  }
  // A text that would not fit sends the batch first; one bigger than a batch goes out at once.
  platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
  platform::BatchWrites(*f, platform::FlushPoint::kClose);
  const std::string half(platform::kBatchBytes / 2, 'h');
  const std::string big(platform::kBatchBytes + 1, 'b');
  platform::WriteWhole(*f, half);
  platform::WriteWhole(*f, half);
  EXPECT_EQ(ReadFile(path), "");
  platform::WriteWhole(*f, "x");
  EXPECT_EQ(ReadFile(path), half + half);
  platform::WriteWhole(*f, big);
  EXPECT_EQ(ReadFile(path), half + half + "x" + big);
}

TEST(InStream, TextModeDropsTheCrOfCrLfOnly) {
  TempDir dir;
  const std::string path = dir / "in.txt";
  WriteFile(path, "a\r\nb\rc\r\r\n\r");
  auto Read = [&](bool text) {
    auto in = platform::OpenInStream(path, text);
    std::string out;
    for (int c = in->Get(); c >= 0; c = in->Get()) out.push_back(static_cast<char>(c));
    EXPECT_TRUE(in->AtEnd());
    return out;
  };
  EXPECT_EQ(Read(true), "a\nb\rc\r\n\r");
  EXPECT_EQ(Read(false), "a\r\nb\rc\r\r\n\r");
}

TEST(InStream, ReadTextLineKeepsTheLineEndAndSplitsLongLines) {
  TempDir dir;
  const std::string path = dir / "in.txt";
  WriteFile(path, "one\r\n" + std::string(10, 'x') + "\nlast");
  auto in = platform::OpenInStream(path, true);
  std::string line;
  ASSERT_TRUE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "one\n");
  ASSERT_TRUE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "xxxxxxxx");
  ASSERT_TRUE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "xx\n");
  EXPECT_FALSE(platform::ReadTextLine(*in, 8, line));  // a last line without its end
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "");
  // A carriage return alone stays in the line; one before a line feed goes.
  WriteFile(path, "a\rb\r\nc\r");
  in = platform::OpenInStream(path, true);
  ASSERT_TRUE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "a\rb\n");
  EXPECT_FALSE(platform::ReadTextLine(*in, 8, line));
  EXPECT_EQ(line, "c\r");
}

TEST(RunAndWait, GivesTheExitStatusOrTheReasonTheStartFailed) {
  TempDir dir;
  const platform::ProcessResult ok = platform::RunAndWait("/bin/sh", {"sh", "-c", "exit 3"});
  EXPECT_EQ(ok.error, platform::SpawnError::kNone);
  EXPECT_EQ(ok.status, 3);

  const platform::ProcessResult killed =
      platform::RunAndWait("/bin/sh", {"sh", "-c", "kill -9 $$"});
  EXPECT_NE(killed.status, 0);

  const platform::ProcessResult missing = platform::RunAndWait(dir / "rwxsmith", {"rwxsmith"});
  EXPECT_EQ(missing.status, -1);
  EXPECT_EQ(missing.error, platform::SpawnError::kNotFound);

  const std::string junk = dir / "junk";
  WriteFile(junk, "\x7f" "ELF not really");
  chmod(junk.c_str(), 0755);
  const platform::ProcessResult bad = platform::RunAndWait(junk, {"junk"});
  EXPECT_EQ(bad.status, -1);
  EXPECT_EQ(bad.error, platform::SpawnError::kExecFormat);

  WriteFile(dir / "plain", "text");
  EXPECT_EQ(platform::RunAndWait(dir / "plain", {"plain"}).error, platform::SpawnError::kExecFormat);
}

// Read while the child runs: output beyond a pipe's buffer never makes it wait on us.
TEST(RunAndWait, KeepsTheEndOfWhatTheChildWrote) {
  std::string output;
  platform::SpawnOptions options;
  options.output = &output;
  const platform::ProcessResult r = platform::RunAndWait(
      "/bin/sh",
      {"sh", "-c", "head -c 1000000 /dev/zero | tr '\\0' x; echo; echo last >&2; exit 4"},
      options);
  EXPECT_EQ(r.status, 4);
  ASSERT_EQ(output.size(), platform::kMaxKeptOutput);
  EXPECT_EQ(output.substr(output.size() - 8), "xx\nlast\n");
}

TEST(WorkDirectory, IsPrivateAndStable) {
  const std::string dir = platform::WorkDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(platform::WorkDirectory(), dir);
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(WorkDirectory, FoldersFreedLeaveRoomForTheSignalHandlersNextOnes) {
  // In a process of its own, whose work folders are all its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        for (int i = 0; i < 300; ++i) platform::FreeWorkDirectory(platform::NewWorkDirectory());
        const std::string dir = platform::NewWorkDirectory();
        platform::RemoveWorkFoldersNow();  // as a termination signal does
        std::_Exit(!dir.empty() && !platform::FileExists(dir) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
