#include "boxtally/ui/file_dialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QStringList>
#include <string>

#include "boxtally/ui/run_launch.h"
#include "boxtally/ui/window_texts.h"
#include "platform/paths.h"

namespace ui {

namespace {

// The models dialog's filters, counted from 1 as the window's first code did.
constexpr int kZipFilter = 3;
constexpr int kListFilter = 5;
// Dialog properties: the mode the models dialog was last set for, and whether its typed names
// are watched already.
constexpr const char* kListModeProperty = "listMode";
constexpr const char* kTypedNamesProperty = "typedNamesWatched";

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

// The dialog's "file name" box: shown in the dialog and kept, so the tests can read it.
void SetDialogFileName(QFileDialog& dialog, const QString& name) {
  dialog.setProperty("fileName", name);
  dialog.selectFile(name);
}

void SelectFilter(QFileDialog& dialog, int index_from_1) {
  const QStringList filters = dialog.nameFilters();
  if (index_from_1 >= 1 && index_from_1 <= filters.size()) {
    dialog.selectNameFilter(filters[index_from_1 - 1]);
  }
}

QFileDialog* NewDialog(QWidget* parent, const char* title, const char* object_name,
                       QFileDialog::AcceptMode mode) {
  auto* dialog = new QFileDialog(parent, Tr(title));
  dialog->setObjectName(QString::fromLatin1(object_name));
  dialog->setAcceptMode(mode);
  return dialog;
}

}  // namespace

QFileDialog* CreateModelsDialog(QWidget* parent) {
  QFileDialog* dialog =
      NewDialog(parent, texts::kModelsDialogTitle, "ModelsDialog", QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setNameFilters(texts::NameFilters(texts::kModelsDialogFilter));
  SelectFilter(*dialog, kZipFilter);
  SetDialogFileName(*dialog, QStringLiteral("*.zip"));
  dialog->setDefaultSuffix(QStringLiteral("zip"));
  return dialog;
}

QFileDialog* CreateRegistryDialog(QWidget* parent) {
  QFileDialog* dialog =
      NewDialog(parent, texts::kRegistryDialogTitle, "RegistryDialog", QFileDialog::AcceptSave);
  dialog->setNameFilters(texts::NameFilters(texts::kRegistryDialogFilter));
  SetDialogFileName(*dialog, Tr(texts::kRegistryDialogName));
  dialog->setDefaultSuffix(QStringLiteral("txt"));
  return dialog;
}

QFileDialog* CreateLogDialog(QWidget* parent) {
  QFileDialog* dialog =
      NewDialog(parent, texts::kLogDialogTitle, "LogDialog", QFileDialog::AcceptSave);
  SetDialogFileName(*dialog, Tr(texts::kLogDialogName));
  return dialog;
}

QFileDialog* CreateFormatDialog(QWidget* parent) {
  QFileDialog* dialog =
      NewDialog(parent, texts::kFormatDialogTitle, "FormatDialog", QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  SetDialogFileName(*dialog, Tr(texts::kFormatDialogName));
  return dialog;
}

void SetModelsDialogMode(QFileDialog& dialog, bool web) {
  if (dialog.property(kListModeProperty).toBool() == web) return;
  dialog.setProperty(kListModeProperty, web);
  dialog.setDefaultSuffix(web ? QStringLiteral("txt") : QStringLiteral("zip"));
  SetDialogFileName(dialog, web ? QStringLiteral("*.txt") : QStringLiteral("*.zip"));
  SelectFilter(dialog, web ? kListFilter : kZipFilter);
}

void ApplyModelsFilter(QFileDialog& dialog, const QString& filter) {
  static const char* const kNames[] = {"*.rwx", "*.cob", "*.zip", "*.*"};
  static const char* const kSuffixes[] = {"rwx", "cob", "zip", ""};
  const int index = dialog.nameFilters().indexOf(filter);  // from 0
  if (index < 0 || index >= 4) return;                     // the list filter changes nothing
  SetDialogFileName(dialog, QString::fromLatin1(kNames[index]));
  dialog.setDefaultSuffix(QString::fromLatin1(kSuffixes[index]));
}

void StartDialogAt(QFileDialog& dialog, const QString& box_text, bool take_name) {
  const DialogStart start =
      DialogStartFor(box_text.toStdString(), platform::CurrentDirectory().value_or(std::string()));
  if (!start.folder.empty()) dialog.setDirectory(QString::fromStdString(start.folder));
  if (take_name && !start.name.empty()) {
    SetDialogFileName(dialog, QString::fromStdString(start.name));
  }
}

// It asks for existing files only while the typed text names one. Qt's own dialog only; a
// desktop's dialog keeps its rules.
void AcceptTypedModelNames(QFileDialog& dialog) {
  if (dialog.property(kTypedNamesProperty).toBool()) return;
  auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (typed == nullptr) return;
  dialog.setProperty(kTypedNamesProperty, true);
  QFileDialog* watched = &dialog;
  QObject::connect(typed, &QLineEdit::textChanged, watched, [watched](const QString& text) {
    const bool exist =
        TypedNamesExist(watched->directory().absolutePath().toStdString(), text.toStdString());
    const QFileDialog::FileMode mode = exist ? QFileDialog::ExistingFiles : QFileDialog::AnyFile;
    if (watched->fileMode() != mode) watched->setFileMode(mode);
  });
}

}  // namespace ui
