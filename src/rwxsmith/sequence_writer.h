// Animation output: the keyframe channels of an avatar scene as a big-endian ".seq" file.
//
// The writer does not build the object tree: it walks the chunk headers itself, ties every
// "gm_" object that names an avatar joint to a limb record, gives each limb the Chan chunk that
// names it as parent, and writes one rotation track per "rotate" channel and the pelvis "move"
// channel as three axis tracks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cob {

inline constexpr std::size_t kMaxScanObjectName = 83;  // characters of a Grou/PolH name kept
inline constexpr std::size_t kMaxChannelName = 99;     // characters of a Chan name kept
// Characters of a .seq string: its 16-bit length field holds the text length + 1.
inline constexpr std::size_t kMaxSeqText = 65534;
// Bytes per keyframe in a Chan chunk.
inline constexpr std::size_t kRotateKeyframeSize = 36;
inline constexpr std::size_t kMoveKeyframeSize = 32;

inline constexpr std::uint8_t kSeqMagic[4] = {0x7F, 0x7F, 0x7F, 0x79};
inline constexpr std::int32_t kSeqTrackType = 16;  // rotation track
inline constexpr std::int32_t kSeqAxisType = 4;    // one axis of the move section
// After the rotation tracks: 4 when a move section follows, else 0.
inline constexpr std::int32_t kSeqMoveMarker = 4;
inline constexpr std::int16_t kMaxSeqFrameCount = 32767;  // the header's 16-bit frame count

// ---- Big-endian output -------------------------------------------------------------------------

// A FILE* written big-endian. The first failed write is remembered in `failed`; later writes
// still go through, so the caller checks once at the end.
struct SeqOutput {
  std::FILE* file = nullptr;  // not owned
  bool failed = false;
};

void WriteBe16(SeqOutput& out, std::uint16_t value);
void WriteBe32(SeqOutput& out, std::uint32_t value);
void WriteBeFloat(SeqOutput& out, float value);  // IEEE single, bit for bit (keeps -0)
// A 16-bit length equal to the text length + 1, the text, one zero byte. Text beyond
// kMaxSeqText characters is cut so that the length field stays true.
void WriteSeqString(SeqOutput& out, std::string_view text);

// The header: magic, frame count, limb count, the input path, "pelvis". Its length depends on
// the path only, so the final header overwrites the first exactly.
void WriteSeqHeader(SeqOutput& out, std::int16_t frame_count, std::int32_t limb_count,
                    std::string_view input_path);
// Writes the header again at the start of the file, then returns to its end.
void RewriteSeqHeader(SeqOutput& out, std::int16_t frame_count, std::int32_t limb_count,
                      std::string_view input_path);

// ---- Chunk scan --------------------------------------------------------------------------------

struct LimbRecord {
  std::string prefixed_name;                         // "gm_" + joint name
  int joint_number = 0;                              // 1..42
  std::int32_t chunk_id = 0;                         // of the Grou/PolH chunk that named the joint
  std::optional<std::vector<std::uint8_t>> channel;  // copy of the attached Chan chunk's data
};

// The joint named by an object name: the first "_"-separated piece after an exact "gm_" prefix
// that equals a joint name (with regard to case), or 0.
int ScanJointNumber(std::string_view object_name);

// Walks every chunk from `first_chunk` and returns the limb records in file order (two for the
// pelvis), each with the first Chan chunk that names it as parent. A Chan chunk with no free
// limb prints "  Duplicate Chan chunk or no corresponding parent\n" to `console`.
std::vector<LimbRecord> ScanAvatarLimbs(const std::vector<std::uint8_t>& buffer,
                                        std::size_t first_chunk, std::FILE* console);

// ---- Channels ----------------------------------------------------------------------------------

struct Keyframe {
  std::int32_t frame = 0;  // the stored float truncated toward zero (clamped to 32 bits)
  float values[4] = {};    // the floats at keyframe bytes 20, 24, 28, 32 (move: the first three)
};

struct Channel {
  std::string name;            // lower-cased, cut at kMaxChannelName
  int declared_count = 0;      // keyframe count as the chunk states it
  std::vector<Keyframe> keys;  // "rotate"/"move": the keyframes present; other names: none read
};

// Reads a Chan chunk's data. Keyframes past the end of the data are not read (`keys` is then
// shorter than `declared_count`). Empty when the name or the count itself does not fit.
std::optional<Channel> ParseChannel(const std::vector<std::uint8_t>& data);

// ---- The mode ----------------------------------------------------------------------------------

// Writes the sequence file for the COB file held whole in `buffer` (read from `input_path`,
// which the file's header repeats as given) into `seq_file`, a file just created in binary mode
// and open for update ("w+b"), which the caller closes. Progress and problems go to `console`.
// A rejected file header prints its message and leaves `seq_file` empty.
void WriteAnimationSequence(const std::vector<std::uint8_t>& buffer, const std::string& input_path,
                            std::FILE* seq_file, std::FILE* console);

}  // namespace cob
