// Starting a program and waiting for its end.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class SpawnError { kNone, kNotFound, kNoMemory, kInvalidArgument, kArgListTooLong,
                        kExecFormat, kOther };

struct ProcessResult {
  int status = -1;  // the exit status; -1 when the program could not be started
  SpawnError error = SpawnError::kNone;
  int error_number = 0;  // errno of a failed start
};

// Runs `program` with `args` (args[0] is the program's own name) in the current directory,
// waits without a time limit and returns its exit status. The child's standard output is
// discarded: it must not run into a registry written to our own standard output. A child killed by a signal gives
// 128 + the signal number, which is never 0.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args);

}  // namespace platform
