#include "boxtally/driver/registry_overlap.h"

#include <cstdio>
#include <memory>

#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/web/model_names.h"
#include "boxtally/web/web_fetch.h"
#include "platform/file_search.h"
#include "platform/paths.h"
#include "platform/text_file.h"

namespace driver {

namespace {
constexpr std::string_view kNameTag = "<ffile>";

// A model's registry names, as the pipeline gives them: the name in lower case with "rwx" or
// "cob" as its last three characters, control characters as '_'.
void AddNames(RunModelNames& names, const std::string& file_name, std::size_t model) {
  const std::string suffix = TypeSuffix(file_name);
  if (suffix != "cob") names.emplace(platform::WithoutControls(ModelName(file_name, "rwx")), model);
  if (suffix == "cob" || suffix == "zip") {
    names.emplace(platform::WithoutControls(ModelName(file_name, "cob")), model);
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

std::optional<NamePlace> FindNamePlace(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t tag = line.find("<ffile");
    if (tag == std::string_view::npos) continue;
    // An own format gives names of another width, and a tag before it another start.
    if (line.compare(tag, kNameTag.size(), kNameTag) != 0) return std::nullopt;
    const std::string_view before = line.substr(0, tag);
    if (before.find("<f") != std::string_view::npos) return std::nullopt;
    const std::string_view after = line.substr(tag + kNameTag.size());
    if (after.substr(0, 2) == "<f") return std::nullopt;
    return NamePlace{std::string(before), after.empty() ? '\n' : after.front()};
  }
  return std::nullopt;
}

RunModelNames FileModelNames(const std::string& pattern) {
  RunModelNames names;
  if (pattern.size() > kMaxModelPattern) return names;
  // As the run reads it: a pattern without any "." means RWX files.
  const std::string searched = pattern.find('.') == std::string::npos ? pattern + ".rwx" : pattern;
  const std::vector<std::string> found = platform::FindMatches(searched);
  for (std::size_t i = 0; i < found.size(); ++i) AddNames(names, found[i], i);
  return names;
}

RunModelNames ListModelNames(const std::string& list_file, bool propdump) {
  RunModelNames names;
  if (!platform::IsRegularFile(list_file)) return names;
  const auto list = platform::OpenInStream(list_file, /*text_mode=*/!propdump);
  if (!list) return names;
  const std::vector<std::string> entries = web::ListEntryNames(*list, propdump, web::SeenNames{});
  // Each entry is fetched as NAME.zip, which gives the registry name as any archive does.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    AddNames(names, web::ModelFileName(entries[i]), i);
  }
  return names;
}

std::size_t CountModelsInRegistry(const std::string& path, const NamePlace& place,
                                  const RunModelNames& models) {
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularFile(path));
  if (!file) return 0;
  return CountModelsInLines(file.get(), place, models);
}

std::size_t CountModelsInLines(std::FILE* registry, const NamePlace& place,
                               const RunModelNames& models) {
  if (models.empty()) return 0;
  std::vector<bool> seen(models.size());
  std::size_t count = 0;
  const auto note = [&](const std::string& name) {
    const auto model = models.find(name);
    if (model == models.end() || model->second >= seen.size() || seen[model->second]) return;
    seen[model->second] = true;
    ++count;
  };
  const auto look_at = [&](std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, place.before.size(), place.before) != 0) return;
    const std::string rest = line.substr(place.before.size());
    if (place.after == '\n') return note(rest);
    // A name may hold the character after it (a blank in "my box.rwx"): every cut counts.
    for (std::size_t at = rest.find(place.after); at != std::string::npos;
         at = rest.find(place.after, at + 1)) {
      note(rest.substr(0, at));
    }
  };
  std::string line;
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, registry)) > 0;) {
    for (std::size_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        if (line.size() < kMaxOverlapLine) line += buffer[i];
        continue;
      }
      look_at(line);
      line.clear();
    }
  }
  if (!line.empty()) look_at(line);  // a last line without its line end
  return count;
}

std::size_t ModelsAlreadyInRegistry(const std::vector<std::string>& args,
                                    const std::string& template_text, bool web, bool propdump) {
  if (args.size() < 3) return 0;
  std::string ignored;
  platform::TextFile sink = platform::MemoryTextFile(ignored, /*crlf=*/false);
  RunOptions options;
  if (ReadRunOptions(args, sink, options) != OptionsResult::kOk || !options.registry_named ||
      options.registry_mode != platform::OpenMode::kAppend ||
      !platform::IsRegularFile(options.registry_name)) {
    return 0;
  }
  const std::optional<NamePlace> place = FindNamePlace(template_text);
  if (!place) return 0;
  const RunModelNames models = web ? ListModelNames(args[1], propdump) : FileModelNames(args[1]);
  return CountModelsInRegistry(options.registry_name, *place, models);
}

}  // namespace driver
