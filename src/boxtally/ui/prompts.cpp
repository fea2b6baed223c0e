#include "boxtally/ui/prompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "boxtally/ui/window_texts.h"

namespace ui {

void ShowWarning(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, QString::fromUtf8(texts::kMessageTitle), text);
}

std::optional<QString> AskLine(QWidget* parent, const QString& title, const QString& prompt) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<QStringList> ChooseFiles(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedFiles();
}

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
