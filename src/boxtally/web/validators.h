// What the web fetch keeps of each download so the next run can ask the server whether the model
// changed (a conditional GET) instead of fetching it again: the server's ETag and Last-Modified,
// and the size and time of the file as it was saved, so a file changed since (by hand, by another
// program, by a download whose record was lost) is never taken for the one the server described.
// One small file beside the list, ".boxtally-web", replaced whole once a run's downloads are done.
// A missing or damaged one only costs full downloads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace web {

inline constexpr const char* kValidatorFileName = ".boxtally-web";
inline constexpr std::size_t kMaxValidatorFileBytes = 16 << 20;  // bytes read; larger: ignored
inline constexpr std::size_t kMaxValidatorLine = 8192;           // bytes; longer lines: ignored

// The record of one downloaded file.
struct Validators {
  std::string url;                  // where it came from
  std::int64_t size = 0;            // bytes, as saved
  std::int64_t mtime_ns = 0;        // its time as saved (Last-Modified when the server gave one)
  std::int64_t last_modified = -1;  // the server's Last-Modified, seconds since 1970; -1: none
  std::string etag;                 // the server's ETag; empty: none
};

// The records of a list's folder, by file name. Shared by the downloads of a run (any thread).
struct ValidatorStore {
  std::string path;  // the store's file
  std::mutex mutex;
  std::map<std::string, Validators> files;
  bool changed = false;
  // The file is never written: what stands at its name is not this user's regular file, or the
  // run that used the records did not complete.
  bool keep_file = false;
};

// The records as text, and back: a first line "boxtally-web 1", then one line per file, its
// fields separated by tabs (size, time, Last-Modified, ETag, URL, file name). Lines that cannot
// be read are dropped, as is everything after a wrong first line.
std::map<std::string, Validators> ParseValidatorText(std::string_view text);
std::string ValidatorText(const std::map<std::string, Validators>& files);

// The records file of the list file's folder.
std::string ValidatorFilePath(const std::string& list_file);

// The store of the folder of `list_file`; empty when its file is missing or cannot be read. It is
// saved (SaveValidatorStore) when the last owner lets it go. The file is the program's own: read
// without following a link or waiting on a FIFO, and only when it is a regular file of this
// user's. Anything else at its name is left alone for good (keep_file), with `*refusal` saying
// what stands there ("a symbolic link", "not a regular file", "another user's file").
std::shared_ptr<ValidatorStore> LoadValidatorStore(const std::string& list_file,
                                                   std::string* refusal = nullptr);
// The file stays as it is, whatever the store holds or comes to hold.
void KeepValidatorFileAsItIs(ValidatorStore& store);
std::optional<Validators> FindValidators(ValidatorStore& store, const std::string& file_name);
// Replaces the record of a file (nullopt: removes it).
void PutValidators(ValidatorStore& store, const std::string& file_name,
                   std::optional<Validators> validators);
// The conditions of a request for `url` whose earlier download is at `local_path`, recorded as
// `file_name`: only while the record still describes that file (same URL, size and time), so
// nothing else is ever taken for it. Empty when there is no such record (`store` may be null).
struct RequestConditions {
  std::string if_modified_since;  // an HTTP date
  std::string if_none_match;      // the ETag
  bool Any() const { return !if_modified_since.empty() || !if_none_match.empty(); }
};
RequestConditions ConditionsFor(ValidatorStore* store, const std::string& file_name,
                                const std::string& url, const std::string& local_path);
// Records what the server said of the file now at `local_path` (its ETag, empty for none, and
// its Last-Modified, -1 for none), or forgets it when the server gave neither.
void RecordDownload(ValidatorStore* store, const std::string& file_name, const std::string& url,
                    const std::string& local_path, const std::string& etag,
                    std::int64_t last_modified);
// After a 304: a new ETag, where the server gave one, replaces the recorded one.
void RefreshEtag(ValidatorStore* store, const std::string& file_name, const std::string& etag);

// Writes the store's file when a record changed (safely replaced, never half written, onto its
// name itself, never through a link). False when it could not be written.
bool SaveValidatorStore(ValidatorStore& store);

}  // namespace web
