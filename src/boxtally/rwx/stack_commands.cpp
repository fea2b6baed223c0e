#include "boxtally/rwx/stack_commands.h"

#include <array>
#include <string>

#include "boxtally/rwx/script_reader.h"

namespace rwx {

namespace {

void TraceMatrix(const MeasureInput& input, const char* title, const Matrix4& m) {
  if (!input.debug_trace) return;
  platform::WriteText(*input.registry, title);
  WriteMatrix(*input.registry, m);
}

// Pushes one level, the new one made a copy of the level below (or the identity for a prototype).
// Past kMaxMatrixLevel: the error and kAbort, the stack unchanged.
StepResult PushLevel(Workspace& workspace, const MeasureInput& input, bool identity) {
  MatrixStack& stack = workspace.stack;
  if (stack.level + 1 > kMaxMatrixLevel) {
    platform::LogF(*input.log, "Error:Transformation stack exceeds %d (file:%s)\n", kMaxMatrixLevel,
                   input.model_path.c_str());
    return StepResult::kAbort;
  }
  ++stack.level;
  stack.levels[static_cast<std::size_t>(stack.level)] =
      identity ? IdentityMatrix() : stack.levels[static_cast<std::size_t>(stack.level - 1)];
  return StepResult::kContinue;
}

// Pops one level; below 0 the mismatch warning naming `opener`, and level 0. The trace shows the
// new level before that correction, the matrix left and the matrix now current.
void PopLevel(Workspace& workspace, const MeasureInput& input, const char* opener) {
  MatrixStack& stack = workspace.stack;
  const int left = stack.level;
  const int level = left - 1;
  if (input.debug_trace) {
    platform::TextPrintf(*input.registry, "%d\n", level);
    TraceMatrix(input, "Transformation matrix before:\n",
                stack.levels[static_cast<std::size_t>(left)]);
  }
  if (level < 0) {
    platform::LogF(*input.log, "Warning:Mismatched %s/end pair (file:%s)\n", opener,
                   input.model_path.c_str());
    stack.level = 0;
  } else {
    stack.level = level;
  }
  TraceMatrix(input, "Transformation matrix:\n", CurrentMatrix(stack));
}

void TraceNewLevel(const MeasureInput& input, const char* command, int level) {
  if (input.debug_trace) platform::TextPrintf(*input.registry, "%s %d\n", command, level);
}

}  // namespace

void HandleIdentity(Workspace& workspace) { CurrentMatrix(workspace.stack) = IdentityMatrix(); }

void HandleTranslate(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  float t[3] = {0.0f, 0.0f, 0.0f};
  ReadRealArguments(line, t, 3);
  ComposeMatrix(TranslationMatrix(t[0], t[1], t[2]), CurrentMatrix(workspace.stack));
  TraceMatrix(input, "Transformation matrix:\n", CurrentMatrix(workspace.stack));
}

void HandleScale(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  float s[3] = {1.0f, 1.0f, 1.0f};
  ReadRealArguments(line, s, 3);
  ComposeMatrix(ScaleMatrix(s[0], s[1], s[2]), CurrentMatrix(workspace.stack));
  TraceMatrix(input, "Scaled Transformation matrix:\n", CurrentMatrix(workspace.stack));
}

void HandleRotate(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  float r[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  ReadRealArguments(line, r, 4);
  const Matrix4 rotation = RotationMatrix(r[0], r[1], r[2], r[3]);
  TraceMatrix(input, "Rot Transformation matrix before :\n", CurrentMatrix(workspace.stack));
  TraceMatrix(input, "Rotation matrix :\n", rotation);
  ComposeMatrix(rotation, CurrentMatrix(workspace.stack));
  TraceMatrix(input, "Rot Transformation matrix:\n", CurrentMatrix(workspace.stack));
}

void HandleTransform(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  std::array<float, 16> values{};
  ReadRealArguments(line, values.data(), 16);
  ComposeMatrix(TransformMatrix(values), CurrentMatrix(workspace.stack));
  TraceMatrix(input, "Transformation matrix:\n", CurrentMatrix(workspace.stack));
}

StepResult HandleTransformBegin(Workspace& workspace, const MeasureInput& input) {
  TraceNewLevel(input, "transformbegin", workspace.stack.level + 1);
  return PushLevel(workspace, input, false);
}

void HandleTransformEnd(Workspace& workspace, const MeasureInput& input) {
  if (input.debug_trace) platform::WriteText(*input.registry, "transformend   ");
  PopLevel(workspace, input, "transformbegin");
}

StepResult HandleClumpBegin(Workspace& workspace, const MeasureInput& input) {
  TraceNewLevel(input, "clumpbegin", workspace.stack.level + 1);
  if (PushLevel(workspace, input, false) == StepResult::kAbort) return StepResult::kAbort;
  if (workspace.clump_depth != 0) {
    // A nested clump is placed relative to its parent's origin, so the box takes in that origin.
    Box& box = workspace.record.box;
    for (std::size_t i = 0; i < 3; ++i) {
      if (box.min[i] > 0) box.min[i] = 0;
      if (box.max[i] < 0) box.max[i] = 0;
    }
  }
  ++workspace.clump_depth;
  return StepResult::kContinue;
}

void HandleClumpEnd(Workspace& workspace, const MeasureInput& input) {
  --workspace.clump_depth;
  if (input.debug_trace) platform::WriteText(*input.registry, "clumpend   ");
  PopLevel(workspace, input, "clumpbegin");
}

StepResult HandleProtoBegin(Workspace& workspace, const MeasureInput& input,
                            std::string_view line) {
  const std::string_view name = NameArgument(Argument(line, 1));
  workspace.definition_mode = true;
  if (input.debug_trace) {
    const std::string shown(name);
    platform::TextPrintf(*input.registry, "Protobegin %s %d\n", shown.c_str(),
                         workspace.stack.level + 1);
  }
  if (PushLevel(workspace, input, true) == StepResult::kAbort) return StepResult::kAbort;
  PrototypeTable& table = workspace.prototypes;
  OpenDefinition(table, name);
  const int older = FindPrototype(table, name);
  if (older >= 0) {
    const std::string shown(name);
    platform::LogF(*input.log,
                   "Warning: Multiple prototype definition for:%s. Previous instance discarded! "
                   "(file:%s)\n",
                   shown.c_str(), input.model_path.c_str());
    table.definitions[static_cast<std::size_t>(older)].name.clear();
  }
  return StepResult::kContinue;
}

StepResult HandleProtoEnd(Workspace& workspace, const MeasureInput& input) {
  PrototypeTable& table = workspace.prototypes;
  // A "protoend" that closes nothing leaves an empty, unfindable definition behind, never a stale
  // one from an earlier model.
  if (!workspace.definition_mode) EmptyOpenDefinition(table);
  workspace.definition_mode = false;
  const PrototypeDefinition& closed = table.definitions[static_cast<std::size_t>(table.count)];
  ++table.count;
  if (table.count >= kMaxPrototypes) {
    platform::LogF(*input.log, "Error: Prototype Stack size exceeded (%d) (file:%s)\n",
                   kMaxPrototypes, input.model_path.c_str());
    return StepResult::kAbort;
  }
  if (input.debug_trace) {
    platform::TextPrintf(*input.registry, "protoend  %s %d %d ", closed.name.c_str(),
                         static_cast<int>(closed.points.size()),
                         static_cast<int>(closed.polygon_count));
  }
  PopLevel(workspace, input, "Protobegin");
  return StepResult::kContinue;
}

void HandleProtoInstance(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  const std::string_view name = NameArgument(Argument(line, 1));
  const int index = FindPrototype(workspace.prototypes, name);
  if (index < 0) {
    const std::string shown(name);
    platform::LogF(*input.log, "Warning: Unknown prototype %s (file:%s)\n", shown.c_str(),
                   input.model_path.c_str());
    return;
  }
  const PrototypeDefinition& definition =
      workspace.prototypes.definitions[static_cast<std::size_t>(index)];
  if (workspace.transformed_points > kMaxTransformedPoints ||
      definition.points.size() > kMaxTransformedPoints - workspace.transformed_points) {
    workspace.points_exhausted = true;
    return;
  }
  workspace.transformed_points += definition.points.size();
  ModelRecord& record = workspace.record;
  record.polygon_count += definition.polygon_count;
  const Matrix4& m = CurrentMatrix(workspace.stack);
  for (auto it = definition.points.rbegin(); it != definition.points.rend(); ++it) {
    ExtendBox(record.box, TransformPoint(*it, m));
    ++record.vertex_count;
  }
}

}  // namespace rwx
