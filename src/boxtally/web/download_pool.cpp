#include "boxtally/web/download_pool.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace web {

namespace {
constexpr std::chrono::milliseconds kPumpInterval(20);

// "3 downloads, 1234567 bytes received": what status panel 1 shows while several run.
std::string DownloadsText(std::size_t running, std::int64_t received) {
  return std::to_string(running) + (running == 1 ? " download, " : " downloads, ") +
         std::to_string(received) + " bytes received";
}
}  // namespace

// One connection: the thread's own HTTP component, and the web fetch's host as that thread sees
// it: the entry's controls, the log in memory, the pool's stop, and events that become the
// connection's state or questions for the host's thread.
struct DownloadPool::Connection : public WebHost, public http::HttpEvents {
  explicit Connection(DownloadPool& owner) : pool(owner) {
    http.SetMessagePump([this] {
      if (pool.cancel_) http.Abort();
    });
  }

  // WebHost.
  platform::TextFile& Log() override { return log; }
  WebControls Controls() const override {
    return entry != nullptr ? entry->controls : WebControls{};
  }
  http::TKestHTTP& Http() override { return http; }
  SeenNames& Seen() override { return unused_seen; }
  ListFile& List() override { return unused_list; }
  bool StopRequested() const override { return pool.cancel_; }
  void ShowStatusNow(int panel, const std::string& text) override {
    if (panel == 1) Note(text);
  }
  std::int64_t MaxDownloadBytes() const override { return pool.max_download_bytes_; }
  int RequestTimeOutMs() const override { return pool.time_out_ms_; }

  // HttpEvents: the latest one is the connection's event text.
  void OnConnect() override { Note("Connected"); }
  void OnDisconnect() override { Note("Disconnected"); }
  void OnHostResolved() override { Note("Host Resolved"); }
  void OnStatus(const std::string& status) override { Note(status); }
  void OnPacketRecvd() override {
    std::lock_guard<std::mutex> lock(pool.mutex_);
    received = http.BytesRecvd;
    event = ReceivedText(http);
    event_number = ++pool.events_;
  }
  void OnSuccess(http::CmdType cmd) override { Note(SuccessText(cmd)); }
  void OnFailure(http::CmdType cmd) override { Note(FailureText(cmd)); }
  void OnAboutToSend() override {
    if (entry != nullptr) ApplyReferer(http, entry->controls);
  }
  void OnRedirect(bool& handled) override {
    handled = false;  // follow it
    Note("Redirected");
  }
  void OnConnectionFailed() override { (void)pool.Ask(false, http.Host); }
  void OnInvalidHost(bool& handled) override {
    const std::optional<std::string> other = pool.Ask(true, http.Host);
    if (!other) return;
    http.Host = *other;
    handled = true;
  }

  void Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(pool.mutex_);
    event = text;
    event_number = ++pool.events_;
  }

  DownloadPool& pool;
  http::TKestHTTP http{this};
  const WebEntry* entry = nullptr;  // the entry being fetched
  std::string log_text;             // its log
  platform::TextFile log = platform::MemoryTextFile(log_text, /*crlf=*/false);
  SeenNames unused_seen;
  ListFile unused_list;
  // Under the pool's mutex: what the status bar shows of this connection.
  bool busy = false;
  std::int64_t received = 0;
  std::string event;
  std::uint64_t event_number = 0;  // which event of the pool's it was
};

DownloadPool::DownloadPool(WebHost& host, std::size_t connections)
    : host_(host),
      max_download_bytes_(host.MaxDownloadBytes()),
      time_out_ms_(host.RequestTimeOutMs()) {
  connections = std::clamp<std::size_t>(connections, 1, kMaxDownloads);
  for (std::size_t i = 0; i < connections; ++i) {
    connections_.push_back(std::make_unique<Connection>(*this));
  }
  for (auto& c : connections_) threads_.emplace_back([this, &c = *c] { ConnectionLoop(c); });
}

DownloadPool::~DownloadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  cancel_ = true;
  work_ready_.notify_all();
  // A connection may wait for an answer: each gets the one a closed dialog gives, unasked.
  for (std::thread& t : threads_) {
    while (t.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& q : questions_) q->answer.set_value(std::nullopt);
        questions_.clear();
        if (std::all_of(connections_.begin(), connections_.end(),
                        [](const auto& c) { return !c->busy; })) {
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    t.join();
  }
}

void DownloadPool::Submit(WebEntry entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot slot;
    slot.entry = std::move(entry);
    slots_.push_back(std::move(slot));
    ++submitted_;
  }
  work_ready_.notify_one();
}

bool DownloadPool::NextJob(std::size_t& number) {
  if (cancel_) return false;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].started) continue;
    const std::string& path = slots_[i].entry.places.local_path;
    // An earlier entry of the same file still running (or waiting): this one waits behind it.
    const bool behind =
        std::any_of(slots_.begin(), slots_.begin() + static_cast<long>(i),
                    [&](const Slot& s) { return !s.done && s.entry.places.local_path == path; });
    if (behind) continue;
    slots_[i].started = true;
    number = taken_ + i;
    return true;
  }
  return false;
}

void DownloadPool::ConnectionLoop(Connection& connection) {
  for (;;) {
    std::size_t number = 0;
    WebEntry entry;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_ready_.wait(lock, [&] { return closing_ || NextJob(number); });
      if (closing_) return;
      entry = slots_[number - taken_].entry;
      connection.busy = true;
      connection.received = 0;
    }
    connection.entry = &entry;
    connection.log_text.clear();
    FetchedEntry fetched;
    fetched.ready = FetchWebModel(connection, entry, &fetched.end);
    fetched.stopped = cancel_ && !fetched.ready;
    fetched.log = std::move(connection.log_text);
    fetched.entry = std::move(entry);
    connection.entry = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection.busy = false;
      if (number >= taken_) {
        Slot& slot = slots_[number - taken_];
        slot.fetched = std::move(fetched);
        slot.done = true;
      }
    }
    // A finished entry may free a later one of the same file.
    work_ready_.notify_all();
    entry_done_.notify_all();
  }
}

FetchedEntry DownloadPool::TakeOldest(const std::function<void()>& pump) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!slots_.front().done) {
    if (entry_done_.wait_for(lock, kPumpInterval, [this] { return slots_.front().done; })) break;
    lock.unlock();
    if (pump) pump();
    RunPosted();
    if (host_.StopRequested()) Cancel();
    lock.lock();
    if (cancel_ && !slots_.front().started) {
      // Never started: it comes back abandoned, as the ones in flight do.
      slots_.front().fetched.entry = slots_.front().entry;
      slots_.front().fetched.stopped = true;
      slots_.front().done = true;
    }
  }
  FetchedEntry fetched = std::move(slots_.front().fetched);
  slots_.pop_front();
  ++taken_;
  lock.unlock();
  RunPosted();
  return fetched;
}

void DownloadPool::Cancel() {
  cancel_ = true;
  work_ready_.notify_all();
}

std::optional<std::string> DownloadPool::Ask(bool invalid_host, const std::string& host_name) {
  std::future<std::optional<std::string>> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) return std::nullopt;
    auto question = std::make_unique<Question>();
    question->invalid_host = invalid_host;
    question->host_name = host_name;
    answer = question->answer.get_future();
    questions_.push_back(std::move(question));
  }
  return answer.get();
}

void DownloadPool::AnswerQuestion(Question& question) {
  if (question.invalid_host) {
    question.answer.set_value(prompts_.OtherHost(host_, question.host_name));
    return;
  }
  prompts_.ConnectionFailed(host_, question.host_name);
  question.answer.set_value(std::nullopt);
}

void DownloadPool::RunPosted() {
  ShowState();
  if (asking_) return;  // a dialog's own event loop came back here
  asking_ = true;
  for (;;) {
    std::unique_ptr<Question> question;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (questions_.empty()) break;
      question = std::move(questions_.front());
      questions_.pop_front();
    }
    AnswerQuestion(*question);
  }
  asking_ = false;
}

void DownloadPool::ShowState() {
  std::size_t running = 0;
  std::int64_t received = 0;
  std::string event;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t latest = 0;
    for (const auto& c : connections_) {
      if (c->event_number > latest) {
        latest = c->event_number;
        event = c->event;
      }
      if (!c->busy) continue;
      ++running;
      received += c->received;
    }
  }
  const std::string texts[2] = {event, DownloadsText(running, received)};
  for (int panel : {1, 0}) {
    if (texts[panel] == shown_[panel]) continue;
    shown_[panel] = texts[panel];
    host_.ShowStatusNow(panel, texts[panel]);
  }
}

}  // namespace web
