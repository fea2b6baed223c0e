// Reading an RWX script: cutting it into lines, normalising a line, recognising its command, and
// finding and parsing the arguments that follow the command word.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace rwx {

// Characters of one script line, line feed included.
inline constexpr std::size_t kMaxLineLength = 1255;

// Command codes of the command table. The numbers are part of the command table itself.
enum CommandCode : int {
  kCmdUnknown = -1,  // no keyword matched: ignored
  kCmdNone = 0,      // recognised (or a comment, or too short) but without action
  kCmdModelBegin = 1,
  kCmdModelEnd = 2,
  kCmdClumpBegin = 3,
  kCmdClumpEnd = 4,
  kCmdProtoBegin = 5,
  kCmdProtoEnd = 6,
  kCmdProtoInstance = 7,
  kCmdTransformBegin = 8,
  kCmdTransformEnd = 9,
  kCmdIdentity = 10,
  kCmdTranslate = 11,
  kCmdRotate = 12,
  kCmdScale = 13,
  kCmdTransformJoint = 14,
  kCmdTransform = 15,
  kCmdBlock = 16,
  kCmdSphere = 17,
  kCmdHemisphere = 18,
  kCmdCylinder = 19,
  kCmdCone = 20,
  kCmdDisc = 21,
  kCmdVertex = 22,
  kCmdPolygon = 23,
  kCmdTexture = 24,
  kCmdColor = 25,
  kCmdAxisAlignment = 26,
};

struct CommandEntry {
  std::string_view keyword;  // a prefix of the normalised line
  CommandCode code;
};

// Searched from the top; the first keyword that is a prefix of the line wins, so a word that is a
// prefix of another ("identity" of "identityjoint") stands after it.
inline constexpr CommandEntry kCommandTable[] = {
    {"modelbegin", kCmdModelBegin},
    {"modelend", kCmdModelEnd},
    {"clumpbegin", kCmdClumpBegin},
    {"clumpend", kCmdClumpEnd},
    {"protobegin", kCmdProtoBegin},
    {"protoend", kCmdProtoEnd},
    {"protoinstance", kCmdProtoInstance},
    {"transformbegin", kCmdTransformBegin},
    {"identityjoint", kCmdNone},
    {"identity", kCmdIdentity},
    {"transformend", kCmdTransformEnd},
    {"translate", kCmdTranslate},
    {"rotate", kCmdRotate},
    {"scale", kCmdScale},
    {"transformjoint", kCmdTransformJoint},
    {"transform", kCmdTransform},
    {"hints", kCmdNone},
    {"surface", kCmdNone},
    {"color", kCmdColor},
    {"texture ", kCmdTexture},  // the blank keeps "texturemodes" out
    {"opacity", kCmdNone},
    {"lightsampling", kCmdNone},
    {"texturemodes", kCmdNone},
    {"sphere", kCmdSphere},
    {"block", kCmdBlock},
    {"hemisphere", kCmdHemisphere},
    {"cylinder", kCmdCylinder},
    {"cone", kCmdCone},
    {"disc", kCmdDisc},
    {"vertex", kCmdVertex},
    {"quad", kCmdPolygon},
    {"triangle", kCmdPolygon},
    {"polygon", kCmdPolygon},
    {"axisalignment", kCmdAxisAlignment},
    {"tag", kCmdNone},
    {"addmaterialmode", kCmdNone},
    {"removematerialmode", kCmdNone},
    {"geometrysampling", kCmdNone},
};

// One script line in a fixed buffer, reused from line to line.
struct ScriptLine {
  std::array<char, kMaxLineLength + 1> bytes{};
  std::size_t length = 0;
  std::string_view View() const { return {bytes.data(), length}; }
};

// Reads the next non-empty line into `line` (at most kMaxLineLength bytes, ending with its line
// feed unless the limit or the end of the stream came first). A carriage return is stored as a
// line feed, so "\r\n", "\n" and "\r" all end a line and the empty line between "\r" and "\n" is
// skipped. The caller then asks the stream whether it reached its end during this read.
void ReadScriptLine(platform::InStream& in, ScriptLine& line);

// In place: lower case (ASCII letters only), tabs to blanks, leading blanks removed, runs of
// blanks folded to one.
void NormaliseLine(ScriptLine& line);

// The command code of a normalised line: kCmdNone for a comment ("#...") or a line shorter than
// 3 characters, kCmdUnknown when no keyword matches.
CommandCode ClassifyLine(std::string_view line);

// The index just past the first blank of `text`, or text.size() when it holds none.
std::size_t NextArgument(std::string_view text);

// Argument k (1-based) of a line: the text from where NextArgument applied k times lands.
std::string_view Argument(std::string_view line, int k);

// The longest prefix of `text` that is a decimal number (optional sign, digits, optional point
// and digits, an exponent only when digits follow it) as a float. False, with `value` unchanged,
// when there is none. A number beyond the float range gives an infinity, a tiny one zero.
bool ParseReal(std::string_view text, float& value);

// As ParseReal for an integer (optional sign and digits); "8.0" gives 8. Saturates at the int
// range.
bool ParseInteger(std::string_view text, int& value);

// Arguments 1..count of `line` into values[0..count-1]; a missing one leaves its value unchanged.
void ReadRealArguments(std::string_view line, float* values, int count);

// The reals of a run of numbers from argument 1 on, read one after another as one scanf "%f%f%f"
// would: blanks between them are skipped, and the first place without a number ends the run.
void ReadRealSequence(std::string_view line, float* values, int count);

// A name argument: the characters from the start of `text` up to, not including, the first whose
// code read as a signed byte is 32 or less (blank, line feed, control character, byte 128..255).
std::string_view NameArgument(std::string_view text);

}  // namespace rwx
