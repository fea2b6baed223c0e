// Which of a run's models a registry holds already, over any template and registry: the bytes are
// split into the two at their first NUL byte. The count never passes the number of models, and a
// registry made of each model's line, as the template would write it, counts every one (unless
// the text before the name alone fills the part of a line that is looked at).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "boxtally/driver/registry_overlap.h"

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::size_t Count(const std::string& registry, const driver::NamePlace& place,
                  const driver::RunModelNames& models) {
  std::string bytes = registry;
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  if (f == nullptr) return 0;  // fmemopen refuses an empty buffer on some systems
  const std::size_t count = driver::CountModelsInLines(f, place, models);
  std::fclose(f);
  return count;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string template_text = input.substr(0, nul);
  const std::string registry = nul == std::string::npos ? std::string() : input.substr(nul + 1);
  const driver::RunModelNames models = {
      {"tree.rwx", 0}, {"tree.cob", 0}, {"my box.rwx", 1}, {"x", 2}};
  const std::optional<driver::NamePlace> place = driver::FindNamePlace(template_text);
  if (!place) return 0;
  Check(Count(registry, *place, models) <= 3);
  // Only the first kMaxOverlapLine bytes of a line are looked at.
  if (place->before.size() + 16 > driver::kMaxOverlapLine) return 0;
  std::string lines;
  for (const char* name : {"tree.rwx", "my box.rwx", "x"}) {
    lines +=
        place->before + name + (place->after == '\n' ? "" : std::string(1, place->after)) + "\r\n";
  }
  Check(Count(lines, *place, models) == 3);
  return 0;
}
