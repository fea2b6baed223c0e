#include "boxtally/driver/model_results.h"

#include <charconv>

namespace driver {

namespace {
// The shortest decimal that reads back as `value`, as a double (0.7f gives 0.7, not
// 0.699999988079071).
double ShortestDecimal(float value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  double decimal = value;
  if (written.ec == std::errc{}) std::from_chars(text, written.ptr, decimal);
  return decimal;
}
}  // namespace

float BoxSize(const ModelOutcome& m, std::size_t axis) {
  return static_cast<float>(ShortestDecimal(m.box[axis + 3]) - ShortestDecimal(m.box[axis]));
}

std::array<float, 3> BoxSizes(const ModelOutcome& m) {
  return {BoxSize(m, 0), BoxSize(m, 1), BoxSize(m, 2)};
}

std::size_t FateCounts::Total() const {
  std::size_t total = 0;
  for (const std::size_t n : of) total += n;
  return total;
}

FateCounts CountFates(const std::vector<ModelOutcome>& results) {
  FateCounts counts;
  for (const ModelOutcome& m : results) {
    const auto index = static_cast<std::size_t>(m.fate);
    if (index < kFateCount) ++counts.of[index];
  }
  return counts;
}

std::size_t CountMissingTextures(const std::vector<ModelOutcome>& results) {
  std::size_t n = 0;
  for (const ModelOutcome& m : results) {
    if (m.fate == Fate::kMeasured && !m.missing_textures.empty()) ++n;
  }
  return n;
}

const char* FateWord(Fate fate) {
  switch (fate) {
    case Fate::kMeasured:
      return "measured";
    case Fate::kFailed:
      return "failed";
    case Fate::kSkippedHuge:
      return "skipped_huge";
    case Fate::kEmpty:
      return "empty";
    case Fate::kNoModel:
      return "no_model";
    case Fate::kNotModelFile:
      return "not_model_file";
    case Fate::kMissingOnServer:
      return "missing";
    case Fate::kNotDownloaded:
      return "not_downloaded";
    case Fate::kRefused:
      return "refused";
    case Fate::kNotReached:
      return "not_reached";
  }
  return "";
}

namespace {
// How a reason's facts join its words: "archive damaged: invalid compressed data--crc error",
// "conversion failed (exit status 6)", "HTTP status 404"; kNone where the words say it all. A
// failed conversion's facts may end with the converter's message: "conversion failed (exit
// status 6): ASCII format COB files are not supported - resave as binary".
enum class Join { kColon, kParenthesis, kBlank, kNone };

struct ReasonWords {
  const char* words;
  Join join;
};

ReasonWords WordsOf(Reason reason) {
  switch (reason) {
    case Reason::kNone:
      return {"", Join::kColon};
    case Reason::kCannotOpen:
      return {"cannot open the file", Join::kColon};
    case Reason::kNotRegularFile:
      return {"not a regular file", Join::kColon};
    case Reason::kArchiveNoEntryName:
      return {"not a zip archive", Join::kColon};
    case Reason::kArchiveEncrypted:
      return {"archive encrypted, no password given", Join::kColon};
    case Reason::kArchiveWrongPassword:
      return {"wrong password", Join::kColon};
    case Reason::kArchiveTruncated:
      return {"archive truncated", Join::kColon};
    case Reason::kArchiveNotZip:
      return {"not a zip or gzip file", Join::kColon};
    case Reason::kArchiveTooLarge:
      return {"archive entry too large", Join::kColon};
    case Reason::kArchiveDamaged:
      return {"archive damaged", Join::kColon};
    case Reason::kWorkFolderFull:
      return {"work folder full", Join::kColon};
    case Reason::kConverterNotStarted:
      return {"converter not started", Join::kColon};
    case Reason::kConverterFailed:
      return {"conversion failed", Join::kParenthesis};
    case Reason::kConverterTimedOut:
      return {"conversion took too long", Join::kParenthesis};
    case Reason::kConverterNoOutput:
      return {"converter wrote no RWX file", Join::kNone};
    case Reason::kCobTooLarge:
      return {"COB model too large", Join::kParenthesis};
    case Reason::kCobCopyFailed:
      return {"COB model not copied to the work folder", Join::kNone};
    case Reason::kScriptError:
      return {"script error", Join::kColon};
    case Reason::kMeasurementLimit:
      return {"measurement limit passed", Join::kColon};
    case Reason::kRegistryNotWritten:
      return {"registry lines not written", Join::kColon};
    case Reason::kHttpStatus:
      return {"HTTP status", Join::kBlank};
    case Reason::kHostNotFound:
      return {"host not found", Join::kColon};
    case Reason::kConnectionFailed:
      return {"server unreachable", Join::kParenthesis};
    case Reason::kTimedOut:
      return {"timed out", Join::kColon};
    case Reason::kCertificateRefused:
      return {"certificate refused", Join::kColon};
    case Reason::kSecureConnectionFailed:
      return {"secure connection failed", Join::kColon};
    case Reason::kRedirectionRefused:
      return {"redirection refused", Join::kColon};
    case Reason::kReplyRefused:
      return {"reply refused", Join::kColon};
    case Reason::kIncompleteDownload:
      return {"incomplete download", Join::kColon};
    case Reason::kDownloadTooLarge:
      return {"download too large", Join::kColon};
    case Reason::kProxyRefused:
      return {"refused by the proxy", Join::kColon};
    case Reason::kDownloadNotSaved:
      return {"download not saved", Join::kColon};
    case Reason::kNameNotPlain:
      return {"name holds a path or a wildcard", Join::kColon};
    case Reason::kNameTooLong:
      return {"name too long", Join::kColon};
    case Reason::kNameIsRunFile:
      return {"name of one of the run's own files", Join::kColon};
    case Reason::kRunStopped:
      return {"run stopped", Join::kColon};
    case Reason::kRunEndedEarly:
      return {"run ended early", Join::kColon};
  }
  return {"", Join::kColon};
}
}  // namespace

std::string ReasonText(Reason reason, const std::string& facts) {
  const ReasonWords words = WordsOf(reason);
  std::string text = words.words;
  if (text.empty() || facts.empty()) return text;
  switch (words.join) {
    case Join::kColon:
      return text + ": " + facts;
    case Join::kParenthesis:
      if (const std::size_t said = facts.find(": ");
          reason == Reason::kConverterFailed && said != std::string::npos) {
        // "exit status 6: the converter's message" after its status.
        return text + " (" + facts.substr(0, said) + ")" + facts.substr(said);
      }
      return text + " (" + facts + ")";
    case Join::kBlank:
      return text + " " + facts;
    case Join::kNone:
      return text;
  }
  return text;
}

Reason SharedReason(const std::vector<ModelOutcome>& results, Fate fate) {
  Reason shared = Reason::kNone;
  bool seen = false;
  for (const ModelOutcome& m : results) {
    if (m.fate != fate) continue;
    if (seen && m.reason != shared) return Reason::kNone;
    shared = m.reason;
    seen = true;
  }
  return shared;
}

}  // namespace driver
