// Private profile (INI) files read and written as the Windows profile functions do: sections in
// square brackets, key=value lines, section and key names compared without regard to letter case.
// A write changes one line and keeps every other line of the file (other sections, keys,
// comments); the file is written with CR LF line ends through a temporary file that is then
// renamed over it, so a crash leaves the old file or the new one, never half of one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::size_t kMaxProfileValue = 2047;  // characters a read returns at most

enum [[nodiscard]] ProfileResult : int{
    kProfileOk = 0,
    kProfileCannotWrite = -1,  // the file or its folder cannot be written; the file is unchanged
    kProfileBadText = -2,      // a line break in the section, key or value, or an empty name
};

// The value of `key` in `section`, or nullopt when the file, the section or the key is missing.
// Blanks around the value are dropped, then one pair of matching quotes (' or ") around it; the
// result is cut to `limit` characters (kMaxProfileValue, as the Windows function does; npos for a
// key of our own that must come back whole). The first matching section and key count.
std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key,
                                             std::size_t limit = kMaxProfileValue);

// Integers: optional sign and decimal digits, or "0x"/"0X" and hexadecimal digits. `fallback`
// when the key is missing, the value is not such a number or it does not fit an int.
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int fallback);
// Booleans: read as an integer, any value other than 0 is true; `fallback` as for integers.
bool ReadProfileBool(const std::string& path, std::string_view section, std::string_view key,
                     bool fallback);

// Sets `key` in `section` to `value`: replaces the key's line, or adds it at the end of the
// section, or adds the section at the end of the file; creates the file when it is missing.
// A file that exists but may not be written (read-only) is kProfileCannotWrite.
ProfileResult WriteProfileString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view value);
ProfileResult WriteProfileInt(const std::string& path, std::string_view section,
                              std::string_view key, int value);
ProfileResult WriteProfileBool(const std::string& path, std::string_view section,
                               std::string_view key, bool value);  // "1" or "0"

// Removes every line of `key` in `section`; kProfileOk also when there was nothing to remove
// (the file is then left untouched).
ProfileResult DeleteProfileKey(const std::string& path, std::string_view section,
                               std::string_view key);

}  // namespace platform
