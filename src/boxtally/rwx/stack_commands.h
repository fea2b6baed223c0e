// The matrix, stack and prototype commands, with their limits, messages and debug trace.
#pragma once

#include <string_view>

#include "boxtally/rwx/measure.h"
#include "boxtally/rwx/workspace.h"

namespace rwx {

enum class StepResult {
  kContinue,
  kAbort,   // a stack or prototype limit was passed: the run ends
  kFailed,  // the line could not be handled (reported as an application error)
};

// "identity", "translate", "rotate", "scale", "transform"/"transformjoint" on the normalised line.
void HandleIdentity(Workspace& workspace);
void HandleTranslate(Workspace& workspace, const MeasureInput& input, std::string_view line);
void HandleRotate(Workspace& workspace, const MeasureInput& input, std::string_view line);
void HandleScale(Workspace& workspace, const MeasureInput& input, std::string_view line);
void HandleTransform(Workspace& workspace, const MeasureInput& input, std::string_view line);

[[nodiscard]] StepResult HandleTransformBegin(Workspace& workspace, const MeasureInput& input);
void HandleTransformEnd(Workspace& workspace, const MeasureInput& input);
// The stack part of "clumpbegin" (the model part comes first, in the caller), then the
// nested-clump origin rule and the clump depth.
[[nodiscard]] StepResult HandleClumpBegin(Workspace& workspace, const MeasureInput& input);
void HandleClumpEnd(Workspace& workspace, const MeasureInput& input);

[[nodiscard]] StepResult HandleProtoBegin(Workspace& workspace, const MeasureInput& input,
                                          std::string_view line);
[[nodiscard]] StepResult HandleProtoEnd(Workspace& workspace, const MeasureInput& input);
void HandleProtoInstance(Workspace& workspace, const MeasureInput& input, std::string_view line);

}  // namespace rwx
