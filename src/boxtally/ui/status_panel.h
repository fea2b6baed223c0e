// A panel of the main window's status bar: panel 0 shows the HTTP component's events, panel 1
// the run's progress.
#pragma once

#include <QFrame>
#include <QSize>
#include <QString>

namespace ui {

// Its text, when too long for its width, is shown elided with "…" in the middle (the end of a
// model name or URL tells more than its middle). Its minimum width is small, so a long text never
// widens the window; the whole text is its hint.
class StatusPanel : public QFrame {
 public:
  explicit StatusPanel(QWidget* parent);
  // The panels share the status bar by their stretch, not by their texts: a new text repaints
  // the panel and never moves the others.
  void SetText(const QString& text);
  const QString& Text() const { return text_; }
  // What the panel shows of its text in its width: the text, or the text elided with "…".
  QString Shown() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

}  // namespace ui
