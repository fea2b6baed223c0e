#include "boxtally/ui/append_question.h"

#include <QMessageBox>
#include <QPushButton>

#include "boxtally/ui/window_texts.h"

namespace ui {

QString AppendQuestionText(std::size_t models) {
  return QString::fromUtf8(texts::kAppendQuestion).arg(texts::Count(models));
}

AppendAnswer AskAppendQuestion(QWidget* parent, std::size_t models) {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(texts::kMessageTitle),
                  AppendQuestionText(models), QMessageBox::NoButton, parent);
  box.setObjectName(QStringLiteral("AppendQuestion"));
  box.setInformativeText(QString::fromUtf8(texts::kAppendQuestionDetail));
  QPushButton* append =
      box.addButton(QString::fromUtf8(texts::kAppendButton), QMessageBox::AcceptRole);
  QPushButton* replace =
      box.addButton(QString::fromUtf8(texts::kReplaceButton), QMessageBox::DestructiveRole);
  QPushButton* cancel =
      box.addButton(QString::fromUtf8(texts::kCancelButton), QMessageBox::RejectRole);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == append) return AppendAnswer::kAppend;
  if (box.clickedButton() == replace) return AppendAnswer::kReplace;
  return AppendAnswer::kCancel;
}

}  // namespace ui
