// Fuzz target for the RWX measurement: one input is a flag byte, a template length byte, the
// format template and then the script. The script goes through MeasureModelFile with that
// template, so the reader, the stacks, the prototype table and the template expansion (tags,
// own formats, trimmed numbers) all see the fuzzer's bytes. The workspace is reused from input
// to input, as a run reuses it from model to model. With the flag 0x80 the reading also takes
// the geometry (faces by vertex numbers, prototypes, tessellated primitives, materials and
// texture coordinates), which is then drawn into a small picture and encoded as PNG, its
// textures and masks found or missing by their names (tiny pictures, some with alpha).
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/rwx/geometry_capture.h"
#include "boxtally/rwx/measure.h"
#include "platform/text_file.h"

namespace {

class FlagSwitches : public rwx::SwitchSource {
 public:
  explicit FlagSwitches(std::uint8_t flags) : flags_(flags) {}
  bool SkipHugeObjects() const override { return (flags_ & 0x04) != 0; }
  bool HandleFacers() const override { return (flags_ & 0x08) != 0; }
  bool NonCentered() const override { return (flags_ & 0x10) != 0; }
  bool OverSized() const override { return (flags_ & 0x20) != 0; }

 private:
  std::uint8_t flags_;
};

struct FuzzState {
  std::string dir;
  std::string format_path;
  rwx::WorkspacePtr workspace = rwx::CreateWorkspace();
  platform::TextFilePtr sink;

  FuzzState() {
    char templ[] = "/tmp/rwx-fuzz.XXXXXX";
    if (mkdtemp(templ) == nullptr) std::abort();
    dir = templ;
    format_path = dir + "/format.txt";
    sink.reset(platform::OpenTextFile("/dev/null", platform::OpenMode::kAppend));
    if (!sink) std::abort();
  }
  ~FuzzState() {
    std::remove(format_path.c_str());
    rmdir(dir.c_str());
  }
};

FuzzState& State() {
  static FuzzState state;
  return state;
}

// A name's picture by its first byte: none (missing), or a picture of 1 to 4 texels a side whose
// texels and alpha come from the name's bytes.
class NamedTextures : public render::TextureSource {
 public:
  std::shared_ptr<const render::Texture> Find(const std::string& name) override {
    if (name.empty() || name[0] % 3 == 0) return nullptr;
    auto t = std::make_shared<render::Texture>();
    t->width = 1 + name[0] % 4;
    t->height = 1 + name.size() % 4;
    for (int i = 0; i < t->width * t->height * 4; ++i) {
      t->rgba.push_back(static_cast<std::uint8_t>(name[static_cast<std::size_t>(i) % name.size()] * (i + 1)));
    }
    return t;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t template_size = std::min<std::size_t>(data[1], size - 2);
  const std::uint8_t* format = data + 2;
  const std::uint8_t* script = format + template_size;
  const std::size_t script_size = size - 2 - template_size;

  FuzzState& state = State();
  std::FILE* f = std::fopen(state.format_path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(format, 1, template_size, f);
  std::fclose(f);

  // The script is read from a copy in memory, through the same buffered reader as a file.
  std::FILE* in = std::tmpfile();
  if (in == nullptr) std::abort();
  std::fwrite(script, 1, script_size, in);
  std::rewind(in);

  FlagSwitches switches(flags);
  rwx::MeasureInput input;
  input.model_path = "model.rwx";
  input.work_path = "unzipwk.$$$";
  input.model_name = "model.rwx";
  input.found_name = "Model.RWX";
  input.format_path = state.format_path;
  input.registry = state.sink.get();
  input.log = state.sink.get();
  input.integer_mode = (flags & 0x01) != 0;
  input.debug_trace = (flags & 0x02) != 0;
  input.switches = &switches;
  const bool text_mode = (flags & 0x40) != 0;
  rwx::GeometryCapture capture;
  if ((flags & 0x80) != 0) input.geometry = &capture;
  // A buffer little bigger than a line, so that lines are met across every kind of refill.
  constexpr std::size_t kBufferBytes = 1300;
  rwx::MeasureModelFile(std::make_unique<platform::InStream>(in, text_mode, kBufferBytes), input,
                        *state.workspace);
  if (input.geometry != nullptr) {
    const rwx::Box& b = capture.box;
    const render::Bounds box{{b.min[0], b.min[1], b.min[2]}, {b.max[0], b.max[1], b.max[2]}};
    NamedTextures textures;
    render::DrawOptions options;
    options.textures = &textures;
    const render::Image image = render::DrawScene(
        capture.mesh, capture.model_ended ? &box : nullptr, render::Camera{}, 24, 24, options);
    std::string png;
    render::EncodePng(image, png);
  }
  return 0;
}
