// The command line of boxtally-cli: switches (anywhere on the line, up to a "--"), and the operands
// MODELS [FORMAT] [RUN-OPTIONS...].
#pragma once

#include <string>
#include <vector>

#include "boxtally/cli/cli_host.h"

namespace cli {

inline constexpr const char* kDefaultTemplate =
    "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>";
inline constexpr const char* kTemporaryFormatFile = "myregxxx.$$$";

enum class Action { kRun, kHelp, kVersion, kUsageError };

struct CommandLine {
  Action action = Action::kRun;
  std::string error;  // for kUsageError
  CliSettings settings;
  std::string password;               // --password PW, passed on as -sPW
  std::string report;                 // --report FILE; "-": standard output
  std::vector<std::string> operands;  // MODELS, then FORMAT and the run options
};

CommandLine ParseCommandLine(const std::vector<std::string>& argv);

// True when FORMAT is left out: MODELS alone, or run options right after it. The run then uses
// the window's default template in integer mode, as the window does.
bool UsesDefaultFormat(const CommandLine& line);

// The run arguments handed to BatchMain; `temporary_format` holds the default template when
// UsesDefaultFormat.
std::vector<std::string> BuildRunArguments(const CommandLine& line,
                                           const std::string& temporary_format);

// The registry file the run arguments name (the first one), or the empty text.
std::string RegistryFileOf(const std::vector<std::string>& run_arguments);

// "the registry and the format file are one file (my.fmt)" when two of the run's own files
// (format file, registry, log, web list and the records beside it) are one file; empty when all
// differ.
std::string SameFilesOfRun(const CommandLine& line);

// "the registry th/a.png stands in the thumbnail folder th under a picture's name" when a file
// the run reads or writes (those above and the report) could be replaced by a picture; empty
// when none can (or there are no thumbnails).
std::string FileInThumbnailsOfRun(const CommandLine& line);

// True when the run arguments name no registry file: the lines go to standard output.
bool RegistryOnStandardOutput(const std::vector<std::string>& run_arguments);

}  // namespace cli
