// The plain list reader and what the web fetch makes of each line: the model name, the archive's
// file name, its URL and its local path. The rules the fetch relies on are checked, so a breach
// stops the fuzzer like a crash: no entry passes its room, and no formed local path leaves the
// list file's folder or holds a wildcard.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "boxtally/web/list_reader.h"
#include "boxtally/web/model_names.h"
#include "fuzz_list_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::MemoryStream memory(data, size, /*text_mode=*/true);
  std::string text;
  for (;;) {
    const web::EntryRead read = web::ReadListLine(memory.in(), text);
    if (read == web::EntryRead::kEnd) break;
    fuzz_support::Check(text.size() <= web::kMaxListLine);
    if (read != web::EntryRead::kEntry) continue;
    fuzz_support::CheckEntry(text);
  }
  return 0;
}
