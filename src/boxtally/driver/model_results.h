// What became of every model a run meets: one record each, in the order of the registry (for
// files, every file the pattern matches; in web mode, every list entry, also those never
// fetched). The run's summaries, the results window and the report all read these records, so
// they can never disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace driver {

// Every model has exactly one fate.
enum class Fate : std::uint8_t {
  kMeasured,         // its registry lines were written
  kFailed,           // its file, archive, conversion or script failed (see the reason)
  kSkippedHuge,      // huge, left out with SkipHugeObjects on: no registry line, but a box
  kEmpty,            // a model without a single vertex: no registry line
  kNoModel,          // an archive whose first entry holds no model (a text file, say)
  kNotModelFile,     // a plain file (not an archive) that holds no model
  kMissingOnServer,  // web: the server answered 404 or 410
  kNotDownloaded,    // web: the request failed (connection, certificate, time-out, bound, ...)
  kRefused,          // web: refused before any request (its name)
  kNotReached,       // the run was stopped or ended early before this model
};
inline constexpr std::size_t kFateCount = 10;

// Why a model has its fate; kNone for measured models. `ModelOutcome::facts` holds the
// particulars the reason names (a code, a status, a message), in English as the log has them.
enum class Reason : std::uint8_t {
  kNone,
  // The file itself.
  kCannotOpen,      // facts: the system's error text
  kNotRegularFile,  // a FIFO, a device, a folder or a dangling link matched the pattern
  // The archive (facts: the extraction's message, such as "invalid compressed data--crc error").
  kArchiveNoEntryName,    // the first entry's name cannot be read: not a zip archive, say
  kArchiveEncrypted,      // encrypted, and no password given
  kArchiveWrongPassword,  // "incorrect password for first entry"
  kArchiveTruncated,      // the archive ends inside its first entry
  kArchiveNotZip,         // "input not a zip or gzip file"
  kArchiveTooLarge,       // the entry passes the size bound
  kArchiveDamaged,        // a CRC error, damaged data, another method, ...
  kWorkFolderFull,        // the entry could not be written into the work folder
  // The conversion of a COB model (facts: the exit status, the seconds, the errno).
  kConverterNotStarted,  // not found, not executable, ...
  kConverterFailed,      // a non-zero exit status ("exit status 6"), then ": " and the
                         // converter's last message line when it wrote one
  kConverterTimedOut,
  kConverterNoOutput,  // ended with 0 but left no RWX file
  kCobTooLarge,        // the plain COB model passes the size bound
  kCobCopyFailed,      // the plain COB model could not be copied into the work folder
  // The script and its measurement.
  kScriptError,         // an "Application error" line (facts: the line)
  kMeasurementLimit,    // a stack, prototype or point limit (facts: the log line)
  kRegistryNotWritten,  // its registry lines could not be written
  // Web (facts: the status number, the socket error text, the certificate's fault, ...).
  kHttpStatus,              // an answer other than 200 ("404", "410", "500", ...)
  kHostNotFound,            // the host name cannot be found
  kConnectionFailed,        // refused, reset, unreachable (facts: "10061:Connection refused")
  kTimedOut,                // a step or the body waited too long
  kCertificateRefused,      // facts: "hostname mismatch", "certificate has expired", ...
  kSecureConnectionFailed,  // the TLS handshake failed for another reason
  kRedirectionRefused,      // too many, too long, to another scheme, down to http
  kReplyRefused,            // a reply it would not take (a coding, a length, no status line)
  kIncompleteDownload,      // the body ended before its length
  kDownloadTooLarge,        // the body passed the download bound
  kProxyRefused,            // the proxy answered 407, 403, 502, ... (facts: proxy and status)
  kDownloadNotSaved,        // no download file, or it could not take the model's name
  kNameNotPlain,            // the name holds '/', '\', '*' or '?', or is "." or ".."
  kNameTooLong,             // its file name, URL or local path passes its bound
  kNameIsRunFile,           // its local path is the run's list file, log or registry
  // Not reached.
  kRunStopped,     // the stop button, Ctrl-C or a termination signal
  kRunEndedEarly,  // the run ended early (a measurement limit, a registry that cannot be written)
};

// The flags a registry line can show.
enum ModelFlag : std::uint8_t {
  kFlagNotCentred = 1,
  kFlagOversized = 2,
  kFlagFacer = 4,
};

// One model. A few hundred bytes: 100,000 models fit in tens of megabytes. The log text itself
// is not copied: `log_offset` and `log_length` find the model's own lines in the log file.
struct ModelOutcome {
  std::string name;    // the registry name (tree.rwx, tree.cob); in web mode the list entry
  std::string source;  // where it came from: the file or archive path, or the URL
  // The file that was measured, as the run found it (in web mode the download beside the list);
  // empty when no file was reached.
  std::string path;
  Fate fate = Fate::kNotReached;
  Reason reason = Reason::kNone;
  std::string facts;  // the reason's particulars, one line
  // Measured models: the box in model units (left, bottom, back, right, top, front), as the
  // registry line took it, and the counts and flags of the model (the last model of the file
  // when it holds several). Models skipped as huge have them too, the box as measured.
  std::array<float, 6> box{};
  std::int32_t vertices = 0;
  std::int32_t polygons = 0;
  std::int32_t textures = 0;
  std::uint8_t flags = 0;  // ModelFlag bits
  // The textures and masks the model names that the object path's textures folder lacks, in the
  // order the script names them; empty when none are missing or no textures folder is known.
  std::vector<std::string> missing_textures;
  // The model's lines in the log file (bytes, line ends as the file has them); length 0 when it
  // wrote none or the log is no file.
  std::uint64_t log_offset = 0;
  std::uint32_t log_length = 0;
};

// Whether the model was measured, and so has a box, counts and flags: its registry lines were
// written, or it was left out as huge.
inline bool HasMeasures(const ModelOutcome& m) {
  return m.fate == Fate::kMeasured || m.fate == Fate::kSkippedHuge;
}

// The sizes of a measured model's box (right - left, top - bottom, front - back), each the
// difference of its two sides as the results show them (their shortest decimals), rounded once to
// single precision. The float subtraction of the sides is not that: it rounds the difference of
// the two binary values, which is not the difference of the decimals the user reads (0.7 and
// -0.025 give 0.72499996 where 0.725 is the size).
std::array<float, 3> BoxSizes(const ModelOutcome& m);
float BoxSize(const ModelOutcome& m, std::size_t axis);  // one of them: 0 x, 1 y, 2 z

// How many models had each fate, indexed by Fate.
struct FateCounts {
  std::array<std::size_t, kFateCount> of{};
  std::size_t operator[](Fate f) const { return of[static_cast<std::size_t>(f)]; }
  std::size_t Total() const;
};
FateCounts CountFates(const std::vector<ModelOutcome>& results);

// How many models lack a texture or a mask (measured models whose missing_textures is not empty).
std::size_t CountMissingTextures(const std::vector<ModelOutcome>& results);

// The stable English words of the report's "fate" column: measured, failed, skipped_huge, empty,
// no_model, not_model_file, missing, not_downloaded, refused, not_reached.
const char* FateWord(Fate fate);

// The reason in plain English for the report and the terminal, with its facts:
// "archive encrypted, no password given", "HTTP status 404", "certificate refused: hostname
// mismatch". Empty for kNone; the words alone when `facts` is empty.
std::string ReasonText(Reason reason, const std::string& facts);

// The reason every model of `fate` shares, for a summary that names it ("23 not downloaded
// (server unreachable)"); kNone when they differ or there is none.
Reason SharedReason(const std::vector<ModelOutcome>& results, Fate fate);

}  // namespace driver
