#include "boxtally/driver/registry_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "boxtally/driver/batch_main.h"
#include "platform/paths.h"
#include "platform/termination.h"

namespace driver {

namespace {
std::string LockPathOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + name + kRegistryLockSuffix;
}

// Takes the lock on `path`. A run that ends removes its lock file; one that opened the file just
// before that holds a lock on a name that is gone, and takes the new file's instead.
int TakeLock(const std::string& path, bool* locked) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      *locked = errno == EWOULDBLOCK;
      close(fd);
      return -1;
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd);
  }
  return -1;
}

void ReleaseLock(RegistryOutput& r) {
  if (r.lock_fd < 0) return;
  unlink(r.lock_path.c_str());  // before the lock goes: nobody may take a lock on a dying name
  close(r.lock_fd);
  r.lock_fd = -1;
  for (int& slot : r.removed_on_signal) {
    platform::UnregisterRemoveOnSignal(slot);
    slot = -1;
  }
}

// Pipes, devices and the like are written as a stream, as before: nothing can replace them.
bool IsStreamTarget(const std::string& target) {
  struct stat st {};
  return stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// Lines going to a stream wait in a batch until the end of each model file, and a terminal's
// until the end of each model: whoever watches sees every model as soon as it is measured.
void BatchStreamWrites(platform::TextFile& file) {
  platform::BatchWrites(file, platform::IsTerminal(file) ? platform::FlushPoint::kModelEnd
                                                         : platform::FlushPoint::kFileEnd);
}

RegistryOpen OpenStream(const RunOptions& options, platform::TextFile& log, RegistryOutput& out) {
  bool locked = false;
  out.file.reset(
      platform::OpenLockedTextFile(options.registry_name, options.registry_mode, &locked));
  if (out.file != nullptr) {
    BatchStreamWrites(*out.file);
    return RegistryOpen::kOk;
  }
  platform::LogF(log, "Unable to create/append output file %s\n", options.registry_name.c_str());
  return RegistryOpen::kUnopenable;
}

// The new file behind a text stream of its own (the replacement keeps its descriptor).
bool WrapReplacement(RegistryOutput& out) {
  // Close-on-exec, as the replacement's own: a converter started during the run must not hold
  // the new file, nor with it the lock that tells a live run's file from a killed run's.
  const int fd = fcntl(out.replacement.fd, F_DUPFD_CLOEXEC, 0);
  std::FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (f == nullptr) {
    if (fd >= 0) close(fd);
    return false;
  }
  out.file.reset(new platform::TextFile{f, true, true});
  // Nobody reads the new file before it replaces the registry: its lines go out as batches fill.
  platform::BatchWrites(*out.file, platform::FlushPoint::kClose);
  // Appended lines start on a line of their own, even after a registry whose last line lacks
  // its line end.
  struct stat st {};
  if (fstat(out.replacement.fd, &st) != 0) return false;
  char last = '\n';
  if (st.st_size > 0 && pread(out.replacement.fd, &last, 1, st.st_size - 1) != 1) return false;
  if (last != '\n') platform::WriteText(*out.file, "\n");
  return true;
}
}  // namespace

RegistryOpen OpenRegistryOutput(const RunOptions& options, platform::TextFile& log,
                                RegistryOutput& out) {
  if (!options.registry_named) {
    out.name = kStandardOutputName;
    out.file.reset(platform::WrapStream(stdout, /*crlf=*/true));
    BatchStreamWrites(*out.file);
    return RegistryOpen::kOk;
  }
  out.name = options.registry_name;
  const std::string target = platform::FollowLinks(options.registry_name);
  if (IsStreamTarget(target)) return OpenStream(options, log, out);
  out.lock_path = LockPathOf(target);
  bool locked = false;
  out.lock_fd = TakeLock(out.lock_path, &locked);
  if (out.lock_fd < 0) {
    if (locked) {
      platform::LogF(log, "Output file %s is in use by another run\n", out.name.c_str());
      return RegistryOpen::kLocked;
    }
    platform::LogF(log, "Unable to create/append output file %s\n", out.name.c_str());
    return RegistryOpen::kUnopenable;
  }
  out.removed_on_signal[0] = platform::RegisterRemoveOnSignal(out.lock_path);
  platform::RemoveReplacementLeftovers(target);
  const bool append = options.registry_mode == platform::OpenMode::kAppend;
  if (platform::IsDirectory(target) ||
      !platform::BeginReplacement(target, append, out.replacement) || !WrapReplacement(out)) {
    platform::LogF(log, "Unable to create/append output file %s\n", out.name.c_str());
    AbandonRegistry(out);
    return RegistryOpen::kUnopenable;
  }
  out.removed_on_signal[1] = platform::RegisterRemoveOnSignal(out.replacement.temp);
  out.replacing = true;
  out.begun = true;
  return RegistryOpen::kOk;
}

bool CommitRegistry(RegistryOutput& r, platform::TextFile& log) {
  bool ok = true;
  if (r.file != nullptr) {
    ok = platform::FlushTextFile(*r.file);
    if (r.replacing) {
      ok = std::fclose(r.file->file) == 0 && ok;
      r.file->file = nullptr;
    }
    r.file.reset();
  }
  if (r.replacing) ok = ok && platform::CommitReplacement(r.replacement);
  r.replaced = ok && r.replacing;
  if (!ok) platform::LogF(log, "Unable to write to output file %s\n", r.name.c_str());
  AbandonRegistry(r);
  return ok;
}

void AbandonRegistry(RegistryOutput& r) {
  if (r.replacing && r.file != nullptr && r.file->file != nullptr) {
    std::fclose(r.file->file);
    r.file->file = nullptr;
  }
  r.file.reset();
  platform::AbandonReplacement(r.replacement);
  r.replacing = false;
  ReleaseLock(r);
}

}  // namespace driver
