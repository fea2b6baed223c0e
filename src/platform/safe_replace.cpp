#include "platform/safe_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/paths.h"
#include "platform/termination.h"

namespace platform {

namespace {
constexpr int kMaxLinks = 40;            // as the kernel's own bound on a path
constexpr std::size_t kRandomChars = 6;  // the XXXXXX of mkstemp

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Prefix(const std::string& target) {
  const std::string hidden = "." + NameOf(target) + kReplacementInfix;
  if (target.find('/') == std::string::npos) return hidden;
  const std::string folder = FolderOf(target);
  return (folder == "/" ? folder : folder + "/") + hidden;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the hidden file, locked before it takes a name of the leftover form: a run that looks
// for leftovers must never find a live writer's file unlocked.
bool MakeLockedTemp(const std::string& prefix, std::string& temp, int& fd) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string unnamed = prefix + "XXXXXX.new";
    fd = mkostemps(unnamed.data(), 4, O_CLOEXEC);
    if (fd < 0) return false;
    temp = unnamed.substr(0, unnamed.size() - 4);
    if (flock(fd, LOCK_EX) == 0 &&
        renameat2(AT_FDCWD, unnamed.c_str(), AT_FDCWD, temp.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    const int error = errno;
    unlink(unnamed.c_str());
    close(fd);
    fd = -1;
    if (error != EEXIST) {
      errno = error;
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

void SyncFolder(const std::string& folder, bool& ok) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;  // the rename itself is done; only its durability is not confirmed
  if (fsync(dir) != 0 && errno != EINVAL) ok = false;
  close(dir);
}

bool IsLeftoverName(const std::string& entry, const std::string& lead) {
  if (entry.size() != lead.size() + kRandomChars || entry.compare(0, lead.size(), lead) != 0) {
    return false;
  }
  for (std::size_t i = lead.size(); i < entry.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(entry[i]);
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
      return false;
    }
  }
  return true;
}
}  // namespace

// A clone shares the blocks (instant on btrfs and XFS), else the kernel copies them, else a plain
// read and write loop.
bool CopyContent(int from, int to) {
  if (ioctl(to, FICLONE, from) == 0) return lseek(to, 0, SEEK_END) >= 0;
  for (;;) {
    const ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    break;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
    const ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size() - 1);
    if (n <= 0) return current;
    const std::string link(buffer.data(), static_cast<std::size_t>(n));
    if (link[0] == '/' || current.find('/') == std::string::npos) {
      current = link;
    } else {
      current = FolderOf(current) + "/" + link;
    }
  }
  return current;
}

namespace {
// The old file's extended attributes onto the new one, the ACL (system.posix_acl_access) among
// them. What the file system refuses is noted, and the replacement goes on without it.
void CopyAttributes(int from, int to, std::vector<std::string>& not_kept) {
  std::vector<char> names(1024);
  ssize_t size = 0;
  for (;;) {
    size = flistxattr(from, names.data(), names.size());
    if (size >= 0 || errno != ERANGE) break;
    names.resize(names.size() * 4);
  }
  if (size <= 0) return;  // none, or the file system keeps none
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size;
       name += std::strlen(name) + 1) {
    ssize_t length = fgetxattr(from, name, nullptr, 0);
    if (length >= 0) {
      value.resize(static_cast<std::size_t>(length) + 1);
      length = fgetxattr(from, name, value.data(), value.size());
    }
    if (length < 0 || fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0) != 0) {
      not_kept.push_back(std::string(name) + ": " + ErrorText(errno));
    }
  }
}

bool BeginReplacementOf(const std::string& target, bool keep_content, Replacement& out,
                        int* signal_slot) {
  out = Replacement{};
  out.target = target;
  struct stat old {};
  const int old_fd = open(out.target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const bool has_old = old_fd >= 0 && fstat(old_fd, &old) == 0 && S_ISREG(old.st_mode);
  int fd = -1;
  HoldImmediateEnd();  // the new file exists from here, and a signal must know it
  bool made = MakeLockedTemp(Prefix(out.target), out.temp, fd);
  int error = errno;
  if (made && signal_slot != nullptr) *signal_slot = RegisterRemoveOnSignal(out.temp);
  ReleaseImmediateEnd();
  if (!made) {
    if (old_fd >= 0) close(old_fd);
    out.temp.clear();
    errno = error;
    return false;
  }
  out.fd = fd;
  bool ok = true;
  if (has_old) {
    // The owner first: changing it may clear set-id bits that the mode then restores. The mode
    // last: setting an ACL sets the permission bits from it.
    (void)!fchown(fd, old.st_uid, old.st_gid);  // where it is not ours to give, ours stays
    CopyAttributes(old_fd, fd, out.attributes_not_kept);
    ok = fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && keep_content) ok = CopyContent(old_fd, fd);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    ok = fchmod(fd, 0666 & ~mask) == 0;
  }
  error = errno;
  if (old_fd >= 0) close(old_fd);
  if (!ok) {
    AbandonReplacement(out);
    errno = error;
    return false;
  }
  return true;
}
}  // namespace

bool BeginReplacement(const std::string& path, bool keep_content, Replacement& out,
                      int* signal_slot) {
  return BeginReplacementOf(FollowLinks(path), keep_content, out, signal_slot);
}

bool CommitReplacement(Replacement& r, const std::function<bool()>& cancelled) {
  if (r.fd < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = fsync(r.fd) == 0;
  int error = errno;
  // Asked after the fsync, which may take seconds: a stop that came meanwhile still counts.
  if (ok && cancelled && cancelled()) {
    ok = false;
    error = ECANCELED;
  }
  if (ok && rename(r.temp.c_str(), r.target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    AbandonReplacement(r);
    errno = error;
    return false;
  }
  SyncFolder(FolderOf(r.target), ok);
  error = errno;
  close(r.fd);
  r.fd = -1;
  r.temp.clear();
  errno = error;
  return ok;
}

void AbandonReplacement(Replacement& r) {
  if (!r.temp.empty()) unlink(r.temp.c_str());
  if (r.fd >= 0) close(r.fd);
  r.fd = -1;
  r.temp.clear();
}

namespace {
bool WriteAndCommit(Replacement& r, std::string_view bytes) {
  if (!WriteAll(r.fd, bytes.data(), bytes.size())) {
    const int error = errno;
    AbandonReplacement(r);
    errno = error;
    return false;
  }
  return CommitReplacement(r);
}
}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes) {
  Replacement r;
  if (!BeginReplacement(path, /*keep_content=*/false, r)) return false;
  return WriteAndCommit(r, bytes);
}

bool ReplaceOwnFile(const std::string& path, std::string_view bytes, std::string& why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) why = "a symbolic link";
    else if (!S_ISREG(st.st_mode)) why = "not a regular file";
    else if (st.st_uid != geteuid()) why = "another user's file";
    if (!why.empty()) return false;
  }
  Replacement r;
  int slot = -1;
  const bool ok = BeginReplacementOf(path, /*keep_content=*/false, r, &slot) &&
                  WriteAndCommit(r, bytes);
  if (!ok) why = ErrorText(errno);
  UnregisterRemoveOnSignal(slot);
  return ok;
}

void RemoveReplacementLeftovers(const std::string& path) {
  const std::string target = FollowLinks(path);
  const std::string folder = FolderOf(target);
  const std::string lead = "." + NameOf(target) + kReplacementInfix;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return;
  const int dir_fd = dirfd(d);
  while (const dirent* e = readdir(d)) {
    if (!IsLeftoverName(e->d_name, lead)) continue;
    const int fd = openat(dir_fd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      unlinkat(dir_fd, e->d_name, 0);
    }
    close(fd);
  }
  closedir(d);
}

}  // namespace platform
