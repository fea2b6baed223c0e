#include "boxtally/driver/registry_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

// Takes the lock on `path`, a regular file of this user's (never a link, a FIFO or another's
// file planted at its name). A run that ends removes its lock file; one that opened the file
// just before that holds a lock on a name that is gone, and takes the new file's instead. -1
// with `why` when it cannot, and `*locked` true when another run holds it.
int TakeLock(const std::string& path, bool* locked, std::string& why) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int fd = platform::OpenOwnFile(path, O_RDWR | O_CREAT, why);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      *locked = error == EWOULDBLOCK;
      why = platform::ErrorText(error);
      close(fd);
      errno = error;
      return -1;
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return fd;
    }
    close(fd);
  }
  why = "it keeps changing";
  errno = EAGAIN;
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

RegistryOpen Unopenable(platform::TextFile& log, RegistryOutput& out, const std::string& why) {
  out.why = why;
  platform::LogF(log, "Unable to create/append output file %s (%s)\n", out.name.c_str(),
                 why.c_str());
  return RegistryOpen::kUnopenable;
}

// Lines going to a stream wait in a batch until the end of each model file, and a terminal's
// until the end of each model: whoever watches sees every model as soon as it is measured.
void BatchStreamWrites(platform::TextFile& file) {
  platform::BatchWrites(file, platform::IsTerminal(file) ? platform::FlushPoint::kModelEnd
                                                         : platform::FlushPoint::kFileEnd);
}

// Pipes, devices and the like are written as a stream, as before: nothing can replace them.
RegistryOpen OpenStream(const RunOptions& options, platform::TextFile& log, RegistryOutput& out) {
  out.file.reset(platform::OpenStreamOutput(options.registry_name, /*crlf=*/true));
  if (out.file == nullptr) return Unopenable(log, out, platform::OutputOpenError(errno));
  BatchStreamWrites(*out.file);
  return RegistryOpen::kOk;
}

// A registry the user made read-only (its mode, an immutable attribute, a read-only mount) is
// theirs to keep: a replacement would go through the folder's permissions and drop the file's
// own. (Root may write a file of any mode, and so may replace it.)
bool IsReadOnly(const std::string& target) {
  return platform::IsRegularFile(target) &&
         faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 &&
         (errno == EACCES || errno == EROFS || errno == EPERM);
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
  if (platform::IsStreamOutput(target)) return OpenStream(options, log, out);
  if (platform::IsDirectory(target)) return Unopenable(log, out, platform::ErrorText(EISDIR));
  if (IsReadOnly(target)) {
    platform::LogF(log, "Output file %s is read-only\n", out.name.c_str());
    return RegistryOpen::kReadOnly;
  }
  out.lock_path = LockPathOf(target);
  bool locked = false;
  std::string why;
  platform::HoldImmediateEnd();  // the lock may be made here: a signal must know it
  out.lock_fd = TakeLock(out.lock_path, &locked, why);
  const int lock_error = errno;
  if (out.lock_fd >= 0) out.removed_on_signal[0] = platform::RegisterRemoveOnSignal(out.lock_path);
  platform::ReleaseImmediateEnd();
  if (out.lock_fd < 0) {
    if (locked) {
      platform::LogF(log, "Output file %s is in use by another run\n", out.name.c_str());
      return RegistryOpen::kLocked;
    }
    // The folder's refusal is the registry's own; a refused lock file is named.
    return Unopenable(log, out, lock_error == EPERM ? "the lock " + out.lock_path + " is " + why : why);
  }
  platform::RemoveReplacementLeftovers(target);
  const bool append = options.registry_mode == platform::OpenMode::kAppend;
  if (!platform::BeginReplacement(target, append, out.replacement, &out.removed_on_signal[1]) ||
      !WrapReplacement(out)) {
    const int error = errno;
    AbandonRegistry(out);
    return Unopenable(log, out, platform::ErrorText(error));
  }
  for (const std::string& attribute : out.replacement.attributes_not_kept) {
    platform::LogF(log, "Warning: the registry %s loses its extended attribute %s\n",
                   out.name.c_str(), attribute.c_str());
  }
  out.replacing = true;
  out.begun = true;
  return RegistryOpen::kOk;
}

RegistryCommit CommitRegistry(RegistryOutput& r, platform::TextFile& log,
                              const std::function<bool()>& stopped) {
  bool ok = true;
  if (r.file != nullptr) {
    ok = platform::FlushTextFile(*r.file);
    if (r.replacing) {
      ok = std::fclose(r.file->file) == 0 && ok;
      r.file->file = nullptr;
    }
    r.file.reset();
  }
  bool cancelled = false;
  if (r.replacing && ok) {
    ok = platform::CommitReplacement(r.replacement, [&] { return cancelled = stopped(); });
  }
  r.replaced = ok && r.replacing;
  if (!ok && !cancelled) platform::LogF(log, "Unable to write to output file %s\n", r.name.c_str());
  AbandonRegistry(r);
  if (cancelled) return RegistryCommit::kStopped;
  return ok ? RegistryCommit::kCommitted : RegistryCommit::kFailed;
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
