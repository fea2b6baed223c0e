#include "boxtally/ui/run_feed.h"

#include <QProgressBar>
#include <algorithm>
#include <climits>
#include <utility>

#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {
constexpr int kProgressSlack = 24;  // pixels of the progress bar beside its text
}  // namespace

RunFeed::RunFeed(RunFeedSinks sinks, QObject* parent) : QObject(parent), sinks_(std::move(sinks)) {
  timer_.setInterval(kRunFeedMs);
  timer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may wait a whole round longer
  connect(&timer_, &QTimer::timeout, this, &RunFeed::HandOver);
}

void RunFeed::Start() {
  batch_.clear();
  done_ = 0;
  total_ = 0;
  progress_changed_ = false;
  status_changed_[0] = status_changed_[1] = false;
  since_round_.invalidate();  // the first round comes at once
  timer_.start();
}

void RunFeed::Finish() {
  timer_.stop();
  HandOver();
}

void RunFeed::SetStatusText(int panel, const std::string& text) {
  if (panel != 0 && panel != 1) return;
  status_[panel] = text;
  status_changed_[panel] = true;
  if (!Running()) HandOver();
}

void RunFeed::SetTotal(std::size_t total) {
  if (total == total_) return;
  total_ = total;
  progress_changed_ = true;
  if (!Running()) HandOver();
}

void RunFeed::Commit(const driver::ModelOutcome& outcome) {
  batch_.push_back(outcome);
  if (outcome.fate != driver::Fate::kNotReached) {
    ++done_;
    progress_changed_ = true;
  }
  if (!Running()) HandOver();
}

void RunFeed::HandOver() {
  for (int panel = 0; panel < 2; ++panel) {
    if (!status_changed_[panel]) continue;
    status_changed_[panel] = false;
    if (sinks_.status) sinks_.status(panel, QString::fromStdString(status_[panel]));
  }
  if (progress_changed_) {
    progress_changed_ = false;
    if (sinks_.progress) sinks_.progress(done_, total_);
  }
  if (!batch_.empty() && sinks_.results) sinks_.results(std::exchange(batch_, {}));
}

bool RunFeed::RoundDue() {
  if (Running() && since_round_.isValid() && since_round_.elapsed() < kRunFeedMs) return false;
  since_round_.start();
  return true;
}

void ShowRunProgress(QProgressBar& bar, std::size_t done, std::size_t total) {
  if (total == 0) return;  // not known yet: the bar stays busy
  const int maximum = static_cast<int>(std::min<std::size_t>(total, INT_MAX));
  if (bar.maximum() != maximum) {
    bar.setRange(0, maximum);
    // Wide enough for "total / total", so the figures are never cut.
    const QString widest = texts::Count(total) + QStringLiteral(" / ") + texts::Count(total);
    bar.setMinimumWidth(bar.fontMetrics().horizontalAdvance(widest) + kProgressSlack);
  }
  const std::size_t shown = std::min(done, total);
  bar.setFormat(texts::Count(shown) + QStringLiteral(" / ") + texts::Count(total));
  bar.setValue(static_cast<int>(shown));
}

}  // namespace ui
