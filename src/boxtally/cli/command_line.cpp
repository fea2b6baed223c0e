#include "boxtally/cli/command_line.h"

#include <strings.h>

#include <charconv>
#include <string>

#include "boxtally/driver/model_pool.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_textures.h"
#include "boxtally/driver/thumbnails.h"
#include "boxtally/http/http_message.h"
#include "platform/paths.h"

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

constexpr int kMaxConverterTimeLimit = 7 * 24 * 3600;  // seconds
constexpr int kMaxEntryMib = 1 << 20;                  // MiB: one tebibyte

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

// The web mode switches, as the window's web controls.
bool SetWebFlag(const std::string& arg, web::WebControls& controls) {
  if (arg == "--propdump") {
    controls.propdump = true;
  } else if (arg == "--reuse-web") {
    controls.reuse_web = true;
  } else if (arg == "--connect-fix") {
    controls.connect_fix = true;
  } else {
    return false;
  }
  return true;
}

bool IsWebText(const std::string& arg) {
  return arg == "--web" || arg == "--user-agent" || arg == "--referer" ||
         arg == "--referer-world" || arg == "--ca-file" || arg == "--proxy";
}

// Any of the referer's three texts turns UseReferer on; the others keep the settings' defaults.
void SetWebText(const std::string& arg, const std::string& value, CliSettings& settings) {
  web::WebControls& controls = settings.web_controls;
  if (arg == "--web") {
    settings.web = true;
    controls.url = value;
    return;
  }
  if (arg == "--ca-file") {
    controls.ca_file = value;
    return;
  }
  if (arg == "--proxy") {
    controls.proxy = value;  // empty: no proxy at all, whatever the environment says
    return;
  }
  controls.use_referer = true;
  if (arg == "--user-agent") {
    controls.user_agent = value;
  } else if (arg == "--referer") {
    controls.referer = value;
  } else {
    controls.referer_world = value;
  }
}

bool ParseWhole(const std::string& text, int low, int high, int& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc{} && p == end && value >= low && value <= high;
}

// A name ending like a model file: what the shell makes of an unquoted pattern.
bool NamesAModel(const std::string& name) {
  if (name.size() < 4) return false;
  const char* suffix = name.c_str() + name.size() - 4;
  return strcasecmp(suffix, ".rwx") == 0 || strcasecmp(suffix, ".cob") == 0 ||
         strcasecmp(suffix, ".zip") == 0;
}

std::string QuoteAdvice(const std::string& what, const std::string& name) {
  return what + " '" + name +
         "' is a model file: was the MODELS pattern expanded by the shell? "
         "Quote it, as in 'objects/*.zip'";
}

// A --textures value that names no folder (a web folder is asked during the run).
std::string TexturesProblem(const std::string& value) {
  if (value.empty()) return "--textures needs a folder or the URL of a web folder";
  if (driver::IsTexturesUrl(value) || platform::IsDirectory(value)) return {};
  return "--textures " + value + " is no folder";
}

// The format file and the registry names of the operands, checked before anything is opened.
std::string CheckOperands(const CommandLine& line) {
  const std::vector<std::string>& ops = line.operands;
  std::size_t first_option = 1;
  if (!UsesDefaultFormat(line)) {
    if (NamesAModel(ops[1])) return QuoteAdvice("FORMAT", ops[1]);
    first_option = 2;
  }
  for (std::size_t i = first_option; i < ops.size(); ++i) {
    const std::string& arg = ops[i];
    const bool bare = arg.empty() || arg[0] != '-';
    const bool create = arg.size() >= 2 && arg[0] == '-' && arg[1] == 'o';
    if (bare && NamesAModel(arg)) return QuoteAdvice("the registry", arg);
    if (create && NamesAModel(arg.substr(2))) return QuoteAdvice("the registry", arg.substr(2));
  }
  return {};
}
// The report goes into a file of its own: never over the registry, the log, the list or the
// format file, and never onto standard output beside the registry lines.
std::string CheckReport(const CommandLine& line) {
  const std::string& report = line.report;
  if (report.empty()) return {};
  const std::vector<std::string> args = BuildRunArguments(line, std::string());
  if (report == "-") {
    if (!RegistryOnStandardOutput(args)) return {};
    return "--report - needs a registry file (-oREGISTRY or REGISTRY): the registry lines go to "
           "standard output otherwise";
  }
  if (NamesAModel(report)) return QuoteAdvice("the report", report);
  const bool web = line.settings.web;
  const std::string own[] = {RegistryFileOf(args), line.settings.log_path,
                             web ? line.operands[0] : std::string(),
                             web ? web::ValidatorFilePath(line.operands[0]) : std::string(),
                             UsesDefaultFormat(line) ? std::string() : line.operands[1]};
  for (const std::string& file : own) {
    if (platform::SameFile(report, file)) {
      return "--report " + report + " names a file the run reads or writes otherwise";
    }
  }
  return {};
}
}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& argv) {
  CommandLine line;
  bool switches_done = false;
  bool thumbnail_size_given = false;
  std::string web_switch;  // the first switch that needs --web
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (switches_done || arg.rfind("--", 0) != 0) {
      line.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      switches_done = true;
      continue;
    }
    if (arg == "--help") return CommandLine{Action::kHelp, {}, {}, {}, {}, {}};
    if (arg == "--version") return CommandLine{Action::kVersion, {}, {}, {}, {}, {}};
    if (SetFlag(arg, line.settings)) continue;
    if (SetWebFlag(arg, line.settings.web_controls)) {
      if (web_switch.empty()) web_switch = arg;
      continue;
    }
    if (IsWebText(arg)) {
      if (i + 1 >= argv.size()) return UsageError(arg + " needs a value");
      // These go into request lines, where a line break would start a line of its own.
      if (arg != "--web" && arg != "--ca-file" && arg != "--proxy" &&
          http::HoldsControlByte(argv[i + 1])) {
        return UsageError(arg + " must not hold a control character");
      }
      SetWebText(arg, argv[++i], line.settings);
      if (web_switch.empty() && arg != "--web") web_switch = arg;
      continue;
    }
    if (arg == "--log" || arg == "--password" || arg == "--converter-time-limit" ||
        arg == "--jobs" || arg == "--max-entry-size" || arg == "--downloads" ||
        arg == "--report" || arg == "--thumbnails" || arg == "--thumbnail-size" ||
        arg == "--textures") {
      if (i + 1 >= argv.size()) return UsageError(arg + " needs a value");
      const std::string& value = argv[++i];
      if (arg == "--textures") {
        if (const std::string bad = TexturesProblem(value); !bad.empty()) return UsageError(bad);
        line.settings.textures = value;
      } else if (arg == "--thumbnails") {
        if (value.empty()) return UsageError("--thumbnails needs a folder");
        line.settings.thumbnail_dir = value;
      } else if (arg == "--thumbnail-size") {
        if (!ParseWhole(value, driver::kMinThumbnailSize, driver::kMaxThumbnailSize,
                        line.settings.thumbnail_size)) {
          return UsageError("--thumbnail-size needs a number of pixels from " +
                            std::to_string(driver::kMinThumbnailSize) + " to " +
                            std::to_string(driver::kMaxThumbnailSize) + ", not '" + value + "'");
        }
        thumbnail_size_given = true;
      } else if (arg == "--downloads") {
        if (!ParseWhole(value, 1, static_cast<int>(web::kMaxDownloads), line.settings.downloads)) {
          return UsageError("--downloads needs a number from 1 to " +
                            std::to_string(web::kMaxDownloads) + ", not '" + value + "'");
        }
        if (web_switch.empty()) web_switch = arg;
      } else if (arg == "--log") {
        line.settings.log_path = value;
      } else if (arg == "--report") {
        if (value.empty()) return UsageError("--report needs a file name, or - for standard output");
        line.report = value;
      } else if (arg == "--password") {
        line.password = value;
      } else if (arg == "--jobs") {
        if (!ParseWhole(value, 1, static_cast<int>(driver::kMaxWorkers), line.settings.jobs)) {
          return UsageError("--jobs needs a number from 1 to " +
                            std::to_string(driver::kMaxWorkers) + ", not '" + value + "'");
        }
      } else if (arg == "--max-entry-size") {
        if (!ParseWhole(value, 1, kMaxEntryMib, line.settings.max_entry_mib)) {
          return UsageError("--max-entry-size needs a number of MiB from 1 to " +
                            std::to_string(kMaxEntryMib) + ", not '" + value + "'");
        }
      } else if (!ParseWhole(value, 0, kMaxConverterTimeLimit,
                             line.settings.converter_time_limit)) {
        return UsageError("--converter-time-limit needs a number of seconds, not '" + value + "'");
      }
      continue;
    }
    return UsageError("unknown switch " + arg);
  }
  if (line.operands.empty()) {
    return UsageError(line.settings.web ? "no list file named" : "no models named");
  }
  if (!line.settings.web && !web_switch.empty()) return UsageError(web_switch + " needs --web URL");
  if (thumbnail_size_given && line.settings.thumbnail_dir.empty()) {
    return UsageError("--thumbnail-size needs --thumbnails DIR");
  }
  if (line.settings.web && line.settings.web_controls.url.empty()) {
    return UsageError("--web needs the URL of the web object path");
  }
  line.settings.web_controls.list_file = line.operands[0];
  std::string bad = CheckOperands(line);
  if (bad.empty()) bad = CheckReport(line);
  if (!bad.empty()) return UsageError(std::move(bad));
  return line;
}

bool UsesDefaultFormat(const CommandLine& line) {
  const std::vector<std::string>& ops = line.operands;
  return ops.size() == 1 || (!ops[1].empty() && ops[1][0] == '-');
}

std::vector<std::string> BuildRunArguments(const CommandLine& line,
                                           const std::string& temporary_format) {
  std::vector<std::string> args{"boxtally-cli", line.operands[0]};
  std::size_t rest = 2;
  if (UsesDefaultFormat(line)) {
    args.push_back(temporary_format);
    args.push_back("-r");
    rest = 1;
  } else {
    args.push_back(line.operands[1]);
  }
  if (!line.password.empty()) args.push_back("-s" + line.password);
  for (std::size_t i = rest; i < line.operands.size(); ++i) args.push_back(line.operands[i]);
  return args;
}

std::string RegistryFileOf(const std::vector<std::string>& run_arguments) {
  std::string ignored;
  platform::TextFile sink = platform::MemoryTextFile(ignored, /*crlf=*/false);
  driver::RunOptions options;
  (void)driver::ReadRunOptions(run_arguments, sink, options);
  return options.registry_named ? options.registry_name : std::string();
}

namespace {
// The run's own files, in the order of their roles; empty: none.
constexpr const char* kRoles[] = {"the format file", "the registry", "the log", "the list file",
                                  "the records file"};

std::vector<std::string> RunFilesOf(const CommandLine& line) {
  const bool web = line.settings.web;
  return {UsesDefaultFormat(line) ? std::string() : line.operands[1],
          RegistryFileOf(BuildRunArguments(line, "")), line.settings.log_path,
          web ? line.operands[0] : std::string(),
          web ? web::ValidatorFilePath(line.operands[0]) : std::string()};
}
}  // namespace

std::string SameFilesOfRun(const CommandLine& line) {
  const std::vector<std::string> paths = RunFilesOf(line);
  const auto same = driver::SameRunFiles(paths);
  if (!same) return {};
  return std::string(kRoles[same->first]) + " and " + kRoles[same->second] + " are one file (" +
         paths[same->second] + ")";
}

std::string FileInThumbnailsOfRun(const CommandLine& line) {
  const std::string& dir = line.settings.thumbnail_dir;
  if (dir.empty()) return {};
  const std::vector<std::string> paths = RunFilesOf(line);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (driver::PictureMayTake(dir, paths[i])) {
      return std::string(kRoles[i]) + " " + paths[i] + " stands in the thumbnail folder " + dir +
             " under a picture's name";
    }
  }
  if (line.report != "-" && driver::PictureMayTake(dir, line.report)) {
    return "the report " + line.report + " stands in the thumbnail folder " + dir +
           " under a picture's name";
  }
  return {};
}

bool RegistryOnStandardOutput(const std::vector<std::string>& run_arguments) {
  for (std::size_t i = 3; i < run_arguments.size(); ++i) {
    const std::string& arg = run_arguments[i];
    if (arg.empty() || arg[0] != '-' || (arg.size() >= 2 && arg[1] == 'o')) return false;
  }
  return true;
}

}  // namespace cli
