#include "boxtally/ui/screen_fit.h"

#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace ui {

namespace {
// Distance between two rectangles (0 when they meet), squared.
long long SquaredGap(const QRect& a, const QRect& b) {
  const long long dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
  const long long dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
  return dx * dx + dy * dy;
}

int Clamped(int value, int low, int high) { return std::max(low, std::min(value, high)); }

long long Area(const QRect& r) { return r.isEmpty() ? 0 : 1LL * r.width() * r.height(); }

}  // namespace

QRect FitOnScreens(const QRect& window, const QList<QRect>& screens, const QSize& minimum) {
  if (screens.isEmpty()) return window;
  long long shown = 0;
  const QRect* home = nullptr;
  for (const QRect& screen : screens) {
    const long long area = Area(window.intersected(screen));
    shown += area;
    if (area > 0 && (home == nullptr || area > Area(window.intersected(*home)))) home = &screen;
  }
  if (shown >= Area(window)) return window;
  if (home == nullptr) {
    home = &screens.front();
    for (const QRect& screen : screens) {
      if (SquaredGap(window, screen) < SquaredGap(window, *home)) home = &screen;
    }
  }
  const QSize size = window.size().boundedTo(home->size()).expandedTo(minimum);
  // Clamped to the right or bottom edge first, then to the left or top: a window still larger
  // than the screen keeps its title bar and left edge on it.
  return {QPoint(Clamped(window.x(), home->left(), home->right() + 1 - size.width()),
                 Clamped(window.y(), home->top(), home->bottom() + 1 - size.height())),
          size};
}

QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect inside = window.geometry();
  if (frame != inside) {
    return {inside.left() - frame.left(), inside.top() - frame.top(),
            frame.right() - inside.right(), frame.bottom() - inside.bottom()};
  }
  const int title = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
  return {kFrameBorder, std::max(title, kLeastTitleBar) + kFrameBorder, kFrameBorder,
          kFrameBorder};
}

QRect FitWithFrame(const QRect& window, const QMargins& frame, const QList<QRect>& screens,
                   const QSize& minimum) {
  const QSize frame_size(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QRect placed =
      FitOnScreens(QRect(window.topLeft(), window.size() + frame_size), screens, minimum + frame_size);
  return {placed.topLeft(), placed.size() - frame_size};
}

}  // namespace ui
