#include "boxtally/driver/model_source.h"

#include <utility>

#include "platform/file_search.h"

namespace driver {

namespace {
// The search's confirmation of a downloaded model: false after its log line.
bool FindWebModel(const std::string& path, platform::TextFile& log, FoundModel& model) {
  const std::vector<std::string> found = platform::FindFiles(path);
  if (found.empty()) {
    platform::LogF(log, "Unable to open file %s\n", path.c_str());
    return false;
  }
  model.found_name = found.front();
  model.path = path.substr(0, platform::DirectoryPrefixLength(path)) + model.found_name;
  return true;
}
}  // namespace

// The search could not confirm a downloaded model.
web::EntryEnd Vanished(const web::WebEntry& entry) {
  web::EntryEnd end;
  end.name = entry.name;
  end.url = entry.places.url;
  end.cause = web::EntryEnd::Cause::kNotSaved;
  end.why = "Unable to open file " + entry.places.local_path;
  return end;
}

web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, FoundModel& model) {
  for (;;) {
    std::string path;
    web::WebEntry entry;
    const web::NextResult next = web::NextWebModel(web, path, &entry);
    if (next != web::NextResult::kModel) return next;
    if (FindWebModel(path, log, model)) {
      model.entry_name = entry.name;
      model.url = entry.places.url;
      return next;
    }
    web.EntryEnded(Vanished(entry));
  }
}

FileSource::FileSource(const std::vector<std::string>& found, std::string prefix)
    : found_(found), prefix_(std::move(prefix)) {}

NextModel FileSource::Next() {
  NextModel next;
  if (index_ == found_.size()) return next;
  next.kind = NextModel::Kind::kModel;
  next.model.found_name = found_[index_++];
  next.model.path = prefix_ + next.model.found_name;
  return next;
}

// The host's web fetch with every call passed on, but the log kept in memory.
class WebSource::BufferedWebHost : public web::WebHost {
 public:
  explicit BufferedWebHost(web::WebHost& web) : web_(web) {}
  platform::TextFile& Log() override { return log_; }
  web::WebControls Controls() const override { return web_.Controls(); }
  http::TKestHTTP& Http() override { return web_.Http(); }
  web::SeenNames& Seen() override { return web_.Seen(); }
  web::ListFile& List() override { return web_.List(); }
  bool StopRequested() const override { return web_.StopRequested(); }
  void ShowStatusNow(int panel, const std::string& text) override {
    web_.ShowStatusNow(panel, text);
  }
  std::int64_t MaxDownloadBytes() const override { return web_.MaxDownloadBytes(); }
  int RequestTimeOutMs() const override { return web_.RequestTimeOutMs(); }
  void EntryEnded(const web::EntryEnd& end) override { ended_.push_back({end, TakeLog()}); }
  std::string TakeLog() { return std::exchange(text_, std::string()); }
  std::vector<EndedEntry> TakeEnded() { return std::exchange(ended_, {}); }

 private:
  web::WebHost& web_;
  std::string text_;
  std::vector<EndedEntry> ended_;
  platform::TextFile log_ = platform::MemoryTextFile(text_, /*crlf=*/false);
};

WebSource::WebSource(web::WebHost& web) : buffered_(std::make_unique<BufferedWebHost>(web)) {}
WebSource::~WebSource() = default;

NextModel WebSource::Next() {
  NextModel next;
  const web::NextResult result = NextFoundWebModel(*buffered_, buffered_->Log(), next.model);
  next.ended = buffered_->TakeEnded();
  next.log = buffered_->TakeLog();
  if (result == web::NextResult::kModel) next.kind = NextModel::Kind::kModel;
  if (result == web::NextResult::kStopped) next.kind = NextModel::Kind::kStopped;
  return next;
}

// Entries read ahead of the one taken next, per connection: enough to keep every connection busy
// while the oldest one is measured.
constexpr std::size_t kEntriesAheadPerConnection = 2;

DownloadSource::DownloadSource(web::WebHost& web, std::size_t connections,
                               std::function<void()> pump)
    : pump_(std::move(pump)),
      reader_(std::make_unique<WebSource>(web)),
      pool_(std::make_unique<web::DownloadPool>(web, connections)) {}

DownloadSource::~DownloadSource() = default;

void DownloadSource::ReadAhead() {
  WebSource::BufferedWebHost& reader = *reader_->buffered_;
  while (!list_done_ && pool_->Pending() < pool_->Connections() * kEntriesAheadPerConnection) {
    web::WebEntry entry;
    const web::EntryResult read = web::ReadWebEntry(reader, entry);
    if (read != web::EntryResult::kEntry) {
      list_done_ = true;
      end_ = read == web::EntryResult::kStopped ? NextModel::Kind::kStopped : NextModel::Kind::kEnd;
      end_ended_ = reader.TakeEnded();
      end_log_ = reader.TakeLog();
      return;
    }
    read_ended_.push_back(reader.TakeEnded());
    read_logs_.push_back(reader.TakeLog());
    handed_out_.push_back(entry.name);
    pool_->Submit(std::move(entry));
  }
}

namespace {
void Append(std::vector<EndedEntry>& to, std::vector<EndedEntry>&& from) {
  for (EndedEntry& e : from) to.push_back(std::move(e));
}
}  // namespace

NextModel DownloadSource::Next() {
  NextModel next;
  for (;;) {
    ReadAhead();
    if (pool_->Pending() == 0) {
      next.kind = end_;
      Append(next.ended, std::exchange(end_ended_, {}));
      next.log += std::exchange(end_log_, std::string());
      return next;
    }
    web::FetchedEntry fetched = pool_->TakeOldest(pump_);
    handed_out_.pop_front();
    Append(next.ended, std::move(read_ended_.front()));
    read_ended_.pop_front();
    std::string log = std::move(read_logs_.front()) + fetched.log;
    read_logs_.pop_front();
    if (fetched.stopped) {
      // This entry was in progress, as with one download at a time; what was read ahead and
      // fetched after it is abandoned unlogged.
      pool_->Cancel();
      next.ended.push_back({fetched.end, std::move(log)});
      next.kind = NextModel::Kind::kStopped;
      return next;
    }
    if (!fetched.ready) {
      next.ended.push_back({fetched.end, std::move(log)});
      continue;
    }
    platform::TextFile log_file = platform::MemoryTextFile(log, /*crlf=*/false);
    if (!FindWebModel(fetched.entry.places.local_path, log_file, next.model)) {
      next.ended.push_back({Vanished(fetched.entry), std::move(log)});
      continue;
    }
    next.model.entry_name = fetched.entry.name;
    next.model.url = fetched.entry.places.url;
    next.log += log;
    next.kind = NextModel::Kind::kModel;
    return next;
  }
}

std::vector<std::string> DownloadSource::RemainingEntries() {
  std::vector<std::string> names(handed_out_.begin(), handed_out_.end());
  for (const std::string& name : reader_->RemainingEntries()) names.push_back(name);
  return names;
}

std::vector<std::string> WebSource::RemainingEntries() {
  web::ListFile& list = buffered_->List();
  if (!list.stream) return {};
  return web::ListEntryNames(*list.stream, list.propdump, buffered_->Seen());
}

void DownloadSource::Pump() { pool_->RunPosted(); }

}  // namespace driver
