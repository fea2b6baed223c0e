#include "boxtally/ui/results_place.h"

#include <algorithm>

namespace ui {

namespace {
int Clamped(int value, int low, int high) { return std::max(low, std::min(value, high)); }
}  // namespace

QRect PlaceBeside(const QRect& main, const QSize& wanted, const QSize& minimum,
                  const QMargins& frame, const QRect& screen) {
  const QSize frame_size(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize least = minimum + frame_size;
  // The four rooms the main window leaves on the screen, in the order they are preferred.
  const QRect rooms[] = {
      QRect(QPoint(main.right() + 1, screen.top()), screen.bottomRight()),
      QRect(screen.topLeft(), QPoint(main.left() - 1, screen.bottom())),
      QRect(QPoint(screen.left(), main.bottom() + 1), screen.bottomRight()),
      QRect(screen.topLeft(), QPoint(screen.right(), main.top() - 1)),
  };
  // The first side that takes the window whole, else the one where it shows largest.
  QRect best;
  long long best_area = -1;
  for (int side = 0; side < 4; ++side) {
    const QRect room = rooms[side].intersected(screen);
    if (room.width() < least.width() || room.height() < least.height()) continue;
    const QSize outer = (wanted + frame_size).boundedTo(room.size());
    const long long area = 1LL * outer.width() * outer.height();
    if (area <= best_area) continue;
    best_area = area;
    // Beside: level with the main window's top; below or above: with its left edge.
    const bool beside = side < 2;
    const int x = beside ? (side == 0 ? room.left() : room.right() + 1 - outer.width())
                         : Clamped(main.left(), room.left(), room.right() + 1 - outer.width());
    const int y = beside ? Clamped(main.top(), room.top(), room.bottom() + 1 - outer.height())
                         : (side == 2 ? room.top() : room.bottom() + 1 - outer.height());
    best = QRect(QPoint(x, y), outer);
    if (outer == wanted + frame_size) break;
  }
  if (best_area >= 0) return {best.topLeft(), best.size() - frame_size};
  const QSize outer = (wanted + frame_size).boundedTo(screen.size()).expandedTo(least);
  return {QPoint(std::max(screen.left(), screen.right() + 1 - outer.width()), screen.top()),
          outer - frame_size};
}

}  // namespace ui
