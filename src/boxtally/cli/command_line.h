// The command line of boxtally-cli: switches first, then the operands MODELS [FORMAT [RUN-OPTIONS...]].
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
  std::vector<std::string> operands;  // MODELS, then FORMAT and the run options
};

CommandLine ParseCommandLine(const std::vector<std::string>& argv);

// The run arguments handed to BatchMain. With MODELS alone the default template goes through
// `temporary_format` in integer mode, the lines to standard output, as the window does.
std::vector<std::string> BuildRunArguments(const CommandLine& line,
                                           const std::string& temporary_format);

}  // namespace cli
