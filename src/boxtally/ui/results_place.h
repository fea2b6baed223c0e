// Where the results window first shows: beside the main window, or below it, in the room the
// screen leaves, so the main window's summary and status bar stay in view.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace ui {

// The place of a window of `wanted` size (inside its `frame`, no smaller than `minimum`) next to
// `main` (the main window's frame) on `screen` (its available geometry), its whole frame in the
// room a side leaves: the first of right, left, below and above that takes it whole, else the
// one where it shows largest (its minimum at least), no larger than that room; beside level with
// the main window's top, below or above with its left edge. Where no side has room for its
// minimum, the screen's top right corner, no larger than the screen. The result holds the
// frame's top left corner and the size inside the frame, as QWidget::move and resize take them.
QRect PlaceBeside(const QRect& main, const QSize& wanted, const QSize& minimum,
                  const QMargins& frame, const QRect& screen);

}  // namespace ui
