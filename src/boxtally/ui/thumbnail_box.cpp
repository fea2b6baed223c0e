#include "boxtally/ui/thumbnail_box.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <utility>

#include "boxtally/ui/folder_edit.h"
#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {
QString Tr(const char* text) { return QString::fromUtf8(text); }
}  // namespace

ThumbnailBox::ThumbnailBox(QWidget* parent, DialogRunner exec)
    : QFrame(parent),
      button_(new QPushButton(Tr(texts::kThumbnailsButton), this)),
      edit_(new FolderEdit(this)),
      dialog_(new QFileDialog(this, Tr(texts::kThumbnailsDialogTitle))),
      exec_(std::move(exec)) {
  setObjectName(QStringLiteral("ThumbnailsFrame"));
  button_->setObjectName(QStringLiteral("ThumbnailsButton"));
  button_->setToolTip(Tr(texts::kHintThumbnailsButton));
  edit_->setObjectName(QStringLiteral("ThumbnailsEdit"));
  edit_->setToolTip(Tr(texts::kHintThumbnailsEdit));
  dialog_->setObjectName(QStringLiteral("ThumbnailsDialog"));
  dialog_->setFileMode(QFileDialog::Directory);
  dialog_->setOption(QFileDialog::ShowDirsOnly);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);  // it stands in a row of the window, not a frame
  row->addWidget(button_);
  row->addWidget(edit_, 1);
  connect(button_, &QPushButton::clicked, this, &ThumbnailBox::ChooseFolder);
}

QString ThumbnailBox::Folder() const { return edit_->text(); }
void ThumbnailBox::SetFolder(const QString& folder) { edit_->setText(folder); }

void ThumbnailBox::ChooseFolder() {
  if (!Folder().isEmpty()) dialog_->setDirectory(Folder());
  const std::optional<QStringList> chosen = exec_(*dialog_);
  if (chosen && !chosen->isEmpty()) SetFolder(QDir::toNativeSeparators(chosen->front()));
}

ThumbnailStart StartThumbnails(const QString& folder, const std::vector<std::string>& run_files) {
  ThumbnailStart start;
  if (folder.isEmpty()) return start;
  const std::string dir = folder.toStdString();
  for (std::size_t i = 0; i < run_files.size(); ++i) {
    if (!driver::PictureMayTake(dir, run_files[i])) continue;
    QString text = Tr(texts::kRunFileInThumbnails)
                       .arg(Tr(texts::kRunFileRoles[i]), QString::fromStdString(run_files[i]));
    text[0] = text[0].toUpper();
    start.problem = text;
    return start;
  }
  if (const std::optional<std::string> why = driver::PrepareThumbnailFolder(dir)) {
    start.problem = Tr(texts::kThumbnailsUnusable).arg(QString::fromStdString(*why));
    return start;
  }
  start.set = std::make_unique<driver::ThumbnailSet>();
  start.set->dir = dir;
  return start;
}

QString ThumbnailFailuresText(const driver::ThumbnailSet& set) {
  if (set.failed == 0) return {};
  QStringList lines;
  for (const std::string& line : set.failures) lines << QString::fromStdString(line);
  if (set.failed > set.failures.size()) {
    lines << QStringLiteral("… (+%1)").arg(set.failed - set.failures.size());
  }
  return Tr(texts::kThumbnailsNotWritten).arg(set.failed).arg(lines.join(QLatin1Char('\n')));
}

}  // namespace ui
