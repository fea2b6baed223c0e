// The run-argument contract: program name, model pattern, format file, then run options and the
// registry file name, as a command line would give them.
#pragma once

#include <string>
#include <vector>

#include "platform/text_file.h"

namespace driver {

inline constexpr std::size_t kMaxModelPattern = 1255;  // characters
inline constexpr std::size_t kMaxPassword = 62;        // characters

struct RunOptions {
  bool integer_mode = false;  // -r
  bool debug_trace = false;   // -d
  std::string password;       // -sPASSWORD; empty: none
  std::string title;          // -tTEXT: kept, not used
  platform::TextFilePtr registry_file;  // null: the registry lines go to standard output
};

enum class OptionsResult { kOk, kCannotOpenRegistry, kRegistryTwice };

// Reads args[3..] in order. Only '-' introduces an option: '/' starts an absolute path here, so
// "/home/me/reg.txt" names a registry file. Unknown letters are logged and skipped. On a second
// registry name the first registry file is closed again (it exists, possibly empty).
OptionsResult ReadRunOptions(const std::vector<std::string>& args, platform::TextFile& log,
                             RunOptions& options);

}  // namespace driver
