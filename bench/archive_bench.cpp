// Extraction throughput of UnzipFirst: extracts the first entry of every archive named on the
// command line into one work file, and prints the uncompressed megabytes per second and the
// process's peak resident memory. bench/archive_bench.sh builds it and compares with unzip -p.
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "boxtally/archive/first_entry.h"
#include "platform/text_file.h"

int main(int argc, char** argv) {
  int first = 1;
  std::string password;
  if (first < argc && argv[first][0] == '-' && argv[first][1] == 'p') password = argv[first++] + 2;
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: archive_bench [-pPASSWORD] WORKFILE ARCHIVE...\n");
    return 2;
  }
  const std::string work = argv[first++];
  platform::TextFilePtr log(platform::WrapStream(stderr, false));
  long long bytes = 0;
  int failed = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = first; i < argc; ++i) {
    std::vector<std::string> args{"archive_bench"};
    if (!password.empty()) args.push_back("-" + password);
    args.push_back(argv[i]);
    args.push_back(work);
    if (archive::UnzipFirst(args, *log) != archive::kUnzipOk) {
      ++failed;
      continue;
    }
    struct stat st {};
    if (stat(work.c_str(), &st) == 0) bytes += st.st_size;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::remove(work.c_str());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d archives, %.1f MB in %.3f s: %.1f MB/s, peak %ld KB, %d failed\n", argc - first,
              bytes / 1e6, seconds, seconds > 0 ? bytes / 1e6 / seconds : 0.0, usage.ru_maxrss,
              failed);
  return failed == 0 ? 0 : 1;
}
