// A model's result as the report tests make them: the source is the name under objects/.
#pragma once

#include <string>

#include "boxtally/driver/model_results.h"

namespace testing_support {

inline driver::ModelOutcome Outcome(const char* name, driver::Fate fate,
                                    driver::Reason reason = driver::Reason::kNone,
                                    const char* facts = "") {
  driver::ModelOutcome m;
  m.name = name;
  m.source = std::string("objects/") + name;
  m.fate = fate;
  m.reason = reason;
  m.facts = facts;
  return m;
}

}  // namespace testing_support
