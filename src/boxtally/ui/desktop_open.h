// Opening a file, a folder or a web address in the desktop's program for it, and hearing when
// there is none: QDesktopServices only says whether the desktop's opener could be started.
#pragma once

#include <QUrl>
#include <functional>

class QObject;

namespace ui {

// Hands `url` to the desktop's opener (xdg-open), which starts the program for it; when the
// opener says it found none or failed (its exit statuses 2 to 4), or cannot be started,
// `failed` is called later on this thread. Without xdg-open, QDesktopServices opens it. False
// when nothing could be started at all (`failed` is not called then).
bool OpenOnDesktop(const QUrl& url, QObject* owner, std::function<void()> failed);

}  // namespace ui
