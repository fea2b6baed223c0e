#include <cstdio>

#include "boxtally/archive/first_entry.h"
#include "boxtally/archive/zip_first_name.h"
#include "boxtally/driver/model_branches.h"

namespace driver {

namespace {
std::optional<std::string> FirstEntryName(const std::string& archive_path) {
  std::FILE* f = std::fopen(archive_path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  std::optional<std::string> name = archive::ZipFirstName(f);
  std::fclose(f);
  return name;
}
}  // namespace

std::unique_ptr<platform::InStream> OpenZipEntry(RunHost& host, const RunState& run, ModelJob& job,
                                                 std::unique_ptr<platform::InStream> archive) {
  platform::TextFile& log = host.Log();
  archive.reset();  // the entry name and the extraction read the archive from its start
  const std::optional<std::string> entry = FirstEntryName(job.model_path);
  if (!entry) {
    platform::LogF(log, "Unable to get zipfile name %s\n", job.model_path.c_str());
    return nullptr;
  }
  if (!host.ErrorsOnly()) {
    platform::LogF(log, "File name within (%s) archive=%s\n", job.model_path.c_str(),
                   entry->c_str());
  }
  job.suffix = TypeSuffix(*entry);
  const std::string work = job.work_dir + kUnzipWorkFile;
  // The converter needs a file; an RWX entry is measured straight from memory. Its messages
  // still name the work file: they read the same either way.
  const archive::EntryDestination destination = job.suffix == "cob"
                                                    ? archive::EntryDestination::kWorkFile
                                                    : archive::EntryDestination::kMemoryWhenItFits;
  auto stream = archive::ExtractFirstEntry(job.model_path, run.password, log, work, destination,
                                           &job.entry_in_memory, run.notes, host.MaxEntryBytes());
  if (!stream) {
    platform::LogF(log, "Unable to unzip file %s\n", job.model_path.c_str());
    return nullptr;
  }
  job.from_zip = true;
  job.work_path = work;
  job.work_path_set = true;
  return stream;
}

}  // namespace driver
