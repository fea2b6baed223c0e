// The records of earlier downloads beside a list (".boxtally-web"), read from any bytes: what is
// read must be written back and read again to the same records, and nothing read may hold a byte
// that would break its line, or a request line later.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "boxtally/http/http_message.h"
#include "boxtally/web/validators.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto files = web::ParseValidatorText(text);
  for (const auto& [name, v] : files) {
    if (name.empty() || http::HoldsControlByte(name) || http::HoldsControlByte(v.etag) ||
        http::HoldsControlByte(v.url) || v.etag.find('\t') != std::string::npos ||
        v.size < 0 || v.last_modified < -1) {
      __builtin_trap();
    }
  }
  const auto again = web::ParseValidatorText(web::ValidatorText(files));
  if (again.size() != files.size()) __builtin_trap();
  for (const auto& [name, v] : files) {
    const auto found = again.find(name);
    if (found == again.end() || found->second.url != v.url || found->second.etag != v.etag ||
        found->second.size != v.size || found->second.mtime_ns != v.mtime_ns ||
        found->second.last_modified != v.last_modified) {
      __builtin_trap();
    }
  }
  return 0;
}
