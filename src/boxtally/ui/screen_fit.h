// Where a top-level window goes so the user can see and reach all of it, title bar included.
#pragma once

#include <QList>
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace ui {

// Until a window manager has framed a window, its frame is guessed: a title bar as high as the
// style draws one, at least this high, and borders this thick (pixels).
inline constexpr int kLeastTitleBar = 24;
inline constexpr int kFrameBorder = 2;

// Where a window at `window` goes at start-up so the user can see and reach it: where it is when
// the screens show all of it (across two of them, say); else on the screen that shows most of it,
// or the nearest one when none does, no larger than that screen (but not below `minimum`) and
// moved inside it (its top left corner first when it is still larger). No screens: unchanged.
QRect FitOnScreens(const QRect& window, const QList<QRect>& screens, const QSize& minimum);

// The same for a top-level window and its frame: `window` holds the position of the frame's top
// left corner (as QWidget::pos gives it) and the size of the window inside the frame; so does the
// result. The whole frame fits the screens: a title bar takes room from the window.
QRect FitWithFrame(const QRect& window, const QMargins& frame, const QList<QRect>& screens,
                   const QSize& minimum);

// The window's frame: as the window manager drew it once shown, else the guess above.
QMargins FrameMargins(const QWidget& window);

}  // namespace ui
