#include "platform/termination.h"

#include <signal.h>

#include <atomic>
#include <csignal>

namespace platform {

namespace {
volatile std::sig_atomic_t g_signal = 0;
// Lock-free atomics may be read in a signal handler; 0 marks a free slot.
static_assert(std::atomic<pid_t>::is_always_lock_free);
std::atomic<pid_t> g_child_groups[kMaxChildGroups];

void OnTermination(int signal_number) {
  if (g_signal != 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_signal = signal_number;
  for (const std::atomic<pid_t>& group : g_child_groups) {
    const pid_t g = group.load();
    if (g > 0) kill(-g, SIGKILL);
  }
}
}  // namespace

void InstallTerminationHandlers() {
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in progress returns and looks at the flag
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

int TerminationSignal() { return g_signal; }

int RegisterChildGroup(pid_t group) {
  for (int slot = 0; slot < kMaxChildGroups; ++slot) {
    pid_t expected = 0;
    if (g_child_groups[slot].compare_exchange_strong(expected, group)) {
      // A signal that came before this line found no group to end.
      if (g_signal != 0) kill(-group, SIGKILL);
      return slot;
    }
  }
  return -1;
}

void UnregisterChildGroup(int slot) {
  if (slot >= 0 && slot < kMaxChildGroups) g_child_groups[slot].store(0);
}

}  // namespace platform
