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
  kExitOk = 0,            // one-shot run finished (also after a reader message), or "Q" typed
  kExitCannotOpen = 1,    // one-shot: the input file cannot be opened
  kExitCannotCreate = 2,  // one-shot: the output file cannot be created
  kExitScreenMode = 3,    // one-shot: Headers or Imagelist asked for
  kExitUnknownMode = 4,   // one-shot: unknown output mode
  kExitNoMemory = 5,      // the input buffer cannot be allocated
};

// The input path with everything from the last "." of its file name on replaced by `extension`
// (".rwx", ".seq"); a file name without a "." gets `extension` appended. A "." in a directory
// name does not count, so the output never lands outside the input's folder.
std::string OutputPath(std::string_view input, std::string_view extension);

// The moment a conversion is stamped with: SOURCE_DATE_EPOCH when it holds a whole number of
// seconds (so repeated runs give identical files), else the clock.
std::time_t ConversionTime();

// Runs the converter. `args` are the command-line arguments after the program name: none for
// the interactive loop (reading standard input), one or more for one shot. Everything is printed
// to standard output. Returns the process exit code.
int RunConverter(const std::vector<std::string>& args);

}  // namespace cob
