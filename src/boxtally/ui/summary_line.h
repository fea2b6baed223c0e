// The last run's summary under the window's controls: on as many lines as it takes, and on one
// line, cut with "…", only where the window has no room for more (a small screen at a large
// scale). The whole text is its hint either way.
#pragma once

#include <QString>
#include <QWidget>

namespace ui {

class SummaryLine : public QWidget {
 public:
  explicit SummaryLine(QWidget* parent);

  void SetText(const QString& text);
  const QString& Text() const { return text_; }
  // True when the whole text shows in the room the window gives it.
  bool ShownWhole() const;

  // One line at least, so the summary never makes the window taller than the screen; as many
  // as the text needs at the width it has when there is room.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int WrappedHeight(int width) const;

  QString text_;
  int hinted_height_ = 0;  // the height sizeHint gave last, to ask again when it changes
};

}  // namespace ui
