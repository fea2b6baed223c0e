// The window's "Textures" box: where the run finds the textures the models name, as
// boxtally-cli's --textures takes it (a folder, or the URL of a web folder; empty: the object
// path's own "textures" folder). Settings key Textures.
#pragma once

#include <QString>

class QFileDialog;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ui {

// The browse button "Textures", its box and its folder dialog (object names TexturesButton,
// TexturesEdit and TexturesDialog), children of `parent` (the dialog of `dialog_parent`).
struct TexturesControls {
  QPushButton* button = nullptr;
  QLineEdit* edit = nullptr;
  QFileDialog* dialog = nullptr;
};
TexturesControls CreateTexturesControls(QWidget* parent, QWidget* dialog_parent);

// Why a run with this box's text cannot start, for its message box: a folder that is not there.
// Empty when it can (an empty box, a folder, a web folder's URL).
QString TexturesFolderProblem(const QString& text);

}  // namespace ui
