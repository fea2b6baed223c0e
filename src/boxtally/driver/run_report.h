// What the front ends tell the user about a finished run: which endings they explain, and the
// run's time as text. The words are each front end's own (the terminal's English, the window's
// French); which endings need words is decided here, once, for both.
#pragma once

#include <string>

#include "boxtally/driver/batch_main.h"

namespace driver {

// Every way a run can end, so each front end's tests can check that every ending has its words.
inline constexpr RunEnd kRunEnds[] = {
    RunEnd::kCompleted,      RunEnd::kStopped,          RunEnd::kMissingArguments,
    RunEnd::kNoWorkFolder,   RunEnd::kFormatUnreadable, RunEnd::kPatternTooLong,
    RunEnd::kRegistryTwice,  RunEnd::kNoMatch,          RunEnd::kRegistryUnopenable,
    RunEnd::kRegistryLocked, RunEnd::kMeasurementAbort, RunEnd::kRegistryWriteFailed,
    RunEnd::kListUnopenable, RunEnd::kNoWebModel,
};

// True for every ending but kCompleted and kStopped: the run did not go through its models, and
// the front end says why, naming RunOutcome::about.
bool EndedEarly(RunEnd end);

// True when the driver wrote a log line of its own about the ending, so a front end that shows
// the log as it is written need not say it again.
bool EndingLogged(RunEnd end);

// The time a run took: "0.4 s" (tenths, with `decimal_point`) under a minute, "12 min 05 s" under
// an hour, "2 h 03 min" beyond. Negative times read as 0.
std::string DurationText(double seconds, char decimal_point);

}  // namespace driver
