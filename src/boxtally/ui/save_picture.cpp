#include "boxtally/ui/save_picture.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <string>

#include "boxtally/render/png_writer.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/ui/model_view.h"
#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {

QString Tr(const char* text) { return QString::fromUtf8(text); }

// Square sizes offered after the pane's own.
constexpr int kOfferedSides[] = {256, 512, 1024, 2048};

}  // namespace

std::optional<QSize> PictureSizeOf(const QString& text) {
  static const QRegularExpression kNumber(QStringLiteral("\\d+"));
  QList<int> sides;
  for (auto it = kNumber.globalMatch(text); it.hasNext() && sides.size() < 2;) {
    bool ok = false;
    const int side = it.next().captured().toInt(&ok);
    if (!ok || side < 1 || side > render::kMaxImageSide) return std::nullopt;
    sides << side;
  }
  if (sides.isEmpty()) return std::nullopt;
  return QSize(sides.front(), sides.back());
}

std::optional<PictureRequest> AskPicture(QWidget* parent, QSize pane) {
  QStringList sizes{Tr(texts::kSavePictureSizeValue).arg(pane.width()).arg(pane.height())};
  for (const int side : kOfferedSides) sizes << QStringLiteral("%1 × %1").arg(side);
  bool ok = false;
  const QString chosen = QInputDialog::getItem(parent, Tr(texts::kSavePicture),
                                               Tr(texts::kSavePictureSize), sizes, 0, true, &ok);
  const std::optional<QSize> size = ok ? PictureSizeOf(chosen) : std::nullopt;
  if (!size) return std::nullopt;
  const QString path = QFileDialog::getSaveFileName(parent, Tr(texts::kSavePicture), QString(),
                                                    Tr(texts::kSavePictureFilter));
  if (path.isEmpty()) return std::nullopt;
  return PictureRequest{path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)
                            ? path
                            : path + QStringLiteral(".png"),
                        *size};
}

QString SavePicture(const ModelView& view, const QString& path, QSize size) {
  std::string png;
  if (!render::EncodePng(view.DrawNow(size.width(), size.height()), png)) {
    return Tr(texts::kCannotSavePicture).arg(path, Tr(texts::kNothingToDraw));
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(png.data(), static_cast<qint64>(png.size())) != static_cast<qint64>(png.size()) ||
      !file.commit()) {
    return Tr(texts::kCannotSavePicture).arg(path, file.errorString());
  }
  return {};
}

}  // namespace ui
