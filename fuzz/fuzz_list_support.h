// Shared by the list and propdump fuzz targets: the input as a stream, and the checks on what
// the web fetch forms from one entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "boxtally/web/model_names.h"
#include "platform/text_file.h"

namespace fuzz_support {

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The input bytes behind an InStream, as a list file opened by the web fetch would be.
class MemoryStream {
 public:
  MemoryStream(const std::uint8_t* data, std::size_t size, bool text_mode)
      : bytes_(data, data + size) {
    // fmemopen refuses an empty buffer; a stream without a file is an empty one.
    std::FILE* file = size == 0 ? nullptr : fmemopen(bytes_.data(), bytes_.size(), "rb");
    in_ = std::make_unique<platform::InStream>(file, text_mode);
  }
  platform::InStream& in() { return *in_; }

 private:
  std::vector<char> bytes_;
  std::unique_ptr<platform::InStream> in_;
};

// One entry as NextWebModel takes it: trimmed, its model name, then the three places for an
// object path and a list file in a folder.
inline void CheckEntry(const std::string& text) {
  const std::string line = web::TrimListLine(text);
  const std::string name = web::ModelNameOfLine(line);
  if (name.empty()) return;
  Check(name.size() >= 2 && name.size() <= line.size());
  for (const char c : name) Check(static_cast<unsigned char>(c) >= 0x20);
  web::ModelPlaces places;
  const web::PlacesResult result =
      web::FormModelPlaces(name, "http://objects.example/path", "lists/models.txt", places);
  if (result != web::PlacesResult::kOk) return;
  Check(places.local_path.rfind("lists/", 0) == 0);
  const std::string file = places.local_path.substr(6);
  Check(file == places.file_name);
  Check(file.find_first_of("/\\*?") == std::string::npos);
  Check(file != "." && file != "..");
  Check(file.size() >= 4 && file.compare(file.size() - 4, 4, ".zip") == 0);
  Check(places.url.size() <= web::kMaxModelUrl);
  Check(places.local_path.size() <= web::kMaxLocalPath);
  const std::string encoded = places.url.substr(places.url.rfind('/') + 1);
  for (const char c : encoded) {
    const auto u = static_cast<unsigned char>(c);
    Check(u > 0x20 && u < 0x7F && c != '#' && c != '?');
  }
}

}  // namespace fuzz_support
