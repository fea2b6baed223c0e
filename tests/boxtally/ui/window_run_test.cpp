// What the user sees of a run in the window, on Qt's offscreen platform (the environment of
// main_window_test.cpp): a run of many models shown in batches, the results window's place, its
// filter and preview at a new run, and the question before appending to a registry that holds
// the run's models already.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
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
#include <optional>
#include <string>
#include <vector>

#include "boxtally/ui/main_window.h"
#include "boxtally/ui/results_window.h"
#include "boxtally/ui/run_feed.h"
#include "support/temp_dir.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// The window with its message boxes played by the test.
class RunForm : public ui::TForm1 {
 public:
  explicit RunForm(const std::string& settings) : TForm1(settings) {}

  // Starts a run of `models` into a new `registry`, logging into `log`.
  void Run(const std::string& models, const std::string& registry, const std::string& log) {
    RwxFileEdit->setText(QString::fromStdString(models));
    RegFileEdit->setText(QString::fromStdString(registry));
    LogFileEdit->setText(QString::fromStdString(log));
    Button1->click();
  }

  std::string ProgramDirectory() const override {
    return program_dir.empty() ? TForm1::ProgramDirectory() : program_dir;
  }

  std::vector<QString> messages;
  std::string program_dir;  // where rwxsmith is; empty: beside the test (it is not)

 protected:
  void ShowMessage(const QString& text) override { messages.push_back(text); }
};

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

// Answers the next modal box with its button `caption`, once it shows; keeps what it said.
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
    for (QAbstractButton* b : box->buttons()) {
      buttons.push_back(b->text().toStdString());
      if (b->text() == QString::fromUtf8(caption)) b->click();
    }
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

TEST(WindowRun, ARunOfManyModelsReachesTheWindowInBatches) {
  constexpr int kModels = 20000;
  TempDir objects, out;
  for (int i = 0; i < kModels; ++i) {
    WriteFile(objects / ("m" + std::to_string(i) + ".rwx"),
              "modelbegin\nvertex 0 0 0\nvertex 1 2 " + std::to_string(i % 7) + "\nmodelend\n");
  }
  RunForm w(out / "boxtally.INI");
  w.show();
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

TEST(WindowRun, TheResultsMeasureAHugeModelAndGiveTheConvertersReason) {
  TempDir objects, out;
  WriteFile(objects / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(objects / "big.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // over 20 units
  WriteFile(objects / "t.cob", "Caligari V00.01ALH             \n(the rest as text)\n");
  RunForm w(out / "boxtally.INI");
  w.program_dir = BOXTALLY_BIN_DIR "/";
  w.show();
  w.Run(objects / "*.*", out / "reg.txt", out / "run.log");
  // The huge model is left out of the registry, as "Ignorer les grands objets" asks.
  EXPECT_EQ(ReadFile(out / "reg.txt"), "a.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(Rows(*w.Results(), ui::kColumnName, ui::kColumnPolygons),
            (std::vector<std::string>{
                "a.rwx|mesuré||2,000|2,000|2,000|8|6",
                "big.rwx|ignoré (trop grand)||50,000|1,000|1,000|8|6",
                "t.cob|en échec|conversion échouée (code de sortie 6) : ASCII format COB files "
                "are not supported - resave as binary|||||"}));
}

TEST(WindowRun, AppendingModelsTheRegistryHoldsAlreadyAsksFirst) {
  TempDir objects, out;
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
  RunForm w(out / "boxtally.INI");
  w.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button ? c.button : "unticked");
    WriteFile(out / "reg.txt", earlier);
    w.CheckBox1->setChecked(c.append);
    std::optional<BoxAnswer> answer;
    if (c.button != nullptr) answer.emplace(c.button);
    w.Run(objects / "*.rwx", out / "reg.txt", out / "run.log");
    EXPECT_EQ(ReadFile(out / "reg.txt"), c.registry);
    if (!answer) continue;
    EXPECT_EQ(answer->text, "La registry contient déjà 2 de ces modèles.");
    std::sort(answer->buttons.begin(), answer->buttons.end());
    EXPECT_EQ(answer->buttons, (std::vector<std::string>{"Ajouter", "Annuler", "Remplacer"}));
    EXPECT_TRUE(w.CheckBox1->isChecked());  // the answer counts for this run alone
  }
  EXPECT_TRUE(w.messages.empty());
}
