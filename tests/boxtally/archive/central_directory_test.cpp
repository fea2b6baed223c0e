#include "boxtally/archive/central_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "archive_fixtures.h"

namespace {

using namespace archive_test;

// FindCentralEntry over bytes in memory; each read is checked against their end.
std::optional<archive::CentralEntry> Find(const std::string& bytes, std::uint64_t local_offset) {
  const archive::ReadAt read_at = [&bytes](std::uint64_t offset, std::uint8_t* out,
                                           std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  };
  return archive::FindCentralEntry(read_at, bytes.size(), local_offset);
}

EntrySpec Stored(const std::string& name, const std::string& data) {
  EntrySpec e;
  e.name = name;
  e.data = data;
  e.method = 0;
  return e;
}

TEST(CentralDirectory, FindsTheRecordOfTheEntryAtAnOffset) {
  EntrySpec first = Stored("a.rwx", ModelText(1000));
  first.descriptor = true;
  EntrySpec second = Stored("b.rwx", "second");
  second.method = 8;
  second.password = "pw";
  const std::string second_at = std::to_string(LocalEntry(first).size());
  struct Case {
    const char* what;
    std::string bytes;
    std::uint64_t offset;
    const EntrySpec* expected;  // nullptr: no record for that offset
  };
  const Case cases[] = {
      {"first entry", WholeArchive({first, second}), 0, &first},
      {"second entry", WholeArchive({first, second}), LocalEntry(first).size(), &second},
      {"Zip64 directory", WholeArchive({first, second}, true), 0, &first},
      {"Zip64, second entry", WholeArchive({first, second}, true), LocalEntry(first).size(),
       &second},
      {"archive comment", WholeArchive({first}, false, "made for the test"), 0, &first},
      {"longest comment", WholeArchive({first}, false, std::string(0xFFFF, 'c')), 0, &first},
      {"after a marker", WholeArchive({first}, false, "", "PK00"), 4, &first},
      {"no entry there", WholeArchive({first, second}), 1, nullptr},
      {"empty archive", WholeArchive({}), 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<archive::CentralEntry> found = Find(c.bytes, c.offset);
    ASSERT_EQ(found.has_value(), c.expected != nullptr);
    if (!found) continue;
    const EntrySpec& e = *c.expected;
    EXPECT_EQ(found->local_header_offset, c.offset);
    EXPECT_EQ(found->flags, EntryFlags(e));
    EXPECT_EQ(found->method, e.method);
    EXPECT_EQ(found->crc, Crc32(e.data));
    EXPECT_EQ(found->compressed_size, EntryBody(e).size());
    EXPECT_EQ(found->uncompressed_size, e.data.size());
  }
}

// Info-ZIP's zip -fz marks only the fields that need it: here the uncompressed size and the
// offset are all ones and come from the Zip64 field, in that order, and the compressed size is
// the header's own.
TEST(CentralDirectory, ReadsOnlyTheMarkedFieldsFromTheZip64Field) {
  const EntrySpec e = Stored("m.rwx", "modelbegin\nmodelend\n");
  std::string bytes = WholeArchive({e});
  const std::size_t record = LocalEntry(e).size();
  const std::string field = [] {
    std::string f;
    PutU16(f, 0x0001);
    PutU16(f, 16);
    PutU64(f, 20);  // uncompressed size
    PutU64(f, 0);   // local header offset
    return f;
  }();
  std::string marked = bytes.substr(0, record) + CentralRecord(e, 0, false) + field;
  marked.replace(record + 24, 4, "\xFF\xFF\xFF\xFF");  // uncompressed size
  marked.replace(record + 42, 4, "\xFF\xFF\xFF\xFF");  // local header offset
  marked[record + 30] = static_cast<char>(field.size());
  const std::size_t directory_size = marked.size() - record;
  std::string end = bytes.substr(bytes.size() - 22);
  end[12] = static_cast<char>(directory_size);
  const std::optional<archive::CentralEntry> found = Find(marked + end, 0);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->uncompressed_size, 20u);
  EXPECT_EQ(found->compressed_size, 20u);
  EXPECT_EQ(found->local_header_offset, 0u);
  // The same record whose Zip64 field lacks the offset is not used.
  std::string short_field = marked + end;
  short_field.replace(record + archive::kCentralHeaderSize + 5 + 2, 2, std::string("\x08\x00", 2));
  EXPECT_FALSE(Find(short_field, 0).has_value());
}

TEST(CentralDirectory, RefusesWhatDoesNotFitTheArchive) {
  const EntrySpec e = Stored("m.rwx", "modelbegin\nmodelend\n");
  const std::string good = WholeArchive({e});
  const std::size_t end = good.size() - 22;
  const std::size_t record = LocalEntry(e).size();
  auto changed = [](std::string bytes, std::size_t at, const std::string& with) {
    bytes.replace(at, with.size(), with);
    return bytes;
  };
  const std::string good64 = WholeArchive({e}, true);
  const std::size_t end64 = good64.size() - 22;
  const std::size_t locator = end64 - 20;
  const std::size_t record64 = good64.size() - 22 - 20 - 56;
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"no end record", good.substr(0, end)},
      {"directory offset past the end record", changed(good, end + 16, "\xFF")},
      {"directory size past the end record", changed(good, end + 12, "\xFF")},
      {"another disk", changed(good, end + 4, "\x02")},
      {"directory on another disk", changed(good, end + 6, "\x02")},
      {"comment longer than what follows", changed(good, end + 20, "\x01")},
      {"record signature", changed(good, record + 3, "\x03")},
      {"record name runs out of the directory", changed(good, record + 28, "\xFF")},
      // Found by fuzzing: a size marked as in the Zip64 field, and no extra field at all.
      {"Zip64 marker without a Zip64 field", changed(good, record + 24, "\xFF\xFF\xFF\xFF")},
      {"no locator before a Zip64 end record", changed(good64, locator, "PK\x06\x08")},
      {"Zip64 end record past the locator", changed(good64, locator + 8, "\xF0")},
      {"Zip64 end record signature", changed(good64, record64 + 3, "\x07")},
      {"Zip64 directory offset past the end", changed(good64, record64 + 55, "\x01")},
      {"Zip64 archive on several disks", changed(good64, locator + 16, "\x02")},
  };
  ASSERT_TRUE(Find(good, 0).has_value());
  ASSERT_TRUE(Find(good64, 0).has_value());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(Find(c.bytes, 0).has_value());
  }
}

// Every cut of an archive: the end record goes with the last bytes, so only the whole archive
// has a directory. Each prefix is its own buffer so that AddressSanitizer sees its end.
TEST(CentralDirectory, FindsNothingInAnyCutOfTheArchive) {
  EntrySpec e = Stored("m.rwx", ModelText(300));
  e.descriptor = true;
  e.sizes_in_header = false;
  for (const bool zip64 : {false, true}) {
    SCOPED_TRACE(zip64 ? "Zip64" : "plain");
    const std::string whole = WholeArchive({e, Stored("b.rwx", "b")}, zip64, "comment");
    for (std::size_t n = 0; n < whole.size(); ++n) {
      EXPECT_FALSE(Find(whole.substr(0, n), 0).has_value()) << "prefix length " << n;
    }
    EXPECT_TRUE(Find(whole, 0).has_value());
  }
}

TEST(CentralDirectory, ReadsAnArchiveFileWithoutMovingItsStream) {
  TempDir dir;
  const EntrySpec e = Stored("m.rwx", "modelbegin\nmodelend\n");
  WriteFile(dir / "a.zip", WholeArchive({e}));
  std::FILE* file = std::fopen((dir / "a.zip").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char first[4] = {};
  ASSERT_EQ(std::fread(first, 1, 2, file), 2u);
  const std::optional<archive::CentralEntry> found = archive::FindCentralEntry(file, 0);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->uncompressed_size, e.data.size());
  ASSERT_EQ(std::fread(first + 2, 1, 2, file), 2u);  // the stream goes on where it was
  EXPECT_EQ(std::string(first, 4), "PK\x03\x04");
  std::fclose(file);
  // A stream that is not a regular file has no offsets to read at.
  std::FILE* pipe = popen("cat /dev/null", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_FALSE(archive::FindCentralEntry(pipe, 0).has_value());
  pclose(pipe);
}

}  // namespace
