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

// Reads the next non-empty line and gives it without its line end: "\r\n", "\n" and "\r" all end
// a line, and empty lines are skipped. A line longer than kMaxLineLength is cut there, the rest
// being the next line. The view points into the stream's buffer and holds until the next read;
// the caller then asks the stream whether it reached its end during this read.
std::string_view ReadScriptLine(platform::InStream& in);

// `text` from its first character that is neither a blank nor a tab.
std::string_view SkipBlanks(std::string_view text);

// A line as ReadScriptLine gives it, stored as the byte-by-byte reading keeps it: its bytes, then
// a line feed unless it was cut at kMaxLineLength.
void StoreLine(std::string_view text, ScriptLine& line);

// In place: lower case (ASCII letters only), tabs to blanks, leading blanks removed, runs of
// blanks folded to one.
void NormaliseLine(ScriptLine& line);

// The command code of a line: kCmdNone for a comment ("#...") or a line shorter than 3
// characters, kCmdUnknown when no keyword matches. The line is normalised, or taken as read from
// its first character that is no blank: letters match a keyword in either case, and the blank
// after "texture" may be a tab, so both give the same code.
CommandCode ClassifyLine(std::string_view line);

// Arguments are separated by runs of blanks and tabs, which is what a normalised line's single
// blanks are made from, so a line reads the same arguments before and after NormaliseLine.
// The index just past the first run of blanks (and tabs) in `text`, or text.size() when it holds
// none.
std::size_t NextArgument(std::string_view text);

// Argument k (1-based) of a line: the text from where NextArgument applied k times lands.
std::string_view Argument(std::string_view line, int k);

// The longest prefix of `text` that is a decimal number (optional sign, digits, optional point
// and digits, an exponent only when digits follow it) as a float. False, with `value` unchanged,
// when there is none. A number beyond the float range gives an infinity, a tiny one zero.
bool ParseReal(std::string_view text, float& value);
// As ParseReal, giving the length of the number read (0 when there is none).
std::size_t ReadRealPrefix(std::string_view text, float& value);

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
