// The results window over synthetic results, on Qt's offscreen platform (the environment of
// main_window_test.cpp): its rows and French texts, number sorting, the filters, a model's log
// lines, the folder it opens and the export.
#include "boxtally/ui/results_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "boxtally/driver/csv_report.h"
#include "support/temp_dir.h"

using driver::Fate;
using driver::ModelOutcome;
using driver::Reason;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class TestResults : public ui::ResultsWindow {
 public:
  std::vector<QUrl> opened;
  std::optional<QString> export_to;
  std::vector<QString> messages;

 protected:
  bool OpenFolder(const QUrl& folder) override {
    opened.push_back(folder);
    return true;
  }
  std::optional<QString> ChooseExportFile(QFileDialog&) override { return export_to; }
  void ShowMessage(const QString& text) override { messages.push_back(text); }
};

ModelOutcome Measured(const char* name, float width, std::int32_t vertices) {
  ModelOutcome m;
  m.name = name;
  m.source = std::string("/objects/") + name;
  m.fate = Fate::kMeasured;
  m.box = {-width / 2, 0, -1, width / 2, 3, 1};
  m.vertices = vertices;
  return m;
}

ModelOutcome Problem(const char* name, Fate fate, Reason reason, const char* facts,
                     const char* source) {
  ModelOutcome m;
  m.name = name;
  m.fate = fate;
  m.reason = reason;
  m.facts = facts;
  m.source = source;
  return m;
}

// The results of a small mixed run, in the order of the registry.
std::vector<ModelOutcome> MixedRun() {
  ModelOutcome tree = Measured("tree.rwx", 10, 12);
  tree.flags = driver::kFlagNotCentred | driver::kFlagOversized;
  return {tree,
          Problem("secret.rwx", Fate::kFailed, Reason::kArchiveEncrypted, "error 1: Provide",
                  "/objects/secret.zip"),
          Measured("pole.rwx", 0.5f, 1200),
          Problem("gone.rwx", Fate::kMissingOnServer, Reason::kHttpStatus, "404",
                  "https://objects.example/world/gone.zip"),
          Measured("Bench.rwx", 2, 8),
          Problem("far.rwx", Fate::kNotDownloaded, Reason::kCertificateRefused,
                  "hostname mismatch", "https://objects.example/world/far.zip")};
}

// The texts of a column as the view shows them, top to bottom.
std::vector<std::string> Column(TestResults& w, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < w.Filter().rowCount(); ++row) {
    texts.push_back(w.Filter().index(row, column).data().toString().toStdString());
  }
  return texts;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(ResultsWindow, ShowsEveryModelInFrenchAndSortsNumbersAsNumbers) {
  TestResults w;
  w.StartRun(QString());
  w.Add(MixedRun());
  ASSERT_EQ(w.Model().rowCount(), 6);
  EXPECT_EQ(Column(w, ui::kColumnName),
            (Texts{"tree.rwx", "secret.rwx", "pole.rwx", "gone.rwx", "Bench.rwx", "far.rwx"}));
  EXPECT_EQ(Column(w, ui::kColumnFate), (Texts{"mesuré", "en échec", "mesuré",
                                               "absent du serveur", "mesuré", "non téléchargé"}));
  EXPECT_EQ(Column(w, ui::kColumnReason),
            (Texts{"", "archive chiffrée sans mot de passe", "", "absent du serveur (404)", "",
                   "certificat refusé : nom d'hôte différent"}));
  EXPECT_EQ(Column(w, ui::kColumnWidth), (Texts{"10,000", "", "0,500", "", "2,000", ""}));
  EXPECT_EQ(Column(w, ui::kColumnVertices), (Texts{"12", "", "1\u202f200", "", "8", ""}));
  EXPECT_EQ(Column(w, ui::kColumnNotes), (Texts{"non centré, trop grand", "", "", "", "", ""}));

  // As numbers, not as texts ("10,000" < "2,000"); the models without a size first.
  struct Sort {
    int column;
    Qt::SortOrder order;
    Texts names;
  };
  const Sort sorts[] = {
      {ui::kColumnWidth, Qt::AscendingOrder,
       {"secret.rwx", "gone.rwx", "far.rwx", "pole.rwx", "Bench.rwx", "tree.rwx"}},
      {ui::kColumnVertices, Qt::DescendingOrder,
       {"pole.rwx", "tree.rwx", "Bench.rwx", "secret.rwx", "gone.rwx", "far.rwx"}},
      {ui::kColumnName, Qt::AscendingOrder,  // letter case aside
       {"Bench.rwx", "far.rwx", "gone.rwx", "pole.rwx", "secret.rwx", "tree.rwx"}},
  };
  for (const Sort& s : sorts) {
    SCOPED_TRACE(s.column);
    w.Table()->sortByColumn(s.column, s.order);
    EXPECT_EQ(Column(w, ui::kColumnName), s.names);
  }
}

TEST(ResultsWindow, FiltersByNameOrReasonAndToTheProblems) {
  TestResults w;
  w.StartRun(QString());
  w.FinishRun(MixedRun());
  auto* text = w.findChild<QLineEdit*>(QStringLiteral("ResultsFilterBox"));
  auto* problems = w.findChild<QCheckBox*>(QStringLiteral("ProblemsOnly"));
  ASSERT_NE(text, nullptr);
  ASSERT_NE(problems, nullptr);
  EXPECT_EQ(problems->text().toStdString(), "Problèmes seulement");
  struct Case {
    const char* text;
    bool problems_only;
    Texts names;
  };
  const Case cases[] = {
      {"", true, {"secret.rwx", "gone.rwx", "far.rwx"}},
      {"SERVEUR", false, {"gone.rwx"}},  // the reason as shown, letter case aside
      {"e.r", false, {"tree.rwx", "pole.rwx", "gone.rwx"}},
      {"e.r", true, {"gone.rwx"}},
      {"certificat", true, {"far.rwx"}},
      {"", false, {"tree.rwx", "secret.rwx", "pole.rwx", "gone.rwx", "Bench.rwx", "far.rwx"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.problems_only ? " (problems)" : ""));
    text->setText(QString::fromUtf8(c.text));
    problems->setChecked(c.problems_only);
    EXPECT_EQ(Column(w, ui::kColumnName), c.names);
  }
}

TEST(ResultsWindow, ShowsAModelsLogLinesOpensItsFolderAndExportsTheRowsShown) {
  TempDir dir;
  const std::string lines = "funzip error in /objects/secret.zip: Provide a password.\r\n"
                            "Unable to unzip file /objects/secret.zip\r\n";
  WriteFile(dir / "run.log", "an older run\r\n" + lines);
  std::vector<ModelOutcome> results = MixedRun();
  results[1].log_offset = 14;  // after the older run's line
  results[1].log_length = static_cast<std::uint32_t>(lines.size());
  results[3].log_offset = 1000;  // past the log's end: the log was made anew since
  results[3].log_length = 10;
  TestResults w;
  w.StartRun(QString::fromStdString(dir / "run.log"));
  w.FinishRun(results);
  w.show();
  QTableView* table = w.Table();
  struct Case {
    int row;
    std::string log_lines;
    QUrl folder;
  };
  const Case cases[] = {
      {1,
       "funzip error in /objects/secret.zip: Provide a password.\n"
       "Unable to unzip file /objects/secret.zip",
       QUrl::fromLocalFile(QStringLiteral("/objects"))},
      {0, "Ce modèle n'a écrit aucune ligne dans le log.",
       QUrl::fromLocalFile(QStringLiteral("/objects"))},
      {3, "Les lignes de ce modèle ne sont plus dans le fichier log " + (dir / "run.log") + ".",
       QUrl(QStringLiteral("https://objects.example/world/"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    table->setCurrentIndex(w.Filter().index(c.row, 0));
    EXPECT_EQ(w.LogLinesText().toStdString(), c.log_lines);
    w.opened.clear();
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(w.opened, std::vector<QUrl>{c.folder});
  }

  // Export: the rows as the table shows them, in its order.
  w.findChild<QCheckBox*>(QStringLiteral("ProblemsOnly"))->setChecked(true);
  table->sortByColumn(ui::kColumnName, Qt::DescendingOrder);
  w.export_to = QString::fromStdString(dir / "results.csv");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  std::string expected = driver::kCsvHeader;
  for (const int i : {1, 3, 5}) driver::AppendCsvRow(results[static_cast<std::size_t>(i)], expected);
  EXPECT_EQ(ReadFile(dir / "results.csv"), expected);
  EXPECT_TRUE(w.messages.empty());
  w.export_to = QString::fromStdString(dir / "no/results.csv");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  // The system's reason, in the desktop's language.
  EXPECT_EQ(w.messages, std::vector<QString>{QString::fromStdString(
                            "Impossible d'écrire le fichier " + (dir / "no/results.csv") + " : " +
                            std::strerror(ENOENT))});
}
