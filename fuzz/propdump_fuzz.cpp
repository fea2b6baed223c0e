// The propdump reader, byte for byte as the web fetch reads a world's dump, and what the fetch
// makes of each record's model name. Names stay within their room, the reader always reaches
// the end, and no formed local path leaves the list file's folder or holds a wildcard.
#include <cstddef>
#include <cstdint>
#include <string>

#include "boxtally/web/list_reader.h"
#include "boxtally/web/model_names.h"
#include "boxtally/web/web_fetch.h"
#include "fuzz_list_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::MemoryStream memory(data, size, /*text_mode=*/false);
  web::SeenNames seen;
  std::string text;
  // Every record takes at least one byte, so the reader ends within size + 1 calls.
  for (std::size_t calls = 0;; ++calls) {
    fuzz_support::Check(calls <= size + 1);
    const web::EntryRead read = web::ReadPropdumpRecord(memory.in(), text);
    if (read == web::EntryRead::kEnd) break;
    fuzz_support::Check(read != web::EntryRead::kTooLong);
    if (read != web::EntryRead::kEntry) continue;
    fuzz_support::Check(text.size() <= web::kMaxPropdumpName);
    fuzz_support::Check(text.find('\0') == std::string::npos);
    if (!web::AddSeenName(seen, text)) continue;
    fuzz_support::CheckEntry(text);
  }
  return 0;
}
