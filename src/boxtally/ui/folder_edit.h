// The box of a folder that shares its row with other controls: a dozen characters wide at first,
// and the first to give way on a small screen (a long name scrolls in it).
#pragma once

#include <QLineEdit>

namespace ui {

class FolderEdit : public QLineEdit {
 public:
  static constexpr int kShownChars = 12;   // of the window's first width
  static constexpr int kLeastChars = 2;    // on a small screen
  explicit FolderEdit(QWidget* parent) : QLineEdit(parent) {}
  QSize sizeHint() const override { return Hint(kShownChars); }
  QSize minimumSizeHint() const override { return Hint(kLeastChars); }

 private:
  QSize Hint(int chars) const {
    return {fontMetrics().averageCharWidth() * chars + 2 * kFramePadding,
            QLineEdit::sizeHint().height()};
  }
  static constexpr int kFramePadding = 6;  // pixels: the frame and the text's margin, each side
};

}  // namespace ui
