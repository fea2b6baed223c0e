#include "rwxsmith/cob_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rwxsmith/joint_table.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Header(char format) {
  std::string h = "Caligari V00.01";
  h += format;
  h += "LH               ";
  return h.substr(0, cob::kFileHeaderSize);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> Chunk(const char* type, std::int32_t id, std::int32_t parent,
                                std::int32_t length) {
  std::vector<std::uint8_t> out(type, type + 4);
  out.insert(out.end(), {0x01, 0x00, 0x04, 0x00});
  PutU32(out, static_cast<std::uint32_t>(id));
  PutU32(out, static_cast<std::uint32_t>(parent));
  PutU32(out, static_cast<std::uint32_t>(length));
  return out;
}

TEST(CobHeader, ClassifiesEveryKindOfHeader) {
  struct Case {
    std::string bytes;
    cob::HeaderKind kind;
  };
  std::string wrong_magic = Header('B');
  wrong_magic[8] = '_';  // the blank after the magic word is part of it
  const Case cases[] = {
      {Header('B'), cob::HeaderKind::kBinary},
      {Header('A'), cob::HeaderKind::kAscii},
      {Header('X'), cob::HeaderKind::kOtherFormat},
      {wrong_magic, cob::HeaderKind::kNotCob},
      {Header('B').substr(0, 31), cob::HeaderKind::kNotCob},
      {"", cob::HeaderKind::kNotCob},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::vector<std::uint8_t> buffer = Bytes(c.bytes);  // own copy so ASan sees the end
    EXPECT_EQ(cob::ClassifyHeader(buffer.data(), buffer.size()), c.kind);
  }
}

TEST(CobHeader, BinaryCheckPrintsTheDumpMessages) {
  struct Case {
    std::string bytes;
    bool ok;
    std::string message;
  };
  const Case cases[] = {
      {Header('B'), true, ""},
      {Header('A'), false, "This program only supports Binary format COB files"},
      {Header('Z'), false, "This program only supports Binary format COB files"},
      {"Caligari", false, "File specified is not correctly formatted COB file"},
      {"Xaligari V00.01BLH               ", false,
       "File specified is not correctly formatted COB file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::vector<std::uint8_t> buffer = Bytes(c.bytes);
    testing::internal::CaptureStdout();
    const std::optional<std::size_t> first = cob::CheckBinaryHeader(buffer.data(), buffer.size(), stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(first.has_value(), c.ok);
    if (first) {
      EXPECT_EQ(*first, 32u);
    }
  }
}

TEST(CobChunkHeader, ReadsEveryFieldAndTheNextOffset) {
  std::vector<std::uint8_t> file = Chunk("PolH", 7, 3, 5);
  file.insert(file.end(), {1, 2, 3, 4, 5});
  cob::ChunkHeader h;
  ASSERT_TRUE(cob::ReadChunkHeader(file.data(), file.size(), 0, h));
  EXPECT_EQ(std::string(h.type.data(), 4), "PolH");
  EXPECT_EQ(h.major_version, 1);
  EXPECT_EQ(h.minor_version, 4);
  EXPECT_EQ(h.chunk_id, 7);
  EXPECT_EQ(h.parent_id, 3);
  EXPECT_EQ(h.data_length, 5);
  EXPECT_EQ(h.data_start, 20u);
  EXPECT_EQ(h.data_available, 5u);
  EXPECT_EQ(h.next_offset, 25u);
  EXPECT_TRUE(cob::ChunkTypeIs(h, "polh"));
  EXPECT_FALSE(cob::ChunkTypeIs(h, "PolH "));
}

TEST(CobChunkHeader, FailsCleanlyAtEveryCutOfTheHeader) {
  const std::vector<std::uint8_t> file = Chunk("Grou", 1, 0, 0);
  for (std::size_t n = 0; n < file.size(); ++n) {
    const std::vector<std::uint8_t> prefix(file.begin(), file.begin() + static_cast<long>(n));
    cob::ChunkHeader h;
    EXPECT_FALSE(cob::ReadChunkHeader(prefix.data(), prefix.size(), 0, h)) << n;
  }
  cob::ChunkHeader h;
  EXPECT_FALSE(cob::ReadChunkHeader(file.data(), file.size(), file.size() + 1, h));
  EXPECT_TRUE(cob::ReadChunkHeader(file.data(), file.size(), 0, h));
}

TEST(CobChunkHeader, LengthsOutsideTheBufferEndTheWalk) {
  struct Case {
    std::int32_t length;
    std::size_t available;
    std::size_t next;
  };
  // The file holds 20 header bytes and 3 data bytes.
  const Case cases[] = {
      {3, 3, 23},         {2, 2, 22},
      {4, 3, 23},   // claims more than is there: the data is cut, the walk ends
      {-1, 0, 23},  // negative: would walk backwards
      {INT32_MIN, 0, 23}, {INT32_MAX, 3, 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<std::uint8_t> file = Chunk("Mat1", 1, 0, c.length);
    file.insert(file.end(), {9, 9, 9});
    cob::ChunkHeader h;
    ASSERT_TRUE(cob::ReadChunkHeader(file.data(), file.size(), 0, h));
    EXPECT_EQ(h.data_available, c.available);
    EXPECT_EQ(h.next_offset, c.next);
  }
}

TEST(JointTable, FindsJointsByNameWithTheRightCaseRule) {
  EXPECT_EQ(cob::JointNumber("pelvis", cob::JointCase::kExact), 1);
  EXPECT_EQ(cob::JointNumber("lfear", cob::JointCase::kExact), 42);
  EXPECT_EQ(cob::JointNumber("neck2", cob::JointCase::kExact), 23);
  EXPECT_EQ(cob::JointNumber("Head", cob::JointCase::kExact), 0);
  EXPECT_EQ(cob::JointNumber("Head", cob::JointCase::kIgnoreCase), 4);
  EXPECT_EQ(cob::JointNumber("", cob::JointCase::kIgnoreCase), 0);
  EXPECT_EQ(cob::JointNumber("pelvis_", cob::JointCase::kIgnoreCase), 0);
  EXPECT_EQ(cob::JointName(1), "pelvis");
  EXPECT_EQ(cob::JointName(42), "lfear");
  EXPECT_EQ(cob::JointName(0), "");
  EXPECT_EQ(cob::JointName(43), "");
  for (int n = 1; n <= cob::kJointCount; ++n) {
    EXPECT_EQ(cob::JointNumber(cob::JointName(n), cob::JointCase::kExact), n);
  }
}

}  // namespace
