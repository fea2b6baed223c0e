#include "boxtally/cli/summary.h"

#include "boxtally/driver/run_report.h"

namespace cli {

namespace {
// "1 model measured", "0 models measured".
std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}
}  // namespace

std::string SummaryLine(const driver::RunOutcome& outcome) {
  using driver::Fate;
  const driver::FateCounts counts = driver::CountFates(outcome.results);
  const std::size_t reached = counts.Total() - counts[Fate::kNotReached];
  if (driver::EndedEarly(outcome.end) && reached == 0) return {};
  std::string line;
  if (outcome.end == driver::RunEnd::kCompleted) {
    line = "done";
  } else {
    line = outcome.end == driver::RunEnd::kStopped ? "stopped" : "ended early";
    if (reached > 0) line += " after " + std::to_string(reached) + " of " +
                             std::to_string(counts.Total());
  }
  struct Kind {
    Fate fate;
    const char* one;
    const char* many;
    bool with_reason;
  };
  static const Kind kKinds[] = {
      {Fate::kFailed, "failed", "failed", false},
      {Fate::kSkippedHuge, "skipped as too large", "skipped as too large", false},
      {Fate::kEmpty, "empty model", "empty models", false},
      {Fate::kNoModel, "archive without a model", "archives without a model", false},
      {Fate::kNotModelFile, "file without a model", "files without a model", false},
      {Fate::kMissingOnServer, "missing on the server", "missing on the server", false},
      {Fate::kNotDownloaded, "not downloaded", "not downloaded", true},
      {Fate::kRefused, "refused", "refused", true},
      {Fate::kNotReached, "not reached", "not reached", false},
  };
  line += ": " + Counted(counts[Fate::kMeasured], "model measured", "models measured");
  const std::size_t lacking = driver::CountMissingTextures(outcome.results);
  if (lacking > 0) line += " (" + std::to_string(lacking) + " with missing textures)";
  for (const Kind& k : kKinds) {
    if (counts[k.fate] == 0) continue;
    line += ", " + Counted(counts[k.fate], k.one, k.many);
    const driver::Reason shared =
        k.with_reason ? driver::SharedReason(outcome.results, k.fate) : driver::Reason::kNone;
    if (shared != driver::Reason::kNone) line += " (" + driver::ReasonText(shared, "") + ")";
  }
  return line + " (" + driver::DurationText(outcome.seconds, '.') + ")";
}

int ExitStatusOf(const driver::RunOutcome& outcome, bool web) {
  if (outcome.result != 0) return 1;
  if (web && driver::CountFates(outcome.results)[driver::Fate::kNotDownloaded] > 0) return 3;
  return 0;
}

}  // namespace cli
