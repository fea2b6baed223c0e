#include "boxtally/ui/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/paths.h"
#include "platform/private_profile.h"

namespace ui {

namespace {

constexpr const char* kForm = "Form";
constexpr const char* kDebug = "Debug";
constexpr const char* kParameters = "Parameters";
constexpr const char* kTemplateLinesKey = "DefaultFormatLines";
constexpr const char* kResults = "Results";

bool Blank(char c) { return c == ' ' || c == '\t'; }

// A profile read drops blanks and one pair of quotes around a value: a value that would lose
// either is written inside quotes, which the read takes off again.
std::string Quoted(const std::string& value) {
  if (value.empty()) return value;
  const bool blank_edge = Blank(value.front()) || Blank(value.back());
  const bool quote_pair = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                          value.back() == value.front();
  return blank_edge || quote_pair ? "\"" + value + "\"" : value;
}

// The whole template on one line: "\n" for each line break and "\\" for each backslash.
std::string EscapedLines(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

std::string UnescapedLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      out += text[i] == 'n' ? '\n' : text[i];
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string ReadString(const std::string& path, const char* key, const std::string& fallback) {
  return platform::ReadProfileString(path, kParameters, key).value_or(fallback);
}

bool ReadBool(const std::string& path, const char* key, bool fallback) {
  return platform::ReadProfileBool(path, kParameters, key, fallback);
}

// "120,80,,64" to {120, 80, 0, 64}: a width that is no number reads as 0; at most one per
// column of the results window.
std::vector<int> Widths(const std::string& text) {
  constexpr std::size_t kMaxColumns = 64;
  std::vector<int> widths;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty() && widths.size() < kMaxColumns) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    int width = 0;
    const char* first = text.data() + start;
    const char* last = text.data() + comma;
    const auto [end, ec] = std::from_chars(first, last, width);
    widths.push_back(ec == std::errc{} && end == last && width > 0 ? width : 0);
    start = comma + 1;
  }
  return widths;
}

std::string WidthsText(const std::vector<int>& widths) {
  std::string text;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(widths[i]);
  }
  return text;
}

// mkdir -p for the settings folder under the XDG configuration folder.
void MakeParentFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

// Folders whose files belong to installed packages: root may write there, but a settings file
// left in /usr/bin would belong to no package and outlive the program's removal.
bool IsSystemProgramFolder(const std::string& dir) {
  const auto starts = [&dir](const char* prefix) { return dir.rfind(prefix, 0) == 0; };
  return (starts("/usr/") && !starts("/usr/local/")) || starts("/bin/") || starts("/sbin/");
}
}  // namespace

std::string SettingsFilePath(const std::string& program_dir, const char* xdg_config_home,
                             const char* home) {
  if (!program_dir.empty() && !IsSystemProgramFolder(program_dir) &&
      access(program_dir.c_str(), W_OK) == 0) {
    return program_dir + kSettingsFileName;
  }
  std::string config;
  if (xdg_config_home != nullptr && xdg_config_home[0] == '/') {
    config = xdg_config_home;
  } else if (home != nullptr && home[0] != '\0') {
    config = std::string(home) + "/.config";
  } else {
    config = ".";
  }
  if (config.back() != '/') config += '/';
  return config + "boxtally/" + kSettingsFileName;
}

std::string DefaultSettingsFilePath() {
  return SettingsFilePath(platform::ProgramDirectory(), std::getenv("XDG_CONFIG_HOME"),
                          std::getenv("HOME"));
}

Settings LoadSettings(const std::string& path) {
  Settings s;
  s.top = platform::ReadProfileInt(path, kForm, "Top", s.top);
  s.left = platform::ReadProfileInt(path, kForm, "Left", s.left);
  s.cob_debug = platform::ReadProfileBool(path, kDebug, "CobDebug", s.cob_debug);
  s.model_path = ReadString(path, "ModelPath", s.model_path);
  s.file_models = ReadString(path, "FileModels", s.file_models);
  s.list_file = ReadString(path, "ListFile", s.list_file);
  s.registry_file = ReadString(path, "RegistryFile", s.registry_file);
  s.append_registry = ReadBool(path, "AppendRegistry", s.append_registry);
  s.log_file = ReadString(path, "LogFile", s.log_file);
  s.append_log = ReadBool(path, "AppendLog", s.append_log);
  s.format_file = ReadString(path, "FormatFile", s.format_file);
  s.skip_huge_objects = ReadBool(path, "SkipHugeObjects", s.skip_huge_objects);
  s.handle_facers = ReadBool(path, "HandleFacers", s.handle_facers);
  s.non_centered = ReadBool(path, "NonCentered", s.non_centered);
  s.over_sized = ReadBool(path, "OverSized", s.over_sized);
  s.from_web = ReadBool(path, "FromWeb", s.from_web);
  s.reuse_web = ReadBool(path, "ReuseWeb", s.reuse_web);
  s.errors_only = ReadBool(path, "ErrorsOnly", s.errors_only);
  s.it_is_the_propfile = ReadBool(path, "ItIsThePropfile", s.it_is_the_propfile);
  s.url = ReadString(path, "URL", s.url);
  s.use_referer = ReadBool(path, "UseReferer", s.use_referer);
  s.user_agent = ReadString(path, "UserAgent", s.user_agent);
  s.referer = ReadString(path, "Referer", s.referer);
  s.referer_world = ReadString(path, "RefererWorld", s.referer_world);
  s.ca_file = ReadString(path, "CaFile", s.ca_file);
  s.proxy = ReadString(path, "Proxy", s.proxy);
  s.thumbnail_folder = ReadString(path, "Thumbnails", s.thumbnail_folder);
  const int downloads = platform::ReadProfileInt(path, kParameters, "Downloads", s.downloads);
  if (downloads >= 1 && downloads <= static_cast<int>(web::kMaxDownloads)) s.downloads = downloads;
  s.textures = ReadString(path, "Textures", s.textures);
  s.default_format = ReadString(path, "DefaultFormat", s.default_format);
  // The whole template counts only while it starts with DefaultFormat: a file saved since by the
  // older program, or edited by hand, holds a newer first line and the rest is stale. The key is
  // ours: read whole, since a template cut anywhere would be written into every registry line.
  const auto lines =
      platform::ReadProfileString(path, kParameters, kTemplateLinesKey, std::string::npos);
  if (lines) {
    const std::string whole = UnescapedLines(*lines);
    if (FirstLine(whole) == s.default_format) s.default_format = whole;
  }
  (s.from_web ? s.list_file : s.file_models) = s.model_path;
  s.results_width = platform::ReadProfileInt(path, kResults, "Width", 0);
  s.results_height = platform::ReadProfileInt(path, kResults, "Height", 0);
  s.results_columns = Widths(platform::ReadProfileString(path, kResults, "Columns").value_or(""));
  // Both keys, as numbers, or the window shows beside the main one.
  constexpr int kNone = INT_MIN;
  const int left = platform::ReadProfileInt(path, kResults, "Left", kNone);
  const int top = platform::ReadProfileInt(path, kResults, "Top", kNone);
  s.results_placed = left != kNone && top != kNone;
  if (s.results_placed) {
    s.results_left = left;
    s.results_top = top;
  }
  return s;
}

SettingsResult SaveSettings(const std::string& path, const Settings& s) {
  MakeParentFolders(path);
  struct Entry {
    const char* section;
    const char* key;
    std::string text;
  };
  const auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  const std::string first_line = FirstLine(s.default_format);
  const Entry entries[] = {
      {kForm, "Top", std::to_string(s.top)},
      {kForm, "Left", std::to_string(s.left)},
      {kDebug, "CobDebug", flag(false)},  // a debug run is asked for anew before each start
      {kParameters, "ModelPath", Quoted(s.model_path)},
      {kParameters, "FileModels", Quoted(s.file_models)},
      {kParameters, "ListFile", Quoted(s.list_file)},
      {kParameters, "RegistryFile", Quoted(s.registry_file)},
      {kParameters, "AppendRegistry", flag(s.append_registry)},
      {kParameters, "LogFile", Quoted(s.log_file)},
      {kParameters, "AppendLog", flag(s.append_log)},
      {kParameters, "FormatFile", Quoted(s.format_file)},
      {kParameters, "SkipHugeObjects", flag(s.skip_huge_objects)},
      {kParameters, "HandleFacers", flag(s.handle_facers)},
      {kParameters, "NonCentered", flag(s.non_centered)},
      {kParameters, "OverSized", flag(s.over_sized)},
      {kParameters, "FromWeb", flag(s.from_web)},
      {kParameters, "ReuseWeb", flag(s.reuse_web)},
      {kParameters, "ErrorsOnly", flag(s.errors_only)},
      {kParameters, "ItIsThePropfile", flag(s.it_is_the_propfile)},
      {kParameters, "UseReferer", flag(s.use_referer)},
      {kParameters, "URL", Quoted(s.url)},
      {kParameters, "UserAgent", Quoted(s.user_agent)},
      {kParameters, "Referer", Quoted(s.referer)},
      {kParameters, "RefererWorld", Quoted(s.referer_world)},
      {kParameters, "CaFile", Quoted(s.ca_file)},
      {kParameters, "Proxy", Quoted(s.proxy)},
      {kParameters, "Downloads", std::to_string(s.downloads)},
      {kParameters, "Textures", Quoted(s.textures)},
      {kParameters, "Thumbnails", Quoted(s.thumbnail_folder)},
      {kParameters, "DefaultFormat", Quoted(first_line)},
  };
  // One write per key, in the table's order; the first that fails ends the save.
  for (const Entry& e : entries) {
    if (platform::WriteProfileString(path, e.section, e.key, e.text) != platform::kProfileOk) {
      return kSettingsCannotWrite;
    }
  }
  const platform::ProfileResult lines =
      first_line.size() == s.default_format.size()
          ? platform::DeleteProfileKey(path, kParameters, kTemplateLinesKey)
          : platform::WriteProfileString(path, kParameters, kTemplateLinesKey,
                                         Quoted(EscapedLines(s.default_format)));
  if (lines != platform::kProfileOk) return kSettingsCannotWrite;
  if (s.results_width <= 0) return kSettingsOk;  // the results window was never made
  const Entry results[] = {
      {kResults, "Width", std::to_string(s.results_width)},
      {kResults, "Height", std::to_string(s.results_height)},
      {kResults, "Columns", WidthsText(s.results_columns)},
  };
  for (const Entry& e : results) {
    if (platform::WriteProfileString(path, e.section, e.key, e.text) != platform::kProfileOk) {
      return kSettingsCannotWrite;
    }
  }
  if (!s.results_placed) return kSettingsOk;
  const Entry place[] = {
      {kResults, "Left", std::to_string(s.results_left)},
      {kResults, "Top", std::to_string(s.results_top)},
  };
  for (const Entry& e : place) {
    if (platform::WriteProfileString(path, e.section, e.key, e.text) != platform::kProfileOk) {
      return kSettingsCannotWrite;
    }
  }
  return kSettingsOk;
}

}  // namespace ui
