// What boxtally-cli tells at the end of a run: the summary line and the exit status, both from
// the run's results, so they never disagree with the report.
#pragma once

#include <string>

#include "boxtally/driver/batch_main.h"

namespace cli {

// "done: 47 models measured, 3 missing on the server (1.2 s)", "stopped after 12 of 50: 12
// models measured, 38 not reached (0.4 s)": how the run ended, every fate that occurred (the
// measured ones always, with the reason the models not downloaded or refused share) and the
// time. Empty for a run that ended before any model: its reason says it all.
std::string SummaryLine(const driver::RunOutcome& outcome);

// 0 for a run that went through its models (or was stopped), 1 for one that ended early, 3 for
// a web run that went through but could not download some entries (missing ones, 404 or 410,
// do not count): the server or the network failed it.
int ExitStatusOf(const driver::RunOutcome& outcome, bool web);

}  // namespace cli
