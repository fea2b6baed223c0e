// What the user sees of a run in the window, on Qt's offscreen platform with a screen of a
// desktop's size (offscreen_desktop.json), under a French locale: a run of many models shown in
// batches, the results window's place, its filter and preview at a new run, and the question before
// appending to a registry that holds the run's models already.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "boxtally/ui/main_window.h"
#include "boxtally/ui/model_view.h"
#include "boxtally/ui/results_columns.h"
#include "boxtally/ui/results_place.h"
#include "boxtally/ui/results_window.h"
#include "boxtally/ui/run_feed.h"
#include "boxtally/ui/summary_line.h"
#include "french_desktop.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

testing::Environment* const kQt =
    testing::AddGlobalTestEnvironment(new testing_support::FrenchDesktop);

// The window with its message boxes played by the test.
class RunWindow : public ui::MainWindow {
 public:
  explicit RunWindow(const std::string& settings) : MainWindow(settings) {}

  // Starts a run of `models` into a new `registry`, logging into `log`.
  void Run(const std::string& models, const std::string& registry, const std::string& log) {
    models_edit_->setText(QString::fromStdString(models));
    registry_edit_->setText(QString::fromStdString(registry));
    log_edit_->setText(QString::fromStdString(log));
    run_button_->click();
  }

  std::string ProgramDirectory() const override {
    return program_dir.empty() ? MainWindow::ProgramDirectory() : program_dir;
  }

  // A run into a new registry (reg.txt) and log (run.log) in `out`.
  void RunAnew(const std::string& models, const TempDir& out) {
    append_registry_box_->setChecked(false);
    Run(models, out / "reg.txt", out / "run.log");
  }

  std::vector<QString> messages;
  std::string program_dir;     // where rwxsmith is; empty: beside the test (it is not)
  bool real_question = false;  // the question before appending really shown; else appended

 protected:
  void ShowMessage(const QString& text) override { messages.push_back(text); }
  ui::AppendAnswer AskAppend(std::size_t models) override {
    return real_question ? MainWindow::AskAppend(models) : ui::AppendAnswer::kAppend;
  }
};

// A model and a broken archive: a run over them opens the results window by itself.
void WriteModelAndBrokenArchive(const TempDir& objects) {
  WriteFile(objects / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(objects / "broken.zip", "PK\x03\x04 not really a zip");
}

// Counts the paint events of a widget and of the widgets in it.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& widget) {
    widget.installEventFilter(this);
    for (QWidget* child : widget.findChildren<QWidget*>()) child->installEventFilter(this);
  }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// The rows of the results table as shown, each its cells from `first` to `last` joined by "|".
std::vector<std::string> Rows(ui::ResultsWindow& results, int first, int last) {
  std::vector<std::string> rows;
  for (int row = 0; row < results.Filter().rowCount(); ++row) {
    std::string cells;
    for (int column = first; column <= last; ++column) {
      if (column > first) cells += "|";
      cells += results.Filter().index(row, column).data().toString().toStdString();
    }
    rows.push_back(cells);
  }
  return rows;
}

// Answers the next modal box with its button `caption` (any other: its first button), once it
// shows; keeps what it said.
struct BoxAnswer {
  explicit BoxAnswer(const char* caption) {
    QTimer::singleShot(0, [this, caption] { Click(caption); });
  }
  void Click(const char* caption) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      QTimer::singleShot(10, [this, caption] { Click(caption); });
      return;
    }
    text = box->text().toStdString();
    QAbstractButton* chosen = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      buttons.push_back(b->text().toStdString());
      if (b->text() == QString::fromUtf8(caption)) chosen = b;
    }
    if (chosen == nullptr && !box->buttons().isEmpty()) chosen = box->buttons().front();
    if (chosen != nullptr) chosen->click();
  }
  std::string text;
  std::vector<std::string> buttons;
};

std::size_t LineCount(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

}  // namespace

// A shown window, the folder of the models it runs over and the folder its runs write into.
class WindowRun : public ::testing::Test {
 protected:
  WindowRun() { w.show(); }
  TempDir objects, out;
  RunWindow w{out / "boxtally.INI"};
};

TEST_F(WindowRun, ARunOfManyModelsReachesTheWindowInBatches) {
  constexpr int kModels = 20000;
  for (int i = 0; i < kModels; ++i) {
    WriteFile(objects / ("m" + std::to_string(i) + ".rwx"),
              "modelbegin\nvertex 0 0 0\nvertex 1 2 " + std::to_string(i % 7) + "\nmodelend\n");
  }
  w.ShowResults();
  int inserted = 0;
  QObject::connect(&w.Results()->Model(), &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  int progressed = 0;
  QObject::connect(w.RunProgress(), &QProgressBar::valueChanged, [&] { ++progressed; });
  PaintCounter status_bar(*w.statusBar());

  QElapsedTimer clock;
  clock.start();
  w.Run(objects / "*.rwx", out / "reg.txt", out / "run.log");
  // The hand-overs the run had time for, whatever the machine's speed.
  const qint64 rounds = clock.elapsed() / ui::kRunFeedMs + 2;

  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(LineCount(ReadFile(out / "reg.txt")), std::size_t{kModels});
  EXPECT_EQ(w.Results()->Model().rowCount(), kModels);
  EXPECT_EQ(w.RunProgress()->value(), kModels);
  EXPECT_EQ(w.RunProgress()->text().toStdString(), "20\u202f000 / 20\u202f000");
  EXPECT_LE(inserted, rounds);
  EXPECT_LE(progressed, rounds);
  // A hand-over repaints the status panel and the progress bar, and the bar behind them.
  EXPECT_LE(status_bar.paints, 4 * rounds);
}

TEST_F(WindowRun, TheResultsMeasureAHugeModelAndGiveTheConvertersReason) {
  WriteFile(objects / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(objects / "big.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // over 20 units
  WriteFile(objects / "t.cob", "Caligari V00.01ALH             \n(the rest as text)\n");
  w.program_dir = BOXTALLY_BIN_DIR "/";
  w.Run(objects / "*.*", out / "reg.txt", out / "run.log");
  // The huge model is left out of the registry, as "Ignorer les grands objets" asks.
  EXPECT_EQ(ReadFile(out / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Rows(*w.Results(), ui::kColumnName, ui::kColumnPolygons),
            (std::vector<std::string>{
                "a.rwx|mesuré||2,000|2,000|2,000|8|6",
                "big.rwx|ignoré (trop grand)||50,000|1,000|1,000|8|6",
                "t.cob|en échec|conversion échouée (code de sortie 6) : ASCII format COB files "
                "are not supported - resave as binary|||||"}));
  // What the sizes become in the registry, said where the user hovers.
  EXPECT_EQ(w.Results()
                ->Model()
                .headerData(ui::kColumnHeight, Qt::Horizontal, Qt::ToolTipRole)
                .toString()
                .toStdString(),
            "Taille de la boîte sur y, en unités du modèle, au millième. La registry (en nombres "
            "entiers, comme la fenêtre la fait) l'écrit en millièmes d'unité : <fbottom> et <ftop> "
            "sont les côtés de la boîte rentrés de 5 millièmes chacun (de -1 à 1 : -995 et 995 ; "
            "au moins 10 d'écart), <fy> la taille sans ce retrait (2000 pour 2,000).");
}

TEST_F(WindowRun, AppendingModelsTheRegistryHoldsAlreadyAsksFirst) {
  for (const char* name : {"a.rwx", "b.rwx", "c.rwx"}) {
    WriteFile(objects / name, "modelbegin\nblock 2 2 2\nmodelend\n");
  }
  const std::string box = " 1 -995 -995 -995 995 995 995\r\n";
  const std::string earlier = "a.rwx" + box + "c.rwx" + box + "other.rwx" + box;
  const std::string ours = "a.rwx" + box + "b.rwx" + box + "c.rwx" + box;
  struct Case {
    const char* button;
    bool append;  // "Ajoute le résultat"
    std::string registry;
  };
  const Case cases[] = {
      {"Annuler", true, earlier},  // nothing runs
      {"Remplacer", true, ours},   // as if unticked, for this run
      {"Ajouter", true, earlier + ours},
      {nullptr, false, ours},  // a new registry: no question
  };
  w.real_question = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button ? c.button : "unticked");
    WriteFile(out / "reg.txt", earlier);
    w.append_registry_box_->setChecked(c.append);
    std::optional<BoxAnswer> answer;
    if (c.button != nullptr) answer.emplace(c.button);
    w.Run(objects / "*.rwx", out / "reg.txt", out / "run.log");
    EXPECT_EQ(ReadFile(out / "reg.txt"), c.registry);
    if (!answer) continue;
    EXPECT_EQ(answer->text, "La registry contient déjà 2 de ces modèles.");
    std::sort(answer->buttons.begin(), answer->buttons.end());
    EXPECT_EQ(answer->buttons, (std::vector<std::string>{"Ajouter", "Annuler", "Remplacer"}));
    EXPECT_TRUE(w.append_registry_box_->isChecked());  // the answer counts for this run alone
  }
  EXPECT_TRUE(w.messages.empty());
}

TEST(ResultsPlace, GoesNextToTheMainWindowWithinTheScreen) {
  const QRect laptop(0, 0, 1280, 800), desktop(0, 0, 1920, 1080), wide(0, 0, 2560, 1440);
  const QMargins frame(2, 28, 2, 2);
  const QSize minimum(500, 300);
  const QRect main(60, 70, 662, 418);  // its frame, where it first shows
  struct Case {
    const char* name;
    QRect screen;
    QRect main;
    QSize wanted;
    QRect place;  // the frame's top left corner, the size inside the frame
  };
  const Case cases[] = {
      {"right of it, whole, level with its top", wide, main, {1500, 560}, {722, 70, 1500, 560}},
      {"below it, where it shows whole", desktop, main, {1500, 560}, {60, 488, 1500, 560}},
      {"right of it, as wide as the room, where it shows largest",
       laptop,
       main,
       {1500, 560},
       {722, 70, 554, 560}},
      {"left of it", laptop, {600, 100, 662, 418}, {1500, 560}, {0, 100, 596, 560}},
      {"below it, cut to the screen's width",
       laptop,
       {200, 0, 900, 400},
       {1500, 560},
       {0, 400, 1276, 370}},
      {"above it", laptop, {100, 450, 1000, 350}, {1500, 560}, {0, 0, 1276, 420}},
      {"never taller than the screen", laptop, {0, 0, 500, 800}, {1500, 1000}, {500, 0, 776, 770}},
      // Over the main window's right: its summary starts at its left.
      {"no room anywhere: the screen's top right corner",
       laptop,
       {100, 100, 1000, 600},
       {1500, 560},
       {0, 0, 1276, 560}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QRect place = ui::PlaceBeside(c.main, c.wanted, minimum, frame, c.screen);
    EXPECT_EQ(place, c.place);
    EXPECT_TRUE(c.screen.contains(QRect(place.topLeft(), place.size() + QSize(4, 30))));
  }
}

TEST_F(WindowRun, TheResultsWindowOpensClearOfTheMainOneAndComesBackWhereTheUserPutIt) {
  WriteModelAndBrokenArchive(objects);
  const std::string ini = out / "boxtally.INI";
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_EQ(screen, QRect(0, 0, 1920, 1080));  // offscreen_desktop.json
  w.RunAnew(objects / "*.*", out);
  ui::ResultsWindow& results = *w.Results();
  ASSERT_TRUE(results.isVisible());
  // Below the main window, where it shows whole: its summary and status bar stay in view.
  EXPECT_FALSE(results.frameGeometry().intersects(w.frameGeometry()));
  EXPECT_EQ(results.frameGeometry().top(), w.frameGeometry().bottom() + 1);
  EXPECT_EQ(results.frameGeometry().left(), w.frameGeometry().left());
  EXPECT_TRUE(screen.contains(results.frameGeometry()));
  results.move(300, 400);  // the user puts it elsewhere
  EXPECT_TRUE(w.close());
  EXPECT_NE(ReadFile(ini).find("Left=300\r\nTop=400\r\n"), std::string::npos) << ReadFile(ini);
  RunWindow again(ini);
  again.show();
  again.ShowResults();
  EXPECT_EQ(again.Results()->pos(), QPoint(300, 400));
}

TEST_F(WindowRun, ANewRunShowsAllItsModelsAndThePreviewFollowsWhatIsListed) {
  WriteModelAndBrokenArchive(objects);
  WriteFile(objects / "b.rwx", "modelbegin\nblock 1 1 1\nmodelend\n");
  w.RunAnew(objects / "*.*", out);
  ui::ResultsWindow& results = *w.Results();
  auto* text = results.findChild<QLineEdit*>(QStringLiteral("ResultsFilterBox"));
  auto* problems = results.findChild<QCheckBox*>(QStringLiteral("ProblemsOnly"));
  auto* clear = results.findChild<QPushButton*>(QStringLiteral("ClearFilterButton"));
  auto* count = results.findChild<QLabel*>(QStringLiteral("ResultsCount"));
  ASSERT_TRUE(text && problems && clear && count);
  EXPECT_EQ(clear->text().toStdString(), "Tout afficher");
  EXPECT_FALSE(clear->isEnabled());

  // The model shown goes with its row: hidden by a filter, it is shown no more.
  QTableView* table = results.Table();
  table->selectRow(0);  // a.rwx
  EXPECT_EQ(results.Preview().SizesText().toStdString(),
            "Largeur\u00a0:\u00a02,000 · Hauteur\u00a0:\u00a02,000 · Profondeur\u00a0:\u00a02,000");
  problems->setChecked(true);
  EXPECT_EQ(count->text().toStdString(), "1 sur 3");
  EXPECT_EQ(results.Preview().MessageText().toStdString(),
            "Sélectionnez un modèle dans le tableau pour le voir ici.");
  EXPECT_EQ(results.LogLinesText().toStdString(), "");
  text->setText(QStringLiteral("zzz"));
  EXPECT_EQ(count->text().toStdString(), "0 sur 3");
  EXPECT_TRUE(clear->isEnabled());
  clear->click();
  EXPECT_EQ(count->text().toStdString(), "3 sur 3");
  EXPECT_FALSE(problems->isChecked());

  // A filter set after one run is gone at the next: every model of it shows.
  text->setText(QStringLiteral("broken"));
  problems->setChecked(true);
  table->selectRow(0);
  w.RunAnew(objects / "*.rwx", out);
  EXPECT_EQ(text->text().toStdString(), "");
  EXPECT_FALSE(problems->isChecked());
  EXPECT_EQ(count->text().toStdString(), "2 sur 2");
  EXPECT_EQ(results.Preview().MessageText().toStdString(),
            "Sélectionnez un modèle dans le tableau pour le voir ici.");
}

TEST_F(WindowRun, TheWindowGrowsToShowItsWebRowsAndItsSummaryWhole) {
  // A run that meets every kind of local model: the longest summary.
  WriteModelAndBrokenArchive(objects);
  WriteFile(objects / "c.cob", "Caligari garbage");  // no converter beside the tests
  WriteFile(objects / "e.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");
  WriteFile(objects / "g.rwx", "modelbegin\nmodelend\n");
  WriteFile(objects / "readme.rwx", "just a text\n");
  auto* summary = w.findChild<ui::SummaryLine*>(QStringLiteral("RunSummary"));
  auto* proxy = w.findChild<QLineEdit*>(QStringLiteral("ProxyEdit"));
  ASSERT_TRUE(summary && proxy);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // Made as small as it goes by the user, then a run whose summary takes more room than that.
  w.resize(w.minimumSizeHint());
  w.RunAnew(objects / "*.*", out);
  QCoreApplication::processEvents();
  EXPECT_TRUE(summary->ShownWhole()) << summary->Text().toStdString();
  for (const bool web : {true, false}) {
    SCOPED_TRACE(web ? "web mode" : "file mode");
    w.web_mode_box_->setChecked(web);
    QCoreApplication::processEvents();
    EXPECT_TRUE(summary->ShownWhole()) << summary->Text().toStdString();
    EXPECT_TRUE(screen.contains(w.frameGeometry()));
  }
  // The proxy box showed its example whole.
  w.web_mode_box_->setChecked(true);
  QCoreApplication::processEvents();
  EXPECT_GE(proxy->width(), proxy->fontMetrics().horizontalAdvance(proxy->placeholderText()));
}

TEST(ColumnWidths, GiveWayTheNameLastTheOthersInShares) {
  // Name, fate (fixed), reason, source; the name keeps its width first.
  struct Case {
    std::vector<int> wanted;
    int room;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {{100, 50, 300, 400}, 1000, {100, 50, 300, 400}},  // room for all
      {{100, 50, 300, 400}, 600, {100, 50, 225, 225}},
      {{100, 50, 80, 400}, 500, {100, 50, 80, 270}},  // the smaller wish whole
      {{100, 50, 300, 400}, 400, {100, 50, 125, 125}},
      {{100, 50, 300, 400}, 200, {60, 50, 60, 60}},  // never below the least width
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    EXPECT_EQ(ui::FitColumnWidths(c.wanted, {0, 2, 3}, c.room), c.widths);
  }
}

TEST_F(WindowRun, TheColumnsFitTheirFirstRowsAndTheSourceStaysInView) {
  const std::string name = "molecule_ascii_with_a_rather_long_name.rwx";
  WriteFile(objects / name, "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(objects / "broken.zip", "PK\x03\x04 not really a zip");  // opens the results
  w.RunAnew(objects / "*.*", out);
  ui::ResultsWindow& results = *w.Results();
  ASSERT_TRUE(results.isVisible());
  QCoreApplication::processEvents();  // laid out
  QTableView* table = results.Table();
  QHeaderView* header = table->horizontalHeader();
  const QFontMetrics cells = table->fontMetrics();
  EXPECT_GE(header->sectionSize(ui::kColumnName),
            cells.horizontalAdvance(QString::fromStdString(name)));
  EXPECT_GE(header->sectionSize(ui::kColumnFate),
            cells.horizontalAdvance(QStringLiteral("en échec")));
  // The source begins inside the table, with room to show some of it.
  EXPECT_LT(header->sectionViewportPosition(ui::kColumnSource) + 60, table->viewport()->width());

  // A width set by hand stays for the next run, and in the settings file; the others fit anew.
  header->resizeSection(ui::kColumnReason, 333);
  w.RunAnew(objects / "*.zip", out);
  EXPECT_EQ(header->sectionSize(ui::kColumnReason), 333);
  EXPECT_LT(header->sectionSize(ui::kColumnName),
            cells.horizontalAdvance(QString::fromStdString(name)));
  EXPECT_TRUE(w.close());
  EXPECT_NE(ReadFile(out / "boxtally.INI").find("Columns=0,0,333,0,0,0,0,0,0,"), std::string::npos);
}

// The table and the preview frame themselves while they have the keyboard; Return on a row
// opens its folder, and a desktop that has no program for it is named in a message, as it is
// for the main window's buttons.
TEST_F(WindowRun, TheResultsTableFramesItselfWithTheKeyboardAndSaysWhatNoProgramOpens) {
  TempDir bin;
  WriteModelAndBrokenArchive(objects);
  // The desktop's opener, finding no program for anything.
  WriteFile(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + (out / "opened") + "'\nexit 3\n");
  std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
  struct RestorePath {
    const QByteArray was = qgetenv("PATH");
    ~RestorePath() { qputenv("PATH", was); }
  } path;
  qputenv("PATH", QByteArray::fromStdString(bin.path()) + ":" + path.was);
  w.RunAnew(objects / "*.*", out);
  ui::ResultsWindow& results = *w.Results();
  ASSERT_TRUE(results.isVisible());
  QWidget* table = results.Table();
  QWidget* view = results.Preview().View();
  results.Table()->selectRow(0);
  results.ShowInFront();  // in front with the keyboard in the table, as Ctrl+R shows it
  ASSERT_TRUE(QTest::qWaitForWindowActive(&results));
  ASSERT_TRUE(QTest::qWaitFor([&] { return table->hasFocus(); }));
  // The colour of a widget's left edge, halfway down, as drawn now.
  const auto edge = [](QWidget* widget) {
    return widget->grab().toImage().pixelColor(1, widget->height() / 2);
  };
  const QColor highlight = table->palette().color(QPalette::Highlight);
  EXPECT_EQ(edge(table), highlight);
  EXPECT_NE(edge(view), highlight);
  QTest::keyClick(table, Qt::Key_Tab);
  ASSERT_TRUE(view->hasFocus());
  EXPECT_NE(edge(table), highlight);
  EXPECT_EQ(edge(view), highlight);

  results.Table()->setCurrentIndex(results.Filter().index(0, 0));
  BoxAnswer box("");
  QTest::keyClick(results.Table(), Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !box.text.empty(); }, 10000));
  EXPECT_EQ(box.text, "Aucun programme du bureau n'a pu ouvrir le dossier " + objects.path() + ".");
  // The main window's buttons say so too.
  auto* open_log = w.findChild<QPushButton*>(QStringLiteral("OpenLogButton"));
  ASSERT_NE(open_log, nullptr);
  open_log->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w.messages.empty(); }, 10000));
  EXPECT_EQ(w.messages, std::vector<QString>{QString::fromStdString(
                            "Aucun programme du bureau n'a pu ouvrir " + (out / "run.log") + ".")});
  EXPECT_EQ(ReadFile(out / "opened"), objects.path() + "\n" + (out / "run.log") + "\n");
}
