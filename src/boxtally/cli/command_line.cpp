#include "boxtally/cli/command_line.h"

namespace cli {

namespace {
struct FlagSwitch {
  const char* name;
  bool CliSettings::*field;
  bool value;
};

constexpr FlagSwitch kFlags[] = {
    {"--new-log", &CliSettings::new_log, true},
    {"--all-messages", &CliSettings::errors_only, false},
    {"--keep-huge", &CliSettings::skip_huge_objects, false},
    {"--facers", &CliSettings::handle_facers, true},
    {"--non-centered", &CliSettings::non_centered, true},
    {"--oversized", &CliSettings::over_sized, true},
    {"--cob-debug", &CliSettings::cob_debug, true},
    {"--quiet", &CliSettings::quiet, true},
};

CommandLine UsageError(std::string message) {
  CommandLine line;
  line.action = Action::kUsageError;
  line.error = std::move(message);
  return line;
}

bool SetFlag(const std::string& arg, CliSettings& settings) {
  for (const FlagSwitch& f : kFlags) {
    if (arg == f.name) {
      settings.*(f.field) = f.value;
      return true;
    }
  }
  return false;
}
}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& argv) {
  CommandLine line;
  std::size_t i = 1;
  for (; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.rfind("--", 0) != 0) break;  // the first operand ends the switches
    if (arg == "--help") return CommandLine{Action::kHelp, {}, {}, {}, {}};
    if (arg == "--version") return CommandLine{Action::kVersion, {}, {}, {}, {}};
    if (SetFlag(arg, line.settings)) continue;
    if (arg == "--log" || arg == "--password") {
      if (i + 1 >= argv.size()) return UsageError(arg + " needs a value");
      (arg == "--log" ? line.settings.log_path : line.password) = argv[++i];
      continue;
    }
    return UsageError("unknown switch " + arg);
  }
  line.operands.assign(argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end());
  if (line.operands.empty()) return UsageError("no models named");
  return line;
}

std::vector<std::string> BuildRunArguments(const CommandLine& line,
                                           const std::string& temporary_format) {
  std::vector<std::string> args{"boxtally-cli", line.operands[0]};
  if (line.operands.size() == 1) {
    args.push_back(temporary_format);
    args.push_back("-r");
  } else {
    args.push_back(line.operands[1]);
  }
  if (!line.password.empty()) args.push_back("-s" + line.password);
  for (std::size_t i = 2; i < line.operands.size(); ++i) args.push_back(line.operands[i]);
  return args;
}

}  // namespace cli
