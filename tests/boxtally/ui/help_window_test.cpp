// The French guide behind F1 and "Aide", on Qt's offscreen platform (the environment of
// main_window_test.cpp): the window it opens in, the files compiled in with it, and its links.
#include "boxtally/ui/help_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <string>
#include <vector>

#include "boxtally/ui/main_window.h"
#include "support/temp_dir.h"

using testing_support::TempDir;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }

// Every picture and link of the page shown, as Qt's Markdown reader made them.
struct Targets {
  std::vector<QTextImageFormat> pictures;
  std::vector<QString> links;
};
Targets TargetsOf(const QTextDocument& document) {
  Targets found;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      if (format.isImageFormat()) found.pictures.push_back(format.toImageFormat());
      if (format.isAnchor()) found.links.push_back(format.anchorHref());
    }
  }
  return found;
}

// Where a relative name in the guide points among the compiled-in files, from the source folder.
QString FromSourceFolder(const QString& name) {
  return QUrl(QStringLiteral("qrc:/docs/guide.fr.md")).resolved(QUrl(name)).path().mid(1);
}

class TestHelp : public ui::HelpWindow {
 public:
  std::vector<QUrl> opened;
  std::vector<QString> messages;

 protected:
  void OpenOutside(const QUrl& url) override { opened.push_back(url); }
  void ShowMessage(const QString& text) override { messages.push_back(text); }
};

}  // namespace

TEST(HelpWindow, F1AndAideOpenTheGuideWithEveryPictureItShows) {
  TempDir dir;
  ui::MainWindow w(dir / "boxtally.INI");
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_F1);
  ui::HelpWindow* help = w.findChild<ui::HelpWindow*>(QStringLiteral("HelpWindow"));
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(Std(help->windowTitle()), "Aide");
  const QTextDocument& guide = *help->Browser()->document();
  EXPECT_EQ(Std(guide.begin().text()), "Guide de boxtally");
  EXPECT_EQ(guide.begin().blockFormat().headingLevel(), 1);

  // Every picture the guide shows and every page it links to is compiled in, and every picture
  // reads as an image, no wider than the text: a file named in the guide and missing from the
  // resource list fails here.
  const Targets targets = TargetsOf(guide);
  EXPECT_FALSE(targets.pictures.empty());
  for (const QTextImageFormat& picture : targets.pictures) {
    SCOPED_TRACE(Std(picture.name()));
    EXPECT_TRUE(QFile::exists(ui::ResourceName(FromSourceFolder(picture.name()))));
    const QVariant bytes =
        help->Browser()->loadResource(QTextDocument::ImageResource, picture.name());
    EXPECT_FALSE(QImage::fromData(bytes.toByteArray()).isNull());
    EXPECT_GT(picture.width(), 0);
    EXPECT_LE(picture.width(), help->Browser()->viewport()->width());
  }
  for (const QString& link : targets.links) {
    SCOPED_TRACE(Std(link));
    const QUrl url(link);
    if (!url.isRelative() || url.path().isEmpty()) continue;  // the web, or an anchor
    EXPECT_TRUE(QFile::exists(ui::ResourceName(FromSourceFolder(url.path()))));
  }

  // Closed, the "Aide" button of the status bar opens it again.
  help->close();
  auto* button = w.findChild<QPushButton*>(QStringLiteral("HelpButton"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(Std(button->text()), "Aide");
  button->click();
  EXPECT_TRUE(help->isVisible());
}

TEST(HelpWindow, LinksShowPagesOfTheGuideHereAndTheWebOutside) {
  struct Case {
    const char* link;
    bool outside;  // handed to the desktop's programs
    bool message;  // "not held by the program"
  };
  const Case cases[] = {
      {"https://example.invalid/objects", true, false},
      {"mailto:builder@example.invalid", true, false},
      {"#premiers-pas", false, false},  // an anchor of the page shown
      {"guide.fr.md", false, false},    // the page itself, named from docs/
      {"../docs/guide.fr.md#web", false, false},
      {"absent.md", false, true},
      {"boxtally-window.png", false, true},  // a picture is no page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    TestHelp help;
    help.ShowInFront();
    help.FollowLink(QUrl(QString::fromLatin1(c.link)));
    EXPECT_EQ(help.opened.size(), c.outside ? 1u : 0u);
    EXPECT_EQ(help.messages.size(), c.message ? 1u : 0u);
    EXPECT_EQ(Std(help.Page()), ui::kGuidePath);
    EXPECT_EQ(Std(help.Browser()->document()->begin().text()), "Guide de boxtally");
    help.close();
  }
}
