// The terminal's last line and exit status, from a run's results.
#include "boxtally/cli/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using driver::Fate;
using driver::Reason;
using driver::RunEnd;

namespace {
struct Models {
  Fate fate;
  Reason reason;
  int count;
};

driver::RunOutcome Outcome(RunEnd end, const std::vector<Models>& models, double seconds = 0.4) {
  driver::RunOutcome outcome;
  outcome.end = end;
  outcome.result = end == RunEnd::kCompleted || end == RunEnd::kStopped ? 0 : 1;
  outcome.seconds = seconds;
  for (const Models& m : models) {
    for (int i = 0; i < m.count; ++i) {
      driver::ModelOutcome one;
      one.fate = m.fate;
      one.reason = m.reason;
      outcome.results.push_back(one);
    }
  }
  return outcome;
}
}  // namespace

TEST(CliSummary, CountsEveryFateThatOccurred) {
  struct Case {
    driver::RunOutcome outcome;
    bool web;
    std::string line;
    int exit_status;
  };
  const Case cases[] = {
      {Outcome(RunEnd::kCompleted,
               {{Fate::kMeasured, Reason::kNone, 1998},
                {Fate::kFailed, Reason::kArchiveTruncated, 2},
                {Fate::kSkippedHuge, Reason::kNone, 3},
                {Fate::kEmpty, Reason::kNone, 1},
                {Fate::kNoModel, Reason::kNone, 2},
                {Fate::kNotModelFile, Reason::kNone, 1}},
               3.44),
       false,
       "done: 1998 models measured, 2 failed, 3 skipped as too large, 1 empty model, "
       "2 archives without a model, 1 file without a model (3.4 s)",
       0},
      // The web: missing entries are the list's fault; the others the server's, and exit 3.
      {Outcome(RunEnd::kCompleted,
               {{Fate::kMeasured, Reason::kNone, 47}, {Fate::kMissingOnServer, Reason::kHttpStatus, 3}}),
       true, "done: 47 models measured, 3 missing on the server (0.4 s)", 0},
      {Outcome(RunEnd::kCompleted,
               {{Fate::kMeasured, Reason::kNone, 24},
                {Fate::kNotDownloaded, Reason::kConnectionFailed, 23},
                {Fate::kRefused, Reason::kNameTooLong, 1}}),
       true,
       "done: 24 models measured, 23 not downloaded (server unreachable), 1 refused (name too "
       "long) (0.4 s)",
       3},
      {Outcome(RunEnd::kCompleted,
               {{Fate::kMeasured, Reason::kNone, 1},
                {Fate::kNotDownloaded, Reason::kTimedOut, 1},
                {Fate::kNotDownloaded, Reason::kCertificateRefused, 1}}),
       true, "done: 1 model measured, 2 not downloaded (0.4 s)", 3},
      {Outcome(RunEnd::kStopped,
               {{Fate::kMeasured, Reason::kNone, 12}, {Fate::kNotReached, Reason::kRunStopped, 38}}),
       true, "stopped after 12 of 50: 12 models measured, 38 not reached (0.4 s)", 0},
      {Outcome(RunEnd::kMeasurementAbort,
               {{Fate::kMeasured, Reason::kNone, 1},
                {Fate::kFailed, Reason::kMeasurementLimit, 1},
                {Fate::kNotReached, Reason::kRunEndedEarly, 1}}),
       false, "ended early after 2 of 3: 1 model measured, 1 failed, 1 not reached (0.4 s)", 1},
      // Nothing reached: the reason line says it all.
      {Outcome(RunEnd::kNoMatch, {}), false, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(cli::SummaryLine(c.outcome), c.line);
    EXPECT_EQ(cli::ExitStatusOf(c.outcome, c.web), c.exit_status);
  }
}
