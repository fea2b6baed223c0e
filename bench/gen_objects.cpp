// Writes a synthetic object path: N RWX models of realistic size and command mix (clumps,
// transforms, prototypes, primitives, 50 to 5,000 vertices each). With --one-script, one script
// of N small models instead (two vertices each), whose cost is mostly its registry lines.
// Deterministic for a seed.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

struct Writer {
  std::FILE* f;
  std::mt19937 rng;
  float Real(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
};

void Mesh(Writer& w, int vertices, const char* indent) {
  for (int i = 0; i < vertices; ++i) {
    std::fprintf(w.f, "%sVertex %.4f %.4f %.4f UV %.3f %.3f\n", indent, w.Real(-2, 2), w.Real(0, 3),
                 w.Real(-2, 2), w.Real(0, 1), w.Real(0, 1));
  }
  for (int i = 1; i + 2 <= vertices; i += 2) {
    if (i % 3 == 0) {
      std::fprintf(w.f, "%sQuad %d %d %d %d\n", indent, i, i + 1, i + 2, i > 1 ? i - 1 : i + 2);
    } else {
      std::fprintf(w.f, "%sTriangle %d %d %d\n", indent, i, i + 1, i + 2);
    }
  }
}

void Model(Writer& w, int index) {
  const int vertices = w.Int(50, 5000);
  std::fprintf(w.f, "# synthetic model %d\nModelBegin\n", index);
  const bool proto = w.Int(0, 2) == 0;
  if (proto) {
    std::fprintf(w.f, "ProtoBegin part%d\n", index);
    Mesh(w, vertices / 4, "  ");
    std::fprintf(w.f, "ProtoEnd\n");
  }
  std::fprintf(w.f, "ClumpBegin\n  Color %.2f %.2f %.2f\n  Texture tex%d mask msk%d\n",
               w.Real(0, 1), w.Real(0, 1), w.Real(0, 1), index % 50, index % 7);
  const int clumps = w.Int(1, 6);
  for (int c = 0; c < clumps; ++c) {
    std::fprintf(w.f, "  ClumpBegin\n    Translate %.3f %.3f %.3f\n    Rotate 0 1 0 %d\n",
                 w.Real(-1, 1), w.Real(0, 1), w.Real(-1, 1), w.Int(0, 359));
    std::fprintf(w.f, "    Surface 0.6 0.3 0.1\n    TransformBegin\n      Scale 1 %.2f 1\n",
                 w.Real(0.5, 2));
    Mesh(w, (proto ? vertices * 3 / 4 : vertices) / clumps, "      ");
    std::fprintf(w.f, "    TransformEnd\n");
    if (proto) std::fprintf(w.f, "    ProtoInstance part%d\n", index);
    if (c % 2 == 0) std::fprintf(w.f, "    Cylinder 1 0.2 0.1 12\n    Sphere 0.3 3\n");
    std::fprintf(w.f, "  ClumpEnd\n");
  }
  std::fprintf(w.f, "ClumpEnd\nModelEnd\n");
}

// One script of `count` small models.
int OneScript(const char* path, int count, unsigned seed) {
  Writer w{std::fopen(path, "wb"), std::mt19937(seed)};
  if (w.f == nullptr) {
    std::perror(path);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    std::fprintf(w.f, "ModelBegin\n  Vertex %.3f %.3f %.3f\n  Vertex %.3f %.3f %.3f\nModelEnd\n",
                 w.Real(-2, 0), w.Real(0, 1), w.Real(-2, 0), w.Real(0, 2), w.Real(1, 3),
                 w.Real(0, 2));
  }
  return std::fclose(w.f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--one-script") {
    return OneScript(argv[2], std::atoi(argv[3]),
                     argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1u);
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: gen_objects DIR COUNT [SEED]\n       gen_objects --one-script FILE COUNT [SEED]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int count = std::atoi(argv[2]);
  Writer w{nullptr, std::mt19937(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u)};
  for (int i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/model%05d.rwx", i);
    w.f = std::fopen((dir + name).c_str(), "wb");
    if (w.f == nullptr) {
      std::perror(name);
      return 1;
    }
    Model(w, i);
    std::fclose(w.f);
  }
  return 0;
}
