#include "boxtally/ui/template_box.h"

#include "boxtally/ui/settings.h"

namespace ui {

namespace {
constexpr int kTemplateBoxHeight = 69;    // pixels: the template box's first height
constexpr int kTemplateBoxSlack = 24;     // pixels: frame, margins and the text cursor
constexpr int kTemplateBoxMinChars = 16;  // average characters: the narrowest template box
constexpr int kTemplateBoxMinLines = 1;   // lines: the lowest template box
}  // namespace

TemplateBox::TemplateBox(const QString& text, QWidget* parent) : QPlainTextEdit(text, parent) {
  setTabChangesFocus(false);  // a tab is part of a template
  setLineWrapMode(QPlainTextEdit::NoWrap);
}

QSize TemplateBox::sizeHint() const {
  return {fontMetrics().horizontalAdvance(QString::fromUtf8(kDefaultTemplate)) + kTemplateBoxSlack,
          kTemplateBoxHeight};
}

QSize TemplateBox::minimumSizeHint() const {
  const int frame = 2 * frameWidth() + 2 * static_cast<int>(document()->documentMargin());
  return {fontMetrics().averageCharWidth() * kTemplateBoxMinChars + frame,
          fontMetrics().lineSpacing() * kTemplateBoxMinLines + frame};
}

}  // namespace ui
