#include "boxtally/ui/help_window.h"

#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QKeySequence>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

#include "boxtally/ui/desktop_open.h"
#include "boxtally/ui/results_place.h"
#include "boxtally/ui/screen_fit.h"
#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {

constexpr int kFirstWidth = 640;  // pixels, inside the frame; smaller where the screen is
constexpr int kFirstHeight = 560;
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 200;
constexpr qint64 kMaxPageBytes = 1 << 20;  // a page of the guide is a few dozen kilobytes

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

// The address a path from the source folder has among the resources: relative links resolve
// against it as they do between the files of docs/.
QUrl ResourceUrl(const QString& path) { return QUrl(QStringLiteral("qrc:/") + path); }

bool IsPage(const QString& path) { return path.endsWith(QStringLiteral(".md")); }

struct PictureFragment {
  int position = 0;
  int length = 0;
  QTextImageFormat format;
};

// Collected first: changing a fragment's format while walking the blocks would split them.
std::vector<PictureFragment> PicturesOf(const QTextDocument& document) {
  std::vector<PictureFragment> pictures;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      pictures.push_back(
          {fragment.position(), fragment.length(), fragment.charFormat().toImageFormat()});
    }
  }
  return pictures;
}

}  // namespace

QString ResourceName(const QString& path) { return QStringLiteral(":/") + path; }

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(Tr(texts::kHelp));
  // Closing the main window ends the program even while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpText"));
  // Links are followed here: pages of the guide's set in this window, web addresses outside.
  browser_->setOpenLinks(false);
  browser_->viewport()->installEventFilter(this);  // the pictures follow the text's width
  connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::FollowLink);
  back_button_ = new QPushButton(Tr(texts::kHelpBack), this);
  back_button_->setObjectName(QStringLiteral("HelpBackButton"));
  back_button_->setEnabled(false);
  connect(back_button_, &QPushButton::clicked, this, &HelpWindow::GoBack);
  auto* close_button = new QPushButton(Tr(texts::kClose), this);
  close_button->setObjectName(QStringLiteral("CloseHelpButton"));
  connect(close_button, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
          &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back_button_);
  buttons->addStretch(1);
  buttons->addWidget(close_button);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_, 1);
  layout->addLayout(buttons);
  setMinimumSize(kMinWidth, kMinHeight);
  resize(kFirstWidth, kFirstHeight);
}

void HelpWindow::ShowInFront() {
  if (pages_.empty()) ShowPage(QString::fromLatin1(kGuidePath));
  if (!placed_) Place();
  show();
  raise();
  activateWindow();
  browser_->setFocus(Qt::OtherFocusReason);
}

// Beside the main window where the screen has room, as the results window goes.
void HelpWindow::Place() {
  placed_ = true;
  const QWidget* main = parentWidget();
  const QScreen* screen = main != nullptr ? main->screen() : this->screen();
  if (screen == nullptr || main == nullptr) return;
  const QRect place = PlaceBeside(main->frameGeometry(), size(), minimumSize(), FrameMargins(*this),
                                  screen->availableGeometry());
  resize(place.size());
  move(place.topLeft());
}

bool HelpWindow::ShowPage(const QString& path) {
  QFile file(ResourceName(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QString text = QString::fromUtf8(file.read(kMaxPageBytes));
  // Pictures are named relative to the page, as in docs/: looked for in its folder.
  browser_->setSearchPaths({ResourceName(path.left(path.lastIndexOf(QLatin1Char('/')) + 1))});
  browser_->setMarkdown(text);
  ReadPictureSizes();
  FitPictures();
  if (pages_.empty() || pages_.back() != path) pages_.push_back(path);
  back_button_->setEnabled(pages_.size() > 1);
  return true;
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == browser_->viewport() && event->type() == QEvent::Resize) FitPictures();
  return QWidget::eventFilter(watched, event);
}

// The pictures' own sizes, read once per page: fitting them changes the sizes the page holds.
void HelpWindow::ReadPictureSizes() {
  picture_sizes_.clear();
  for (const PictureFragment& picture : PicturesOf(*browser_->document())) {
    const QString name = picture.format.name();
    if (picture_sizes_.contains(name)) continue;
    const QVariant bytes = browser_->loadResource(QTextDocument::ImageResource, QUrl(name));
    picture_sizes_.insert(name, QImage::fromData(bytes.toByteArray()).size());
  }
}

// A picture wider than the text shrinks to its width, in proportion; none grows past its size.
void HelpWindow::FitPictures() {
  QTextDocument* document = browser_->document();
  // Room for the vertical scroll bar too, which a taller picture may bring.
  const QScrollBar* bar = browser_->verticalScrollBar();
  const int room = browser_->viewport()->width() -
                   2 * static_cast<int>(document->documentMargin()) -
                   (bar->isVisible() ? 0 : bar->sizeHint().width());
  if (room <= 0) return;
  for (PictureFragment& picture : PicturesOf(*document)) {
    const QSize natural = picture_sizes_.value(picture.format.name());
    if (natural.isEmpty()) continue;
    const int width = std::min(natural.width(), room);
    if (picture.format.width() == width) continue;
    picture.format.setWidth(width);
    picture.format.setHeight(static_cast<double>(natural.height()) * width / natural.width());
    QTextCursor cursor(document);
    cursor.setPosition(picture.position);
    cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
    cursor.setCharFormat(picture.format);
  }
}

void HelpWindow::FollowLink(const QUrl& link) {
  if (link.scheme() == QLatin1String("http") || link.scheme() == QLatin1String("https") ||
      link.scheme() == QLatin1String("mailto")) {
    OpenOutside(link);
    return;
  }
  if (link.isRelative() && link.path().isEmpty()) {  // "#section" of this page
    browser_->scrollToAnchor(link.fragment());
    return;
  }
  const QUrl target = ResourceUrl(Page()).resolved(link);
  const QString path = target.path().mid(1);  // from the source folder
  if (target.scheme() == QLatin1String("qrc") && IsPage(path) && ShowPage(path)) {
    if (target.hasFragment()) browser_->scrollToAnchor(target.fragment());
    return;
  }
  ShowMessage(Tr(texts::kHelpPageMissing).arg(link.toString()));
}

void HelpWindow::GoBack() {
  if (pages_.size() < 2) return;
  pages_.pop_back();
  const QString previous = pages_.back();
  pages_.pop_back();
  ShowPage(previous);
}

void HelpWindow::OpenOutside(const QUrl& url) {
  const auto failed = [this, url] {
    ShowMessage(Tr(texts::kCannotOpenDocument).arg(url.toString()));
  };
  if (!OpenOnDesktop(url, this, failed)) failed();
}

void HelpWindow::ShowMessage(const QString& text) {
  QMessageBox::information(this, Tr(texts::kHelp), text);
}

}  // namespace ui
