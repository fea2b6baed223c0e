// Replays saved fuzz inputs without libFuzzer: every file named on the command line, and every
// file inside each directory named there, goes once through LLVMFuzzerTestOneInput. CTest runs
// it over fuzz/corpus/<parser>/, so inputs that once crashed stay tested.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  // A vector of exactly the file's size, so AddressSanitizer sees where the input ends.
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int inputs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (!std::filesystem::is_directory(arg, ec)) {
      ok = RunFile(arg) && ok;
      ++inputs;
      continue;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(arg, ec)) {
      if (entry.is_regular_file(ec)) files.push_back(entry.path());
    }
    if (ec) {
      std::fprintf(stderr, "cannot list %s\n", arg.string().c_str());
      ok = false;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      ok = RunFile(file) && ok;
      ++inputs;
    }
  }
  std::printf("replayed %d input%s\n", inputs, inputs == 1 ? "" : "s");
  return ok ? 0 : 1;
}
