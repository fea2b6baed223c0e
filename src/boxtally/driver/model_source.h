// Where the models of a run come from, one at a time, on the thread that talks to the host: the
// matches of the file search, or the models the web fetch downloads from its list.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "boxtally/web/web_fetch.h"
#include "platform/text_file.h"

namespace driver {

struct FoundModel {
  std::string path;        // the model's path, as the search found it
  std::string found_name;  // its last component
};

// The next model of the web fetch's list that the search finds. The search only confirms the
// file: a path of the web fetch names one file, dot-files included. A path it cannot find is
// logged ("Unable to open file %s") and the list goes on.
web::NextResult NextFoundWebModel(web::WebHost& web, platform::TextFile& log, FoundModel& model);

// The next model, with what finding it wrote to the log (committed just before the model, or at
// the end of the run for kEnd and kStopped).
struct NextModel {
  enum class Kind { kModel, kEnd, kStopped } kind = Kind::kEnd;
  FoundModel model;
  std::string log;
};

class ModelSource {
 public:
  virtual ~ModelSource() = default;
  virtual NextModel Next() = 0;
};

// The matches of a search, in order; `prefix` is the pattern's directory part.
class FileSource : public ModelSource {
 public:
  FileSource(const std::vector<std::string>& found, std::string prefix);
  NextModel Next() override;

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

 private:
  class BufferedWebHost;
  std::unique_ptr<BufferedWebHost> buffered_;
};

}  // namespace driver
