// Extraction of archives made at run time by independent tools (Info-ZIP zip, gzip, 7-Zip),
// checked against what Info-ZIP unzip and gzip extract from the same files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive_fixtures.h"
#include "boxtally/archive/first_entry.h"

namespace {

using namespace archive_test;

struct Outcome {
  int code = -1;
  std::string log;
  std::string err;
  std::string work;
};

Outcome Unzip(const TempDir& dir, const std::string& archive, const std::string& password = "") {
  CapturedLog log(dir.path());
  CapturedErr err;
  std::vector<std::string> args{"funzip"};
  if (!password.empty()) args.push_back("-" + password);
  args.push_back(dir / archive);
  args.push_back(dir / "unzipwk.$$$");
  Outcome run;
  run.code = archive::UnzipFirst(args, *log.file, err.file);
  run.log = log.Text();
  run.err = err.Text();
  run.work = ReadFile(dir / "unzipwk.$$$");
  std::remove((dir / "unzipwk.$$$").c_str());
  return run;
}

// What Info-ZIP's unzip writes for `entry` of `archive`.
std::string UnzipP(const TempDir& dir, const std::string& archive, const std::string& entry,
                   const std::string& password = "") {
  const std::string pw = password.empty() ? "" : "-P " + Quote(password) + " ";
  EXPECT_TRUE(
      Shell(dir.path(), "unzip -p " + pw + Quote(archive) + " " + Quote(entry) + " > expected"));
  return ReadFile(dir / "expected");
}

std::uint32_t LoadU32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// Offset of the central directory: the first entry (and its descriptor) end there.
std::size_t CentralDirectoryStart(const std::string& zip) {
  return LoadU32(zip, zip.size() - 22 + 16);
}

class ToolArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "zip or unzip is not installed";
    WriteFile(dir_ / "m.rwx", ModelText(150000));
    WriteFile(dir_ / "small.rwx",
              "modelbegin\r\nclumpbegin\r\nvertex 1 2 3\r\nclumpend\r\nmodelend\r\n");
    WriteFile(dir_ / "noise.bin", NoiseBytes(90000));
    WriteFile(dir_ / "empty.rwx", "");
    std::filesystem::create_directory(dir_ / "models");
    WriteFile(dir_ / "models/tree.rwx", ModelText(5000, 3));
  }
  TempDir dir_;
};

TEST_F(ToolArchives, MatchUnzipForEveryKindOfEntry) {
  struct Case {
    const char* command;  // run in the test folder, makes a.zip
    const char* entry;    // the first entry, for unzip -p
    const char* password;
  };
  const Case cases[] = {
      {"zip -q a.zip m.rwx", "m.rwx", ""},
      {"zip -q -0 a.zip m.rwx", "m.rwx", ""},
      {"zip -q a.zip small.rwx", "small.rwx", ""},
      {"zip -q a.zip noise.bin", "noise.bin", ""},  // deflate gives up: stored blocks inside
      {"zip -q a.zip empty.rwx", "empty.rwx", ""},
      {"zip -q a.zip small.rwx m.rwx noise.bin", "small.rwx", ""},
      {"zip -q a.zip models/tree.rwx", "models/tree.rwx", ""},
      {"zip -q -P 'tree pass' a.zip m.rwx", "m.rwx", "tree pass"},
      {"zip -q -0 -P secret a.zip small.rwx", "small.rwx", "secret"},
      // Streamed through pipes: sizes and CRC follow the data in a descriptor, and the
      // encryption check byte comes from the modification time.
      {"cat m.rwx | zip -q -fz- - - | cat > a.zip", "-", ""},
      {"cat small.rwx | zip -q -fz- -P secret - - | cat > a.zip", "-", "secret"},
      {"cat noise.bin | zip -q -fz- -P secret - - | cat > a.zip", "-", "secret"},
      // Without -fz- the streamed sizes are Zip64 (0xFFFFFFFF in the header, 8-byte sizes in
      // the descriptor); the CRC still sits where the descriptor puts it and is checked.
      {"cat m.rwx | zip -q - - | cat > a.zip", "-", ""},
      // Stored entries whose sizes the local header leaves to the central directory: a Zip64
      // field (all ones in the header), and a descriptor after the data.
      {"zip -q -0 -fz a.zip m.rwx", "m.rwx", ""},
      {"cat small.rwx | zip -q -0 - - > a.zip", "-", ""},
      {"zip -q -0 -fd a.zip m.rwx", "m.rwx", ""},
      {"zip -q -0 -fd -P secret a.zip m.rwx", "m.rwx", "secret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::remove((dir_ / "a.zip").c_str());
    ASSERT_TRUE(Shell(dir_.path(), c.command));
    const std::string expected = UnzipP(dir_, "a.zip", c.entry, c.password);
    const Outcome run = Unzip(dir_, "a.zip", c.password);
    EXPECT_EQ(run.code, 0) << run.log;
    EXPECT_EQ(run.log, "");
    EXPECT_TRUE(run.work == expected)
        << "work file of " << run.work.size() << " bytes, unzip gave " << expected.size();
  }
}

// A writer that cannot seek back and does not compress leaves zeros in the local header's sizes
// and CRC; Python's zipfile writing to a pipe is one.
TEST_F(ToolArchives, MatchUnzipForStoredEntriesStreamedToAPipe) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  for (const char* zip64 : {"False", "True"}) {
    SCOPED_TRACE(std::string("force_zip64=") + zip64);
    std::remove((dir_ / "a.zip").c_str());
    const std::string script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_STORED) as z:\n"
        "    with z.open('m.rwx', 'w', force_zip64=" +
        std::string(zip64) +
        ") as f:\n"
        "        f.write(open('m.rwx', 'rb').read())\n";
    WriteFile(dir_ / "streamed.py", script);
    ASSERT_TRUE(Shell(dir_.path(), "python3 streamed.py | cat > a.zip"));
    const std::string bytes = ReadFile(dir_ / "a.zip");
    ASSERT_GT(bytes.size(), 30u);
    ASSERT_EQ(bytes[6] & 0x08, 0x08) << "no data descriptor: the test shows nothing";
    ASSERT_EQ(bytes[8], 0) << "not stored";
    const std::string expected = UnzipP(dir_, "a.zip", "m.rwx");
    const Outcome run = Unzip(dir_, "a.zip");
    EXPECT_EQ(run.code, 0) << run.log;
    EXPECT_EQ(run.log, "");
    EXPECT_TRUE(run.work == expected) << "work file of " << run.work.size() << " bytes";
  }
}

TEST_F(ToolArchives, WarnAboutFurtherEntriesOnStandardErrorOnly) {
  ASSERT_TRUE(Shell(dir_.path(), "zip -q a.zip small.rwx m.rwx"));
  const Outcome run = Unzip(dir_, "a.zip");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.log, "");
  EXPECT_EQ(run.err, "funzip warning: zipfile has more than one entry--rest ignored " +
                         dir_ / "a.zip" + "\n");
}

TEST_F(ToolArchives, RefuseAWrongOrMissingPassword) {
  for (const char* command :
       {"zip -q -P secret a.zip m.rwx", "cat m.rwx | zip -q -fz- -P secret - - | cat > a.zip"}) {
    SCOPED_TRACE(command);
    std::remove((dir_ / "a.zip").c_str());
    ASSERT_TRUE(Shell(dir_.path(), command));
    const std::string prefix = "funzip error in " + dir_ / "a.zip" + ": ";
    const Outcome missing = Unzip(dir_, "a.zip");
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.log, prefix + "Provide a password. File is encrypted\r\n");
    const Outcome wrong = Unzip(dir_, "a.zip", "Secret");
    // zip draws the encryption header at random: one archive in 256 lets the wrong password
    // pass the check byte, and the data then fails to decode or to match its CRC.
    if (wrong.code == 3) {
      EXPECT_EQ(wrong.log, prefix + "incorrect password for first entry\r\n");
    } else {
      EXPECT_EQ(wrong.code, 1) << wrong.log;
    }
  }
}

TEST_F(ToolArchives, MatchGzipForMembersWithAndWithoutAName) {
  if (!HaveTool("gzip")) GTEST_SKIP() << "gzip is not installed";
  // A gzip member under a name ending in zip is extracted all the same.
  for (const char* command : {"gzip -c m.rwx > a.zip", "gzip -n -9 -c small.rwx > a.zip",
                              "gzip -c empty.rwx > a.zip", "gzip -c noise.bin > a.zip"}) {
    SCOPED_TRACE(command);
    ASSERT_TRUE(Shell(dir_.path(), command));
    ASSERT_TRUE(Shell(dir_.path(), "gzip -dc < a.zip > expected"));
    const Outcome run = Unzip(dir_, "a.zip");
    EXPECT_EQ(run.code, 0) << run.log;
    EXPECT_TRUE(run.work == ReadFile(dir_ / "expected"));
  }
}

TEST_F(ToolArchives, RefuseAFirstEntryCompressedWithBzip2) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  ASSERT_TRUE(Shell(dir_.path(), "7z a -tzip -mm=BZip2 a.zip m.rwx >/dev/null"));
  const Outcome run = Unzip(dir_, "a.zip");
  EXPECT_EQ(run.code, 3);
  EXPECT_EQ(run.log, "funzip error in " + dir_ / "a.zip" +
                         ": first entry not deflated or stored--cannot unpack\r\n");
}

// Every prefix of a real archive: a cut inside the first entry fails with one message and its
// code, a cut in the central directory (never read) still extracts.
TEST_F(ToolArchives, FailCleanlyAtEveryCut) {
  struct Case {
    const char* command;
    const char* password;
  };
  const Case cases[] = {
      {"zip -q a.zip models/tree.rwx", ""},
      {"cat models/tree.rwx | zip -q -fz- -P secret - - | cat > a.zip", "secret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::remove((dir_ / "a.zip").c_str());
    ASSERT_TRUE(Shell(dir_.path(), c.command));
    const std::string whole = ReadFile(dir_ / "a.zip");
    const std::string expected = ReadFile(dir_ / "models/tree.rwx");
    const std::size_t entry_end = CentralDirectoryStart(whole);
    ASSERT_LT(entry_end, whole.size());
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      SCOPED_TRACE("prefix length " + std::to_string(n));
      WriteFile(dir_ / "cut.zip", whole.substr(0, n));
      const Outcome run = Unzip(dir_, "cut.zip", c.password);
      if (n >= entry_end) {
        ASSERT_EQ(run.code, 0) << run.log;
        ASSERT_TRUE(run.work == expected);
        continue;
      }
      ASSERT_NE(run.code, 0);
      const std::string prefix = "funzip error in " + dir_ / "cut.zip" + ": ";
      ASSERT_EQ(run.log.rfind(prefix, 0), 0u) << run.log;
      const std::string message = run.log.substr(prefix.size());
      const bool header_cut =
          message == "input not a zip or gzip file\r\n" || message == "invalid zipfile\r\n";
      // Deflate data cut short is damaged data; a cut descriptor ends the file prematurely.
      const bool data_cut = message == "invalid compressed data--format violated\r\n" ||
                            message == "zipfile ended prematurely\r\n";
      ASSERT_TRUE((header_cut && run.code == 3) || (data_cut && run.code == 1)) << run.log;
    }
  }
}

}  // namespace
