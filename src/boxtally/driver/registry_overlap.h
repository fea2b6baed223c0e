// How many models of a run already have lines in the registry the run appends to: a second run
// over the same models would give each of them twice, so the window asks first and the terminal
// warns. Cheap: one search (or one reading of the list) and one reading of the registry.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace driver {

inline constexpr std::size_t kMaxOverlapLine = 4096;  // bytes of a registry line looked at

// Where a template puts the model's name on a registry line: the first template line with the
// tag <ffile> (its own default format) gives the text before it, which must hold no tag, and
// the character right after it ('\n' when the tag ends the line), which must not start a tag.
struct NamePlace {
  std::string before;
  char after = '\n';
};
// nullopt when no template line gives the name so: lines cannot be told apart by model then.
std::optional<NamePlace> FindNamePlace(std::string_view template_text);

// The registry names a run's lines may give each of its models, model by model: "tree.rwx" for
// tree.rwx, "tree.cob" for tree.cob, both for tree.zip (its entry decides). Each name maps to the
// model's number in the run.
using RunModelNames = std::unordered_map<std::string, std::size_t>;
// File mode: the files the pattern matches, as a run searches them.
RunModelNames FileModelNames(const std::string& pattern);
// Web mode: the entries of the list file (a propdump's names once each).
RunModelNames ListModelNames(const std::string& list_file, bool propdump);

// How many of the models have at least one line in the registry at `path`: a line that starts
// with `place.before`, then one of the model's names, then `place.after` (or its end). Only the
// first kMaxOverlapLine bytes of a line count. 0 when the file cannot be read.
std::size_t CountModelsInRegistry(const std::string& path, const NamePlace& place,
                                  const RunModelNames& models);
// The same over an open stream, read to its end.
std::size_t CountModelsInLines(std::FILE* registry, const NamePlace& place,
                               const RunModelNames& models);

// All of it for a run's arguments (program, models, format file, options, registry) and its
// template's text: 0 unless the run appends to a registry file that exists.
std::size_t ModelsAlreadyInRegistry(const std::vector<std::string>& args,
                                    const std::string& template_text, bool web, bool propdump);

}  // namespace driver
