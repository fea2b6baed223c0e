// "Enregistrer l'image…" of the preview: the model as the preview shows it (turned, moved and
// zoomed as it is), drawn again at the pane's size or at a size the user picks, into a PNG file.
#pragma once

#include <QSize>
#include <QString>
#include <optional>

class QWidget;

namespace ui {

class ModelView;

struct PictureRequest {
  QString path;
  QSize size;
};

// Asks for the size (the pane's, offered first, or one typed "W × H" or "N") and then the file;
// nullopt when either is cancelled or the size cannot be drawn.
std::optional<PictureRequest> AskPicture(QWidget* parent, QSize pane);

// A size typed as "640 × 480", "640x480" or "512" (a square): the first one or two whole
// numbers, each 1 to the renderer's largest side; nullopt otherwise.
std::optional<QSize> PictureSizeOf(const QString& text);

// Draws the view's scene at `size` and writes it to `path` as PNG, replacing the file in one
// step. The reason in the window's words when it could not; empty when it was written.
QString SavePicture(const ModelView& view, const QString& path, QSize size);

}  // namespace ui
