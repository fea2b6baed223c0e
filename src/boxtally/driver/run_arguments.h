// The run-argument contract: program name, model pattern, format file, then run options and the
// registry file name, as a command line would give them.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_file.h"

namespace driver {

inline constexpr std::size_t kMaxModelPattern = 1255;  // characters
inline constexpr std::size_t kMaxPassword = 62;        // characters

struct RunOptions {
  bool integer_mode = false;    // -r
  bool debug_trace = false;     // -d
  std::string password;         // -sPASSWORD; empty: none
  std::string title;            // -tTEXT: kept, not used
  bool registry_named = false;  // false: the registry lines go to standard output
  std::string registry_name;
  platform::OpenMode registry_mode = platform::OpenMode::kAppend;  // -o: kCreate
};

enum class OptionsResult { kOk, kRegistryTwice };

// Reads args[3..] in order; nothing is opened yet, so a mistake on the line never touches an
// existing registry file. Only '-' introduces an option: '/' starts an absolute path here, so
// "/home/me/reg.txt" names a registry file. Unknown letters are logged and skipped. A second
// registry name is logged ("Output file already defined") and ends the reading.
OptionsResult ReadRunOptions(const std::vector<std::string>& args, platform::TextFile& log,
                             RunOptions& options);

// The first two of a run's own files (format file, registry, log, list file, the web records
// beside it; empty paths are none) that name one file: the same file, or the same resolved path
// when one does not exist yet (platform::SameFile). A run would destroy one with the other.
// nullopt when all differ.
std::optional<std::pair<std::size_t, std::size_t>> SameRunFiles(
    const std::vector<std::string>& paths);

}  // namespace driver
