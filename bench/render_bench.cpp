// Drawing speed against measuring speed.
//   render_bench [QUADS_PER_SIDE]: one model of about 100,000 triangles (default 224: 100,352):
//     the measurement alone, the measurement that also takes the geometry, the drawing at
//     512 x 512 and the PNG encoding, each the best of several runs on one core, as ratios to
//     the measurement alone.
//   render_bench --models DIR [SIZE]: every *.rwx of DIR measured alone, then measured with its
//     thumbnail (geometry, drawing at SIZE x SIZE, default 256, PNG), the textures the models
//     name made up by the bench ("texN" a pattern, "mskN" a mask; other names missing), best of
//     three passes, as the ratio of the two.
//   render_bench --write-textures DIR: those textures as PNG files (tex0..tex49, msk0..msk6).
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/render/texture.h"
#include "boxtally/rwx/geometry_capture.h"
#include "boxtally/rwx/measure.h"
#include "platform/text_file.h"

namespace {

constexpr int kRuns = 7;

// A rolling surface of n x n quads in one clump, written as the scripts of an object path are.
std::string SurfaceScript(int n) {
  std::string s = "modelbegin\nclumpbegin\ncolor 0.6 0.5 0.35\n";
  char line[96];
  for (int i = 0; i <= n; ++i) {
    for (int j = 0; j <= n; ++j) {
      const double x = -1 + 2.0 * i / n, z = -1 + 2.0 * j / n;
      std::snprintf(line, sizeof line, "vertex %.4f %.4f %.4f\n", x,
                    0.3 + 0.15 * std::sin(6 * x) * std::cos(5 * z), z);
      s += line;
    }
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const int a = i * (n + 1) + j + 1;
      std::snprintf(line, sizeof line, "quad %d %d %d %d\n", a, a + 1, a + n + 2, a + n + 1);
      s += line;
    }
  }
  return s + "clumpend\nmodelend\n";
}

double BestMs(const std::function<void()>& work) {
  double best = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

constexpr int kTextureSide = 64;  // pixels of the made-up textures

// A texture the bench makes up for a name: "texN" stripes and squares in colours of N, "mskN"
// a lattice with N + 2 holes each way, about a third of it black (not drawn), as a fence or a
// leaf has; nothing for any other name.
std::shared_ptr<render::Texture> MadeUp(const std::string& name) {
  const bool mask = name.rfind("msk", 0) == 0;
  if (!mask && name.rfind("tex", 0) != 0) return nullptr;
  const int n = std::atoi(name.c_str() + 3);
  auto t = std::make_shared<render::Texture>();
  t->width = t->height = kTextureSide;
  for (int y = 0; y < kTextureSide; ++y) {
    for (int x = 0; x < kTextureSide; ++x) {
      std::uint8_t rgb[3] = {static_cast<std::uint8_t>(40 * n), static_cast<std::uint8_t>(4 * x),
                             static_cast<std::uint8_t>(((x / 8 + y / 8) % 2) * 200)};
      if (mask) {
        const int cell = kTextureSide / (n + 2);
        const bool hole = x % cell > cell * 2 / 5 && y % cell > cell * 2 / 5;
        rgb[0] = rgb[1] = rgb[2] = hole ? 0 : 255;
      }
      t->rgba.insert(t->rgba.end(), {rgb[0], rgb[1], rgb[2], 255});
    }
  }
  return t;
}

// The bench's textures, each made once, as a run's finder keeps what it found.
class MadeUpTextures : public render::TextureSource {
 public:
  std::shared_ptr<const render::Texture> Find(const std::string& name) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto [place, added] = made_.emplace(name, nullptr);
    if (added) place->second = MadeUp(name);
    return place->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const render::Texture>> made_;
};

int WriteTextures(const std::string& dir) {
  for (const char* kind : {"tex", "msk"}) {
    for (int n = 0; n < (kind[0] == 't' ? 50 : 7); ++n) {
      const std::string name = kind + std::to_string(n);
      render::Image image{kTextureSide, kTextureSide, MadeUp(name)->rgba};
      std::string png;
      if (!render::EncodePng(image, png)) return 1;
      WriteFile(dir + "/" + name + ".png", png);
    }
  }
  return 0;
}

// The measurement of every *.rwx of `dir` against the same with thumbnails.
int ThumbnailBench(const std::string& dir, int size) {
  std::vector<std::string> models;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".rwx") == 0) models.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(models.begin(), models.end());
  if (models.empty()) return 2;
  const std::string format_text = "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n";
  std::string registry_text, log_text;
  platform::TextFile registry = platform::MemoryTextFile(registry_text, true);
  platform::TextFile log = platform::MemoryTextFile(log_text, true);
  rwx::WorkspacePtr workspace = rwx::CreateWorkspace();
  MadeUpTextures textures;
  std::size_t bytes = 0;
  const auto pass = [&](bool drawn) {
    bytes = 0;
    for (const std::string& model : models) {
      rwx::MeasureInput input;
      input.model_path = input.work_path = model;
      input.model_name = input.found_name = "model.rwx";
      input.template_text = &format_text;
      input.registry = &registry;
      input.log = &log;
      input.integer_mode = true;
      rwx::GeometryCapture capture;
      if (drawn) input.geometry = &capture;
      registry_text.clear();
      rwx::MeasureModelFile(platform::OpenInStream(model, false), input, *workspace);
      if (!drawn) continue;
      render::Bounds box{{capture.box.min[0], capture.box.min[1], capture.box.min[2]},
                         {capture.box.max[0], capture.box.max[1], capture.box.max[2]}};
      render::DrawOptions options;
      options.textures = &textures;
      std::string png;
      render::EncodePng(render::DrawScene(capture.mesh, &box, render::Camera{}, size, size, options),
                        png);
      bytes += png.size();
    }
  };
  pass(true);  // the textures made, the files in the page cache
  // The two one after the other, five times: a busy machine slows both alike.
  double alone = 1e300, drawn = 1e300;
  for (int i = 0; i < 5; ++i) {
    const auto time = [](const std::function<void()>& work) {
      const auto start = std::chrono::steady_clock::now();
      work();
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    alone = std::min(alone, time([&] { pass(false); }));
    drawn = std::min(drawn, time([&] { pass(true); }));
  }
  std::printf("%zu generated models on one core, best of five: measured alone %.1f ms; with %d x "
              "%d thumbnails (textures made up by the bench, %.0f bytes of PNG a model) %.1f ms: "
              "%.2f x\n",
              models.size(), alone, size, size, static_cast<double>(bytes) / models.size(), drawn,
              drawn / alone);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--models") == 0) {
    return ThumbnailBench(argv[2], argc > 3 ? std::atoi(argv[3]) : 256);
  }
  if (argc > 2 && std::strcmp(argv[1], "--write-textures") == 0) return WriteTextures(argv[2]);
  const int n = argc > 1 ? std::atoi(argv[1]) : 224;
  char dir[] = "/tmp/render-bench.XXXXXX";
  if (n < 1 || mkdtemp(dir) == nullptr) return 2;
  const std::string model = std::string(dir) + "/surface.rwx";
  const std::string format = std::string(dir) + "/format.txt";
  WriteFile(model, SurfaceScript(n));
  WriteFile(format, "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>\n");

  std::string registry_text, log_text;
  platform::TextFile registry = platform::MemoryTextFile(registry_text, true);
  platform::TextFile log = platform::MemoryTextFile(log_text, true);
  rwx::WorkspacePtr workspace = rwx::CreateWorkspace();
  rwx::GeometryCapture capture;
  rwx::MeasureInput input;
  input.model_path = input.work_path = model;
  input.model_name = input.found_name = "surface.rwx";
  input.format_path = format;
  input.registry = &registry;
  input.log = &log;
  input.integer_mode = true;
  const auto measure = [&](rwx::GeometryCapture* geometry) {
    input.geometry = geometry;
    registry_text.clear();
    rwx::MeasureModelFile(platform::OpenInStream(model, false), input, *workspace);
  };
  const double alone = BestMs([&] { measure(nullptr); });
  const double taking = BestMs([&] { measure(&capture); });
  render::Image image;
  const double drawing = BestMs([&] {
    image = render::DrawScene(capture.mesh, nullptr, render::Camera{}, 512, 512);
  });
  std::string png;
  const double encoding = BestMs([&] { render::EncodePng(image, png); });
  unlink(model.c_str());
  unlink(format.c_str());
  rmdir(dir);

  std::printf("One model of %zu triangles, %zu vertices; best of %d runs on one core:\n",
              capture.mesh.triangles.size(), capture.mesh.vertices.size(), kRuns);
  const auto row = [alone](const char* what, double ms) {
    std::printf("  %-46s %8.2f ms %6.2f x the measurement alone\n", what, ms, ms / alone);
  };
  row("measurement alone", alone);
  row("measurement that also takes the geometry", taking);
  row("drawing at 512 x 512", drawing);
  row("PNG encoding of that picture", encoding);
  return 0;
}
