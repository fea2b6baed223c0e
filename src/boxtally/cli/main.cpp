// boxtally-cli: measures the models of an object path from a terminal.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "boxtally/cli/cli_host.h"
#include "boxtally/cli/command_line.h"
#include "boxtally/driver/batch_main.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace {
constexpr const char* kUsage =
    "Usage: boxtally-cli [SWITCHES] MODELS [FORMAT [RUN-OPTIONS...]]\n"
    "Measures every model matching MODELS (a path whose last part may hold * and ?, such as\n"
    "'objects/*.zip') and writes one registry line per model, laid out by the template FORMAT.\n"
    "With MODELS alone: the default template, integer numbers, lines to standard output.\n"
    "\n"
    "Run options (after FORMAT): -r integer mode, -d matrix trace, -sPASSWORD zip password,\n"
    "  -oREGISTRY create the registry file anew, REGISTRY (no dash) append to it, -v, -tTEXT.\n"
    "  Without a registry file the lines go to standard output.\n"
    "\n"
    "Switches:\n"
    "  --log FILE       append the log to FILE (default: standard error)\n"
    "  --new-log        create the log file anew\n"
    "  --all-messages   log progress lines too, not only errors\n"
    "  --keep-huge      keep models larger than 20 units (skipped by default)\n"
    "  --facers         square the footprint of facers\n"
    "  --non-centered   centre boxes that are not centred on the origin\n"
    "  --oversized      flag models wider than 1.415 units\n"
    "  --cob-debug      log the work-file and converter steps of COB models\n"
    "  --password PW    zip password (same as the run option -sPW)\n"
    "  --quiet          no progress line\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 run finished, 1 run ended early or nothing matched, 2 usage or log error.\n";

// The template of the window's defaults, written as a text file as the window would.
bool WriteTemporaryFormat(const std::string& path) {
  platform::TextFilePtr f(platform::OpenTextFile(path, platform::OpenMode::kCreate));
  if (!f) return false;
  platform::TextPrintf(*f, "%s\n", cli::kDefaultTemplate);
  return true;
}

int Run(const std::vector<std::string>& argv) {
  const cli::CommandLine line = cli::ParseCommandLine(argv);
  switch (line.action) {
    case cli::Action::kHelp: std::fputs(kUsage, stdout); return 0;
    case cli::Action::kVersion: std::puts("boxtally-cli " BOXTALLY_VERSION); return 0;
    case cli::Action::kUsageError:
      std::fprintf(stderr, "boxtally-cli: %s\n\n%s", line.error.c_str(), kUsage);
      return 2;
    case cli::Action::kRun: break;
  }
  cli::CliHost host(line.settings);
  if (!host.OpenLog()) {
    std::fprintf(stderr, "boxtally-cli: cannot open the log file %s\n",
                 line.settings.log_path.c_str());
    return 2;
  }
  std::string temporary_format;
  if (line.operands.size() == 1) {
    temporary_format = platform::WorkDirectory() + cli::kTemporaryFormatFile;
    if (!WriteTemporaryFormat(temporary_format)) {
      std::fprintf(stderr, "boxtally-cli: cannot write the format file %s\n",
                   temporary_format.c_str());
      return 2;
    }
  }
  const int result = driver::BatchMain(host, cli::BuildRunArguments(line, temporary_format));
  if (!temporary_format.empty()) platform::RemoveFile(temporary_format);
  return result == 0 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "boxtally-cli: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "boxtally-cli: unexpected failure\n");
  }
  return 2;
}
