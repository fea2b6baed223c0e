// SIGTERM and SIGHUP as a stop request: the run ends after the model in progress, a converter
// that is running is ended at once, and the process exits normally, so its work folder goes.
#pragma once

#include <sys/types.h>

namespace platform {

// Installs the handlers. A second termination signal ends the process at once.
void InstallTerminationHandlers();

// The termination signal received (SIGTERM or SIGHUP), or 0.
int TerminationSignal();

// The process group of the child we are waiting for (0: none). The handler ends that group.
void SetRunningChildGroup(pid_t group);

}  // namespace platform
