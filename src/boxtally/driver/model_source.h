// Where the models of a run come from, one at a time, on the thread that talks to the host: the
// matches of the file search, or the models the web fetch downloads from its list.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "boxtally/web/download_pool.h"
#include "boxtally/web/web_fetch.h"
#include "platform/text_file.h"

namespace driver {

struct FoundModel {
  std::string path;        // the model's path, as the search found it
  std::string found_name;  // its last component
  // Web mode: the list entry's name and its URL (empty for files).
  std::string entry_name;
  std::string url;
};

// A list entry that gave no model, with the log text that says why (committed before it).
struct EndedEntry {
  web::EntryEnd end;
  std::string log;
};

// The next model of the web fetch's list that the search finds. The search only confirms the
// file: a path of the web fetch names one file, dot-files included. A path it cannot find is
// logged ("Unable to open file %s"), told to web.EntryEnded, and the list goes on.
web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, FoundModel& model);

// The next model, with the entries that gave none before it and what finding it wrote to the
// log: the ended entries are committed first, then `log`, then the model (or the end of the run
// for kEnd and kStopped).
struct NextModel {
  enum class Kind { kModel, kEnd, kStopped } kind = Kind::kEnd;
  FoundModel model;
  std::vector<EndedEntry> ended;
  std::string log;
};

class ModelSource {
 public:
  virtual ~ModelSource() = default;
  virtual NextModel Next() = 0;
  // Called about every 20 ms while the run waits for a model measured on another thread: work the
  // source does in the background may need the host's thread meanwhile.
  virtual void Pump() {}
};

// The matches of a search, in order; `prefix` is the pattern's directory part.
class FileSource : public ModelSource {
 public:
  FileSource(const std::vector<std::string>& found, std::string prefix);
  NextModel Next() override;
  std::size_t Given() const { return index_; }  // matches handed out so far

 private:
  const std::vector<std::string>& found_;
  std::string prefix_;
  std::size_t index_ = 0;
};

// The web fetch, with its log lines kept in memory: models fetched earlier may still be measured
// on other threads, and the lines must follow theirs.
class WebSource : public ModelSource {
 public:
  explicit WebSource(web::WebHost& web);
  ~WebSource() override;
  NextModel Next() override;
  // The entries that were still to come when the run ended: read from the list without a
  // request or a log line.
  std::vector<std::string> RemainingEntries();

 private:
  friend class DownloadSource;
  class BufferedWebHost;
  std::unique_ptr<BufferedWebHost> buffered_;
};

// The web fetch with several downloads at once: list entries are read here, on the host's thread,
// and checked and fetched on the pool's connections; each model comes back with what reading and
// fetching it logged, in list order, so the log reads as with one download at a time.
class DownloadSource : public ModelSource {
 public:
  // `pump` is the host's round of message processing, run while a download is waited for.
  DownloadSource(web::WebHost& web, std::size_t connections, std::function<void()> pump);
  ~DownloadSource() override;
  NextModel Next() override;
  void Pump() override;
  // The entries read or handed out but never taken, then the rest of the list, in list order.
  std::vector<std::string> RemainingEntries();

 private:
  void ReadAhead();

  std::function<void()> pump_;
  std::unique_ptr<WebSource> reader_;  // for its host: the list read with the log in memory
  std::unique_ptr<web::DownloadPool> pool_;
  // Per entry handed out: the entries refused before it, and what reading up to it logged.
  std::deque<std::vector<EndedEntry>> read_ended_;
  std::deque<std::string> read_logs_;
  bool list_done_ = false;
  NextModel::Kind end_ = NextModel::Kind::kEnd;
  std::string end_log_;                 // what reading after the last entry logged
  std::vector<EndedEntry> end_ended_;   // the entries refused after the last one handed out
  std::deque<std::string> handed_out_;  // the names of the entries handed out, not yet taken
};

}  // namespace driver
