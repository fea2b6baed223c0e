// The main window's "Vignettes" box: a folder into which a run draws every model it measures, as
// boxtally-cli --thumbnails does (settings key Thumbnails; empty: no pictures), with its browse
// button; and what a run of the window needs of it: the set of pictures the run fills, and the
// words for a folder that cannot be used or pictures that could not be written.
#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boxtally/driver/thumbnails.h"

class QFileDialog;
class QLineEdit;
class QPushButton;

namespace ui {

class ThumbnailBox : public QFrame {
 public:
  // `exec` shows a dialog and gives the chosen names (the window's modal part, which the tests
  // stand in for); nullopt: cancelled.
  using DialogRunner = std::function<std::optional<QStringList>(QFileDialog&)>;
  ThumbnailBox(QWidget* parent, DialogRunner exec);

  QString Folder() const;
  void SetFolder(const QString& folder);
  QPushButton* Button() const { return button_; }
  QLineEdit* Edit() const { return edit_; }

 private:
  void ChooseFolder();

  QPushButton* button_;
  QLineEdit* edit_;
  QFileDialog* dialog_;
  DialogRunner exec_;
};

// The pictures of a run into `folder` (made when missing), 256 pixels a side: nullptr for an
// empty folder name; the reason, in the window's words, why the folder cannot be used. A picture
// never replaces a file of the run: one of `run_files` (in the order of texts::kRunFileRoles) that
// stands in the folder under a picture's name stops the run before the folder is made.
struct ThumbnailStart {
  std::unique_ptr<driver::ThumbnailSet> set;
  QString problem;
};
ThumbnailStart StartThumbnails(const QString& folder, const std::vector<std::string>& run_files);

// After a run: the pictures that could not be written (the first lines, then how many more), in
// the window's words; empty when all were written.
QString ThumbnailFailuresText(const driver::ThumbnailSet& set);

}  // namespace ui
