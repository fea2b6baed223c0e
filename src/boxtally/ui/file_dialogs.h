// The main window's browse dialogs for the models, the registry, the log and the format file:
// how each is set up, where it starts, and how the models dialog follows the mode and its
// filters. The chosen names go into the boxes beside the buttons.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace ui {

// Children of `parent`, with the window's French titles, filters and first names; object names
// ModelsDialog, RegistryDialog, LogDialog and FormatDialog. The models dialog opens existing
// files (several at once), on its zip filter; the format dialog one existing file.
QFileDialog* CreateModelsDialog(QWidget* parent);
QFileDialog* CreateRegistryDialog(QWidget* parent);
QFileDialog* CreateLogDialog(QWidget* parent);
QFileDialog* CreateFormatDialog(QWidget* parent);

// The models dialog for the mode it is about to show in: on a mode change, the zip filter with
// "*.zip" (files) or the list filter with "*.txt" (web), and their suffix. In the same mode it
// stays as the user left it.
void SetModelsDialogMode(QFileDialog& dialog, bool web);

// A filter chosen in the models dialog: its pattern becomes the dialog's file name and its
// extension the default suffix. The list filter changes nothing.
void ApplyModelsFilter(QFileDialog& dialog, const QString& filter);

// The dialog starts in the folder of its box's text, when that folder exists, with the box's last
// part as its file name when `take_name`; otherwise in the last folder it showed.
void StartDialogAt(QFileDialog& dialog, const QString& box_text, bool take_name);

// The models dialog takes any typed text, as the models box does (a pattern such as "*.zip", a
// name still to come), and still lets several listed files be chosen. Safe to call every time.
void AcceptTypedModelNames(QFileDialog& dialog);

}  // namespace ui
