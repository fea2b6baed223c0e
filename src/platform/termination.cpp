#include "platform/termination.h"

#include <signal.h>

#include <csignal>

namespace platform {

namespace {
volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_child_group = 0;

void OnTermination(int signal_number) {
  if (g_signal != 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_signal = signal_number;
  if (g_child_group > 0) kill(-static_cast<pid_t>(g_child_group), SIGKILL);
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

void SetRunningChildGroup(pid_t group) {
  g_child_group = group;
  // A signal that came between the spawn and this line found no group to end.
  if (group > 0 && g_signal != 0) kill(-group, SIGKILL);
}

}  // namespace platform
