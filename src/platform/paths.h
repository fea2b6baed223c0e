// Program directory, private work directory, current directory and small file operations.
#pragma once

#include <optional>
#include <string>

namespace platform {

// Directory of the running executable, ending with '/'. Empty when it cannot be found.
std::string ProgramDirectory();

// This process's private work directory (mkdtemp under $TMPDIR, mode 0700), ending with '/'.
// Made on first use and removed, with the work files in it, when the process exits normally.
// Empty when it cannot be made.
std::string WorkDirectory();

std::optional<std::string> CurrentDirectory();
bool ChangeDirectory(const std::string& dir);

bool FileExists(const std::string& path);
bool RemoveFile(const std::string& path);  // true when the file was removed
bool RenameFile(const std::string& from, const std::string& to);

}  // namespace platform
