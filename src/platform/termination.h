// SIGTERM and SIGHUP (and, for a terminal, SIGINT) as a stop request: the run ends after the
// model in progress, converters that are running are ended at once, and the process exits
// normally, so its work folders and its unfinished files go. A second such signal ends the
// process at once, after the same clean-up.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

inline constexpr int kMaxChildGroups = 64;  // children waited for at the same time

// Installs the handlers; with `interrupt`, for SIGINT (Ctrl-C) too.
void InstallTerminationHandlers(bool interrupt = false);

// The stop signal received (SIGTERM, SIGHUP, SIGINT), or 0.
int TerminationSignal();

// Registers the process group of a child we wait for, so the handler can end it; returns the
// slot to give back, or -1 when every slot is taken (the child is then not ended by a signal).
// Ends the group at once when a termination signal has already come.
int RegisterChildGroup(pid_t group);
void UnregisterChildGroup(int slot);

// Files that a signal which ends the process at once (a second termination signal, a second
// Ctrl-C) removes first: downloads still coming in. Returns the slot to give back, or -1 when
// every slot is taken or the path is too long (the file then stays).
inline constexpr int kMaxRemovedFiles = 64;
int RegisterRemoveOnSignal(const std::string& path);
void UnregisterRemoveOnSignal(int slot);
// Removes the registered files; safe in a signal handler.
void RemoveRegisteredFiles();

// Between making a file and registering it, a signal that ends the process at once would leave
// the file behind: such a signal waits until the last of these windows closes, and the process
// ends then. Any thread may hold one; they nest.
void HoldImmediateEnd();
void ReleaseImmediateEnd();

}  // namespace platform
