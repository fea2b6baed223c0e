// boxtally-cli: measures the models of an object path from a terminal.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "boxtally/cli/cli_host.h"
#include "boxtally/cli/command_line.h"
#include "boxtally/cli/report_output.h"
#include "boxtally/cli/summary.h"
#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/format_check.h"
#include "boxtally/driver/registry_overlap.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/driver/thumbnails.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace {
constexpr const char* kUsage =
    "Usage: boxtally-cli [SWITCHES] MODELS [FORMAT] [RUN-OPTIONS...]\n"
    "Measures every model matching MODELS (a path whose last part may hold * and ?, such as\n"
    "'objects/*.zip') and writes one registry line per model, laid out by the template FORMAT.\n"
    "Without FORMAT: the default template in integer numbers; without a registry file the lines\n"
    "go to standard output.\n"
    "\n"
    "Run options (after MODELS and FORMAT): -r integer mode, -d matrix trace, -sPASSWORD zip\n"
    "  password, -oREGISTRY create the registry file anew, REGISTRY (no dash) append to it, -v,\n"
    "  -tTEXT.\n"
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
    "  --quiet          no progress line nor summary\n"
    "  --report FILE    write every model's result into FILE, replaced when the run completes:\n"
    "                   a workbook when FILE ends in .xlsx, else CSV; '-': CSV onto standard\n"
    "                   output (the registry must be a file)\n"
    "  --jobs N         measure N models at once (default: one per core; 1: one after another)\n"
    "  --converter-time-limit SECONDS\n"
    "                   end a COB conversion that takes longer (default 600; 0: no limit)\n"
    "  --max-entry-size MIB\n"
    "                   refuse archive entries and COB models larger than MIB mebibytes\n"
    "                   (default 256): nothing bigger is written into the work folder\n"
    "  --thumbnails DIR also draw every measured model into DIR as NAME.png (tree.rwx gives\n"
    "                   tree.png), with its box, the ground grid and the axes; like the\n"
    "                   registry, DIR changes only when the run completes\n"
    "  --thumbnail-size N\n"
    "                   the pictures' width and height in pixels (16 to 2048, default 256)\n"
    "  --textures DIR|URL\n"
    "                   find the models' textures in the folder DIR or the web folder URL\n"
    "                   (default: 'textures' beside the models' folder, and that folder)\n"
    "  --help, --version\n"
    "\n"
    "Web mode: boxtally-cli --web URL [SWITCHES] LIST [FORMAT] [RUN-OPTIONS...]\n"
    "  --web URL        each model that LIST names is fetched from the web object path URL\n"
    "                   as NAME.zip, saved beside LIST and measured\n"
    "  --propdump       the list file is a propdump (every distinct model name is fetched)\n"
    "  --reuse-web      use a model already beside the list file instead of fetching it\n"
    "  --connect-fix    no HEAD request before the download\n"
    "  --downloads N    fetch N models at once (1 to 32, default 6); the files are the same\n"
    "                   for any N\n"
    "  --user-agent TEXT, --referer TEXT, --referer-world TEXT\n"
    "                   send a User-Agent line and the Referer TEXT followed by the world\n"
    "                   (defaults \"Gridmere/3.60 (560)\" and \"gm://localhost:5670/\")\n"
    "  --ca-file FILE   also trust the certificate authorities in FILE (PEM) for https URLs,\n"
    "                   besides the system's (and those SSL_CERT_FILE, SSL_CERT_DIR name)\n"
    "  --proxy URL      send every request through the HTTP proxy URL (http://[USER:PW@]HOST\n"
    "                   [:PORT], port 1080 by default); \"\" for none. Without it: https_proxy,\n"
    "                   http_proxy, all_proxy and no_proxy, as curl reads them\n"
    "Switches may stand anywhere on the line; after \"--\" everything is an operand.\n"
    "\n"
    "Exit status: 0 run finished, 1 run ended early or nothing matched, 2 usage, log or report\n"
    "error, 3 web run finished but some models could not be fetched, 128 + N when stopped by\n"
    "signal N (SIGTERM, SIGHUP).\n";

// The template of the window's defaults, written as a text file as the window would.
bool WriteTemporaryFormat(const std::string& path) {
  platform::TextFilePtr f(platform::CreateWorkTextFile(path));
  if (!f) return false;
  platform::TextPrintf(*f, "%s\n", cli::kDefaultTemplate);
  return platform::FlushTextFile(*f);
}

[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...) {
  std::fputs("boxtally-cli: ", stderr);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

// Why a run ended early, in one line on standard error. When the log is standard error, the
// endings it already names are not said twice.
void ReportEnding(const cli::CliHost& host, const driver::RunOutcome& outcome) {
  if (!driver::EndedEarly(outcome.end)) return;
  if (host.LogOnStandardError() && driver::EndingLogged(outcome.end)) return;
  const std::string about = platform::WithoutControls(outcome.about);
  const char* name = about.c_str();
  switch (outcome.end) {
    case driver::RunEnd::kNoMatch:
      Say("no file matches %s\n", name);
      break;
    case driver::RunEnd::kListUnopenable:
      Say("cannot open the list file %s\n", name);
      break;
    case driver::RunEnd::kNoWebModel:
      Say("no model of the list %s could be fetched (see the log)\n", name);
      break;
    case driver::RunEnd::kFormatUnreadable:
      Say("cannot open the format file %s\n", name);
      break;
    case driver::RunEnd::kFormatWithoutLines:
      Say("the format file %s gives no registry line (it has no complete line)\n", name);
      break;
    case driver::RunEnd::kNothingCouldBeMeasured:
      Say("no model could be measured: %s\n", name);
      break;
    case driver::RunEnd::kPatternTooLong:
      Say("the model pattern is longer than %zu characters\n", driver::kMaxModelPattern);
      break;
    case driver::RunEnd::kRegistryTwice:
      Say("two registry files named; nothing was measured\n");
      break;
    case driver::RunEnd::kRegistryUnopenable:
      Say("cannot create or append to the registry file %s (%s)\n", name,
          platform::WithoutControls(outcome.why).c_str());
      break;
    case driver::RunEnd::kRegistryLocked:
      Say("the registry file %s is being written by another run; nothing was measured\n", name);
      break;
    case driver::RunEnd::kRegistryReadOnly:
      Say("the registry file %s is read-only; nothing was measured\n", name);
      break;
    case driver::RunEnd::kMeasurementAbort:
      Say("a model passed a limit of the measurement; the run ended there (see the log)\n");
      break;
    case driver::RunEnd::kRegistryWriteFailed:
      Say("cannot write to the registry (%s); the run ended there\n", name);
      break;
    case driver::RunEnd::kNoWorkFolder:
      Say("cannot make a private work folder\n");
      break;
    case driver::RunEnd::kMissingArguments:
      Say("too few run arguments\n");
      break;
    case driver::RunEnd::kCompleted:
    case driver::RunEnd::kStopped:
      break;
  }
}

// The pictures that could not be written, after the run: none of it goes to the log.
void ReportThumbnails(cli::CliHost& host) {
  const driver::ThumbnailSet* thumbnails = host.Thumbnails();
  if (thumbnails == nullptr) return;
  for (const std::string& failure : thumbnails->failures) {
    Say("%s\n", platform::WithoutControls(failure).c_str());
  }
  if (thumbnails->failed > thumbnails->failures.size()) {
    Say("%zu more thumbnails could not be written\n",
        thumbnails->failed - thumbnails->failures.size());
  }
}

int Run(const std::vector<std::string>& argv) {
  const cli::CommandLine line = cli::ParseCommandLine(argv);
  switch (line.action) {
    case cli::Action::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case cli::Action::kVersion:
      std::puts("boxtally-cli " BOXTALLY_VERSION);
      return 0;
    case cli::Action::kUsageError:
      Say("%s\n\n%s", platform::WithoutControls(line.error).c_str(), kUsage);
      return 2;
    case cli::Action::kRun:
      break;
  }
  // Registry lines (or the report) for a closed standard output could only be lost.
  if (platform::StandardDescriptorWasClosed(STDOUT_FILENO) &&
      (cli::RegistryOnStandardOutput(cli::BuildRunArguments(line, std::string())) ||
       line.report == cli::kReportToStandardOutput)) {
    Say("standard output is closed; nothing was measured\n");
    return 1;
  }
  const web::WebControls& controls = line.settings.web_controls;
  const std::string& ca_file = controls.ca_file;
  if (!ca_file.empty() && !platform::IsRegularFile(ca_file)) {
    Say("cannot read the certificate file %s\n", platform::WithoutControls(ca_file).c_str());
    return 2;
  }
  // Found now, not once per request: a file without a certificate would fail every one of them.
  if (const std::string problem = web::CaFileProblem(controls); !problem.empty()) {
    Say("%s\n", platform::WithoutControls(problem).c_str());
    return 2;
  }
  if (line.settings.web) {
    if (const std::string problem = web::ProxyProblem(controls); !problem.empty()) {
      Say("cannot use the proxy of %s\n", platform::WithoutControls(problem).c_str());
      return 2;
    }
  }
  for (const std::string& clash : {cli::SameFilesOfRun(line), cli::FileInThumbnailsOfRun(line)}) {
    if (clash.empty()) continue;
    Say("%s; nothing was run\n", platform::WithoutControls(clash).c_str());
    return 2;
  }
  if (!line.settings.thumbnail_dir.empty()) {
    if (const auto why = driver::PrepareThumbnailFolder(line.settings.thumbnail_dir)) {
      Say("%s\n", platform::WithoutControls(*why).c_str());
      return 2;
    }
  }
  // Work files never go anywhere but a private folder: no folder, no run.
  const std::string work_dir = platform::WorkDirectory();
  if (work_dir.empty()) {
    Say("cannot make a private work folder (%s)\n", platform::WorkDirectoryError().c_str());
    return 2;
  }
  cli::CliHost host(line.settings);
  bool log_locked = false;
  if (!host.OpenLog(&log_locked)) {
    const std::string why = platform::OutputOpenError(errno);
    const std::string log = platform::WithoutControls(line.settings.log_path);
    if (log_locked) {
      Say("the log file %s is being written by another run; nothing was measured\n", log.c_str());
      return 1;
    }
    Say("cannot open the log file %s (%s)\n", log.c_str(), why.c_str());
    return 2;
  }
  std::string temporary_format;
  if (cli::UsesDefaultFormat(line)) {
    temporary_format = work_dir + cli::kTemporaryFormatFile;
    if (!WriteTemporaryFormat(temporary_format)) {
      Say("cannot write the format file %s\n", temporary_format.c_str());
      return 2;
    }
  }
  cli::ReportOutput report;
  std::string report_error;
  if (!cli::BeginReport(line.report, report, report_error)) {
    Say("cannot write the report file %s (%s)\n", platform::WithoutControls(line.report).c_str(),
        report_error.c_str());
    if (!temporary_format.empty()) platform::RemoveFile(temporary_format);
    return 2;
  }
  const std::vector<std::string> args = cli::BuildRunArguments(line, temporary_format);
  host.SetRegistryOnStandardOutput(cli::RegistryOnStandardOutput(args));
  host.SetRegistryFile(cli::RegistryFileOf(args));
  // A second run over the same models gives each of them twice: said, then done as asked.
  if (const std::size_t already = driver::ModelsAlreadyInRegistry(
          args, driver::ReadTemplate(args[2]).value_or(std::string()), line.settings.web,
          controls.propdump)) {
    Say("%zu of these models are already in the registry\n", already);
  }
  const driver::RunOutcome outcome = driver::RunBatch(host, args);
  host.ClearProgressLine();
  host.EndOpenLogLine();
  if (!temporary_format.empty()) platform::RemoveFile(temporary_format);
  const int signal_number = cli::CliHost::TerminationSignal();
  // As the registry: replaced only when the run completed (a stop before it was replaced stops it).
  const bool completed = outcome.end == driver::RunEnd::kCompleted;
  const bool report_written = cli::FinishReport(report, outcome, completed, report_error);
  ReportEnding(host, outcome);
  if (outcome.registry_unchanged && outcome.end != driver::RunEnd::kRegistryLocked) {
    Say("the registry was not changed\n");
  }
  ReportThumbnails(host);
  if (!line.settings.quiet) {
    const std::string summary = cli::SummaryLine(outcome);
    if (!summary.empty()) Say("%s\n", summary.c_str());
  }
  if (!host.LogIntact()) {
    Say("cannot write the log%s%s; messages were lost\n", host.LogOnStandardError() ? "" : " file ",
        line.settings.log_path.c_str());
    return 2;
  }
  if (!report_written) {
    Say("cannot write the report %s (%s)\n", platform::WithoutControls(line.report).c_str(),
        report_error.c_str());
    return 2;
  }
  if (signal_number != 0) {
    Say("stopped by signal %d after the model in progress\n", signal_number);
    return 128 + signal_number;
  }
  if (outcome.end == driver::RunEnd::kFormatWithoutLines) return 2;
  return cli::ExitStatusOf(outcome, line.settings.web);
}
}  // namespace

int main(int argc, char** argv) {
  // A closed standard stream must not lend its number to the first file the run opens.
  platform::ReserveStandardDescriptors();
  try {
    return Run(std::vector<std::string>(argv, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "boxtally-cli: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "boxtally-cli: unexpected failure\n");
  }
  return 2;
}
