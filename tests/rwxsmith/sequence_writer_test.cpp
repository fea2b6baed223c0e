#include "rwxsmith/sequence_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>  // mkdtemp

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "cob_test_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using cobtest::ChanData;
using cobtest::CobFile;
using cobtest::PolyData;
using cobtest::Triangle;

class TempFolder {
 public:
  TempFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "rwxsmith-seq.XXXXXX").string();
    if (mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct SeqResult {
  Bytes file;
  std::string console;
};

// Runs the Animation mode as the program does: a fresh "w+b" file, closed afterwards.
SeqResult RunAnimation(const Bytes& cob, const std::string& input_path) {
  TempFolder folder;
  const std::string seq_path = folder.File("out.seq");
  std::FILE* seq = std::fopen(seq_path.c_str(), "w+b");
  EXPECT_NE(seq, nullptr);
  SeqResult result;
  if (seq) {
    testing::internal::CaptureStdout();
    cob::WriteAnimationSequence(cob, input_path, seq, stdout);
    result.console = testing::internal::GetCapturedStdout();
    std::fclose(seq);
  }
  std::ifstream in(seq_path, std::ios::binary);
  result.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return result;
}

// Expected bytes, written out by hand: big-endian numbers and length-prefixed strings.
void Be16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
void Be32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void Be32s(Bytes& out, std::initializer_list<std::uint32_t> values) {
  for (std::uint32_t v : values) Be32(out, v);
}
void Str(Bytes& out, const std::string& text) {
  Be16(out, static_cast<std::uint16_t>(text.size() + 1));
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}
Bytes Header(std::uint16_t frames, std::uint32_t limbs, const std::string& path) {
  Bytes out = {0x7F, 0x7F, 0x7F, 0x79};
  Be16(out, frames);
  Be32(out, limbs);
  Str(out, path);
  Str(out, "pelvis");
  return out;
}
// The identity rotation track under "dummy": type 16, one keyframe at frame 0 with 1, 0, 0, 0.
void DummyTrack(Bytes& out) {
  Str(out, "dummy");
  Be32s(out, {16, 1, 0, 0x3F800000, 0, 0, 0});
}
// The unnamed track closing a move section: the identity with its third value negated (-0).
void ClosingTrack(Bytes& out) { Be32s(out, {16, 1, 0, 0x3F800000, 0, 0x80000000, 0}); }

std::string Hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    out += buf;
    if (i % 4 == 3) out += ' ';
  }
  return out;
}

// A walking pelvis: rotate and move keyframes at frames 0, 15 and 30 (15.7 truncates to 15),
// an unknown "Scale" channel on the head, a third Chan for the pelvis.
Bytes WalkingPelvis() {
  return CobFile()
      .Group(10, 0, "gm_pelvis")
      .Chunk("Chan", 11, 10,
             ChanData("Rotate", {{0.0f, 1.0f, 0.0f, 0.0f, 0.0f},
                                 {15.7f, 0.5f, 0.25f, -0.5f, 2.0f},
                                 {30.0f, -1.0f, 0.0f, 0.5f, 0.25f}}))
      .Chunk("Chan", 12, 10,
             ChanData("Move", {{0.0f, 1.0f, 2.0f, 3.0f},
                               {15.0f, 0.5f, -2.0f, -1.0f},
                               {30.0f, 0.0f, 0.0f, 0.25f}}))
      .Chunk("Chan", 13, 10, ChanData("Rotate", {{5.0f, 1.0f, 0.0f, 0.0f, 0.0f}}))
      .Poly(20, 10, Triangle("gm_head_x"))
      .Chunk("Chan", 21, 20, ChanData("Scale", {}, 2))
      .End()
      .bytes();
}

TEST(SequenceFile, SceneWithoutAvatarObjectsHoldsTheDummyTrack) {
  // GM_head: the scan wants the prefix in lower case.
  const Bytes cob = CobFile()
                        .Group(1, 0, "Body")
                        .Poly(2, 1, Triangle("GM_head"))
                        .Chunk("Chan", 3, 2, ChanData("rotate", {{7.0f, 1, 0, 0, 0}}))
                        .End()
                        .bytes();
  const SeqResult result = RunAnimation(cob, "scene.cob");

  // clang-format off
  Bytes expected = {
      0x7F, 0x7F, 0x7F, 0x79,                                  // magic
      0x00, 0x00,                                              // frame count 0
      0x00, 0x00, 0x00, 0x01,                                  // limb count 1
      0x00, 0x0A, 's', 'c', 'e', 'n', 'e', '.', 'c', 'o', 'b', 0x00,
      0x00, 0x07, 'p', 'e', 'l', 'v', 'i', 's', 0x00,
      0x00, 0x06, 'd', 'u', 'm', 'm', 'y', 0x00};              // the dummy track's name
  // clang-format on
  Be32s(expected, {16, 1, 0, 0x3F800000, 0, 0, 0});
  Be32(expected, 0);  // no move section
  EXPECT_EQ(Hex(result.file), Hex(expected));
  EXPECT_EQ(result.console, "  Duplicate Chan chunk or no corresponding parent\n");
}

TEST(SequenceFile, PelvisWithRotateAndMove) {
  const SeqResult result = RunAnimation(WalkingPelvis(), "models/walk.cob");

  Bytes expected = Header(30, 1, "models/walk.cob");
  Str(expected, "pelvis");
  Be32s(expected, {16, 3});
  // frame, p20, p24, p32, p28: the last two change places.
  Be32s(expected, {0, 0x3F800000, 0, 0, 0});
  Be32s(expected, {15, 0x3F000000, 0x3E800000, 0x40000000, 0xBF000000});
  Be32s(expected, {30, 0xBF800000, 0, 0x3E800000, 0x3F000000});
  Be32(expected, 4);                                                       // move marker
  Be32s(expected, {4, 3, 0, 0x3F800000, 15, 0x3F000000, 30, 0});           // X = p20
  Be32s(expected, {4, 3, 0, 0x40000000, 15, 0xC0000000, 30, 0});           // Y = p24
  Be32s(expected, {4, 3, 0, 0xC0400000, 15, 0x3F800000, 30, 0xBE800000});  // Z = -p28
  ClosingTrack(expected);
  EXPECT_EQ(Hex(result.file), Hex(expected));

  EXPECT_EQ(result.console,
            "  Duplicate Chan chunk or no corresponding parent\n"
            "  Processing ROTATE (3 keyframes) for 'pelvis'\n"
            "**  Skipping 'scale' frame (2 keyframes)\n"
            "  Processing MOVE (3 keyframes) for 'pelvis'\n"
            "  Processing ROTATE (1 keyframes) for 'dummy'\n"
            "  Totals: frames=30, limbs=1\n");
}

TEST(SequenceFile, MoveOutsideThePelvisWritesTheDummyMove) {
  const Bytes cob = CobFile()
                        .Poly(5, 0, Triangle("gm_x_head"))
                        .Chunk("Chan", 6, 5, ChanData("move", {{3, 1, 1, 1}, {9, 2, 2, 2}}))
                        .End()
                        .bytes();
  const SeqResult result = RunAnimation(cob, "a.cob");

  Bytes expected = Header(0, 1, "a.cob");
  DummyTrack(expected);
  Be32(expected, 4);
  Be32s(expected, {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0x80000000});  // Z of the zero move is -0
  ClosingTrack(expected);
  EXPECT_EQ(Hex(result.file), Hex(expected));
  EXPECT_EQ(result.console,
            "  Processing MOVE (1 keyframes) for 'dummy'\n"
            "  Processing ROTATE (1 keyframes) for 'dummy'\n");
}

TEST(SequenceFile, TracksFollowTheObjectsFileOrder) {
  // Two limbs, and a pelvis rotate whose Chan comes before the head's: tracks follow the
  // limbs' order, not the channels'.
  const Bytes cob =
      CobFile()
          .Poly(1, 0, Triangle("gm_head"))
          .Chunk("polh", 2, 0, PolyData(Triangle("gm_pelvis")))  // type compared without case
          .Chunk("Chan", 3, 2, ChanData("ROTATE", {{2, 1, 0, 0, 0}}))
          .Chunk("Chan", 4, 1, ChanData("rotate", {{4, 0, 1, 0, 0}}))
          .End()
          .bytes();
  const SeqResult result = RunAnimation(cob, "b.cob");

  Bytes expected = Header(4, 2, "b.cob");
  Str(expected, "head");
  Be32s(expected, {16, 1, 4, 0, 0x3F800000, 0, 0});
  Str(expected, "pelvis");
  Be32s(expected, {16, 1, 2, 0x3F800000, 0, 0, 0});
  Be32(expected, 0);
  EXPECT_EQ(Hex(result.file), Hex(expected));
  EXPECT_EQ(result.console,
            "  Processing ROTATE (1 keyframes) for 'head'\n"
            "  Processing ROTATE (1 keyframes) for 'pelvis'\n"
            "  Totals: frames=4, limbs=2\n");
}

TEST(SequenceFile, RejectedHeaderLeavesTheFileEmpty) {
  struct Case {
    Bytes cob;
    const char* message;
  };
  Bytes short_file = CobFile().bytes();
  short_file.resize(31);
  Bytes wrong_magic = CobFile().End().bytes();
  wrong_magic[0] = 'c';
  const Case cases[] = {
      {{}, "File specified is not correctly formatted COB file"},
      {short_file, "File specified is not correctly formatted COB file"},
      {wrong_magic, "File specified is not correctly formatted COB file"},
      {CobFile('A').End().bytes(), "This program only supports Binary format COB files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const SeqResult result = RunAnimation(c.cob, "x.cob");
    EXPECT_TRUE(result.file.empty());
    EXPECT_EQ(result.console, c.message);
  }
}

TEST(SequenceFile, ShortChannelWritesTheKeyframesItHolds) {
  // Five keyframes declared, two present: the track states two, never reads past the chunk.
  const Bytes cob =
      CobFile()
          .Group(1, 0, "gm_neck")
          .Chunk("Chan", 2, 1, ChanData("rotate", {{1, 1, 0, 0, 0}, {8, 1, 0, 0, 0}}, 5))
          .End()
          .bytes();
  const SeqResult result = RunAnimation(cob, "c.cob");

  Bytes expected = Header(8, 1, "c.cob");
  Str(expected, "neck");
  Be32s(expected, {16, 2, 1, 0x3F800000, 0, 0, 0, 8, 0x3F800000, 0, 0, 0});
  Be32(expected, 0);
  EXPECT_EQ(Hex(result.file), Hex(expected));
  EXPECT_EQ(result.console,
            "**  'rotate' channel of 'neck' holds 2 of its 5 keyframes\n"
            "  Processing ROTATE (2 keyframes) for 'neck'\n"
            "  Totals: frames=8, limbs=1\n");
}

TEST(SequenceFile, ChannelCutByTheEndOfTheFile) {
  // The last Chan claims more bytes than the file has; its keyframes stop where the file does.
  cobtest::Bytes chan = ChanData("rotate", {{1, 1, 0, 0, 0}, {2, 1, 0, 0, 0}, {3, 1, 0, 0, 0}});
  chan.data.resize(chan.data.size() - 10);  // the third keyframe loses its last floats
  const Bytes cob = CobFile().Group(1, 0, "gm_back").Chunk("Chan", 2, 1, chan, 10).bytes();
  const SeqResult result = RunAnimation(cob, "d.cob");
  EXPECT_EQ(result.console,
            "**  'rotate' channel of 'back' holds 2 of its 3 keyframes\n"
            "  Processing ROTATE (2 keyframes) for 'back'\n"
            "  Totals: frames=2, limbs=1\n");
}

TEST(SequenceFile, UnreadableChannelCountsAsNone) {
  // The name length runs past the chunk: no name, no count, so no channel.
  cobtest::Bytes chan = ChanData("rotate", {}, 1);
  chan.data.resize(18);
  const Bytes cob = CobFile().Group(1, 0, "gm_lips").Chunk("Chan", 2, 1, chan).End().bytes();
  const SeqResult result = RunAnimation(cob, "e.cob");
  Bytes expected = Header(0, 1, "e.cob");
  DummyTrack(expected);
  Be32(expected, 0);
  EXPECT_EQ(Hex(result.file), Hex(expected));
  EXPECT_EQ(result.console, "**  Skipping unreadable Chan chunk for 'lips'\n");
}

TEST(SequenceFile, FrameCountKeepsToSixteenBits) {
  const Bytes cob = CobFile()
                        .Group(1, 0, "gm_pelvis")
                        .Chunk("Chan", 2, 1, ChanData("rotate", {{40000.0f, 1, 0, 0, 0}}))
                        .End()
                        .bytes();
  const SeqResult result = RunAnimation(cob, "f.cob");
  ASSERT_GE(result.file.size(), 10u);
  EXPECT_EQ(result.file[4], 0x7F);
  EXPECT_EQ(result.file[5], 0xFF);
  EXPECT_NE(result.console.find("  Totals: frames=32767, limbs=1\n"), std::string::npos);
}

TEST(SequenceFile, MoveKeyframesCountInTheFrameCount) {
  // The header's frame count covers every written keyframe, the move's included.
  const Bytes cob = CobFile()
                        .Group(1, 0, "gm_pelvis")
                        .Chunk("Chan", 2, 1, ChanData("rotate", {{10, 1, 0, 0, 0}}))
                        .Chunk("Chan", 3, 1, ChanData("move", {{0, 0, 0, 0}, {48, 0, 1, 0}}))
                        .End()
                        .bytes();
  const SeqResult result = RunAnimation(cob, "g.cob");
  ASSERT_GE(result.file.size(), 6u);
  EXPECT_EQ(result.file[4], 0x00);
  EXPECT_EQ(result.file[5], 48);
  EXPECT_NE(result.console.find("  Totals: frames=48, limbs=1\n"), std::string::npos);
}

TEST(SequenceFile, WriteFailureIsReported) {
  TempFolder folder;
  const std::string path = folder.File("ro.seq");
  std::FILE* create = std::fopen(path.c_str(), "wb");
  ASSERT_NE(create, nullptr);
  std::fclose(create);
  std::FILE* read_only = std::fopen(path.c_str(), "rb");
  ASSERT_NE(read_only, nullptr);
  testing::internal::CaptureStdout();
  cob::WriteAnimationSequence(WalkingPelvis(), "w.cob", read_only, stdout);
  const std::string text = testing::internal::GetCapturedStdout();
  std::fclose(read_only);
  EXPECT_NE(text.find("Error writing the sequence file\n"), std::string::npos) << text;
}

TEST(SequenceFile, EveryCutOfAValidFileEndsCleanly) {
  const Bytes full = WalkingPelvis();
  for (std::size_t n = 0; n < full.size(); ++n) {
    const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));  // for ASan
    const SeqResult result = RunAnimation(prefix, "cut.cob");
    if (n < 32) {
      EXPECT_TRUE(result.file.empty()) << "prefix length " << n;
    } else {
      ASSERT_GE(result.file.size(), 4u) << "prefix length " << n;
      EXPECT_EQ(result.file[3], 0x79) << "prefix length " << n;
    }
  }
}

TEST(SequenceFile, CorpusSceneWithoutAvatarJoints) {
  // dwarf.cob animates objects named Body and test2Mesh: no joint, so every one of its 1481
  // Chan chunks finds no limb, and the sequence is the dummy one.
  const std::filesystem::path file = std::filesystem::path(BOXTALLY_CORPUS) / "cob/dwarf.cob";
  if (!std::filesystem::exists(file))
    GTEST_SKIP() << "needs the third-party corpus beside the clone: " << file;
  std::ifstream in(file, std::ios::binary);
  const Bytes cob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const SeqResult result = RunAnimation(cob, "dwarf.cob");

  Bytes expected = Header(0, 1, "dwarf.cob");
  DummyTrack(expected);
  Be32(expected, 0);
  EXPECT_EQ(Hex(result.file), Hex(expected));
  std::string lines;
  for (int i = 0; i < 1481; ++i) lines += "  Duplicate Chan chunk or no corresponding parent\n";
  EXPECT_EQ(result.console, lines);
}

TEST(AvatarScan, JointFromObjectName) {
  struct Case {
    const char* name;
    int joint;
  };
  const Case cases[] = {
      {"gm_pelvis", 1},    {"gm_lfear_x", 42}, {"gm_x_head_neck", 4},  // first piece wins
      {"gm_neck_head", 3}, {"gm_neck2", 23},   {"gm__back", 2},       {"GM_head", 0},
      {"gm_Head", 0},      {"Gm_head", 0},     {"gm_headx", 0},       {"gm_", 0},
      {"pelvis", 0},       {"xgm_pelvis", 0},  {"gm_tail4_obj", 27},  {"gm_x_y_z", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cob::ScanJointNumber(c.name), c.joint);
  }
}

TEST(AvatarScan, PelvisGetsTwoRecordsAndChansAttachInOrder) {
  const Bytes cob = CobFile()
                        .Chunk("Chan", 9, 2, ChanData("rotate", {}))  // before its object
                        .Group(2, 0, "gm_pelvis")
                        .Poly(3, 2, Triangle("gm_rtknee_1"))
                        .Poly(4, 2, Triangle("plain"))
                        .Chunk("Chan", 5, 2, ChanData("rotate", {}))
                        .Chunk("Chan", 6, 3, ChanData("rotate", {}))
                        .Chunk("Chan", 7, 2, ChanData("move", {}))
                        .Chunk("Chan", 8, 4, ChanData("rotate", {}))  // no limb
                        .End()
                        .bytes();
  testing::internal::CaptureStdout();
  const std::vector<cob::LimbRecord> limbs = cob::ScanAvatarLimbs(cob, 32, stdout);
  const std::string console = testing::internal::GetCapturedStdout();
  ASSERT_EQ(limbs.size(), 3u);
  EXPECT_EQ(limbs[0].prefixed_name, "gm_pelvis");
  EXPECT_EQ(limbs[1].prefixed_name, "gm_pelvis");
  EXPECT_EQ(limbs[2].prefixed_name, "gm_rtknee");
  EXPECT_EQ(limbs[0].joint_number, 1);
  EXPECT_EQ(limbs[2].joint_number, 16);
  EXPECT_EQ(limbs[0].chunk_id, 2);
  EXPECT_EQ(limbs[2].chunk_id, 3);
  ASSERT_TRUE(limbs[0].channel && limbs[1].channel && limbs[2].channel);
  EXPECT_EQ(*limbs[0].channel, ChanData("rotate", {}).data);
  EXPECT_EQ(*limbs[1].channel, ChanData("move", {}).data);
  EXPECT_EQ(console,
            "  Duplicate Chan chunk or no corresponding parent\n"
            "  Duplicate Chan chunk or no corresponding parent\n");
}

TEST(AvatarScan, ManyLimbsAndChansStayFast) {
  // Each Chan finds its limb by identifier, not by a search of the whole list: 150,000 limbs
  // and Chans would take many seconds with a search per Chan.
  constexpr int kLimbs = 150000;
  CobFile builder;
  for (int i = 0; i < kLimbs; ++i) builder.Group(i + 1, 0, "gm_head");
  for (int i = kLimbs; i > 0; --i) builder.Chunk("Chan", 0, i, ChanData("scale", {}, 0));
  builder.Chunk("Chan", 0, 1, ChanData("scale", {}, 0));  // the one duplicate
  testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  const std::vector<cob::LimbRecord> limbs = cob::ScanAvatarLimbs(builder.bytes(), 32, stdout);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string console = testing::internal::GetCapturedStdout();
  ASSERT_EQ(limbs.size(), static_cast<std::size_t>(kLimbs));
  EXPECT_TRUE(limbs.front().channel && limbs.back().channel);
  EXPECT_EQ(console, "  Duplicate Chan chunk or no corresponding parent\n");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(AvatarScan, LongObjectNamesAreCutAtTheWorkBuffer) {
  // 83 characters are kept: a joint ending there still counts, one cut by the limit does not.
  const std::string filler(75, 'x');
  const std::string fits = "gm_" + filler + "_head";  // 83 characters
  const std::string cut = "gm_" + filler + "x_head";  // 84: "_hea" is what remains
  const std::string huge = "gm_" + std::string(5000, 'y') + "_neck";
  ASSERT_EQ(fits.size(), cob::kMaxScanObjectName);
  const Bytes cob = CobFile()
                        .Poly(1, 0, Triangle(fits))
                        .Poly(2, 0, Triangle(cut))
                        .Poly(3, 0, Triangle(huge))
                        .End()
                        .bytes();
  const std::vector<cob::LimbRecord> limbs = cob::ScanAvatarLimbs(cob, 32, stdout);
  ASSERT_EQ(limbs.size(), 1u);
  EXPECT_EQ(limbs[0].chunk_id, 1);
  EXPECT_EQ(limbs[0].joint_number, 4);
}

TEST(AvatarScan, ObjectNameMustFitItsChunk) {
  cobtest::Bytes field = PolyData(Triangle("gm_head"));
  field.data.resize(4 + 4);  // "gm_h" of a declared 7
  const Bytes cob = CobFile().Chunk("PolH", 1, 0, field).Poly(2, 0, Triangle("gm_neck")).bytes();
  const std::vector<cob::LimbRecord> limbs = cob::ScanAvatarLimbs(cob, 32, stdout);
  ASSERT_EQ(limbs.size(), 1u);
  EXPECT_EQ(limbs[0].prefixed_name, "gm_neck");
}

TEST(ChannelData, NamesAreLowerCasedAndCut) {
  const std::string long_name = "Scale" + std::string(300, 'Q');
  const std::optional<cob::Channel> channel = cob::ParseChannel(ChanData(long_name, {}, 7).data);
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->name, "scale" + std::string(cob::kMaxChannelName - 5, 'q'));
  EXPECT_EQ(channel->declared_count, 7);
  EXPECT_TRUE(channel->keys.empty());

  // In the whole mode: the skipping line shows the cut name.
  const Bytes cob = CobFile()
                        .Group(1, 0, "gm_nose")
                        .Chunk("Chan", 2, 1, ChanData(long_name, {}, 7))
                        .End()
                        .bytes();
  const SeqResult result = RunAnimation(cob, "h.cob");
  EXPECT_EQ(result.console, "**  Skipping 'scale" + std::string(cob::kMaxChannelName - 5, 'q') +
                                "' frame (7 keyframes)\n");
}

TEST(ChannelData, FrameNumbersTruncateTowardZero) {
  struct Case {
    float stored;
    std::int32_t frame;
  };
  const Case cases[] = {
      {15.9f, 15},
      {-1.5f, -1},
      {0.0f, 0},
      {std::numeric_limits<float>::quiet_NaN(), 0},
      {1e10f, std::numeric_limits<std::int32_t>::max()},
      {-1e10f, std::numeric_limits<std::int32_t>::min()},
      {std::numeric_limits<float>::infinity(), std::numeric_limits<std::int32_t>::max()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const std::optional<cob::Channel> channel =
        cob::ParseChannel(ChanData("rotate", {{c.stored, 1, 2, 3, 4}}).data);
    ASSERT_TRUE(channel);
    ASSERT_EQ(channel->keys.size(), 1u);
    EXPECT_EQ(channel->keys[0].frame, c.frame);
    EXPECT_EQ(channel->keys[0].values[0], 1.0f);
    EXPECT_EQ(channel->keys[0].values[3], 4.0f);
  }
}

TEST(ChannelData, EveryCutOfTheHeadFails) {
  const Bytes head = ChanData("move", {}, 0).data;
  for (std::size_t n = 0; n < head.size(); ++n) {
    const Bytes prefix(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(cob::ParseChannel(prefix)) << "prefix length " << n;
  }
  EXPECT_TRUE(cob::ParseChannel(head));
}

TEST(SeqStrings, LengthCountsTheTerminator) {
  TempFolder folder;
  const std::string path = folder.File("s.bin");
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  cob::SeqOutput out{file};
  cob::WriteSeqString(out, "");
  cob::WriteSeqString(out, "ab");
  cob::WriteSeqString(out, std::string(70000, 'z'));  // cut to what 16 bits can count
  std::fclose(file);
  EXPECT_FALSE(out.failed);
  std::ifstream in(path, std::ios::binary);
  const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 3u + 5u + 2u + 65534u + 1u);
  EXPECT_EQ(Hex(Bytes(bytes.begin(), bytes.begin() + 8)), "00010000 03616200 ");
  EXPECT_EQ(bytes[8], 0xFF);
  EXPECT_EQ(bytes[9], 0xFF);
  EXPECT_EQ(bytes.back(), 0);
}

}  // namespace
