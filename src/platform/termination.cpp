#include "platform/termination.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"

namespace platform {

namespace {
// Lock-free atomics may be used in a signal handler, and read by any thread.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_signal{0};
// 0 marks a free slot.
static_assert(std::atomic<pid_t>::is_always_lock_free);
std::atomic<pid_t> g_child_groups[kMaxChildGroups];

// A slot is free (0), being filled or emptied (1), or names a file (2).
constexpr std::size_t kMaxRemovedPath = 4096;  // bytes, the terminating NUL included
std::atomic<int> g_removed_state[kMaxRemovedFiles];
char g_removed_paths[kMaxRemovedFiles][kMaxRemovedPath];

void EndChildGroups() {
  for (const std::atomic<pid_t>& group : g_child_groups) {
    const pid_t g = group.load();
    if (g > 0) kill(-g, SIGKILL);
  }
}

// Windows in which a file exists that the signal path does not know yet, and the signal that is
// to end the process once they are closed.
std::atomic<int> g_held{0};
std::atomic<int> g_pending_end{0};

void EndNow(int signal_number) {
  RemoveRegisteredFiles();
  RemoveWorkFoldersNow();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void OnTermination(int signal_number) {
  const int saved_errno = errno;  // the interrupted code may be about to read its own
  EndChildGroups();
  if (g_signal.load() != 0) {
    // Noted before the windows are counted, and taken by one side only: the thread that closes
    // the last window at this moment either sees it or leaves the end to this handler.
    g_pending_end.store(signal_number);
    if (g_held.load() == 0 && g_pending_end.exchange(0) != 0) EndNow(signal_number);
    errno = saved_errno;
    return;
  }
  g_signal.store(signal_number);
  errno = saved_errno;
}

void EndChildGroupsAtExit() { EndChildGroups(); }
}  // namespace

void InstallTerminationHandlers(bool interrupt) {
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in progress returns and looks at the flag
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  if (interrupt) sigaction(SIGINT, &action, nullptr);
  static bool registered = false;
  if (!registered) std::atexit(EndChildGroupsAtExit);  // however the program ends normally
  registered = true;
}

int TerminationSignal() { return g_signal.load(); }

int RegisterChildGroup(pid_t group) {
  for (int slot = 0; slot < kMaxChildGroups; ++slot) {
    pid_t expected = 0;
    if (g_child_groups[slot].compare_exchange_strong(expected, group)) {
      // A signal that came before this line found no group to end.
      if (g_signal.load() != 0) kill(-group, SIGKILL);
      return slot;
    }
  }
  return -1;
}

void UnregisterChildGroup(int slot) {
  if (slot >= 0 && slot < kMaxChildGroups) g_child_groups[slot].store(0);
}

int RegisterRemoveOnSignal(const std::string& path) {
  if (path.empty() || path.size() >= kMaxRemovedPath) return -1;
  for (int slot = 0; slot < kMaxRemovedFiles; ++slot) {
    int expected = 0;
    if (!g_removed_state[slot].compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_removed_paths[slot], path.c_str(), path.size() + 1);
    g_removed_state[slot].store(2);
    return slot;
  }
  return -1;
}

void UnregisterRemoveOnSignal(int slot) {
  if (slot < 0 || slot >= kMaxRemovedFiles) return;
  g_removed_state[slot].store(1);
  g_removed_state[slot].store(0);
}

void HoldImmediateEnd() { g_held.fetch_add(1); }

void ReleaseImmediateEnd() {
  if (g_held.fetch_sub(1) != 1) return;
  if (const int signal_number = g_pending_end.exchange(0); signal_number != 0) {
    EndNow(signal_number);
  }
}

void RemoveRegisteredFiles() {
  for (int slot = 0; slot < kMaxRemovedFiles; ++slot) {
    if (g_removed_state[slot].load() == 2) unlink(g_removed_paths[slot]);
  }
}

}  // namespace platform
