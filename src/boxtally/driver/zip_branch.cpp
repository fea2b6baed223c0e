#include "boxtally/driver/model_branches.h"

namespace driver {

// TODO(archive module not in yet): until the first-entry extraction lands, an archive is read
// as RWX text like any other file.
std::unique_ptr<platform::InStream> OpenZipEntry(RunHost& host, const RunState& run, ModelJob& job,
                                                 std::unique_ptr<platform::InStream> archive) {
  (void)run;
  if (!host.ErrorsOnly()) {
    platform::LogF(host.Log(), "Processing file %s\n", job.model_path.c_str());
  }
  return archive;
}

}  // namespace driver
