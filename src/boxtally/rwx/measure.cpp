#include "boxtally/rwx/measure.h"

#include <algorithm>

#include "boxtally/rwx/geometry_capture.h"
#include "boxtally/rwx/registry_writer.h"
#include "boxtally/rwx/script_reader.h"
#include "boxtally/rwx/stack_commands.h"
#include "boxtally/rwx/workspace.h"

namespace rwx {

namespace {

int NameCount(const std::string& list) {
  if (list.empty()) return 0;
  return 1 + static_cast<int>(std::count(list.begin(), list.end(), ','));
}

ModelSummary Summarise(const ModelRecord& record) {
  ModelSummary s;
  for (std::size_t i = 0; i < 3; ++i) {
    s.box[i] = record.box.min[i];
    s.box[i + 3] = record.box.max[i];
  }
  s.vertices = record.vertex_count;
  s.polygons = record.polygon_count;
  s.textures = NameCount(record.texture_list);
  s.not_centred = record.not_centred;
  s.oversized = record.oversized;
  s.facer = record.facer;
  return s;
}

// Counts an error line of the file, remembering the first one for the run's results.
void NoteError(MeasureTally& tally, bool limit, std::string line) {
  if (tally.error_lines++ == 0) {
    tally.limit_error = limit;
    tally.first_error = std::move(line);
  }
}

void HandleModelBegin(Workspace& workspace, const MeasureInput& input) {
  ModelRecord& record = workspace.record;
  if (record.model_state != kModelNone) {
    platform::LogF(*input.log, "Warning: Multiple ModelBegin command! (file:%s)\n",
                   input.model_path.c_str());
  }
  record.model_state = kModelOpen;
  ResetModelContents(record);
  record.model_open = true;
  ResetMatrixStack(workspace.stack);
  workspace.prototypes.count = 0;
}

// "modelend", and the end of the script: writes the model when one was opened since the last write.
StepResult HandleModelEnd(Workspace& workspace, const MeasureInput& input) {
  ModelRecord& record = workspace.record;
  AverageColours(record);
  if (!record.model_open) record.model_state = kModelWritten;
  if (record.model_state < 0) return StepResult::kContinue;
  record.model_open = false;
  record.huge = false;  // a template without lines never asks
  const bool written = WriteRegistryLines(workspace, input);
  // Whoever watches the registry (a terminal) sees the model now.
  platform::FlushAt(*input.registry, platform::FlushPoint::kModelEnd);
  if (!written) return StepResult::kFailed;
  if (workspace.capture != nullptr) CaptureModelEnd(*workspace.capture, record.box);
  MeasureTally& tally = workspace.tally;
  if (record.huge) {
    ++tally.models_huge;
    // A model without a vertex keeps the box's starting values, which read as huge.
    if (record.vertex_count == 0) {
      ++tally.models_empty;
    } else {
      tally.last_huge = Summarise(record);
      tally.last_huge.not_centred = false;
    }
  } else {
    ++tally.models_written;
    tally.last_written = Summarise(record);
    MergeImageNames(tally.image_names, record.image_names);
  }
  --record.model_state;
  return StepResult::kContinue;
}

StepResult HandleClumpBeginWithModel(Workspace& workspace, const MeasureInput& input) {
  ModelRecord& record = workspace.record;
  if (record.model_state == kModelNone) record.model_state = kModelOpen;
  record.model_open = true;
  return HandleClumpBegin(workspace, input);
}

int IntegerArgument(std::string_view line, int k) {
  int value = 0;
  ParseInteger(Argument(line, k), value);
  return value;
}

// The reading comes in two builds: kCapture hands the geometry to workspace.capture, the other
// measures only and carries none of the capture's tests (no sink, no cost).
template <bool kCapture>
void HandleGeometry(CommandCode code, Workspace& workspace, std::string_view line) {
  float v[3] = {0.0f, 0.0f, 0.0f};
  int n = 0;
  switch (code) {
    case kCmdVertex:
      ReadRealArguments(line, v, 3);
      AddPoint(workspace, v[0], v[1], v[2]);
      if constexpr (kCapture) CaptureVertex(workspace, line, v[0], v[1], v[2]);
      return;
    case kCmdBlock:
      ReadRealArguments(line, v, 3);
      AddBlock(workspace, v[0], v[1], v[2]);
      if constexpr (kCapture) CaptureBlock(workspace, v[0], v[1], v[2]);
      return;
    case kCmdSphere:
      ReadRealArguments(line, v, 1);
      AddSphere(workspace, v[0], n = IntegerArgument(line, 2));
      if constexpr (kCapture) CaptureSphere(workspace, v[0], n, false);
      return;
    case kCmdHemisphere:
      ReadRealArguments(line, v, 1);
      AddHemisphere(workspace, v[0], n = IntegerArgument(line, 2));
      if constexpr (kCapture) CaptureSphere(workspace, v[0], n, true);
      return;
    case kCmdCylinder:
      ReadRealArguments(line, v, 3);
      AddCylinder(workspace, v[0], v[1], v[2], n = IntegerArgument(line, 4));
      if constexpr (kCapture) CaptureCylinder(workspace, v[0], v[1], v[2], n);
      return;
    case kCmdCone:
      ReadRealArguments(line, v, 2);
      AddCone(workspace, v[0], v[1], n = IntegerArgument(line, 3));
      if constexpr (kCapture) CaptureCone(workspace, v[0], v[1], n);
      return;
    case kCmdDisc:
      ReadRealArguments(line, v, 2);
      AddDisc(workspace, v[0], v[1], n = IntegerArgument(line, 3));
      if constexpr (kCapture) CaptureDisc(workspace, v[0], v[1], n);
      return;
    case kCmdPolygon:
      AddPolygons(workspace, 1);
      if constexpr (kCapture) CaptureFace(workspace, line);
      return;
    default:
      return;
  }
}

template <bool kCapture>
void HandleSurfaceCommand(CommandCode code, Workspace& workspace, const MeasureInput& input,
                          std::string_view line) {
  ModelRecord& record = workspace.record;
  if (code == kCmdTexture) {
    AddTexture(record, Argument(line, 1));
    if constexpr (kCapture) CaptureTexture(*workspace.capture, Argument(line, 1));
    return;
  }
  if (code == kCmdColor) {
    float c[3] = {0.0f, 0.0f, 0.0f};
    ReadRealSequence(line, c, 3);
    AddColour(record, c[0], c[1], c[2]);
    if constexpr (kCapture) CaptureColour(*workspace.capture, c[0], c[1], c[2]);
    return;
  }
  const bool handle_facers = input.switches != nullptr && input.switches->HandleFacers();
  SetAxisAlignment(record, NameArgument(Argument(line, 1)), handle_facers);
}

template <bool kCapture>
StepResult Measure(CommandCode code, Workspace& workspace, const MeasureInput& input,
                   std::string_view line) {
  switch (code) {
    case kCmdModelBegin:
      HandleModelBegin(workspace, input);
      break;
    case kCmdModelEnd:
      return HandleModelEnd(workspace, input);
    case kCmdClumpBegin:
      return HandleClumpBeginWithModel(workspace, input);
    case kCmdClumpEnd:
      HandleClumpEnd(workspace, input);
      break;
    case kCmdProtoBegin:
      return HandleProtoBegin(workspace, input, line);
    case kCmdProtoEnd:
      return HandleProtoEnd(workspace, input);
    case kCmdProtoInstance:
      HandleProtoInstance(workspace, input, line);
      break;
    case kCmdTransformBegin:
      return HandleTransformBegin(workspace, input);
    case kCmdTransformEnd:
      HandleTransformEnd(workspace, input);
      break;
    case kCmdIdentity:
      HandleIdentity(workspace);
      break;
    case kCmdTranslate:
      HandleTranslate(workspace, input, line);
      break;
    case kCmdRotate:
      HandleRotate(workspace, input, line);
      break;
    case kCmdScale:
      HandleScale(workspace, input, line);
      break;
    case kCmdTransformJoint:
    case kCmdTransform:
      HandleTransform(workspace, input, line);
      break;
    case kCmdTexture:
    case kCmdColor:
    case kCmdAxisAlignment:
      HandleSurfaceCommand<kCapture>(code, workspace, input, line);
      break;
    default:
      HandleGeometry<kCapture>(code, workspace, line);
      break;
  }
  return StepResult::kContinue;
}

// The clump and prototype commands' part in the geometry, once the measurement has done its own.
void CaptureStructure(CommandCode code, Workspace& workspace, std::string_view line,
                      bool was_defining) {
  GeometryCapture& capture = *workspace.capture;
  switch (code) {
    case kCmdModelBegin:
      return ResetCapture(capture);
    case kCmdClumpBegin:
      return CaptureClumpBegin(capture);
    case kCmdClumpEnd:
      return CaptureClumpEnd(workspace);
    case kCmdProtoBegin:
      return CaptureProtoBegin(workspace, was_defining);
    case kCmdProtoEnd:
      return CaptureProtoEnd(workspace, was_defining);
    case kCmdProtoInstance:
      return CaptureProtoInstance(workspace, line);
    default:
      return;
  }
}

template <bool kCapture>
StepResult Dispatch(CommandCode code, Workspace& workspace, const MeasureInput& input,
                    std::string_view line) {
  if constexpr (!kCapture) return Measure<false>(code, workspace, input, line);
  const bool was_defining = workspace.definition_mode;
  const StepResult step = Measure<true>(code, workspace, input, line);
  if (step == StepResult::kContinue) CaptureStructure(code, workspace, line, was_defining);
  return step;
}

// A reading for the geometry that its caller no longer wants ends at the next line.
template <bool kCapture>
bool Cancelled(Workspace& workspace) {
  if constexpr (!kCapture) return false;
  GeometryCapture& capture = *workspace.capture;
  if (capture.cancel == nullptr || !capture.cancel->load(std::memory_order_relaxed)) return false;
  capture.cancelled = true;
  return true;
}

// Commands whose arguments are names: their handlers read the normalised line, whose letters are
// lowered. Numbers read the same from the line as it came.
bool TakesNames(CommandCode code) {
  return code == kCmdProtoBegin || code == kCmdProtoInstance || code == kCmdTexture ||
         code == kCmdAxisAlignment;
}

// The normalised line in `workspace.line`.
std::string_view Normalised(Workspace& workspace, std::string_view text) {
  StoreLine(text, workspace.line);
  NormaliseLine(workspace.line);
  return workspace.line.View();
}

void ReportFailedLine(Workspace& workspace, const MeasureInput& input, std::string_view line) {
  const std::string shown(line.substr(0, line.find('\n')));
  platform::LogF(*input.log, "Application error in %s line=%s\n", input.work_path.c_str(),
                 shown.c_str());
  NoteError(workspace.tally, false, "line=" + platform::WithoutControls(shown));
}

// Each line is classified as it was read, from its first word; only the lines that need it are
// normalised (names, the geometry's hooks, a failure's message). The view `text` holds until the
// next line is read.
template <bool kCapture>
MeasureResult ReadScript(platform::InStream& stream, const MeasureInput& input,
                         Workspace& workspace) {
  while (!stream.AtEnd()) {
    if (Cancelled<kCapture>(workspace)) return MeasureResult::kDone;
    const std::string_view text = ReadScriptLine(stream);
    std::string_view line = text;
    CommandCode code = kCmdModelEnd;  // the end of the script ends the model, whatever the line
    const bool at_end = stream.AtEnd();
    if (!at_end) {
      line = SkipBlanks(text);
      code = ClassifyLine(line);
      if (code <= kCmdNone) {
        if constexpr (kCapture) CaptureMaterialLine(*workspace.capture, Normalised(workspace, text));
        continue;
      }
      if (kCapture || TakesNames(code)) line = Normalised(workspace, text);
    }
    StepResult step = StepResult::kFailed;
    workspace.line_failed = false;
    try {
      step = Dispatch<kCapture>(code, workspace, input, line);
    } catch (...) {
      step = StepResult::kFailed;  // this line alone is lost; the model goes on
    }
    if (workspace.points_exhausted) {
      platform::LogF(
          *input.log, "Error: More than %llu points in one model, the model is skipped (file:%s)\n",
          static_cast<unsigned long long>(kMaxTransformedPoints), input.model_path.c_str());
      NoteError(workspace.tally, true,
                "More than " + std::to_string(kMaxTransformedPoints) + " points in one model");
      return MeasureResult::kDone;
    }
    if (workspace.line_failed && step == StepResult::kContinue) step = StepResult::kFailed;
    if (step == StepResult::kAbort) {
      NoteError(workspace.tally, true, "a stack or prototype limit");  // the limit's own line
      return MeasureResult::kAbort;
    }
    if (step == StepResult::kFailed) {
      // The message shows the line normalised, or as read when the end of the script ended it.
      ReportFailedLine(workspace, input, at_end ? text : Normalised(workspace, text));
    }
  }
  return MeasureResult::kDone;
}

}  // namespace

void WorkspaceDeleter::operator()(Workspace* w) const { delete w; }

const MeasureTally& LastTally(const Workspace& workspace) { return workspace.tally; }

WorkspacePtr CreateWorkspace() {
  WorkspacePtr workspace(new Workspace);
  InitPrototypeTable(workspace->prototypes);
  workspace->template_line.reserve(kMaxTemplateLine + 1);
  ResetWorkspace(*workspace);
  return workspace;
}

MeasureResult MeasureModelFile(std::unique_ptr<platform::InStream> stream,
                               const MeasureInput& input, Workspace& workspace) {
  // Missing streams become sinks, so no handler needs to ask.
  platform::TextFile sink{nullptr, false, false};
  MeasureInput with_sinks;
  const MeasureInput* in = &input;
  if (input.registry == nullptr || input.log == nullptr) {
    with_sinks = input;
    if (with_sinks.registry == nullptr) with_sinks.registry = &sink;
    if (with_sinks.log == nullptr) with_sinks.log = &sink;
    in = &with_sinks;
  }
  ResetWorkspace(workspace);
  workspace.record.collect_images = input.collect_images;
  workspace.capture = input.geometry;
  if (workspace.capture != nullptr) ResetCapture(*workspace.capture);
  MeasureResult result = MeasureResult::kDone;
  if (stream) {
    result = workspace.capture != nullptr ? ReadScript<true>(*stream, *in, workspace)
                                          : ReadScript<false>(*stream, *in, workspace);
  }
  stream.reset();
  ClearPrototypeTable(workspace.prototypes);
  workspace.capture = nullptr;
  return result;
}

}  // namespace rwx
