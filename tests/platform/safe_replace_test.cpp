#include "platform/safe_replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
std::size_t EntryCount(const std::string& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}
}  // namespace

TEST(SafeReplace, TheFileHoldsTheOldOrTheNewContentNeverAMix) {
  TempDir dir;
  const std::string reg = dir / "reg.txt";
  WriteFile(reg, "old\r\n");
  chmod(reg.c_str(), 0640);
  ASSERT_EQ(link(reg.c_str(), (dir / "reg.bak").c_str()), 0);
  std::filesystem::create_symlink("reg.txt", dir / "link.txt");

  platform::Replacement r;
  ASSERT_TRUE(platform::BeginReplacement(dir / "link.txt", /*keep_content=*/true, r));
  EXPECT_EQ(r.target, dir / "reg.txt");  // through the link, to its target
  ASSERT_EQ(write(r.fd, "new\r\n", 5), 5);
  EXPECT_EQ(ReadFile(reg), "old\r\n");  // nothing changes before the commit
  ASSERT_TRUE(platform::CommitReplacement(r));
  EXPECT_EQ(ReadFile(reg), "old\r\nnew\r\n");
  EXPECT_EQ(ReadFile(dir / "reg.bak"), "old\r\n");  // a hard-linked backup keeps the old bytes
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ModeOf(reg), 0640u);

  ASSERT_TRUE(platform::BeginReplacement(reg, /*keep_content=*/false, r));
  ASSERT_EQ(write(r.fd, "lost", 4), 4);
  platform::AbandonReplacement(r);
  EXPECT_EQ(ReadFile(reg), "old\r\nnew\r\n");
  EXPECT_EQ(EntryCount(dir.path()), 3u);  // reg.txt, reg.bak, link.txt: no hidden file left

  ASSERT_TRUE(platform::ReplaceFileContents(dir / "fresh.txt", "x"));
  EXPECT_EQ(ReadFile(dir / "fresh.txt"), "x");
}

TEST(SafeReplace, RemovesOnlyUnlockedLeftoversOfExactlyItsOwnForm) {
  TempDir dir;
  const std::string reg = dir / "reg.txt";
  struct Case {
    const char* name;
    bool removed;
  };
  const Case cases[] = {
      {".reg.txt.boxtally-Ab12Cd", true},
      {".reg.txt.boxtally-Ab12C", false},    // one character short
      {".reg.txt.boxtally-Ab12Cde", false},  // one too many
      {".reg.txt.boxtally-Ab 2Cd", false},   // not a character mkstemp gives
      {".other.txt.boxtally-Ab12Cd", false},
      {"reg.txt.boxtally-Ab12Cd", false},
  };
  for (const Case& c : cases) WriteFile(dir / c.name, "x");
  platform::Replacement live;
  ASSERT_TRUE(platform::BeginReplacement(reg, false, live));  // a run writing right now

  platform::RemoveReplacementLeftovers(reg);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(!std::filesystem::exists(dir / c.name), c.removed);
  }
  EXPECT_TRUE(std::filesystem::exists(live.temp));
  platform::AbandonReplacement(live);
}
