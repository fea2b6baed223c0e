#include "boxtally/ui/status_panel.h"

#include <QPainter>
#include <algorithm>

namespace ui {

namespace {
constexpr int kPanelPadding = 4;  // pixels between a status panel's frame and its text
}  // namespace

StatusPanel::StatusPanel(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void StatusPanel::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setToolTip(text);
  update();
}

QString StatusPanel::Shown() const {
  const int room = contentsRect().width() - 2 * kPanelPadding;
  return fontMetrics().elidedText(text_, Qt::ElideMiddle, std::max(room, 0));
}

QSize StatusPanel::sizeHint() const {
  return {fontMetrics().horizontalAdvance(text_) + 2 * (kPanelPadding + frameWidth()),
          fontMetrics().height() + 2 * frameWidth() + 2};
}

QSize StatusPanel::minimumSizeHint() const { return {minimumWidth(), sizeHint().height()}; }

void StatusPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.drawText(contentsRect().adjusted(kPanelPadding, 0, -kPanelPadding, 0),
                   Qt::AlignLeft | Qt::AlignVCenter, Shown());
}

}  // namespace ui
