// A run's results in the terms of model_results.h, from what the pipeline and the web fetch report
// of each model, and what the results say of the run as a whole.
#pragma once

#include <string>
#include <vector>

#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/model_source.h"
#include "boxtally/driver/process_model.h"
#include "boxtally/web/web_fetch.h"

namespace driver {

// A model the pipeline went through. Its name is the registry name (in web mode the list entry),
// its source the file (in web mode the URL); texts from files and servers come without control
// characters.
ModelOutcome FromProcessed(const ProcessedModel& processed, const FoundModel& found);

// A list entry that gave no model.
ModelOutcome FromEntryEnd(const web::EntryEnd& end);

// The counts the run's summary started from, taken from the results; `total` is the number of
// models (or list entries) the run was known to meet.
RunCounts CountsOf(const std::vector<ModelOutcome>& results, std::size_t total);

// What kept every model from being measured when each one failed for the same cause outside the
// models themselves (the converter `converter`, the work folder); empty when that is not so.
std::string CommonOutsideCause(const std::vector<ModelOutcome>& results,
                               const std::string& converter);

}  // namespace driver
