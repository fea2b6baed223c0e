#include "boxtally/web/model_names.h"

#include "platform/file_search.h"

namespace web {

namespace {
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }
}  // namespace

std::string TrimListLine(std::string_view line) {
  std::size_t first = 0;
  std::size_t last = line.size();
  while (first < last && IsBlankOrControl(line[first])) ++first;
  while (last > first && IsBlankOrControl(line[last - 1])) --last;
  return std::string(line.substr(first, last - first));
}

std::string ModelNameOfLine(std::string_view trimmed) {
  if (trimmed.size() < 2 || trimmed[0] == '#') return {};
  std::size_t end = 0;
  while (end < trimmed.size() && static_cast<unsigned char>(trimmed[end]) >= 0x20) ++end;
  if (end < 2) return {};
  return std::string(trimmed.substr(0, end));
}

std::string ModelFileName(std::string_view model_name) {
  std::size_t end = model_name.size();
  for (std::size_t i = model_name.size(); i-- > 1;) {
    if (model_name[i] == '.') {
      end = i;
      break;
    }
  }
  return std::string(model_name.substr(0, end)) + ".zip";
}

bool IsPlainModelName(std::string_view model_name) {
  if (model_name == "." || model_name == "..") return false;
  return model_name.find_first_of("/\\*?") == std::string_view::npos;
}

std::string EncodeForUrl(std::string_view file_name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(file_name.size());
  for (const char c : file_name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E || c == '#' || c == '?') {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

PlacesResult FormModelPlaces(std::string_view model_name, std::string_view url_text,
                             std::string_view list_file, ModelPlaces& places) {
  if (!IsPlainModelName(model_name)) return PlacesResult::kNotPlain;
  places.file_name = ModelFileName(model_name);
  if (places.file_name.size() > kMaxFileName) return PlacesResult::kFileNameTooLong;
  const std::string encoded = EncodeForUrl(places.file_name);
  if (encoded.size() > kMaxEncodedFileName) return PlacesResult::kTooLong;
  places.url = std::string(url_text);
  if (places.url.empty() || places.url.back() != '/') places.url += '/';
  places.url += encoded;
  if (places.url.size() > kMaxModelUrl) return PlacesResult::kTooLong;
  // The folder of the list file; a Windows path's backslash counts as a separator too.
  places.local_path = std::string(list_file.substr(0, platform::DirectoryPrefixLength(list_file)));
  places.local_path += places.file_name;
  if (places.local_path.size() > kMaxLocalPath) return PlacesResult::kTooLong;
  return PlacesResult::kOk;
}

}  // namespace web
