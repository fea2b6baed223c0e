// What a run tells the window of every model (the status texts, the progress, the model's
// result), kept here and handed to the widgets in batches by a timer, at most kRunFeedMs apart:
// a run of 100,000 tiny models repaints the status bar and grows the results table a few dozen
// times, not 100,000 times. The window's message rounds keep the same pace, so a press of the
// stop button is still seen within a few of them. Outside a run everything is shown at once.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"

class QProgressBar;

namespace ui {

inline constexpr int kRunFeedMs = 50;  // between two hand-overs, and two message rounds, at least

// Where a hand-over goes.
struct RunFeedSinks {
  std::function<void(int panel, const QString& text)> status;
  // Results committed (models not reached left out) of `total` (0: not known yet).
  std::function<void(std::size_t done, std::size_t total)> progress;
  std::function<void(std::vector<driver::ModelOutcome> batch)> results;
};

class RunFeed : public QObject {
 public:
  explicit RunFeed(RunFeedSinks sinks, QObject* parent = nullptr);

  // A run starts (nothing received yet) / has ended: what is left is handed over at once.
  void Start();
  void Finish();
  bool Running() const { return timer_.isActive(); }

  void SetStatusText(int panel, const std::string& text);
  void SetTotal(std::size_t total);
  void Commit(const driver::ModelOutcome& outcome);

  // Hands over whatever changed since the last hand-over.
  void HandOver();
  // True when the window is due a round of its messages (at most every kRunFeedMs during a run,
  // always outside one); the round's timer then hands over.
  bool RoundDue();

 private:
  RunFeedSinks sinks_;
  QTimer timer_;
  QElapsedTimer since_round_;
  std::string status_[2];
  bool status_changed_[2] = {false, false};
  std::size_t total_ = 0;
  std::size_t done_ = 0;
  bool progress_changed_ = false;
  std::vector<driver::ModelOutcome> batch_;
};

// The progress bar at `done` of `total`, its figures in French ("1 998 / 20 000"), never cut by
// a crowded status bar. A total of 0 leaves the bar busy.
void ShowRunProgress(QProgressBar& bar, std::size_t done, std::size_t total);

}  // namespace ui
