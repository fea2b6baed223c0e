// Program directory, private work directory, current directory and small file operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Directory of the running executable, ending with '/'. Empty when it cannot be found.
std::string ProgramDirectory();

// This process's private work directory, ending with '/': made with mkdtemp (mode 0700) under
// $TMPDIR when that is an absolute path where a folder can be made, else under /tmp. Made on first
// use and removed, with the work files in it, when the process exits normally. Work folders that
// earlier processes left behind when they died are removed at the same moment. Empty when no
// private folder can be made anywhere: callers must then refuse to run, never fall back to the
// current directory.
std::string WorkDirectory();

// The reason the last WorkDirectory() call returned empty, for the user.
std::string WorkDirectoryError();

// Another private folder of this process, made and removed as WorkDirectory's is (one for each
// worker that measures models beside the first). Empty when it cannot be made. Not to be called
// from two threads at once.
std::string NewWorkDirectory();
// Removes a folder NewWorkDirectory made, with its files, before the process ends.
void FreeWorkDirectory(const std::string& dir);
// Removes this process's work folders and their files at once; safe in a signal handler (for a
// signal that ends the process before its exit handlers run).
void RemoveWorkFoldersNow();

std::optional<std::string> CurrentDirectory();

// Opens /dev/null, read only, on each of descriptors 0, 1 and 2 that is closed, so no file the
// program opens takes a standard stream's number, and a write to a closed standard output or
// error fails (and is reported) instead of going into that file.
void ReserveStandardDescriptors();
// Whether ReserveStandardDescriptors found descriptor `fd` (0, 1 or 2) closed.
bool StandardDescriptorWasClosed(int fd);

bool FileExists(const std::string& path);
bool IsRegularFile(const std::string& path);  // follows symlinks; false when missing
bool IsDirectory(const std::string& path);
bool RemoveFile(const std::string& path);                         // true when the file was removed
bool RenameFile(const std::string& from, const std::string& to);  // replaces `to`
// Whether two names name one file: the same device and inode when both exist, else the same
// path once resolved: the folder made absolute with every link on it followed, then the last
// name (itself followed where it is a link), so "n1.txt", "./n1.txt" and "sub/../n1.txt" are one
// file before it exists.
bool SameFile(const std::string& a, const std::string& b);

// The system's text for an error number, in English whatever the locale: log lines are English,
// also in the window's French session.
std::string ErrorText(int error);

// The program's own files (the lock beside a registry, the records beside a list, work files)
// are used only as regular files of this user's: opened without following a symbolic link and
// without waiting on a FIFO. The descriptor (close-on-exec, blocking again), or -1 with `why`
// telling what stands at the name ("a symbolic link", "not a regular file", "another user's
// file": errno EPERM) or the system's reason (errno kept). `flags` as for open(2); a file it
// makes gets 0666 less the umask, and O_TRUNC empties only a file found to be ours.
int OpenOwnFile(const std::string& path, int flags, std::string& why);

// Creates a new, empty file named `prefix` followed by six random characters, never an existing
// file or a link (the mode 0666 less the umask, as fopen would give). Returns its path, or the
// empty text when none could be made.
std::string CreateUniqueFile(const std::string& prefix);

enum class CopyResult { kCopied, kFailed, kTooLarge };
// Copies the file's bytes to `to` (created or truncated, mode 0600). kFailed when a byte could
// not be read or written, kTooLarge when there are more than `max_bytes` (a device or a file
// that keeps growing ends there too); a partial copy is removed again.
CopyResult CopyFile(const std::string& from, const std::string& to, std::uint64_t max_bytes);

}  // namespace platform
