// Everything a run reads from, or reports to, the window. The Qt window, the terminal front end
// and the tests implement it; the core never sees which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "boxtally/archive/first_entry.h"
#include "boxtally/driver/model_results.h"
#include "boxtally/rwx/measure.h"
#include "platform/text_file.h"

namespace web {
class WebHost;
}

namespace driver {

struct ThumbnailSet;  // thumbnails.h

inline constexpr int kDefaultConverterTimeLimit = 600;  // seconds
// The size bound of an archive entry and of a COB model to convert: nothing bigger is extracted,
// copied or written into a work folder.
inline constexpr std::uint64_t kDefaultMaxEntryBytes = archive::kMaxEntryBytes;

// One job per processor core.
std::size_t DefaultJobs();

class RunHost : public rwx::SwitchSource {
 public:
  // The open log stream, owned by the host for the whole run.
  virtual platform::TextFile& Log() = 0;

  // Check boxes, read at the moment they are needed.
  virtual bool ErrorsOnly() const = 0;
  virtual bool CobDebug() const = 0;

  // The stop request: set by the host (the run button), cleared by BatchMain at its start.
  virtual bool StopRequested() const = 0;
  virtual void ClearStopRequest() = 0;

  // Where the converter program lives, and where this process keeps its work files
  // ("unzipwk.$$$", "unzipwk.cob", "unzipwk.rwx"). Both end with '/'.
  virtual std::string ProgramDirectory() const = 0;
  virtual std::string WorkDirectory() const = 0;

  // How long one conversion may take before the converter is ended (0: no limit).
  virtual int ConverterTimeLimitSeconds() const { return kDefaultConverterTimeLimit; }
  // The size bound of an archive entry, of a COB model and of the converter's files, in bytes.
  virtual std::uint64_t MaxEntryBytes() const { return kDefaultMaxEntryBytes; }

  // Status bar panel texts (panel 1 shows the run's progress), and one round of message
  // processing: the moment a stop request can arrive.
  virtual void SetStatusText(int panel, const std::string& text) = 0;
  virtual void ProcessMessages() = 0;
  // The rounds while the run waits for a model measured on another thread, about every 20 ms.
  virtual void ProcessMessagesWhileWaiting() { ProcessMessages(); }

  // How many models may be measured at once: 1 measures them one after another on this thread,
  // more measure them on worker threads with the same registry and log.
  virtual std::size_t Jobs() const { return DefaultJobs(); }

  // Web mode (the window's web mode box): the models come one by one from the web fetch, which
  // reaches the host's list file, HTTP component and web controls through WebFetch(). Hosts
  // without web mode keep both defaults.
  virtual bool GetFromWeb() const { return false; }
  virtual web::WebHost* WebFetch() { return nullptr; }

  // Thumbnails: a picture of every measured model, drawn where it is measured and written as it
  // is committed. Hosts without them keep the default.
  virtual ThumbnailSet* Thumbnails() { return nullptr; }

  // Where the models' textures are: a folder or the URL of a web folder (--textures, the window's
  // "Textures" box); empty: the object path's own (see run_textures.h).
  virtual std::string TexturesFolder() const { return {}; }

  // Progress for hosts that show a count: `done` models finished of `total` found; a total of 0
  // means not known yet (web mode).
  virtual void ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) {
    (void)done;
    (void)total;
    (void)found_name;
  }

  // A model's outcome, as soon as it is committed (in the order of the registry); models not
  // reached come at the end of the run.
  virtual void ModelCommitted(const ModelOutcome& outcome) { (void)outcome; }
};

}  // namespace driver
