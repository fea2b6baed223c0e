#include "boxtally/driver/batch_main.h"

#include "boxtally/driver/process_model.h"
#include "boxtally/driver/run_arguments.h"
#include "platform/file_search.h"
#include "platform/paths.h"

namespace driver {

namespace {
// Extracted entries are left under this name when a model is interrupted between steps.
constexpr const char* kUnzipWorkFile = "unzipwk.$$$";

bool FormatFileReadable(const std::string& path) {
  return platform::OpenInStream(path, /*text_mode=*/true) != nullptr;
}
}  // namespace

int BatchMain(RunHost& host, const std::vector<std::string>& args) {
  platform::TextFile& log = host.Log();
  host.ClearStopRequest();
  if (args.size() < 3) return 1;

  std::string pattern = args[1];
  const std::string& format_path = args[2];
  if (!FormatFileReadable(format_path)) {
    platform::LogF(log, "Unable to open format file %s\n", format_path.c_str());
    return 1;
  }
  if (pattern.size() > kMaxModelPattern) {
    platform::LogF(log, "Model pattern longer than %zu characters: %.40s...\n", kMaxModelPattern,
                   pattern.c_str());
    return 1;
  }
  if (pattern.find('.') == std::string::npos) pattern += ".rwx";

  RunOptions options;
  if (ReadRunOptions(args, log, options) != OptionsResult::kOk) return 1;
  platform::TextFilePtr stdout_registry;
  platform::TextFile* registry = options.registry_file.get();
  if (registry == nullptr) {
    // Standard output gets the same bytes a registry file would: "> reg.txt" equals "-oreg.txt".
    stdout_registry.reset(platform::WrapStream(stdout, /*crlf=*/true));
    registry = stdout_registry.get();
  }

  const std::vector<std::string> found = platform::FindFiles(pattern);
  if (found.empty()) return 1;
  const std::string prefix = pattern.substr(0, platform::DirectoryPrefixLength(pattern));

  RunState run;
  run.format_path = format_path;
  run.registry = registry;
  run.integer_mode = options.integer_mode;
  run.debug_trace = options.debug_trace;
  run.password = options.password;
  for (std::size_t i = 0; i < found.size(); ++i) {
    host.ShowProgress(i, found.size(), found[i]);
    if (ProcessModel(host, prefix + found[i], found[i], run) == ModelResult::kAbort) return 1;
    if (host.StopRequested()) break;
  }
  host.ShowProgress(found.size(), found.size(), std::string());
  platform::RemoveFile(host.WorkDirectory() + kUnzipWorkFile);
  host.SetStatusText(1, "Done!");
  return 0;
}

}  // namespace driver
