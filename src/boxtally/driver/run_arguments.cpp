#include "boxtally/driver/run_arguments.h"

#include <cstring>

#include "platform/paths.h"

namespace driver {

namespace {
OptionsResult NameRegistry(const std::string& name, platform::OpenMode mode,
                           platform::TextFile& log, RunOptions& options) {
  if (options.registry_named) {
    platform::LogF(log, "Output file already defined\n");
    return OptionsResult::kRegistryTwice;
  }
  options.registry_named = true;
  options.registry_name = name;
  options.registry_mode = mode;
  return OptionsResult::kOk;
}
}  // namespace

OptionsResult ReadRunOptions(const std::vector<std::string>& args, platform::TextFile& log,
                             RunOptions& options) {
  for (std::size_t i = 3; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg[0] != '-') {
      if (NameRegistry(arg, platform::OpenMode::kAppend, log, options) != OptionsResult::kOk) {
        return OptionsResult::kRegistryTwice;
      }
      continue;
    }
    const char letter = arg.size() > 1 ? arg[1] : '\0';
    const std::string value = arg.size() > 2 ? arg.substr(2) : std::string();
    if (letter == '\0') {
      // A lone "-": there is no letter to name, and a NUL byte must not reach the log.
      platform::LogF(log, "Unknown option: -\n");
      continue;
    }
    if (std::strchr("dvrtos", letter) == nullptr) {
      platform::LogF(log, "Unknown option: %c\n", letter);
      continue;
    }
    switch (letter) {
      case 'd':
        options.debug_trace = true;
        break;
      case 'r':
        options.integer_mode = true;
        break;
      case 't':
        options.title = value;
        break;
      case 's':
        options.password = value;
        break;
      case 'o':
        if (NameRegistry(value, platform::OpenMode::kCreate, log, options) != OptionsResult::kOk) {
          return OptionsResult::kRegistryTwice;
        }
        break;
      default:
        break;  // 'v': accepted, no effect
    }
  }
  return OptionsResult::kOk;
}

std::optional<std::pair<std::size_t, std::size_t>> SameRunFiles(
    const std::vector<std::string>& paths) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    for (std::size_t j = i + 1; j < paths.size(); ++j) {
      if (platform::SameFile(paths[i], paths[j])) return std::make_pair(i, j);
    }
  }
  return std::nullopt;
}

}  // namespace driver
