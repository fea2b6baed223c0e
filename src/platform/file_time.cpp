#include "platform/file_time.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

namespace platform {

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.size = static_cast<std::int64_t>(info.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

bool SetModificationTime(const std::string& path, std::int64_t seconds) {
  timespec times[2] = {};
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(seconds);
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace platform
