#include "platform/private_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
// A file as Windows tools leave it: CR LF, a comment, sections the program does not know.
constexpr const char* kWindowsFile =
    "; kept by hand\r\n"
    "[Other]\r\n"
    "Top=1\r\n"
    "\r\n"
    "[ form ]\r\n"
    "  TOP = 0x20 \r\n"
    "left=60\r\n"
    "Quoted=\"  two blanks \"\r\n"
    "Single='x'\r\n"
    "Half=\"x\r\n"
    "Top=99\r\n"
    "\r\n"
    "[Parameters]\r\n"
    "URL=\r\n"
    "Equals=a=b\r\n";
}  // namespace

TEST(PrivateProfile, ReadsLikeTheWindowsProfileFunctions) {
  TempDir dir;
  const std::string path = dir / "a.INI";
  WriteFile(path, kWindowsFile);
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"Form", "top", "0x20"},  // names without letter case, blanks dropped
      {"FORM", "Left", "60"},
      {"Other", "Top", "1"},                // the same key in another section
      {"Form", "Quoted", "  two blanks "},  // quotes taken off, blanks inside kept
      {"Form", "Single", "x"},
      {"Form", "Half", "\"x"},          // no matching quote: the text as it is
      {"Parameters", "URL", ""},        // present and empty is not missing
      {"Parameters", "Equals", "a=b"},  // the first "=" ends the key
      {"Parameters", "Top", std::nullopt},
      {"Missing", "Top", std::nullopt},
      {"; kept by hand", "x", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(platform::ReadProfileString(path, c.section, c.key), c.value);
  }
  EXPECT_EQ(platform::ReadProfileString(dir / "missing.INI", "Form", "Top"), std::nullopt);
}

TEST(PrivateProfile, CutsLongValuesAtTheReadLimit) {
  TempDir dir;
  const std::string path = dir / "a.INI";
  const std::string at_limit(platform::kMaxProfileValue, 'v');
  WriteFile(path, "[S]\r\nA=" + at_limit + "\r\nB=" + at_limit + "w\r\n");
  EXPECT_EQ(platform::ReadProfileString(path, "S", "A"), at_limit);
  EXPECT_EQ(platform::ReadProfileString(path, "S", "B"), at_limit);
}

TEST(PrivateProfile, ReadsIntegersAndBooleans) {
  TempDir dir;
  const std::string path = dir / "a.INI";
  struct Case {
    const char* text;
    int number;
    bool flag_if_missing_true;
  };
  const Case cases[] = {
      {"70", 70, true},
      {"0x20", 32, true},
      {"0XfF", 255, true},
      {"-5", -5, true},
      {"+7", 7, true},
      {"0", 0, false},
      {"2", 2, true},
      {"abc", -1, true},
      {"12abc", -1, true},
      {"", -1, true},
      {"0x", -1, true},
      {"0xg", -1, true},
      {"- 5", -1, true},
      {"--5", -1, true},
      {"2147483647", 2147483647, true},
      {"2147483648", -1, true},
      {"-2147483648", -2147483647 - 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(path, std::string("[S]\r\nK=") + c.text + "\r\n");
    EXPECT_EQ(platform::ReadProfileInt(path, "S", "K", -1), c.number);
    // A value that is no number gives the fallback, whatever it is.
    EXPECT_EQ(platform::ReadProfileBool(path, "S", "K", true), c.flag_if_missing_true);
    EXPECT_EQ(platform::ReadProfileBool(path, "S", "K", false), c.number != 0 && c.number != -1);
  }
}

TEST(PrivateProfile, WritingKeepsEveryOtherLineAndWritesCrLf) {
  TempDir dir;
  const std::string path = dir / "a.INI";
  WriteFile(path, kWindowsFile);
  EXPECT_EQ(platform::WriteProfileInt(path, "FORM", "top", 70), platform::kProfileOk);
  EXPECT_EQ(platform::WriteProfileString(path, "Form", "New", "n"), platform::kProfileOk);
  EXPECT_EQ(platform::WriteProfileBool(path, "Parameters", "FromWeb", true), platform::kProfileOk);
  EXPECT_EQ(platform::WriteProfileString(path, "Debug", "CobDebug", "0"), platform::kProfileOk);
  EXPECT_EQ(ReadFile(path),
            "; kept by hand\r\n"
            "[Other]\r\n"
            "Top=1\r\n"
            "\r\n"
            "[ form ]\r\n"
            "top=70\r\n"  // the first Top of the section; the second one stays as it was
            "left=60\r\n"
            "Quoted=\"  two blanks \"\r\n"
            "Single='x'\r\n"
            "Half=\"x\r\n"
            "Top=99\r\n"
            "New=n\r\n"  // at the end of its section, before the blank line
            "\r\n"
            "[Parameters]\r\n"
            "URL=\r\n"
            "Equals=a=b\r\n"
            "FromWeb=1\r\n"
            "\r\n"
            "[Debug]\r\n"
            "CobDebug=0\r\n");
  // Only the file itself is left: the temporary file was renamed over it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(PrivateProfile, CreatesTheFileAndDeletesKeys) {
  TempDir dir;
  const std::string path = dir / "new.INI";
  EXPECT_EQ(platform::WriteProfileString(path, "A", "x", "1"), platform::kProfileOk);
  EXPECT_EQ(platform::WriteProfileString(path, "A", "y", "2"), platform::kProfileOk);
  EXPECT_EQ(platform::WriteProfileString(path, "B", "x", "3"), platform::kProfileOk);
  EXPECT_EQ(ReadFile(path), "[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nx=3\r\n");
  EXPECT_EQ(platform::DeleteProfileKey(path, "a", "X"), platform::kProfileOk);
  EXPECT_EQ(platform::DeleteProfileKey(path, "C", "x"), platform::kProfileOk);
  EXPECT_EQ(ReadFile(path), "[A]\r\ny=2\r\n\r\n[B]\r\nx=3\r\n");
}

TEST(PrivateProfile, RefusesWhatWouldBreakTheFileAndReportsWhatCannotBeWritten) {
  TempDir dir;
  const std::string path = dir / "a.INI";
  WriteFile(path, "[S]\r\nK=1\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case bad[] = {{"S", "K", "a\r\nb"}, {"S", "K", "a\nb"}, {"S", "", "v"},
                      {"", "K", "v"},       {"S]", "K", "v"},   {"S", "K=", "v"}};
  for (const Case& c : bad) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + "/" + c.value);
    EXPECT_EQ(platform::WriteProfileString(path, c.section, c.key, c.value),
              platform::kProfileBadText);
  }
  EXPECT_EQ(ReadFile(path), "[S]\r\nK=1\r\n");

  // A folder that is a file cannot hold the settings, not even for root.
  WriteFile(dir / "file", "x");
  EXPECT_EQ(platform::WriteProfileString(dir / "file/a.INI", "S", "K", "2"),
            platform::kProfileCannotWrite);
  // A read-only file stays as it is, as a file with the read-only attribute does on Windows.
  chmod(path.c_str(), 0444);
  EXPECT_EQ(platform::WriteProfileString(path, "S", "K", "2"), platform::kProfileCannotWrite);
  EXPECT_EQ(ReadFile(path), "[S]\r\nK=1\r\n");
}

TEST(PrivateProfile, WritesThroughASymbolicLinkAndKeepsTheFileMode) {
  TempDir dir;
  const std::string real = dir / "real.INI";
  const std::string link = dir / "link.INI";
  WriteFile(real, "[S]\nK=1\n");
  chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, link);
  EXPECT_EQ(platform::WriteProfileString(link, "S", "K", "2"), platform::kProfileOk);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(real), "[S]\r\nK=2\r\n");
  struct stat st {};
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}
