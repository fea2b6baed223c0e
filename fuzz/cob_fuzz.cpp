// The COB reader, the scene conversion and the RWX writer, over any buffer, writing to memory.
// Besides memory safety it checks that the text always closes the model, however the input
// ended, that every prototype block that opens also closes, and that only a refused header is
// reported as one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rwxsmith/cob_format.h"
#include "rwxsmith/rwx_writer.h"

namespace {

std::size_t Count(std::string_view text, std::string_view word) {
  std::size_t n = 0;
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + word.size())) {
    ++n;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cob::RwxOutput out;  // no file: the text stays in memory
  cob::ConverterState state;
  const cob::ModelFileResult result = cob::WriteModelFile(out, "fuzz.cob", data, size, 0, state);
  const bool binary = cob::ClassifyHeader(data, size) == cob::HeaderKind::kBinary;
  if ((result == cob::ModelFileResult::kHeaderRejected) == binary) std::abort();
  const std::string_view text = out.text;
  const std::string_view end = " ClumpEnd\r\nModelEnd\r\n";
  if (text.size() < end.size() || text.substr(text.size() - end.size()) != end) std::abort();
  if (Count(text, "\r\n ProtoBegin ") != Count(text, "\r\n ProtoEnd # ")) std::abort();
  return 0;
}
