// What the front ends tell the user about a finished run: which endings they explain, and the
// run's time as text. The words are each front end's own (the terminal's English, the window's
// French); which endings need words is decided here, once, for both.
#pragma once

#include <string>

#include "boxtally/driver/batch_main.h"

namespace driver {

// True for every ending but kCompleted and kStopped: the run did not go through its models, its
// result is 1, and the front end says why, naming RunOutcome::about.
bool EndedEarly(RunEnd end);

// True when the driver wrote a log line of its own about the ending, so a front end that shows
// the log as it is written need not say it again.
bool EndingLogged(RunEnd end);

// The time a run took: "0.4 s" (tenths, with `decimal_point`) under a minute, "12 min 05 s" under
// an hour, "2 h 03 min" beyond. Negative times read as 0.
std::string DurationText(double seconds, char decimal_point);

}  // namespace driver
