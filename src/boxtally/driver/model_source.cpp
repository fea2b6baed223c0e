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

web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, FoundModel& model) {
  for (;;) {
    std::string path;
    const web::NextResult next = web::NextWebModel(web, path);
    if (next != web::NextResult::kModel) return next;
    if (FindWebModel(path, log, model)) return next;
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
  std::string TakeLog() { return std::exchange(text_, std::string()); }

 private:
  web::WebHost& web_;
  std::string text_;
  platform::TextFile log_ = platform::MemoryTextFile(text_, /*crlf=*/false);
};

WebSource::WebSource(web::WebHost& web) : buffered_(std::make_unique<BufferedWebHost>(web)) {}
WebSource::~WebSource() = default;

NextModel WebSource::Next() {
  NextModel next;
  const web::NextResult result = NextFoundWebModel(*buffered_, buffered_->Log(), next.model);
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
      end_log_ = reader.TakeLog();
      return;
    }
    read_logs_.push_back(reader.TakeLog());
    pool_->Submit(std::move(entry));
  }
}

NextModel DownloadSource::Next() {
  NextModel next;
  for (;;) {
    ReadAhead();
    if (pool_->Pending() == 0) {
      next.kind = end_;
      next.log += std::exchange(end_log_, std::string());
      return next;
    }
    web::FetchedEntry fetched = pool_->TakeOldest(pump_);
    next.log += read_logs_.front();
    read_logs_.pop_front();
    next.log += fetched.log;
    if (fetched.stopped) {
      // This entry was in progress, as with one download at a time; what was read ahead and
      // fetched after it is abandoned unlogged.
      pool_->Cancel();
      next.kind = NextModel::Kind::kStopped;
      return next;
    }
    if (!fetched.ready) continue;
    platform::TextFile log = platform::MemoryTextFile(next.log, /*crlf=*/false);
    if (!FindWebModel(fetched.entry.places.local_path, log, next.model)) continue;
    next.kind = NextModel::Kind::kModel;
    return next;
  }
}

void DownloadSource::Pump() { pool_->RunPosted(); }

}  // namespace driver
