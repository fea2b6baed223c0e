// The registry of a run. A registry file changes only when the run completes: its lines go into a
// new hidden file beside it, which takes the registry's place in one step at the end (after the
// old content, when appending). A stopped, failed or killed run leaves the old registry as it
// was; its lines go into the new file in batches of up to 64 KiB. Standard output, pipes and
// devices have nothing to replace: they are written as the run goes, at the end of every model
// file (of every model on a terminal). Two runs never write one registry at once: a run holds a lock on a companion file,
// ".NAME.lock" beside the registry, which outlives the replacement of the registry itself.
#pragma once

#include <functional>
#include <string>

#include "boxtally/driver/run_arguments.h"
#include "platform/safe_replace.h"
#include "platform/text_file.h"

namespace driver {

inline constexpr const char* kRegistryLockSuffix = ".lock";  // ".NAME" + this, beside NAME

struct RegistryOutput {
  std::string name;            // as the run options name it; kStandardOutputName for none
  platform::TextFilePtr file;  // where the run writes its lines
  bool replacing = false;      // a file, replaced when the run completes
  bool begun = false;          // its replacement was begun (and may have been abandoned)
  bool replaced = false;       // ...and so it was: CommitRegistry replaced it
  platform::Replacement replacement;
  std::string lock_path;
  int lock_fd = -1;
  int removed_on_signal[2] = {-1, -1};  // the lock and the new file, if the process is ended
  std::string why;  // kUnopenable: the reason, as the log line gives it
};

enum class RegistryOpen { kOk, kUnopenable, kLocked, kReadOnly };

// Opens the registry the options name (standard output when none): locks it, removes what killed
// runs left beside it, and starts its replacement, which keeps the old file's attributes (those
// the file system refuses are logged). Logs "Unable to create/append output file %s (%s)" with
// the reason, "Output file %s is in use by another run" or "Output file %s is read-only" when it
// cannot; nothing is changed then. The lock must be a regular file of this user's: a link, a FIFO
// or another user's file at its name is left alone, and the registry unopenable.
RegistryOpen OpenRegistryOutput(const RunOptions& options, platform::TextFile& log,
                                RegistryOutput& out);

enum class RegistryCommit { kCommitted, kFailed, kStopped };

// The end of a completed run: the new file, flushed to the disk, takes the registry's place.
// kFailed after "Unable to write to output file %s" when any byte or the replacement failed;
// kStopped when `stopped` says so right before the replacement (asked only for a registry file):
// the registry keeps its old content then. Releases the lock.
RegistryCommit CommitRegistry(RegistryOutput& registry, platform::TextFile& log,
                              const std::function<bool()>& stopped);

// Any other end: the new file is removed, the registry keeps its old content, the lock goes.
// Accepts a registry that was never opened, and one already committed.
void AbandonRegistry(RegistryOutput& registry);

}  // namespace driver
