#include "platform/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/safe_replace.h"

namespace platform {

namespace {
constexpr const char* kWorkPrefix = "boxtally.";
constexpr std::size_t kWorkRandomChars = 6;  // the XXXXXX of mkdtemp
// The marker of a work folder, held with flock for its owner's whole life: a lock that can be
// taken means the owner is gone. A folder without it is not ours, whatever its name.
constexpr const char* kLockName = ".boxtally-work";
// The names a work folder holds besides its marker: the work files, and the copies of COB models
// with what the converter made of them.
constexpr const char* kWorkFileNames[] = {"unzipwk.$$$", "unzipwk.cob", "unzipwk.rwx",
                                          "myregxxx.$$$"};
constexpr const char* kWorkFileSuffixes[] = {".cob", ".scn", ".rwx"};

// The folders of this process, for a signal handler that must remove them at once.
constexpr std::size_t kMaxSignalFolders = 128;
constexpr std::size_t kMaxSignalPath = 4096;
char g_signal_folders[kMaxSignalFolders][kMaxSignalPath];
std::atomic<std::size_t> g_signal_folder_count{0};

struct WorkState {
  std::string dir;                 // the first folder: WorkDirectory()
  std::string base;                // where it was made
  std::vector<std::string> extra;  // further folders of this process (one per worker)
  std::vector<int> lock_fds;       // [0] the first folder's, then one per `extra`, in order
  // The folders the signal handler knows, in its order (g_signal_folder_count of them); a freed
  // one is empty until the slots after it are given back too.
  std::vector<std::string> noted;
  std::string error;
  bool cleanup_registered = false;
};

WorkState& State() {
  static WorkState state;
  return state;
}

// Removes the folder's entries (not following symlinks, not descending) and the folder.
void RemoveFolder(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    const int fd = dirfd(d);
    while (const dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        unlinkat(fd, e->d_name, 0);
      }
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

bool EndsWithIgnoringCase(const char* name, const char* suffix) {
  const std::size_t n = std::strlen(name), k = std::strlen(suffix);
  return n > k && strcasecmp(name + n - k, suffix) == 0;
}

// Whether `name` is a file this program makes in a work folder.
bool IsWorkFileName(const char* name) {
  if (std::strncmp(name, kLockName, std::strlen(kLockName)) == 0) return true;  // ".new" too
  for (const char* fixed : kWorkFileNames) {
    if (std::strcmp(name, fixed) == 0) return true;
  }
  for (const char* suffix : kWorkFileSuffixes) {
    if (EndsWithIgnoringCase(name, suffix)) return true;
  }
  return false;
}

// Removes the folder's own work files (no other file, no link followed) and the folder when that
// leaves it empty.
void RemoveStaleFolder(const std::string& dir) {
  if (DIR* d = opendir(dir.c_str())) {
    const int fd = dirfd(d);
    while (const dirent* e = readdir(d)) {
      struct stat st {};
      if (!IsWorkFileName(e->d_name) || fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(st.st_mode)) {
        continue;
      }
      unlinkat(fd, e->d_name, 0);
    }
    closedir(d);
  }
  rmdir(dir.c_str());
}

void NoteSignalFolder(const std::string& dir) {
  const std::size_t i = g_signal_folder_count.load();
  if (i >= kMaxSignalFolders || dir.size() >= kMaxSignalPath) return;
  std::memcpy(g_signal_folders[i], dir.c_str(), dir.size() + 1);
  g_signal_folder_count.store(i + 1);
  State().noted.push_back(dir);
}

// A freed folder's slot is given back once no slot after it is in use, so a process that makes
// and frees folders all its life (a preview per model chosen) keeps room for the next ones. The
// count goes down before a slot is written again: the handler never reads a slot being written.
void ForgetSignalFolder(const std::string& dir) {
  std::vector<std::string>& noted = State().noted;
  for (std::string& n : noted) {
    if (n == dir) {
      n.clear();
      break;
    }
  }
  while (!noted.empty() && noted.back().empty()) noted.pop_back();
  g_signal_folder_count.store(noted.size());
}

void RemoveWorkDirectories() {
  WorkState& state = State();
  if (!state.dir.empty()) RemoveFolder(state.dir);
  for (const std::string& dir : state.extra) RemoveFolder(dir);
  for (const int fd : state.lock_fds) close(fd);
  state.lock_fds.clear();
}

void RegisterCleanup(WorkState& state) {
  if (state.cleanup_registered) return;
  state.cleanup_registered = true;
  std::atexit(RemoveWorkDirectories);
}

// A folder of a process that is gone: it holds our marker, a plain file nobody holds locked.
bool IsStale(const std::string& dir) {
  const int fd = open((dir + "/" + kLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st {};
  const bool stale =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return stale;
}

// "boxtally." and six characters of mkdtemp's: nothing else is taken for a work folder.
bool IsWorkFolderName(const char* name) {
  const std::size_t prefix_len = std::strlen(kWorkPrefix);
  if (std::strlen(name) != prefix_len + kWorkRandomChars ||
      std::strncmp(name, kWorkPrefix, prefix_len) != 0) {
    return false;
  }
  for (const char* c = name + prefix_len; *c != '\0'; ++c) {
    if (!std::isalnum(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

// Removes what dead processes of this user left under `base`: their own work files, and their
// folders once empty.
void RemoveStaleWorkFolders(const std::string& base) {
  DIR* d = opendir(base.c_str());
  if (d == nullptr) return;
  while (const dirent* e = readdir(d)) {
    if (!IsWorkFolderName(e->d_name)) continue;
    const std::string dir = base + e->d_name;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) continue;
    if (IsStale(dir)) RemoveStaleFolder(dir + "/");
  }
  closedir(d);
}

// Makes and locks a private folder under `base` (ending with '/'); empty on failure.
std::string MakeWorkFolder(const std::string& base, std::string& error) {
  std::string templ = base + kWorkPrefix + "XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    error = base + ": " + std::strerror(errno);
    return {};
  }
  chmod(templ.c_str(), 0700);
  const std::string dir = templ + "/";
  // The lock is taken under another name and only then given its own: another process that
  // looks for dead folders must never find the lock file of a live one unlocked.
  const std::string unnamed = dir + kLockName + ".new";
  const int fd = open(unnamed.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      rename(unnamed.c_str(), (dir + kLockName).c_str()) != 0) {
    error = dir + kLockName + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    RemoveFolder(dir);
    return {};
  }
  State().lock_fds.push_back(fd);
  NoteSignalFolder(dir);
  return dir;
}

std::vector<std::string> WorkBases() {
  std::vector<std::string> bases;
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && tmp[0] == '/') {  // a relative TMPDIR would name a folder of the user's
    std::string base = tmp;
    if (base.back() != '/') base += '/';
    bases.push_back(base);
  }
  if (bases.empty() || bases[0] != "/tmp/") bases.push_back("/tmp/");
  return bases;
}
}  // namespace

std::string ProgramDirectory() {
  // Asked for every model a worker is given: found once, as the program does not move.
  static const std::string directory = [] {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }();
  return directory;
}

std::string WorkDirectory() {
  WorkState& state = State();
  if (!state.dir.empty()) return state.dir;
  std::string errors;
  for (const std::string& base : WorkBases()) {
    std::string error;
    RemoveStaleWorkFolders(base);
    state.dir = MakeWorkFolder(base, error);
    if (!state.dir.empty()) {
      state.error.clear();
      state.base = base;
      RegisterCleanup(state);
      return state.dir;
    }
    errors += (errors.empty() ? "" : "; ") + error;
  }
  state.error = errors;
  return {};
}

std::string WorkDirectoryError() { return State().error; }

std::string NewWorkDirectory() {
  if (WorkDirectory().empty()) return {};
  WorkState& state = State();
  std::string error;
  std::string dir = MakeWorkFolder(state.base, error);
  if (dir.empty()) return {};
  state.extra.push_back(dir);
  return dir;
}

void FreeWorkDirectory(const std::string& dir) {
  WorkState& state = State();
  for (std::size_t i = 0; i < state.extra.size(); ++i) {
    if (state.extra[i] != dir) continue;
    RemoveFolder(dir);
    ForgetSignalFolder(dir);
    if (i + 1 < state.lock_fds.size()) {
      close(state.lock_fds[i + 1]);
      state.lock_fds.erase(state.lock_fds.begin() + static_cast<std::ptrdiff_t>(i + 1));
    }
    state.extra.erase(state.extra.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void RemoveWorkFoldersNow() {
  // Only system calls: opendir and readdir may allocate, which a signal handler must not.
  alignas(8) static char entries[8192];
  const std::size_t count = g_signal_folder_count.load();
  for (std::size_t i = 0; i < count; ++i) {
    const int dir = open(g_signal_folders[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) continue;
    for (;;) {
      const long n = syscall(SYS_getdents64, dir, entries, sizeof entries);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        const auto* e = reinterpret_cast<const struct dirent64*>(entries + at);
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
          unlinkat(dir, e->d_name, 0);
        }
        at += e->d_reclen;
      }
    }
    close(dir);
    rmdir(g_signal_folders[i]);
  }
}

namespace {
bool g_standard_closed[3] = {false, false, false};
}

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    g_standard_closed[fd] = true;
    const int opened = open("/dev/null", O_RDONLY);  // the lowest free number: this one
    if (opened >= 0 && opened != fd) close(opened);
  }
}

bool StandardDescriptorWasClosed(int fd) { return fd >= 0 && fd <= 2 && g_standard_closed[fd]; }

std::optional<std::string> CurrentDirectory() {
  std::vector<char> buf(4096);
  if (getcwd(buf.data(), buf.size()) == nullptr) return std::nullopt;
  return std::string(buf.data());
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {
// The folder resolved (absolute, every link on it followed, as far as it exists) and the last
// name as given: where a file of that name is, or would be made. A last name that is a link is
// followed first, as opening it for writing would.
std::string ResolvedPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path given = std::filesystem::path(FollowLinks(path));
  std::filesystem::path absolute = std::filesystem::absolute(given, error).lexically_normal();
  if (error) return path;
  if (absolute.filename().empty()) absolute = absolute.parent_path();  // "dir/" names "dir"
  std::filesystem::path folder = absolute.parent_path();
  const std::filesystem::path name = absolute.filename();
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, error);
  if (!error) folder = resolved;
  return (folder / name).string();
}
}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {};
  struct stat sb {};
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return ResolvedPath(a) == ResolvedPath(b);
}

std::string ErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text != nullptr ? text : "error " + std::to_string(error);
}

int OpenOwnFile(const std::string& path, int flags, std::string& why) {
  // Emptied only once it is known to be ours: another user's file must keep its bytes.
  const bool truncate = (flags & O_TRUNC) != 0;
  const int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  struct stat st {};
  if (fd < 0) {
    const int error = errno;
    why = ErrorText(error);
    if (error == ELOOP || (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
      why = "a symbolic link";
    } else if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      why = "not a regular file";  // a socket, or a FIFO nobody reads (ENXIO)
    }
    errno = why == ErrorText(error) ? error : EPERM;
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    why = S_ISREG(st.st_mode) ? "another user's file" : "not a regular file";
    close(fd);
    errno = EPERM;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (truncate && ftruncate(fd, 0) != 0) {
    why = ErrorText(errno);
    close(fd);
    return -1;
  }
  return fd;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string CreateUniqueFile(const std::string& prefix) {
  std::string path = prefix + "XXXXXX";
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  // mkstemp gives 0600; a file the user keeps gets the permissions any other new file would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return path;
}

CopyResult CopyFile(const std::string& from, const std::string& to, std::uint64_t max_bytes) {
  // Without waiting: a FIFO would wait for a writer.
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return CopyResult::kFailed;
  struct stat st {};
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return CopyResult::kFailed;
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  std::string why;
  const int out = OpenOwnFile(to, O_WRONLY | O_CREAT | O_TRUNC, why);
  if (out < 0) {
    close(in);
    return CopyResult::kFailed;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  bool too_large = false;
  std::uint64_t copied = 0;
  for (;;) {
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (static_cast<std::uint64_t>(n) > max_bytes - copied) {
      ok = false;
      too_large = true;
      break;
    }
    copied += static_cast<std::uint64_t>(n);
    const char* p = buffer.data();
    std::size_t left = static_cast<std::size_t>(n);
    while (ok && left > 0) {
      const ssize_t w = write(out, p, left);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        ok = false;
      else {
        p += w;
        left -= static_cast<std::size_t>(w);
      }
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) unlink(to.c_str());
  if (too_large) return CopyResult::kTooLarge;
  return ok ? CopyResult::kCopied : CopyResult::kFailed;
}

}  // namespace platform
