#include "boxtally/ui/textures_box.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include "boxtally/driver/run_textures.h"
#include "boxtally/ui/folder_edit.h"
#include "boxtally/ui/window_texts.h"
#include "platform/paths.h"

namespace ui {

TexturesControls CreateTexturesControls(QWidget* parent, QWidget* dialog_parent) {
  TexturesControls c;
  c.button = new QPushButton(QString::fromUtf8(texts::kTexturesButton), parent);
  c.button->setObjectName(QStringLiteral("TexturesButton"));
  c.button->setToolTip(QString::fromUtf8(texts::kHintTexturesButton));
  c.edit = new FolderEdit(parent);
  c.edit->setObjectName(QStringLiteral("TexturesEdit"));
  c.edit->setPlaceholderText(QString::fromUtf8(texts::kTexturesPlaceholder));
  c.edit->setToolTip(QString::fromUtf8(texts::kHintTexturesEdit));
  c.dialog = new QFileDialog(dialog_parent, QString::fromUtf8(texts::kTexturesDialogTitle));
  c.dialog->setObjectName(QStringLiteral("TexturesDialog"));
  c.dialog->setAcceptMode(QFileDialog::AcceptOpen);
  c.dialog->setFileMode(QFileDialog::Directory);
  c.dialog->setOption(QFileDialog::ShowDirsOnly, true);
  return c;
}

QString TexturesFolderProblem(const QString& text) {
  const std::string folder = text.toStdString();
  if (folder.empty() || driver::IsTexturesUrl(folder) || platform::IsDirectory(folder)) return {};
  return QString::fromUtf8(texts::kTexturesFolderMissing).arg(text);
}

}  // namespace ui
