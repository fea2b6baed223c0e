#include "boxtally/web/validators.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>
#include <vector>

#include "boxtally/http/http_message.h"
#include "platform/file_search.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "platform/safe_replace.h"

namespace web {
namespace {

constexpr std::string_view kFirstLine = "boxtally-web 1";

bool ReadNumber(std::string_view text, std::int64_t& value) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc{} && end == last;
}

// Nothing in a field may break its line or its request line later.
bool PlainField(std::string_view field) {
  for (const char c : field) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool ReadRecord(std::string_view line, std::string& name, Validators& v) {
  std::vector<std::string_view> fields;
  for (int i = 0; i < 5; ++i) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  // A damaged record must never put a control byte into a request's If-None-Match line.
  if (line.empty() || !PlainField(line) || fields[4].empty() || !PlainField(fields[4]) ||
      !PlainField(fields[3]) || fields[3].size() > http::kMaxEtag) {
    return false;
  }
  if (!ReadNumber(fields[0], v.size) || v.size < 0 || !ReadNumber(fields[1], v.mtime_ns) ||
      !ReadNumber(fields[2], v.last_modified) || v.last_modified < -1) {
    return false;
  }
  v.etag = std::string(fields[3]);
  v.url = std::string(fields[4]);
  name = std::string(line);
  return true;
}

}  // namespace

std::map<std::string, Validators> ParseValidatorText(std::string_view text) {
  std::map<std::string, Validators> files;
  bool first = true;
  while (!text.empty()) {
    const std::size_t feed = text.find('\n');
    std::string_view line = text.substr(0, feed);
    text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line != kFirstLine) break;
      first = false;
      continue;
    }
    std::string name;
    Validators v;
    if (line.size() <= kMaxValidatorLine && ReadRecord(line, name, v)) files[name] = std::move(v);
  }
  return files;
}

std::string ValidatorText(const std::map<std::string, Validators>& files) {
  std::string text(kFirstLine);
  text += '\n';
  for (const auto& [name, v] : files) {
    if (!PlainField(name) || !PlainField(v.url) || !PlainField(v.etag) ||
        v.etag.find('\t') != std::string::npos) {
      continue;
    }
    text += std::to_string(v.size) + '\t' + std::to_string(v.mtime_ns) + '\t' +
            std::to_string(v.last_modified) + '\t' + v.etag + '\t' + v.url + '\t' + name + '\n';
  }
  return text;
}

std::string ValidatorFilePath(const std::string& list_file) {
  return list_file.substr(0, platform::DirectoryPrefixLength(list_file)) + kValidatorFileName;
}

std::shared_ptr<ValidatorStore> LoadValidatorStore(const std::string& list_file,
                                                   std::string* refusal) {
  // Saved once nothing can record into it any more: the list is closed and every download that
  // read an entry of it has ended (with several downloads, after the list's end was read).
  std::shared_ptr<ValidatorStore> store(new ValidatorStore, [](ValidatorStore* done) {
    (void)SaveValidatorStore(*done);  // not written: the next run only downloads in full
    delete done;
  });
  store->path = ValidatorFilePath(list_file);
  std::string why;
  const int fd = platform::OpenOwnFile(store->path, O_RDONLY, why);
  if (fd < 0) {
    // A missing file is made by the first save; anything else there is not ours to touch.
    if (errno != ENOENT) {
      store->keep_file = true;
      if (refusal != nullptr) *refusal = why;
    }
    return store;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    store->keep_file = true;
    return store;
  }
  std::string text;
  char buffer[65536];
  std::size_t got = 0;
  while (text.size() <= kMaxValidatorFileBytes &&
         (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  const bool read_whole = !std::ferror(file) && text.size() <= kMaxValidatorFileBytes;
  std::fclose(file);
  if (read_whole) store->files = ParseValidatorText(text);
  return store;
}

void KeepValidatorFileAsItIs(ValidatorStore& store) {
  std::lock_guard<std::mutex> lock(store.mutex);
  store.keep_file = true;
}

std::optional<Validators> FindValidators(ValidatorStore& store, const std::string& file_name) {
  std::lock_guard<std::mutex> lock(store.mutex);
  const auto found = store.files.find(file_name);
  if (found == store.files.end()) return std::nullopt;
  return found->second;
}

void PutValidators(ValidatorStore& store, const std::string& file_name,
                   std::optional<Validators> validators) {
  std::lock_guard<std::mutex> lock(store.mutex);
  if (!validators) {
    store.changed = store.files.erase(file_name) > 0 || store.changed;
    return;
  }
  store.files[file_name] = std::move(*validators);
  store.changed = true;
}

RequestConditions ConditionsFor(ValidatorStore* store, const std::string& file_name,
                                const std::string& url, const std::string& local_path) {
  RequestConditions conditions;
  if (store == nullptr) return conditions;
  const std::optional<Validators> kept = FindValidators(*store, file_name);
  const std::optional<platform::FileStamp> stamp = platform::StampOf(local_path);
  if (!kept || !stamp || kept->url != url || kept->size != stamp->size ||
      kept->mtime_ns != stamp->mtime_ns) {
    return conditions;
  }
  if (kept->last_modified >= 0) {
    conditions.if_modified_since = http::FormatHttpDate(kept->last_modified);
  }
  conditions.if_none_match = kept->etag;
  return conditions;
}

void RecordDownload(ValidatorStore* store, const std::string& file_name, const std::string& url,
                    const std::string& local_path, const std::string& etag,
                    std::int64_t last_modified) {
  if (store == nullptr) return;
  const std::optional<platform::FileStamp> stamp = platform::StampOf(local_path);
  if (!stamp || (etag.empty() && last_modified < 0)) {
    PutValidators(*store, file_name, std::nullopt);
    return;
  }
  Validators v;
  v.url = url;
  v.size = stamp->size;
  v.mtime_ns = stamp->mtime_ns;
  v.last_modified = last_modified;
  v.etag = etag;
  PutValidators(*store, file_name, std::move(v));
}

void RefreshEtag(ValidatorStore* store, const std::string& file_name, const std::string& etag) {
  if (store == nullptr || etag.empty()) return;
  std::optional<Validators> kept = FindValidators(*store, file_name);
  if (!kept || kept->etag == etag) return;
  kept->etag = etag;
  PutValidators(*store, file_name, std::move(kept));
}

bool SaveValidatorStore(ValidatorStore& store) {
  std::lock_guard<std::mutex> lock(store.mutex);
  if (!store.changed || store.keep_file) return true;
  std::string why;
  if (!platform::ReplaceOwnFile(store.path, ValidatorText(store.files), why)) return false;
  store.changed = false;
  return true;
}

}  // namespace web
