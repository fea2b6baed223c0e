// Result files that change only when the work that makes them is complete: the new content goes
// into a hidden file beside the final one, which is flushed to the disk and renamed over it in one
// step, so the file always holds either its old content or the new one, never a mix, whatever
// happens to the process or the machine meanwhile.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The hidden file of a replacement in progress: "." + the file's name + this + six random
// characters, in the file's folder. Locked (flock) by its writer for as long as it is written.
inline constexpr const char* kReplacementInfix = ".boxtally-";

struct Replacement {
  std::string target;  // the file replaced: the path given, with every symbolic link followed
  std::string temp;    // the new file beside it; empty when no replacement is in progress
  int fd = -1;         // the new file, open for writing and locked
  // The old file's extended attributes the new one could not take, as "NAME: reason".
  std::vector<std::string> attributes_not_kept;
};

// Starts replacing `path`: makes the new file in the folder of its final target, with what
// `cp --preserve=all` keeps of the file it replaces: its extended attributes (its ACL among
// them), its exact mode and, where the user may set it, its owner; a new file gets 0666 less the
// umask. With `keep_content` the old bytes are copied in first (cloned where the file system
// can), and the new file is positioned at their end. With `signal_slot`, the new file is
// registered for removal by a signal that ends the process (RegisterRemoveOnSignal) before such
// a signal can see it; the slot is the caller's to give back. False, with errno set and nothing
// made, when the new file cannot be made or the old bytes cannot be copied.
bool BeginReplacement(const std::string& path, bool keep_content, Replacement& out,
                      int* signal_slot = nullptr);

// Makes the new file the target: its bytes and the rename reach the disk before this returns
// (fsync of the file, then of the folder). False, with errno set, when any step failed: the new
// file is removed and the target left as it was. `cancelled`, when given, is asked once the
// bytes are on the disk, right before the rename: true abandons the replacement (errno
// ECANCELED). The descriptor is closed either way.
bool CommitReplacement(Replacement& replacement, const std::function<bool()>& cancelled = {});

// Removes the new file and closes it; the target stays as it was. Accepts an empty record.
void AbandonReplacement(Replacement& replacement);

// Copies the bytes of `from`, a regular file read from its start, into `to`: a new, empty file
// (where the file system can, the two share the blocks) or a stream. False, with errno set, when a
// byte could not be read or written.
bool CopyContent(int from, int to);

// Replaces the content of `path` with `bytes` in one step, as the three calls above do.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);
// The same for a file of the program's own (see OpenOwnFile): the new file takes the name itself,
// never a link's target, and only where nothing but a regular file of this user's stands. False
// with `why` set otherwise, the name left alone.
bool ReplaceOwnFile(const std::string& path, std::string_view bytes, std::string& why);

// Removes what killed writers left beside `path`: files named exactly as a replacement of it
// ("." NAME kReplacementInfix + six characters), owned by this user and locked by no one.
void RemoveReplacementLeftovers(const std::string& path);

// The file `path` names once every symbolic link on it is followed (at most 40 links; the last
// path reached when a link points nowhere or the bound is passed).
std::string FollowLinks(const std::string& path);

}  // namespace platform
