#include "boxtally/driver/run_report.h"

#include <cstdio>

namespace driver {

bool EndedEarly(RunEnd end) { return end != RunEnd::kCompleted && end != RunEnd::kStopped; }

bool EndingLogged(RunEnd end) {
  switch (end) {
    case RunEnd::kNoWorkFolder:         // "Unable to make a private work folder"
    case RunEnd::kFormatUnreadable:     // "Unable to open format file %s"
    case RunEnd::kFormatWithoutLines:   // "Format file %s gives no registry line..."
    case RunEnd::kPatternTooLong:       // "Model pattern longer than ..."
    case RunEnd::kRegistryTwice:        // "Output file already defined"
    case RunEnd::kRegistryUnopenable:   // "Unable to create/append output file %s"
    case RunEnd::kRegistryLocked:       // "Output file %s is in use by another run"
    case RunEnd::kRegistryReadOnly:     // "Output file %s is read-only"
    case RunEnd::kMeasurementAbort:     // the measurement's own error line
    case RunEnd::kRegistryWriteFailed:  // "Unable to write to output file %s"
      return true;
    case RunEnd::kCompleted:
    case RunEnd::kStopped:
    case RunEnd::kMissingArguments:
    case RunEnd::kNoMatch:
    case RunEnd::kListUnopenable:
    case RunEnd::kNoWebModel:              // its entries have lines, the list as a whole has none
    case RunEnd::kNothingCouldBeMeasured:  // each model's own line, not the cause
      return false;
  }
  return false;
}

std::string DurationText(double seconds, char decimal_point) {
  // Past a year of run time the figure is nonsense anyway; the cap keeps the conversions defined.
  constexpr double kLongest = 366.0 * 24 * 3600;
  if (!(seconds > 0.0)) seconds = 0.0;  // NaN too
  if (seconds > kLongest) seconds = kLongest;
  char text[48];
  const long tenths = static_cast<long>(seconds * 10.0 + 0.5);
  const long whole = static_cast<long>(seconds + 0.5);
  if (tenths < 600) {
    std::snprintf(text, sizeof text, "%ld%c%ld s", tenths / 10, decimal_point, tenths % 10);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  } else {
    const long minutes = static_cast<long>(seconds / 60.0 + 0.5);
    std::snprintf(text, sizeof text, "%ld h %02ld min", minutes / 60, minutes % 60);
  }
  return text;
}

}  // namespace driver
