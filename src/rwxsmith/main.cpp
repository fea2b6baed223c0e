#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "rwxsmith/converter_cli.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return cob::RunConverter(args);
  } catch (const std::bad_alloc&) {
    std::fputs("Memory allocation error\n", stdout);
    return cob::kExitNoMemory;
  } catch (const std::exception& e) {
    std::printf("Internal error: %s\n", e.what());
    return cob::kExitNoMemory;
  }
}
