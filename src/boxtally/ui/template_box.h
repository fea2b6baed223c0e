// The main window's template box: the registry line's template used when no format file is
// named. A tab typed there is part of the template.
#pragma once

#include <QPlainTextEdit>
#include <QSize>
#include <QString>

namespace ui {

// First shown as wide as the default template and the design's height, it is the first thing to
// shrink when the screen is small (it scrolls).
class TemplateBox : public QPlainTextEdit {
 public:
  TemplateBox(const QString& text, QWidget* parent);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
};

}  // namespace ui
