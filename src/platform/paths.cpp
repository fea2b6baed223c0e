#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {
std::string& WorkDirSlot() {
  static std::string dir;
  return dir;
}

void RemoveWorkDirectory() {
  const std::string& dir = WorkDirSlot();
  if (dir.empty()) return;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") unlink((dir + name).c_str());
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}
}  // namespace

std::string ProgramDirectory() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  std::string path(buf.data(), static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WorkDirectory() {
  std::string& dir = WorkDirSlot();
  if (!dir.empty()) return dir;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  if (base.back() != '/') base += '/';
  std::string templ = base + "boxtally.XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) return {};
  chmod(templ.c_str(), 0700);
  dir = templ + "/";
  std::atexit(RemoveWorkDirectory);
  return dir;
}

std::optional<std::string> CurrentDirectory() {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return std::nullopt;
  return std::string(buf.data());
}

bool ChangeDirectory(const std::string& dir) { return chdir(dir.c_str()) == 0; }

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
