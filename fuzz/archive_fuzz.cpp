// ZipFirstName, FirstEntryCutShort, FirstEntrySize, FindCentralEntry, UnzipFirst and
// ExtractFirstEntry over any bytes: each must answer with a name, a size, a record, a failure or a
// result code, never crash, hang or touch memory outside their buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boxtally/archive/central_directory.h"
#include "boxtally/archive/first_entry.h"
#include "boxtally/archive/zip_first_name.h"
#include "platform/text_file.h"

namespace {

// The archive must be a file for UnzipFirst; one private folder holds it for the whole run.
const std::string& ArchivePath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/archive-fuzz.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    static const std::string file = dir + "/input.zip";
    static const std::string folder = dir;
    std::atexit([] {
      std::remove(file.c_str());
      rmdir(folder.c_str());
    });
    return file;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0) {
    std::vector<std::uint8_t> copy(data, data + size);
    if (std::FILE* f = fmemopen(copy.data(), copy.size(), "rb")) {
      (void)archive::ZipFirstName(f);
      std::fclose(f);
    }
    if (std::FILE* f = fmemopen(copy.data(), copy.size(), "rb")) {
      (void)archive::FirstEntryCutShort(f);
      std::fclose(f);
    }
    if (std::FILE* f = fmemopen(copy.data(), copy.size(), "rb")) {
      (void)archive::FirstEntrySize(f);
      std::fclose(f);
    }
  }
  // The directory reader straight over the bytes; UnzipFirst reaches it only for stored entries.
  const archive::ReadAt read_at = [data, size](std::uint64_t offset, std::uint8_t* out,
                                               std::size_t count) {
    if (offset > size || count > size - offset) return false;
    std::memcpy(out, data + offset, count);
    return true;
  };
  for (const std::uint64_t local_offset : {0, 4}) {
    if (const auto entry = archive::FindCentralEntry(read_at, size, local_offset)) {
      if (entry->local_header_offset != local_offset) std::abort();
    }
  }

  const std::string& path = ArchivePath();
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  // Output and messages are thrown away; a password lets encrypted entries get past the check
  // byte now and then (it is ignored for entries that are not encrypted).
  platform::TextFilePtr log(platform::OpenTextFile("/dev/null", platform::OpenMode::kAppend));
  std::FILE* err = std::fopen("/dev/null", "w");
  if (log != nullptr && err != nullptr) {
    (void)archive::UnzipFirst({"funzip", "-pw", path, "/dev/null"}, *log, err);
    // The memory road: the archive read whole, the entry inflated in one call where it can be.
    bool in_memory = false;
    (void)archive::ExtractFirstEntry(path, "pw", *log, "/dev/null",
                                     archive::EntryDestination::kMemoryWhenItFits, &in_memory, err);
  }
  if (err != nullptr) std::fclose(err);
  return 0;
}
