#include "rwxsmith/sequence_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "rwxsmith/byte_cursor.h"
#include "rwxsmith/cob_format.h"
#include "rwxsmith/dumps.h"
#include "rwxsmith/joint_table.h"

namespace cob {

namespace {

constexpr std::string_view kAvatarPrefix = "gm_";
constexpr std::string_view kRootJointName = "pelvis";
constexpr int kPelvisJoint = 1;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Text stored with a length: it ends at a zero byte if it holds one, as the C strings it was
// written from did, and keeps at most `limit` characters.
std::string CutText(const std::uint8_t* bytes, std::size_t length, std::size_t limit) {
  if (length == 0) return {};
  const void* zero = std::memchr(bytes, '\0', length);
  if (zero) length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes);
  return std::string(reinterpret_cast<const char*>(bytes), std::min(length, limit));
}

// Truncation toward zero; values an int32 cannot hold (and NaN) must not reach the conversion.
std::int32_t FrameNumber(float stored) {
  if (std::isnan(stored)) return 0;
  if (stored >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (stored <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(stored);
}

std::uint32_t FloatBits(float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void WriteBytes(SeqOutput& out, const void* bytes, std::size_t count) {
  if (count == 0) return;
  if (std::fwrite(bytes, 1, count, out.file) != count) out.failed = true;
}

void WriteBe32Signed(SeqOutput& out, std::int32_t value) {
  WriteBe32(out, static_cast<std::uint32_t>(value));
}

// One rotation keyframe: the stored order p20, p24, p28, p32 leaves as p20, p24, p32, p28.
void WriteRotationKey(SeqOutput& out, const Keyframe& key) {
  WriteBe32Signed(out, key.frame);
  WriteBeFloat(out, key.values[0]);
  WriteBeFloat(out, key.values[1]);
  WriteBeFloat(out, key.values[3]);
  WriteBeFloat(out, key.values[2]);
}

Channel DummyRotation() {
  Channel channel;
  channel.name = "rotate";
  channel.declared_count = 1;
  Keyframe key;
  key.values[0] = 1.0f;
  channel.keys.push_back(key);
  return channel;
}

Channel DummyMove() {
  Channel channel;
  channel.name = "move";
  channel.declared_count = 1;
  channel.keys.push_back(Keyframe{});
  return channel;
}

// The state of one sequence file while its tracks are written.
struct SeqRun {
  SeqOutput out;
  std::FILE* console = nullptr;
  std::int32_t highest_frame = 0;
  std::int32_t limb_count = 0;
};

void NoteFrames(SeqRun& run, const Channel& channel) {
  for (const Keyframe& key : channel.keys)
    run.highest_frame = std::max(run.highest_frame, key.frame);
}

// A channel cut short by the end of its chunk still gives the keyframes it holds; say so, as
// the track then has fewer keyframes than the file declared.
void ReportShortChannel(SeqRun& run, const Channel& channel, std::string_view joint) {
  if (static_cast<std::size_t>(channel.declared_count) == channel.keys.size()) return;
  std::fprintf(run.console, "**  '%s' channel of '%.*s' holds %zu of its %d keyframes\n",
               channel.name.c_str(), static_cast<int>(joint.size()), joint.data(),
               channel.keys.size(), channel.declared_count);
}

void WriteRotationTrack(SeqRun& run, const Channel& channel, std::string_view joint) {
  ReportShortChannel(run, channel, joint);
  std::fprintf(run.console, "  Processing ROTATE (%zu keyframes) for '%.*s'\n", channel.keys.size(),
               static_cast<int>(joint.size()), joint.data());
  WriteSeqString(run.out, joint);
  WriteBe32Signed(run.out, kSeqTrackType);
  WriteBe32(run.out, static_cast<std::uint32_t>(channel.keys.size()));
  for (const Keyframe& key : channel.keys) WriteRotationKey(run.out, key);
  NoteFrames(run, channel);
  ++run.limb_count;
}

// The move section: X, Y and Z axis tracks (Z turned to the other hand), then one unnamed
// rotation track that holds the identity.
void WriteMoveSection(SeqRun& run, const Channel& move, std::string_view joint) {
  ReportShortChannel(run, move, joint);
  std::fprintf(run.console, "  Processing MOVE (%zu keyframes) for '%.*s'\n", move.keys.size(),
               static_cast<int>(joint.size()), joint.data());
  for (int axis = 0; axis < 3; ++axis) {
    WriteBe32Signed(run.out, kSeqAxisType);
    WriteBe32(run.out, static_cast<std::uint32_t>(move.keys.size()));
    for (const Keyframe& key : move.keys) {
      WriteBe32Signed(run.out, key.frame);
      WriteBeFloat(run.out, axis == 2 ? -key.values[2] : key.values[axis]);
    }
  }
  NoteFrames(run, move);

  Channel identity = DummyRotation();
  identity.keys[0].values[3] = -identity.keys[0].values[3];
  std::fprintf(run.console, "  Processing ROTATE (%zu keyframes) for '%s'\n", identity.keys.size(),
               "dummy");
  WriteBe32Signed(run.out, kSeqTrackType);
  WriteBe32(run.out, static_cast<std::uint32_t>(identity.keys.size()));
  for (const Keyframe& key : identity.keys) WriteRotationKey(run.out, key);
}

std::string_view JointOf(const LimbRecord& limb) {
  return std::string_view(limb.prefixed_name).substr(kAvatarPrefix.size());
}

}  // namespace

void WriteBe16(SeqOutput& out, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value)};
  WriteBytes(out, bytes, sizeof bytes);
}

void WriteBe32(SeqOutput& out, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
      static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  WriteBytes(out, bytes, sizeof bytes);
}

void WriteBeFloat(SeqOutput& out, float value) { WriteBe32(out, FloatBits(value)); }

void WriteSeqString(SeqOutput& out, std::string_view text) {
  text = text.substr(0, kMaxSeqText);
  WriteBe16(out, static_cast<std::uint16_t>(text.size() + 1));
  WriteBytes(out, text.data(), text.size());
  const std::uint8_t zero = 0;
  WriteBytes(out, &zero, 1);
}

void WriteSeqHeader(SeqOutput& out, std::int16_t frame_count, std::int32_t limb_count,
                    std::string_view input_path) {
  WriteBytes(out, kSeqMagic, sizeof kSeqMagic);
  WriteBe16(out, static_cast<std::uint16_t>(frame_count));
  WriteBe32(out, static_cast<std::uint32_t>(limb_count));
  WriteSeqString(out, input_path);
  WriteSeqString(out, kRootJointName);
}

void RewriteSeqHeader(SeqOutput& out, std::int16_t frame_count, std::int32_t limb_count,
                      std::string_view input_path) {
  if (std::fflush(out.file) != 0 || std::fseek(out.file, 0, SEEK_SET) != 0) {
    out.failed = true;
    return;
  }
  WriteSeqHeader(out, frame_count, limb_count, input_path);
  if (std::fflush(out.file) != 0 || std::fseek(out.file, 0, SEEK_END) != 0) out.failed = true;
}

int ScanJointNumber(std::string_view object_name) {
  if (object_name.substr(0, kAvatarPrefix.size()) != kAvatarPrefix) return 0;
  std::string_view rest = object_name.substr(kAvatarPrefix.size());
  while (true) {
    const std::size_t cut = rest.find('_');
    const int joint = JointNumber(rest.substr(0, cut), JointCase::kExact);
    if (joint != 0 || cut == std::string_view::npos) return joint;
    rest.remove_prefix(cut + 1);
  }
}

std::vector<LimbRecord> ScanAvatarLimbs(const std::vector<std::uint8_t>& buffer,
                                        std::size_t first_chunk, std::FILE* console) {
  std::vector<LimbRecord> limbs;
  // Per chunk identifier: its limbs in list order, and how many of the first ones already hold
  // a channel (channels are only ever added, in that order). A crafted file can hold hundreds
  // of thousands of limbs and Chan chunks, too many to search the list for each Chan.
  struct IdLimbs {
    std::vector<std::size_t> limbs;
    std::size_t taken = 0;
  };
  std::unordered_map<std::int32_t, IdLimbs> by_id;
  ChunkHeader chunk;
  for (std::size_t offset = first_chunk;
       ReadChunkHeader(buffer.data(), buffer.size(), offset, chunk); offset = chunk.next_offset) {
    if (ChunkTypeIs(chunk, "Grou") || ChunkTypeIs(chunk, "PolH")) {
      ByteCursor cur = MakeCursor(buffer.data() + chunk.data_start, chunk.data_available);
      std::int16_t duplicate = 0;
      std::int16_t length = 0;
      const std::uint8_t* name = nullptr;
      // An object whose name does not fit in its chunk names no joint.
      if (!ReadI16(cur, duplicate) || !ReadI16(cur, length) || length < 0 ||
          !ReadBytes(cur, static_cast<std::size_t>(length), name)) {
        continue;
      }
      const int joint =
          ScanJointNumber(CutText(name, static_cast<std::size_t>(length), kMaxScanObjectName));
      if (joint == 0) continue;
      // The pelvis carries both the body's rotation and its move, so it gets two records.
      const int records = joint == kPelvisJoint ? 2 : 1;
      IdLimbs& same_id = by_id[chunk.chunk_id];
      for (int i = 0; i < records; ++i) {
        LimbRecord limb;
        limb.prefixed_name = std::string(kAvatarPrefix) + std::string(JointName(joint));
        limb.joint_number = joint;
        limb.chunk_id = chunk.chunk_id;
        same_id.limbs.push_back(limbs.size());
        limbs.push_back(std::move(limb));
      }
    } else if (ChunkTypeIs(chunk, "Chan")) {
      const auto found = by_id.find(chunk.parent_id);
      if (found == by_id.end() || found->second.taken == found->second.limbs.size()) {
        std::fputs("  Duplicate Chan chunk or no corresponding parent\n", console);
        continue;
      }
      LimbRecord& limb = limbs[found->second.limbs[found->second.taken]];
      const std::uint8_t* data = buffer.data() + chunk.data_start;
      try {
        limb.channel.emplace(data, data + chunk.data_available);
        ++found->second.taken;
      } catch (const std::bad_alloc&) {
        limb.channel.reset();  // a limb without a channel; the next Chan may still take it
      }
    }
  }
  return limbs;
}

std::optional<Channel> ParseChannel(const std::vector<std::uint8_t>& data) {
  ByteCursor cur = MakeCursor(data.data(), data.size());
  std::uint16_t skipped = 0;
  std::uint16_t name_length = 0;
  std::uint16_t count = 0;
  const std::uint8_t* name = nullptr;
  if (!ReadU16(cur, skipped) || !Skip(cur, skipped) || !ReadU16(cur, name_length) ||
      !ReadBytes(cur, name_length, name) || !Skip(cur, 2) || !ReadU16(cur, count)) {
    return std::nullopt;
  }
  Channel channel;
  channel.name = CutText(name, name_length, kMaxChannelName);
  for (char& c : channel.name) c = LowerAscii(c);
  channel.declared_count = count;

  std::size_t key_size = 0;
  if (channel.name == "rotate") key_size = kRotateKeyframeSize;
  if (channel.name == "move") key_size = kMoveKeyframeSize;
  if (key_size == 0) return channel;
  const int value_count = key_size == kRotateKeyframeSize ? 4 : 3;
  // Only the keyframes the chunk really holds are read.
  const std::size_t present = std::min<std::size_t>(count, Remaining(cur) / key_size);
  channel.keys.reserve(present);
  for (std::size_t i = 0; i < present; ++i) {
    const std::size_t start = cur.pos;
    Keyframe key;
    float stored_frame = 0.0f;
    (void)ReadF32(cur, stored_frame);
    key.frame = FrameNumber(stored_frame);
    (void)Seek(cur, start + 20);
    for (int v = 0; v < value_count; ++v) (void)ReadF32(cur, key.values[v]);
    (void)Seek(cur, start + key_size);
    channel.keys.push_back(key);
  }
  return channel;
}

void WriteAnimationSequence(const std::vector<std::uint8_t>& buffer, const std::string& input_path,
                            std::FILE* seq_file, std::FILE* console) {
  const std::optional<std::size_t> first = CheckBinaryHeader(buffer.data(), buffer.size(), console);
  if (!first) return;
  const std::vector<LimbRecord> limbs = ScanAvatarLimbs(buffer, *first, console);

  SeqRun run;
  run.out.file = seq_file;
  run.console = console;
  bool has_move = false;
  WriteSeqHeader(run.out, 0, 0, input_path);

  // Channels are read once, here, in list order. A Chan chunk too short for its own name and
  // count counts as no channel, with a note.
  std::vector<std::optional<Channel>> channels(limbs.size());
  for (std::size_t i = 0; i < limbs.size(); ++i) {
    if (!limbs[i].channel) continue;
    channels[i] = ParseChannel(*limbs[i].channel);
    const std::string_view joint = JointOf(limbs[i]);
    if (!channels[i]) {
      std::fprintf(console, "**  Skipping unreadable Chan chunk for '%.*s'\n",
                   static_cast<int>(joint.size()), joint.data());
      continue;
    }
    const Channel& channel = *channels[i];
    if (channel.name == "rotate") {
      WriteRotationTrack(run, channel, joint);
    } else if (channel.name == "move") {
      has_move = true;
    } else {
      std::fprintf(console, "**  Skipping '%s' frame (%d keyframes)\n", channel.name.c_str(),
                   channel.declared_count);
    }
  }
  if (run.limb_count == 0) {
    // A sequence always holds at least one rotation track; this one is the identity.
    const Channel dummy = DummyRotation();
    WriteSeqString(run.out, "dummy");
    WriteBe32Signed(run.out, kSeqTrackType);
    WriteBe32(run.out, static_cast<std::uint32_t>(dummy.keys.size()));
    for (const Keyframe& key : dummy.keys) WriteRotationKey(run.out, key);
    ++run.limb_count;
  }

  WriteBe32Signed(run.out, has_move ? kSeqMoveMarker : 0);
  if (has_move) {
    const Channel* move = nullptr;
    for (std::size_t i = 0; i < limbs.size() && !move; ++i) {
      if (limbs[i].joint_number == kPelvisJoint && channels[i] && channels[i]->name == "move") {
        move = &*channels[i];
      }
    }
    if (move) {
      WriteMoveSection(run, *move, kRootJointName);
    } else {
      WriteMoveSection(run, DummyMove(), "dummy");
    }
  }

  // The header's frame count has 16 bits; a longer animation keeps the largest it can state.
  const auto frame_count =
      static_cast<std::int16_t>(std::min<std::int32_t>(run.highest_frame, kMaxSeqFrameCount));
  if (run.highest_frame != 0) {
    std::fprintf(console, "  Totals: frames=%d, limbs=%d\n", frame_count, run.limb_count);
  }
  RewriteSeqHeader(run.out, frame_count, run.limb_count, input_path);
  if (run.out.failed) std::fputs("Error writing the sequence file\n", console);
}

}  // namespace cob
