// A file's size and modification time, and setting that time: what tells a file the web fetch
// downloaded from one changed since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct FileStamp {
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;  // nanoseconds since 1970
};

// The stamp of a regular file (symbolic links followed); nullopt for anything else.
std::optional<FileStamp> StampOf(const std::string& path);

// Sets the file's modification time to `seconds` since 1970 (its access time to now).
bool SetModificationTime(const std::string& path, std::int64_t seconds);

}  // namespace platform
