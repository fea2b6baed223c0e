#include "boxtally/ui/run_launch.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/file_search.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace ui {

namespace {

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string InFolder(const std::string& folder, const std::string& path) {
  if (path.empty() || path.front() == '/' || folder.empty()) return path;
  return folder.back() == '/' ? folder + path : folder + "/" + path;
}

}  // namespace

RunArguments BuildRunArguments(const RunInputs& in) {
  RunArguments out;
  const std::string format = in.format_file.empty() ? in.temporary_format : in.format_file;
  std::string registry;
  if (!in.append_registry) {
    registry = "-o" + in.registry;
  } else if (!in.registry.empty() && in.registry.front() == '-') {
    registry = "./" + in.registry;  // a bare "-name" would be read as option letter n
  } else {
    registry = in.registry;
  }
  const std::string password = in.password.empty() ? std::string() : "-s" + in.password;
  const struct {
    const std::string& text;
    RunField field;
  } checks[] = {{in.models, RunField::kModels},
                {format, RunField::kFormatFile},
                {password, RunField::kPassword},
                {registry, RunField::kRegistry}};
  for (const auto& c : checks) {
    if (c.text.size() > kMaxWindowArgument) {
      out.too_long = c.field;
      return out;
    }
  }
  out.args = {kRunProgramName, in.models, format, "-r"};
  if (!password.empty()) out.args.push_back(password);
  out.args.push_back(registry);
  return out;
}

bool WriteTemporaryFormat(const std::string& path, const std::string& template_text) {
  platform::TextFile* file = platform::CreateWorkTextFile(path);
  if (file == nullptr) return false;
  platform::WriteText(*file, template_text);
  if (!template_text.empty() && template_text.back() != '\n') platform::WriteText(*file, "\n");
  bool ok = std::fflush(file->file) == 0 && std::ferror(file->file) == 0;
  ok = std::fclose(file->file) == 0 && ok;
  file->file = nullptr;
  platform::CloseTextFile(file);
  return ok;
}

std::string ModelsTextForChoice(const std::vector<std::string>& chosen) {
  if (chosen.empty()) return {};
  if (chosen.size() == 1) return chosen.front();
  const std::size_t prefix_length = platform::DirectoryPrefixLength(chosen.front());
  const std::string folder = chosen.front().substr(0, prefix_length);
  const std::string first_name = chosen.front().substr(prefix_length);
  const std::size_t dot = first_name.rfind('.');
  if (dot == std::string::npos || dot == 0) return chosen.front();
  const std::string suffix = first_name.substr(dot);  // ".zip"
  std::vector<std::string> names;
  for (const std::string& path : chosen) {
    if (path.size() <= prefix_length || path.compare(0, prefix_length, folder) != 0) {
      return chosen.front();
    }
    names.push_back(Lowered(path.substr(prefix_length)));
  }
  const std::string pattern = folder + "*" + suffix;
  std::vector<std::string> matched = platform::FindFiles(pattern);
  for (std::string& name : matched) name = Lowered(name);
  std::sort(names.begin(), names.end());
  std::sort(matched.begin(), matched.end());
  return names == matched ? pattern : chosen.front();
}

DialogStart DialogStartFor(const std::string& box_text, const std::string& working_folder) {
  DialogStart start;
  if (box_text.empty()) return start;
  const std::size_t prefix_length = platform::DirectoryPrefixLength(box_text);
  start.name = box_text.substr(prefix_length);
  std::string folder = InFolder(working_folder, box_text.substr(0, prefix_length));
  if (folder.empty()) folder = working_folder;
  if (folder.empty() || !platform::IsDirectory(folder)) return start;
  if (folder.back() != '/') folder += '/';
  start.folder = folder;
  return start;
}

bool TypedNamesExist(const std::string& folder, const std::string& typed) {
  if (typed.empty() || typed.front() == '"') return true;
  return platform::FileExists(InFolder(folder, typed));
}

}  // namespace ui
