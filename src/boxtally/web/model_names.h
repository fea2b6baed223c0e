// What the web fetch makes of one list entry: the model name taken from a list line, the name of
// the model's archive, its URL on the web object path and its local path beside the list file.
#pragma once

#include <string>
#include <string_view>

namespace web {

inline constexpr std::size_t kMaxEncodedFileName = 511;  // characters of the URL's file name part
inline constexpr std::size_t kMaxModelUrl = 2047;        // characters
inline constexpr std::size_t kMaxLocalPath = 1023;       // characters
inline constexpr std::size_t kMaxFileName = 255;         // bytes of the archive's file name

// The line without the bytes up to 0x20 (blanks, tabs, line ends) at either end.
std::string TrimListLine(std::string_view line);

// The model name of a trimmed list line: the line up to its first byte below 0x20. Empty when
// the line is skipped: shorter than 2 characters, starting with "#", or a name shorter than 2
// characters. Bytes above 0x7F belong to the name.
std::string ModelNameOfLine(std::string_view trimmed);

// The archive's file name: the name without its extension (the last "." after the first
// character ends it), then ".zip". "a.b.rwx" gives "a.b.zip", ".x" gives ".x.zip".
std::string ModelFileName(std::string_view model_name);

// False for a name that must not become a file name beside the list: one that holds "/" or "\"
// (a path), "*" or "?" (a wildcard that would measure other files), or is "." or "..".
bool IsPlainModelName(std::string_view model_name);

// The file name as a URL path segment: a space and the other bytes below 0x21 or above 0x7E,
// "#" and "?" are written as "%" and two upper-case hexadecimal digits; "%" stays as it is.
std::string EncodeForUrl(std::string_view file_name);

struct ModelPlaces {
  std::string file_name;   // "tree.zip"
  std::string url;         // the object path, "/" and the encoded file name
  std::string local_path;  // the list file's folder and the file name, spaces kept
};

enum class PlacesResult { kOk, kNotPlain, kTooLong, kFileNameTooLong };

// Forms the three names of `model_name` for the object path `url_text` (UrlEdit) and the list
// file `list_file` (ModelsEdit). kNotPlain: see IsPlainModelName. kFileNameTooLong: the file
// name passes kMaxFileName (no file system would take it). kTooLong: the encoded file name, the
// URL or the local path passes its room. Nothing is ever cut. `places` is meaningful only with
// kOk.
PlacesResult FormModelPlaces(std::string_view model_name, std::string_view url_text,
                             std::string_view list_file, ModelPlaces& places);

}  // namespace web
