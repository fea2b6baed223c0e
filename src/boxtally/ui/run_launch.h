// What the run button hands to BatchMain, what the models dialog puts into the models box, and
// where the browse dialogs start. Qt-free: the window reads its controls and calls these.
#pragma once

#include <string>
#include <vector>

namespace ui {

inline constexpr std::size_t kMaxWindowArgument = 511;  // bytes of one argument the window composes
inline constexpr const char* kRunProgramName = "boxtally";
inline constexpr const char* kTemporaryFormatFile = "myregxxx.$$$";

struct RunInputs {
  std::string models;            // models_edit_: a pattern, or the list file in web mode
  std::string format_file;       // format_file_edit_; empty: use `temporary_format`
  std::string temporary_format;  // the work folder's "myregxxx.$$$"
  std::string password;          // password_edit_; empty: no password argument
  std::string registry;          // registry_edit_
  bool append_registry = true;   // append_registry_box_
};

// The argument that did not fit, if any.
enum class RunField { kNone, kModels, kFormatFile, kPassword, kRegistry };

struct RunArguments {
  std::vector<std::string> args;  // five or six entries; empty when `too_long` names a field
  RunField too_long = RunField::kNone;
};

// "boxtally", the models, the format file, "-r", "-s"+password when there is one, then the
// registry: the bare name when appending ("./"+name when it starts with "-", so it stays a file
// name), else "-o"+name. An argument over kMaxWindowArgument bytes refuses the whole run.
RunArguments BuildRunArguments(const RunInputs& inputs);

// Writes the template text as the temporary format file, CR LF line ends, every line ended (the
// registry writer drops a last line without its line end). False when it cannot be written whole;
// the caller removes the file after the run either way.
bool WriteTemporaryFormat(const std::string& path, const std::string& template_text);

// The models text for the names chosen in the models dialog (full paths, in the dialog's order).
// One name: that name. Several: "folder/*.ext" when they are exactly the files that pattern
// matches, so the run measures what was chosen and nothing more; otherwise the first name.
std::string ModelsTextForChoice(const std::vector<std::string>& chosen);

// Where a browse dialog starts for the text of its box. `folder` is the box's folder, ending with
// '/' (a bare name or a relative path counts from `working_folder`, as the run reads it), or empty
// when the box names no folder that exists: the dialog then stays in the last folder it showed.
// `name` is the box's last part (a file name or a pattern), empty for an empty box.
struct DialogStart {
  std::string folder;
  std::string name;
};
DialogStart DialogStartFor(const std::string& box_text, const std::string& working_folder);

// Whether the text typed into the models dialog's name box names what already exists in `folder`
// (an empty text, and names chosen from the list in double quotes, count as existing). A pattern
// such as "*.zip" or a name still to come does not: the dialog then takes the text as it is.
bool TypedNamesExist(const std::string& folder, const std::string& typed);

}  // namespace ui
