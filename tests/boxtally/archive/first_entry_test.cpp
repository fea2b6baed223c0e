#include "boxtally/archive/first_entry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive_fixtures.h"

namespace {

using namespace archive_test;

struct Outcome {
  int code = -1;
  std::string log;
  std::string err;
  std::string work;
  std::string archive;  // its path, as the messages show it
};

// Runs UnzipFirst over `bytes` written to a fresh archive file.
Outcome UnzipBytes(const std::string& bytes, const std::string& password = "") {
  TempDir dir;
  Outcome run;
  run.archive = dir / "a.zip";
  WriteFile(run.archive, bytes);
  CapturedLog log(dir.path());
  CapturedErr err;
  std::vector<std::string> args{"funzip"};
  if (!password.empty()) args.push_back("-" + password);
  args.push_back(run.archive);
  args.push_back(dir / "work");
  run.code = archive::UnzipFirst(args, *log.file, err.file);
  run.log = log.Text();
  run.err = err.Text();
  run.work = ReadFile(dir / "work");
  return run;
}

std::string ErrorLine(const Outcome& run, const std::string& message) {
  return "funzip error in " + run.archive + ": " + message + "\r\n";
}

// Every message of UnzipFirst with its code: a failure must be one of these pairs.
const std::map<std::string, int>& MessageCodes() {
  static const std::map<std::string, int> table = {
      {"cannot find input file", 2},
      {"cannot write to workfile", 2},
      {"input not a zip or gzip file", 3},
      {"invalid zipfile", 3},
      {"first entry not deflated or stored--cannot unpack", 3},
      {"invalid gzip file", 3},
      {"gzip file not deflated", 3},
      {"cannot handle multi-part gzip files", 3},
      {"incorrect password for first entry", 3},
      {"Provide a password. File is encrypted", 1},
      {"out of memory", 1},
      {"invalid compressed data--format violated", 1},
      {"gzip file ended prematurely", 1},
      {"zipfile ended prematurely", 1},
      {"invalid compressed data--crc error", 1},
      {"invalid compressed data--length mismatch", 4},
      {"out of space on workfile", 9},
      {"first entry larger than 268435456 bytes--not extracted", 5},
  };
  return table;
}

// A failed run left exactly one error line whose message goes with its code.
void ExpectOneKnownFailure(const Outcome& run) {
  ASSERT_NE(run.code, 0);
  const std::string prefix = "funzip error in " + run.archive + ": ";
  ASSERT_EQ(run.log.rfind(prefix, 0), 0u) << run.log;
  ASSERT_GE(run.log.size(), prefix.size() + 2);
  ASSERT_EQ(run.log.substr(run.log.size() - 2), "\r\n");
  const std::string message = run.log.substr(prefix.size(), run.log.size() - prefix.size() - 2);
  const auto found = MessageCodes().find(message);
  ASSERT_NE(found, MessageCodes().end()) << run.log;
  EXPECT_EQ(found->second, run.code) << message;
}

EntrySpec Entry(const std::string& data, unsigned method = 8) {
  EntrySpec e;
  e.data = data;
  e.method = method;
  return e;
}

TEST(UnzipFirst, ExtractsStoredDeflatedEncryptedAndStreamedEntries) {
  struct Case {
    const char* what;
    EntrySpec entry;
  };
  std::vector<Case> cases;
  for (const std::size_t size : {0u, 1u, 32767u, 32768u, 32769u, 65536u, 200003u}) {
    const std::string data = ModelText(size, static_cast<std::uint32_t>(size));
    for (const unsigned method : {0u, 8u}) {
      for (const bool encrypted : {false, true}) {
        for (const bool descriptor : {false, true}) {
          EntrySpec e = Entry(data, method);
          if (encrypted) e.password = "tree";
          e.descriptor = descriptor;
          // Streamed writers leave the header's sizes at 0, which only a deflated entry survives.
          e.sizes_in_header = !descriptor || method == 0;
          cases.push_back({"", e});
        }
      }
    }
  }
  EntrySpec unsigned_descriptor = Entry(ModelText(5000));
  unsigned_descriptor.descriptor = true;
  unsigned_descriptor.signed_descriptor = false;
  unsigned_descriptor.sizes_in_header = false;
  cases.push_back({"descriptor without its signature", unsigned_descriptor});
  EntrySpec binary = Entry(NoiseBytes(70000));
  binary.extra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  cases.push_back({"incompressible bytes after an extra field", binary});

  for (const Case& c : cases) {
    const EntrySpec& e = c.entry;
    SCOPED_TRACE(std::string(c.what) + " size " + std::to_string(e.data.size()) + " method " +
                 std::to_string(e.method) + (e.password.empty() ? "" : " encrypted") +
                 (e.descriptor ? " descriptor" : ""));
    const Outcome run = UnzipBytes(LocalEntry(e) + EndRecord(), e.password);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.log, "");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.work == e.data) << "work file of " << run.work.size() << " bytes differs";
  }
}

// Writers that cannot seek back leave a stored entry's sizes to the descriptor (zeros in the
// local header) or put them in a Zip64 field (all ones in the header); the central directory
// has them.
TEST(UnzipFirst, TakesStoredSizesTheLocalHeaderLacksFromTheCentralDirectory) {
  struct Case {
    const char* what;
    std::vector<EntrySpec> entries;
    bool zip64_end;
    std::string marker;
    std::string password;
  };
  auto streamed = [](std::size_t size) {
    EntrySpec e = Entry(ModelText(size, static_cast<std::uint32_t>(size)), 0);
    e.descriptor = true;
    e.sizes_in_header = false;
    return e;
  };
  EntrySpec locked = streamed(5000);
  locked.password = "secret";
  EntrySpec unsigned_descriptor = streamed(300);
  unsigned_descriptor.signed_descriptor = false;
  EntrySpec zip64 = Entry(NoiseBytes(70000), 0);
  zip64.zip64 = true;
  EntrySpec zip64_streamed = streamed(40000);
  zip64_streamed.zip64 = true;
  EntrySpec second = Entry("second entry");
  second.name = "other.rwx";
  const Case cases[] = {
      {"descriptor", {streamed(100)}, false, "", ""},
      {"descriptor, empty entry", {streamed(0)}, false, "", ""},
      {"descriptor, several output blocks", {streamed(100000)}, false, "", ""},
      {"descriptor, encrypted", {locked}, false, "", "secret"},
      {"descriptor without its signature", {unsigned_descriptor}, false, "", ""},
      {"Zip64 sizes in the header's extra field", {zip64}, true, "", ""},
      {"Zip64 with a descriptor", {zip64_streamed}, true, "", ""},
      {"Zip64 fields in a directory without a Zip64 end", {zip64}, false, "", ""},
      {"after a split-archive marker", {streamed(100)}, false, "PK00", ""},
      {"more entries after it", {streamed(2000), second}, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = WholeArchive(c.entries, c.zip64_end, "", c.marker);
    const Outcome run = UnzipBytes(bytes, c.password);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.log, "");
    EXPECT_TRUE(run.work == c.entries[0].data) << "work file of " << run.work.size() << " bytes";
  }
}

// A directory that cannot be used (the ways are tested with the directory reader) leaves the
// local header's sizes, and with them the failures such entries have always given.
TEST(UnzipFirst, FallsBackToTheLocalHeaderWhenTheCentralDirectoryCannotBeUsed) {
  EntrySpec e = Entry("modelbegin\nmodelend\n", 0);
  e.descriptor = true;
  e.sizes_in_header = false;
  std::string other_offset = WholeArchive({e});
  other_offset[LocalEntry(e).size() + 42] = 9;  // the only record is for an entry at offset 9
  EntrySpec zip64 = Entry("modelbegin\nmodelend\n", 0);
  zip64.zip64 = true;
  zip64.sizes_in_header = false;
  std::string locator_past_end = WholeArchive({zip64}, true);
  locator_past_end[locator_past_end.size() - 22 - 20 + 14] = '\x7F';  // record offset, high bytes
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"no central directory", LocalEntry(e), "invalid compressed data--crc error"},
      {"record for another entry only", other_offset, "invalid compressed data--crc error"},
      // All ones in the header and no Zip64 end record to say where the directory is: the copy
      // runs into the end of the file.
      {"Zip64 locator past the end", locator_past_end, "zipfile ended prematurely"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = UnzipBytes(c.bytes);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.log, ErrorLine(run, c.message));
  }
}

TEST(UnzipFirst, ExtractsGzipMembersWithTheirOptionalFields) {
  const std::string data = ModelText(100000);
  struct Case {
    const char* what;
    unsigned flags;
  };
  const Case cases[] = {
      {"bare", 0x00},
      {"name", 0x08},
      {"extra field, name and comment", 0x1C},
      {"comment", 0x10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = UnzipBytes(GzipMember(data, c.flags, "tree.rwx", "AB\x02\x00xy", "remark"));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.log, "");
    EXPECT_TRUE(run.work == data);
  }
}

// zlib is handed whole slices of the read buffer; what it does not consume after the end of
// the deflate stream is the descriptor, wherever the buffer's edge falls.
TEST(UnzipFirst, ReadsTheDescriptorRightAfterTheDeflateStreamAtEveryBufferEdge) {
  constexpr std::size_t kReadBuffer = 65536;
  int straddling = 0;
  for (std::size_t size = kReadBuffer - 120; size < kReadBuffer; ++size) {
    for (const bool encrypted : {false, true}) {
      EntrySpec e = Entry(NoiseBytes(size, static_cast<std::uint32_t>(size)));
      e.descriptor = true;
      e.sizes_in_header = false;
      if (encrypted) e.password = "pw";
      const std::string bytes = LocalEntry(e) + EndRecord();
      const std::size_t data_end = bytes.size() - 22 - 16;
      if (data_end > kReadBuffer - 4 && data_end <= kReadBuffer + 4) ++straddling;
      SCOPED_TRACE("size " + std::to_string(size) + (encrypted ? " encrypted" : ""));
      const Outcome run = UnzipBytes(bytes, e.password);
      ASSERT_EQ(run.code, 0) << run.log;
      ASSERT_TRUE(run.work == e.data);
    }
  }
  EXPECT_GT(straddling, 0) << "no case put the end of the data near the buffer's edge";
}

TEST(UnzipFirst, ReportsEachFailureWithItsMessageAndCode) {
  const std::string data = "modelbegin\nclumpbegin\nclumpend\nmodelend\n";
  EntrySpec other_method = Entry(data);
  other_method.method = 12;
  EntrySpec locked = Entry(data);
  locked.password = "secret";
  EntrySpec stored_streamed = Entry(data, 0);
  stored_streamed.descriptor = true;
  stored_streamed.sizes_in_header = false;
  EntrySpec stored_streamed_locked = stored_streamed;
  stored_streamed_locked.password = "secret";
  std::string bad_crc = LocalEntry(Entry(data));
  bad_crc[14] ^= 0x01;
  std::string bad_deflate = LocalEntry(Entry(data));
  bad_deflate[35] = '\xFF';  // first byte after the name: block type 3 does not exist
  std::string stored_sizes_differ = LocalEntry(Entry(data, 0));
  stored_sizes_differ[18] = 5;  // compressed size 5, uncompressed size stays 40
  // A streamed writer that did not know the size wrote all ones; such an entry is not read
  // 4 GiB far, it ends where the file does.
  std::string huge_stored = LocalEntry(Entry(data, 0));
  for (int i = 18; i < 26; ++i) huge_stored[i] = '\xFF';
  std::string no_trailer = GzipMember(data, 0);
  no_trailer.resize(no_trailer.size() - 8);
  std::string gzip_method = GzipMember(data, 0);
  gzip_method[2] = 9;
  EntrySpec described = Entry(data);
  described.descriptor = true;
  std::string no_descriptor = LocalEntry(described);
  no_descriptor.resize(no_descriptor.size() - 16);
  std::string cut_name = LocalEntry(Entry(data)).substr(0, 32);
  std::string cut_encryption_header = LocalEntry(locked).substr(0, 35 + 6);
  std::string cut_stored = LocalEntry(Entry(data, 0));
  cut_stored.resize(cut_stored.size() - 1);
  std::string cut_deflate = LocalEntry(Entry(ModelText(3000)));
  cut_deflate.resize(cut_deflate.size() - 10);

  struct Case {
    const char* what;
    std::string bytes;
    std::string password;
    int code;
    const char* message;
    std::string err;
  };
  const Case cases[] = {
      {"plain text", "modelbegin\n", "", 3, "input not a zip or gzip file", ""},
      {"empty file", "", "", 3, "input not a zip or gzip file", ""},
      {"central header first", "PK\x01\x02" + std::string(60, '\0'), "", 3, "invalid zipfile", ""},
      {"short local header", LocalEntry(Entry(data)).substr(0, 29), "", 3, "invalid zipfile", ""},
      {"name runs past the end", cut_name, "", 3, "invalid zipfile", ""},
      {"method 12", LocalEntry(other_method), "", 3,
       "first entry not deflated or stored--cannot unpack", ""},
      {"short gzip header", GzipMember(data, 0).substr(0, 9), "", 3, "invalid gzip file", ""},
      {"gzip method 9", gzip_method, "", 3, "gzip file not deflated", ""},
      {"gzip multi-part", GzipMember(data, 0x02), "", 3, "cannot handle multi-part gzip files", ""},
      {"gzip extra field past the end",
       GzipMember(data, 0x04, "", std::string(80, 'x')).substr(0, 40), "", 3, "invalid gzip file",
       ""},
      {"no password", LocalEntry(locked), "", 1, "Provide a password. File is encrypted", ""},
      {"wrong password", LocalEntry(locked), "Secret", 3, "incorrect password for first entry", ""},
      {"encryption header cut", cut_encryption_header, "secret", 1, "zipfile ended prematurely",
       ""},
      {"stored, sizes only in the descriptor", LocalEntry(stored_streamed), "", 1,
       "invalid compressed data--crc error", ""},
      {"stored encrypted, sizes only in the descriptor", LocalEntry(stored_streamed_locked),
       "secret", 4, "invalid compressed data--length mismatch", "len 0, siz 0\n"},
      {"stored sizes differ", stored_sizes_differ, "", 4,
       "invalid compressed data--length mismatch", "len 40, siz 5\n"},
      {"stored sizes all ones", huge_stored, "", 1, "zipfile ended prematurely", ""},
      {"stored data cut", cut_stored, "", 1, "zipfile ended prematurely", ""},
      {"deflate data cut", cut_deflate, "", 1, "invalid compressed data--format violated", ""},
      {"deflate block type 3", bad_deflate, "", 1, "invalid compressed data--format violated", ""},
      {"header CRC off by one bit", bad_crc, "", 1, "invalid compressed data--crc error", ""},
      {"descriptor missing", no_descriptor, "", 1, "zipfile ended prematurely", ""},
      {"gzip trailer missing", no_trailer, "", 1, "gzip file ended prematurely", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome run = UnzipBytes(c.bytes, c.password);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.log, ErrorLine(run, c.message));
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(UnzipFirst, KeepsToTheFirstEntryAndWarnsOnStandardErrorOnly) {
  const std::string first = "modelbegin\nmodelend\n";
  EntrySpec second = Entry("second entry");
  second.name = "other.rwx";
  const Outcome run = UnzipBytes(LocalEntry(Entry(first)) + LocalEntry(second) + EndRecord());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.work, first);
  EXPECT_EQ(run.log, "");
  EXPECT_EQ(run.err,
            "funzip warning: zipfile has more than one entry--rest ignored " + run.archive + "\n");
}

TEST(UnzipFirst, AcceptsTheSplitArchiveMarkerAndIgnoresAnUnneededPassword) {
  const std::string data = "modelbegin\nmodelend\n";
  const Outcome marked = UnzipBytes("PK00" + LocalEntry(Entry(data)) + EndRecord());
  EXPECT_EQ(marked.code, 0);
  EXPECT_EQ(marked.work, data);
  const Outcome open = UnzipBytes(LocalEntry(Entry(data)), "unused");
  EXPECT_EQ(open.code, 0);
  EXPECT_EQ(open.work, data);
}

TEST(UnzipFirst, ReadsTheArgumentVectorLikeACommandLine) {
  TempDir dir;
  const std::string data = "modelbegin\nmodelend\n";
  EntrySpec locked = Entry(data);
  locked.password = "pw";
  WriteFile(dir / "a.zip", LocalEntry(locked));
  CapturedLog log(dir.path());
  CapturedErr err;
  const std::string archive = dir / "a.zip";
  const std::string work = dir / "work";
  EXPECT_EQ(archive::UnzipFirst({"ignored", "-pw", archive, work}, *log.file, err.file), 0);
  EXPECT_EQ(ReadFile(work), data);
  // "-" alone is an empty password, the same as none.
  EXPECT_EQ(archive::UnzipFirst({"ignored", "-", archive, work}, *log.file, err.file), 1);
  EXPECT_EQ(archive::UnzipFirst({"ignored", archive}, *log.file, err.file), 2);
  EXPECT_EQ(archive::UnzipFirst({"ignored"}, *log.file, err.file), 2);
  EXPECT_EQ(archive::UnzipFirst({"ignored", dir / "missing.zip", work}, *log.file, err.file), 2);
  EXPECT_EQ(archive::UnzipFirst({"ignored", "-pw", archive, dir / "no/such/dir/work"}, *log.file,
                                err.file),
            2);
  EXPECT_EQ(log.Text(), "funzip error in " + archive +
                            ": Provide a password. File is encrypted\r\n" + "funzip error in " +
                            archive + ": cannot write to workfile\r\n" +
                            "funzip error in : cannot find input file\r\n" + "funzip error in " +
                            dir / "missing.zip" + ": cannot find input file\r\n" +
                            "funzip error in " + archive + ": cannot write to workfile\r\n");
}

// A file size limit of one byte, SIGXFSZ ignored, fails the work file's writes as a full disk
// would (a work file must be a regular file: /dev/full is refused as one).
TEST(UnzipFirst, ReportsAWorkFileThatRunsOutOfSpace) {
  for (const std::size_t size : {10u, 100000u}) {  // caught at the final flush, and mid-way
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string archive = dir / "a.zip";
    WriteFile(archive, LocalEntry(Entry(ModelText(size))));
    std::string log_text;
    platform::TextFile log = platform::MemoryTextFile(log_text, true);
    CapturedErr err;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit tiny{1, old.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    const int result = archive::UnzipFirst({"", archive, dir / "work"}, log, err.file);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, 9);
    EXPECT_EQ(log_text, "funzip error in " + archive + ": out of space on workfile\r\n");
  }
}

TEST(UnzipFirst, FailsCleanlyAtEveryCutOfTheEntry) {
  const std::string data = ModelText(2500);
  EntrySpec streamed = Entry(data);
  streamed.descriptor = true;
  streamed.sizes_in_header = false;
  streamed.password = "pw";
  EntrySpec stored = Entry(data, 0);
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t needed;  // bytes the extraction reads; shorter prefixes must fail
    std::string password;
  };
  const std::string gzip = GzipMember(data, 0x08, "tree.rwx");
  EntrySpec stored_streamed = Entry(data, 0);
  stored_streamed.descriptor = true;
  stored_streamed.sizes_in_header = false;
  stored_streamed.zip64 = true;
  const Case cases[] = {
      {"deflated", LocalEntry(Entry(data)), LocalEntry(Entry(data)).size(), ""},
      {"stored", LocalEntry(stored), LocalEntry(stored).size(), ""},
      {"encrypted with descriptor", LocalEntry(streamed), LocalEntry(streamed).size(), "pw"},
      {"gzip", gzip, gzip.size(), ""},
  };
  std::vector<std::pair<Case, std::string>> all;
  for (const Case& c : cases) all.push_back({c, c.bytes + EndRecord()});
  // Its sizes are in the central directory only: every cut of the archive fails.
  const std::string with_directory = WholeArchive({stored_streamed}, true);
  all.push_back(
      {{"stored, sizes in the central directory", with_directory, with_directory.size(), ""},
       with_directory});
  for (const auto& [c, whole] : all) {
    SCOPED_TRACE(c.what);
    for (std::size_t n = 0; n <= whole.size(); ++n) {
      SCOPED_TRACE("prefix length " + std::to_string(n));
      const Outcome run = UnzipBytes(whole.substr(0, n), c.password);
      if (n < c.needed) {
        ExpectOneKnownFailure(run);
      } else {
        ASSERT_EQ(run.code, 0) << run.log;
        ASSERT_TRUE(run.work == data);
      }
    }
  }
}

TEST(UnzipFirst, CatchesEveryFlippedByteOfTheDeflateData) {
  const std::string data = ModelText(3000);
  EntrySpec e = Entry(data);
  const std::string good = LocalEntry(e) + EndRecord();
  const std::size_t data_start = 30 + e.name.size();
  const std::size_t data_end = good.size() - EndRecord().size();
  for (std::size_t i = data_start; i < data_end; ++i) {
    for (const char mask : {'\x01', '\x80', '\xFF'}) {
      std::string bytes = good;
      bytes[i] ^= mask;
      SCOPED_TRACE("byte " + std::to_string(i) + " mask " + std::to_string(mask & 0xFF));
      const Outcome run = UnzipBytes(bytes);
      // The padding bits after the last block carry nothing, so a flip there may pass, but
      // only with the right bytes; anything else is damaged data under code 1.
      if (run.code == 0) {
        ASSERT_TRUE(run.work == data);
        continue;
      }
      ExpectOneKnownFailure(run);
      ASSERT_EQ(run.code, 1) << run.log;
    }
  }
}

TEST(ExtractToWorkFile, ReturnsTheWorkFileInTextMode) {
  TempDir dir;
  CapturedLog log(dir.path());
  WriteFile(dir / "m.zip", LocalEntry(Entry("modelbegin\r\nvertex 1 2 3\r\nmodelend\r\n")));
  std::unique_ptr<platform::InStream> in =
      archive::ExtractToWorkFile(dir / "m.zip", "", *log.file, dir / "unzipwk.$$$");
  ASSERT_NE(in, nullptr);
  std::string text;
  for (int c = in->Get(); c >= 0; c = in->Get()) text.push_back(static_cast<char>(c));
  EXPECT_EQ(text, "modelbegin\nvertex 1 2 3\nmodelend\n");
  EXPECT_EQ(log.Text(), "");
}

TEST(ExtractToWorkFile, LogsTheExtractionErrorThenItsCode) {
  TempDir dir;
  EntrySpec locked = Entry("modelbegin\nmodelend\n");
  locked.password = "secret";
  const std::string archive = dir / "m.zip";
  WriteFile(archive, LocalEntry(locked));
  struct Case {
    const char* password;
    std::string lines;
  };
  const Case cases[] = {
      {"wrong", "funzip error in " + archive + ": incorrect password for first entry\r\n" +
                    "error from unzip=3 for file:" + archive + "\r\n"},
      {"", "funzip error in " + archive + ": Provide a password. File is encrypted\r\n" +
               "error from unzip=1 for file:" + archive + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    CapturedLog log(dir.path());
    EXPECT_EQ(archive::ExtractToWorkFile(archive, c.password, *log.file, dir / "work"), nullptr);
    EXPECT_EQ(log.Text(), c.lines);
  }
}

TEST(ExtractToWorkFile, RefusesAPasswordLongerThanItsField) {
  TempDir dir;
  const std::string at_limit(62, 'p');
  const std::string past_limit(63, 'p');
  EntrySpec locked = Entry("modelbegin\nmodelend\n");
  locked.password = at_limit;
  const std::string archive = dir / "m.zip";
  WriteFile(archive, LocalEntry(locked));
  CapturedLog log(dir.path());
  EXPECT_NE(archive::ExtractToWorkFile(archive, at_limit, *log.file, dir / "work"), nullptr);
  EXPECT_EQ(ReadFile(dir / "work"), locked.data);
  std::remove((dir / "work").c_str());
  // Cut to 62 characters it would be the right password: refused all the same, not cut.
  EXPECT_EQ(archive::ExtractToWorkFile(archive, past_limit, *log.file, dir / "work"), nullptr);
  EXPECT_EQ(log.Text(), "password longer than 62 characters refused for file:" + archive + "\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "work"));
}

TEST(ExtractToWorkFile, TakesAnArchivePathBeginningWithADashForAPath) {
  TempDir dir;
  const std::string data = "modelbegin\nmodelend\n";
  WriteFile(dir / "-m.zip", LocalEntry(Entry(data)));
  CapturedLog log(dir.path());
  char old_dir[4096];
  ASSERT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const bool extracted = archive::ExtractToWorkFile("-m.zip", "", *log.file, "work") != nullptr;
  ASSERT_EQ(chdir(old_dir), 0);
  EXPECT_TRUE(extracted);
  EXPECT_EQ(ReadFile(dir / "work"), data);
  EXPECT_EQ(log.Text(), "");
}

}  // namespace

// An entry measured from memory must read exactly as the work file would, and a failure must
// give exactly the work file's lines and code: the memory road (one-call inflate, archive read
// whole) falls back to the streaming one for everything it does not take.
TEST(ExtractFirstEntry, MemoryGivesTheWorkFilesBytesLinesAndCodes) {
  struct Case {
    std::string what;
    std::string bytes;
    std::string password;
  };
  std::vector<Case> cases;
  for (const std::size_t size : {1u, 32768u, 200003u}) {
    const std::string data = ModelText(size, static_cast<std::uint32_t>(size) + 3);
    for (const unsigned method : {0u, 8u}) {
      for (const bool encrypted : {false, true}) {
        EntrySpec e = Entry(data, method);
        if (encrypted) e.password = "tree";
        const std::string what = std::to_string(size) + (method == 0 ? " stored" : " deflated") +
                                 (encrypted ? " encrypted" : "");
        cases.push_back({what, LocalEntry(e) + EndRecord(), e.password});
        e.descriptor = true;
        e.sizes_in_header = method == 0;
        cases.push_back({what + " descriptor", LocalEntry(e) + EndRecord(), e.password});
      }
    }
  }
  const std::string text = ModelText(50000);
  const std::string good = LocalEntry(Entry(text)) + EndRecord();
  // A header size below or above the real one: only a hint for the one-call inflate.
  std::string small_hint = good;
  small_hint[22] = '\x10';
  small_hint[23] = small_hint[24] = small_hint[25] = '\0';
  cases.push_back({"size hint too small", small_hint, ""});
  std::string big_hint = good;
  big_hint[25] = '\x01';
  cases.push_back({"size hint too big", big_hint, ""});
  std::string flipped = good;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
  cases.push_back({"damaged deflate data", flipped, ""});
  std::string bad_crc = good;
  bad_crc[14] = static_cast<char>(bad_crc[14] ^ 1);
  cases.push_back({"crc error", bad_crc, ""});
  for (const std::size_t cut : {20u, 40u, 500u, 2000u}) {
    cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut), ""});
  }
  EntrySpec locked = Entry(text);
  locked.password = "right";
  cases.push_back({"wrong password", LocalEntry(locked) + EndRecord(), "wrong"});
  cases.push_back({"no password", LocalEntry(locked) + EndRecord(), ""});
  cases.push_back({"gzip", GzipMember(text, 0x08, "m.rwx"), ""});
  cases.push_back({"gzip cut", GzipMember(text, 0).substr(0, 3000), ""});
  cases.push_back({"not an archive", "hello", ""});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string archive_path = dir / "a.zip";
    WriteFile(archive_path, c.bytes);
    std::string texts[2], logs[2], errs[2];
    bool opened[2] = {false, false};
    bool in_memory[2] = {true, false};
    const archive::EntryDestination destinations[2] = {
        archive::EntryDestination::kWorkFile, archive::EntryDestination::kMemoryWhenItFits};
    for (int i = 0; i < 2; ++i) {
      CapturedLog log(dir.path());
      CapturedErr err;
      auto stream = archive::ExtractFirstEntry(archive_path, c.password, *log.file, dir / "work",
                                               destinations[i], &in_memory[i], err.file);
      opened[i] = stream != nullptr;
      for (int b = stream ? stream->Get() : -1; b >= 0; b = stream->Get()) {
        texts[i].push_back(static_cast<char>(b));
      }
      logs[i] = log.Text();
      errs[i] = err.Text();
      unlink((dir / "work").c_str());
    }
    EXPECT_EQ(opened[1], opened[0]);
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(errs[1], errs[0]);
    EXPECT_TRUE(texts[1] == texts[0]) << texts[1].size() << " bytes against " << texts[0].size();
    EXPECT_FALSE(in_memory[0]);
    EXPECT_EQ(in_memory[1], opened[1]);
  }
}

TEST(ExtractFirstEntry, AnEntryBeyondTheMemoryBoundGoesThroughTheWorkFile) {
  std::string data;
  while (data.size() <= archive::kMaxMemoryEntry) data += "vertex 1 2 3\r\nvertex 4 5 6\r\n";
  TempDir dir;
  WriteFile(dir / "a.zip", LocalEntry(Entry(data, 0)) + EndRecord());  // stored: quick to make
  CapturedLog log(dir.path());
  bool in_memory = true;
  auto stream =
      archive::ExtractFirstEntry(dir / "a.zip", "", *log.file, dir / "work",
                                 archive::EntryDestination::kMemoryWhenItFits, &in_memory);
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(in_memory);
  EXPECT_EQ(std::filesystem::file_size(dir / "work"), data.size());
  EXPECT_EQ(log.Text(), "");
}
