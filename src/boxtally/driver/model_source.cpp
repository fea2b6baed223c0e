#include "boxtally/driver/model_source.h"

#include <utility>

#include "platform/file_search.h"

namespace driver {

web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, FoundModel& model) {
  for (;;) {
    std::string path;
    const web::NextResult next = web::NextWebModel(web, path);
    if (next != web::NextResult::kModel) return next;
    const std::vector<std::string> found = platform::FindFiles(path);
    if (found.empty()) {
      platform::LogF(log, "Unable to open file %s\n", path.c_str());
      continue;
    }
    model.found_name = found.front();
    model.path = path.substr(0, platform::DirectoryPrefixLength(path)) + model.found_name;
    return next;
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

}  // namespace driver
