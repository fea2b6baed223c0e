// Drawing speed against measuring speed on one model of about 100,000 triangles: the measurement
// alone, the measurement that also takes the geometry, the drawing at 512 x 512 and the PNG
// encoding, each the best of several runs on one core, as ratios to the measurement alone.
// Usage: render_bench [QUADS_PER_SIDE] (default 224: 100,352 triangles).
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"
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

}  // namespace

int main(int argc, char** argv) {
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
