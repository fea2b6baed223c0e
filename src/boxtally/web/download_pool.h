// Downloads on several connections at once. Each of the pool's threads has an HTTP component of
// its own and checks and fetches one list entry at a time, its log lines kept in memory; the
// host's thread hands the entries out in list order and takes them back in that order, so the log
// reads the same for any number of connections. The components' events reach the host on its own
// thread: status texts, and the dialogs of a connection that fails and of a host name that cannot
// be found, once per run and host name.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "boxtally/web/web_fetch.h"

namespace web {

inline constexpr std::size_t kMaxDownloads = 32;     // connections at once
inline constexpr std::size_t kDefaultDownloads = 6;  // as a browser opens to one host

// An entry, checked and fetched (or not).
struct FetchedEntry {
  WebEntry entry;
  bool ready = false;    // the model is at entry.places.local_path
  bool stopped = false;  // the stop request came first: the entry was abandoned
  EntryEnd end;          // why it gave no model
  std::string log;       // what checking and fetching it logged, "\n" line ends
};

class DownloadPool {
 public:
  // `host` gives the time-out, the size bound, the stop request and the dialogs; the pool calls
  // it on the thread that made the pool only. `connections` threads, 1 to kMaxDownloads.
  DownloadPool(WebHost& host, std::size_t connections);
  ~DownloadPool();  // abandons the requests in flight and joins the threads
  DownloadPool(const DownloadPool&) = delete;
  DownloadPool& operator=(const DownloadPool&) = delete;

  std::size_t Connections() const { return threads_.size(); }
  std::size_t Pending() const { return submitted_ - taken_; }

  // Queues an entry. Entries are fetched in any order, except that two with the same local path
  // never run at once: the later one starts when the earlier one is done.
  void Submit(WebEntry entry);

  // Waits for the oldest entry not yet taken. Meanwhile it calls `pump` about every 20 ms and
  // runs what the downloads asked of the host (RunPosted); a stop request the host shows then
  // abandons every request, and the entry comes back `stopped`.
  FetchedEntry TakeOldest(const std::function<void()>& pump);

  // On the host's thread: shows the downloads' state in the status bar, and asks the host the
  // questions of requests that wait for an answer.
  void RunPosted();

  // Abandons the requests in flight (each ends at once with its error) and every queued entry.
  void Cancel();

 private:
  struct Connection;
  struct Question {
    bool invalid_host = false;  // else: a connection that failed
    std::string host_name;
    std::promise<std::optional<std::string>> answer;
  };
  struct Slot {
    WebEntry entry;
    bool started = false;
    bool done = false;
    FetchedEntry fetched;
  };
  friend struct Connection;

  void ConnectionLoop(Connection& connection);
  bool NextJob(std::size_t& number);  // under mutex_: the first queued entry free to start
  std::optional<std::string> Ask(bool invalid_host, const std::string& host_name);
  void AnswerQuestion(Question& question);
  void ShowState();

  WebHost& host_;
  std::int64_t max_download_bytes_;
  int time_out_ms_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::thread> threads_;
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable entry_done_;
  std::deque<Slot> slots_;  // entries from number `taken_` on
  std::size_t submitted_ = 0;
  std::size_t taken_ = 0;
  bool closing_ = false;
  std::atomic<bool> cancel_{false};
  std::deque<std::unique_ptr<Question>> questions_;
  HostPrompts prompts_;       // the pool lives for one run
  bool asking_ = false;       // a dialog is open: RunPosted does not start another one
  std::uint64_t events_ = 0;  // under mutex_: events counted, so the latest one is shown
  std::string shown_[2];
};

}  // namespace web
