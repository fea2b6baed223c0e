// One batch run: checks the format file, opens the registry, reads the run options, searches the
// models and hands each one to the per-model pipeline.
#pragma once

#include <string>
#include <vector>

#include "boxtally/driver/run_host.h"

namespace driver {

// args: program name, model pattern, format file, run options and registry name (at least 3).
// Returns 0 when the search ran out or a stop request ended the run ("Done!" shown), 1 otherwise
// (format file unreadable, registry problems, nothing matched, a measurement abort).
int BatchMain(RunHost& host, const std::vector<std::string>& args);

}  // namespace driver
