// "Aide": the French guide of the window (docs/guide.fr.md) in a window of its own, opened by F1
// and the main window's "Aide" button. The guide, the pictures it shows and the pages it links to
// are compiled into the program under the paths they have in the sources (":/docs/guide.fr.md"),
// so the guide reads the same from a build folder and from the package.
#pragma once

#include <QHash>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <vector>

class QPushButton;
class QTextBrowser;

namespace ui {

inline constexpr const char* kGuidePath = "docs/guide.fr.md";  // in the program's resources

// The compiled-in file at `path` (from the source folder, "docs/boxtally-window.png"): its
// resource name, ":/docs/boxtally-window.png".
QString ResourceName(const QString& path);

class HelpWindow : public QWidget {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the window in front; the first time beside the main window, on the guide.
  void ShowInFront();
  // Shows a compiled-in page (a path from the source folder) rendered from its Markdown; false,
  // and nothing changes, when the program does not hold it.
  bool ShowPage(const QString& path);
  // What a link of the page shown does: another page of the guide's set in this window, an
  // anchor of this page, a web address (http, https, mailto) in the desktop's programs.
  void FollowLink(const QUrl& link);
  // Back to the page shown before (the guide at last).
  void GoBack();

  QTextBrowser* Browser() const { return browser_; }
  // The page shown, as a path from the source folder; empty before the first.
  QString Page() const { return pages_.empty() ? QString() : pages_.back(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The parts that leave the window, one place each, so the tests can stand in for them.
  virtual void OpenOutside(const QUrl& url);
  virtual void ShowMessage(const QString& text);

 private:
  void Place();
  void ReadPictureSizes();
  void FitPictures();

  QTextBrowser* browser_ = nullptr;
  QPushButton* back_button_ = nullptr;
  std::vector<QString> pages_;           // the pages shown, in order; the current one last
  QHash<QString, QSize> picture_sizes_;  // of the page shown, by the names it gives them
  bool placed_ = false;
};

}  // namespace ui
