// Helpers of the tests of what the package ships: the switches a program's --help names, tools
// looked up on PATH, and the lines of a program's output.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace package_test {

inline bool IsSwitchChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Every "--word" of the text, and every run option such as "-r" or "-sPASSWORD" (a dash after a
// blank, a comma or a line start, one letter, then anything but a lower-case letter): "-s".
inline std::set<std::string> HelpSwitches(const std::string& help) {
  std::set<std::string> switches;
  for (std::size_t i = 0; i + 1 < help.size(); ++i) {
    if (help[i] != '-') continue;
    const char before = i == 0 ? '\n' : help[i - 1];
    if (before != ' ' && before != '\n' && before != ',' && before != '(') continue;
    if (help[i + 1] == '-') {
      std::size_t end = i + 2;
      while (end < help.size() && IsSwitchChar(help[end])) ++end;
      if (end > i + 2) switches.insert(help.substr(i, end - i));  // not the bare "--"
      i = end;
      continue;
    }
    const char letter = help[i + 1];
    const bool lower = letter >= 'a' && letter <= 'z';
    const char after = i + 2 < help.size() ? help[i + 2] : '\n';
    if (lower && !(after >= 'a' && after <= 'z')) switches.insert(help.substr(i, 2));
  }
  return switches;
}

// Whether `text` holds `word` as a word of its own: not inside a longer switch or name
// ("-r" is not in "--referer", "--log" is not in "--log-file").
inline bool HoldsSwitch(const std::string& text, const std::string& word) {
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const char before = at == 0 ? ' ' : text[at - 1];
    const std::size_t end = at + word.size();
    const char after = end < text.size() ? text[end] : ' ';
    const bool clean_before = !IsSwitchChar(before) && !(before >= 'A' && before <= 'Z');
    if (clean_before && !IsSwitchChar(after)) return true;
  }
  return false;
}

// The full path of a program found on PATH, or the empty text.
inline std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace package_test
