#include "boxtally/ui/summary_line.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace ui {

namespace {
constexpr int kWidthBeforeLayout = 560;  // pixels: the width assumed before the first layout
constexpr int kFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
}  // namespace

SummaryLine::SummaryLine(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void SummaryLine::SetText(const QString& text) {
  text_ = text;
  setToolTip(text);
  updateGeometry();
  update();
}

int SummaryLine::WrappedHeight(int width) const {
  if (text_.isEmpty()) return 0;
  return fontMetrics().boundingRect(QRect(0, 0, std::max(width, 1), 1 << 20), kFlags, text_)
      .height();
}

bool SummaryLine::ShownWhole() const { return height() >= WrappedHeight(width()); }

QSize SummaryLine::sizeHint() const {
  const int width = this->width() > 0 ? this->width() : kWidthBeforeLayout;
  return {fontMetrics().averageCharWidth(), std::max(WrappedHeight(width), minimumSizeHint().height())};
}

QSize SummaryLine::minimumSizeHint() const { return {0, fontMetrics().height()}; }

void SummaryLine::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A new width wraps the text into another number of lines: the layout asks again.
  const int wanted = sizeHint().height();
  if (wanted != hinted_height_) {
    hinted_height_ = wanted;
    updateGeometry();
  }
}

void SummaryLine::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  QPainter painter(this);
  if (ShownWhole()) {
    painter.drawText(rect(), kFlags, text_);
    return;
  }
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop,
                   fontMetrics().elidedText(text_, Qt::ElideRight, width()));
}

}  // namespace ui
