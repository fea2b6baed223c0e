#include <cstdio>

#include "boxtally/archive/first_entry.h"
#include "boxtally/archive/zip_first_name.h"
#include "boxtally/driver/model_branches.h"

namespace driver {

namespace {
std::optional<std::string> FirstEntryName(const std::string& archive_path) {
  std::FILE* f = platform::OpenRegularFile(archive_path);
  if (f == nullptr) return std::nullopt;
  std::optional<std::string> name = archive::ZipFirstName(f);
  std::fclose(f);
  return name;
}

// A file that does not even start as a zip archive (PK) or a gzip member is "not a zip".
bool StartsAsArchive(const std::string& path) {
  unsigned char head[2] = {0, 0};
  std::FILE* f = platform::OpenRegularFile(path);
  if (f == nullptr) return true;
  const std::size_t n = std::fread(head, 1, 2, f);
  std::fclose(f);
  return n == 2 && ((head[0] == 'P' && head[1] == 'K') || (head[0] == 0x1f && head[1] == 0x8b));
}

bool CutShort(const std::string& path) {
  std::FILE* f = platform::OpenRegularFile(path);
  if (f == nullptr) return false;
  const bool cut = archive::FirstEntryCutShort(f);
  std::fclose(f);
  return cut;
}

// The extraction's message, as a reason a user can act on. Inflating an entry that the end of
// the file cuts short fails as damaged data; the file's size tells the truth.
Reason ReasonOf(const archive::ExtractFailure& failure, const std::string& path) {
  const std::string& m = failure.message;
  if (failure.code == archive::kUnzipTooLarge) return Reason::kArchiveTooLarge;
  if (failure.code == archive::kUnzipOutOfSpace) return Reason::kWorkFolderFull;
  if (m == "Provide a password. File is encrypted") return Reason::kArchiveEncrypted;
  if (m == "incorrect password for first entry" || m.rfind("password longer", 0) == 0) {
    return Reason::kArchiveWrongPassword;
  }
  if (m == "zipfile ended prematurely" || m == "gzip file ended prematurely") {
    return Reason::kArchiveTruncated;
  }
  if (m == "input not a zip or gzip file") return Reason::kArchiveNotZip;
  return CutShort(path) ? Reason::kArchiveTruncated : Reason::kArchiveDamaged;
}
}  // namespace

std::unique_ptr<platform::InStream> OpenZipEntry(RunHost& host, const RunState& run, ModelJob& job,
                                                 std::unique_ptr<platform::InStream> archive) {
  platform::TextFile& log = host.Log();
  archive.reset();  // the entry name and the extraction read the archive from its start
  const std::optional<std::string> entry = FirstEntryName(job.model_path);
  if (!entry) {
    platform::LogF(log, "Unable to get zipfile name %s\n", job.model_path.c_str());
    if (!StartsAsArchive(job.model_path)) return Fail(job, Reason::kArchiveNotZip, "");
    return Fail(job, Reason::kArchiveNoEntryName, "the first entry's name cannot be read");
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
  archive::ExtractFailure failure;
  auto stream =
      archive::ExtractFirstEntry(job.model_path, run.password, log, work, destination,
                                 &job.entry_in_memory, run.notes, host.MaxEntryBytes(), &failure);
  if (!stream) {
    platform::LogF(log, "Unable to unzip file %s\n", job.model_path.c_str());
    return Fail(job, ReasonOf(failure, job.model_path),
                "error " + std::to_string(failure.code) + ": " + failure.message);
  }
  job.from_zip = true;
  job.work_path = work;
  job.work_path_set = true;
  return stream;
}

}  // namespace driver
