// The converter's front door: the command line, the interactive prompts, the output file names
// and the exit codes.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace cob {

// Process results, fixed because callers (boxtally, scripts) read them.
enum ExitCode : int {
  kExitOk = 0,          // one-shot run finished, "Q" typed, or --help / --version
  kExitCannotOpen = 1,  // one-shot: the input file cannot be opened
  // One-shot: the output file cannot be created or written whole, or it is the input file.
  kExitCannotCreate = 2,
  kExitScreenMode = 3,    // one-shot: Headers or Imagelist asked for
  kExitUnknownMode = 4,   // one-shot: unknown output mode
  kExitNoMemory = 5,      // the input buffer cannot be allocated
  kExitBadHeader = 6,     // one-shot: not a binary COB file; no output file was written
  kExitDamagedScene = 7,  // one-shot: a chunk could not be read whole; the RWX holds the rest
};

// The latest SOURCE_DATE_EPOCH taken: 9999-12-31 23:59:59 UTC, the last second with the
// four-digit year the timestamp line has room for.
inline constexpr long long kMaxSourceDateEpoch = 253402300799;

// The input path with everything from the last "." of its file name on replaced by `extension`
// (".rwx", ".seq"); a file name without a "." gets `extension` appended. A "." in a directory
// name does not count, so the output never lands outside the input's folder.
std::string OutputPath(std::string_view input, std::string_view extension);

// The moment a conversion is stamped with: SOURCE_DATE_EPOCH when it holds a whole number of
// seconds from 0 to kMaxSourceDateEpoch (so repeated runs give identical files), else the clock.
// A value that is set but does not fit is ignored with a warning on standard error.
std::time_t ConversionTime();

// Runs the converter. `args` are the command-line arguments after the program name: none for
// the interactive loop (reading standard input), one or more for one shot; "--help" or
// "--version" as the first one prints that and nothing else. Everything is printed to standard
// output except warnings and the refusal to overwrite the input, which go to standard error.
// Returns the process exit code.
int RunConverter(const std::vector<std::string>& args);

}  // namespace cob
