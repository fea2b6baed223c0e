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
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "boxtally/ui/report_export.h"
#include "support/sheet_cells.h"
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
  ModelOutcome bench = Measured("Bench.rwx", 2, 8);
  bench.missing_textures = {"wood", "leafm"};
  return {tree,
          Problem("secret.rwx", Fate::kFailed, Reason::kArchiveEncrypted, "error 1: Provide",
                  "/objects/secret.zip"),
          Measured("pole.rwx", 0.5f, 1200),
          Problem("gone.rwx", Fate::kMissingOnServer, Reason::kHttpStatus, "404",
                  "https://objects.example/world/gone.zip"),
          bench,
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
  EXPECT_EQ(Column(w, ui::kColumnMissingTextures), (Texts{"", "", "", "", "wood, leafm", ""}));

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
      // A measured model that lacks textures is a problem too.
      {"", true, {"secret.rwx", "gone.rwx", "Bench.rwx", "far.rwx"}},
      {"LEAF", false, {"Bench.rwx"}},  // the missing textures' names
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

  // Export: the rows as the table shows them, in its order and its words; CSV for the spreadsheet
  // of this French desktop (a byte order mark, ';' between fields, decimal commas).
  table->sortByColumn(ui::kColumnName, Qt::DescendingOrder);
  w.findChild<QLineEdit*>(QStringLiteral("ResultsFilterBox"))->setText(QStringLiteral("e.rwx"));
  w.export_to = QString::fromStdString(dir / "results.csv");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  EXPECT_EQ(
      ReadFile(dir / "results.csv"),
      "\xEF\xBB\xBFModèle;Résultat;Raison;Source;Gauche;Bas;Arrière;Droite;Haut;Avant;Largeur;"
      "Hauteur;Profondeur;Sommets;Polygones;Textures;Remarques;Textures manquantes\r\n"
      "tree.rwx;mesuré;;/objects/tree.rwx;-5;0;-1;5;3;1;10;3;2;12;0;0;non centré, trop grand;"
      "\r\n"
      "pole.rwx;mesuré;;/objects/pole.rwx;-0,25;0;-1;0,25;3;1;0,5;3;2;1200;0;0;;\r\n"
      "gone.rwx;absent du serveur;absent du serveur (404);"
      "https://objects.example/world/gone.zip;;;;;;;;;;;;;;\r\n");
  // A workbook: the same words, numbers as numbers.
  w.export_to = QString::fromStdString(dir / "results.xlsx");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  const std::vector<std::string> cells = testing_support::SheetCells(dir / "results.xlsx");
  for (const char* cell : {"sheet Résultats", "A1 text Modèle", "R1 text Textures manquantes",
                           "B3 text mesuré", "E3 number -0.25", "K3 number 0.5", "N3 number 1200",
                           "Q2 text non centré, trop grand", "C4 text absent du serveur (404)"}) {
    EXPECT_NE(std::find(cells.begin(), cells.end(), cell), cells.end()) << cell;
  }
  EXPECT_TRUE(w.messages.empty());
  w.export_to = QString::fromStdString(dir / "no/results.csv");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  // The system's reason, in the desktop's language.
  EXPECT_EQ(w.messages, std::vector<QString>{QString::fromStdString(
                            "Impossible d'écrire le fichier " + (dir / "no/results.csv") + " : " +
                            std::strerror(ENOENT))});
  // A text longer than a workbook's cell holds: a message, and the file stays as it was.
  std::vector<ModelOutcome> long_texture = MixedRun();
  long_texture[0].missing_textures = {std::string(32768, 'a')};
  w.StartRun(QString());
  w.FinishRun(long_texture);
  w.messages.clear();
  WriteFile(dir / "old.xlsx", "an older export");
  w.export_to = QString::fromStdString(dir / "old.xlsx");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  EXPECT_EQ(w.messages,
            std::vector<QString>{QString::fromStdString(
                "Impossible d'écrire le fichier " + (dir / "old.xlsx") +
                " : la colonne « Textures manquantes » du modèle « tree.rwx » dépasse 32\u202f767 "
                "caractères, le plus qu'une cellule de classeur contienne ; exportez le tableau en "
                "CSV.")});
  EXPECT_EQ(ReadFile(dir / "old.xlsx"), "an older export");
}

TEST(ResultsWindow, ExportsCsvForTheSpreadsheetOfTheDesktopsLocale) {
  struct Case {
    QLocale locale;
    char separator;
    char decimal_point;
  };
  const Case cases[] = {
      {QLocale(QLocale::French, QLocale::France), ';', ','},
      {QLocale(QLocale::German, QLocale::Germany), ';', ','},
      {QLocale(QLocale::English, QLocale::UnitedStates), ',', '.'},
      {QLocale::c(), ',', '.'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString());
    const driver::CsvStyle style = ui::SpreadsheetCsvStyle(c.locale);
    EXPECT_EQ(style.separator, c.separator);
    EXPECT_EQ(style.decimal_point, c.decimal_point);
    EXPECT_TRUE(style.byte_order_mark);
  }
}

TEST(ResultsWindow, AFrenchSpreadsheetReadsTheExportedNumbersAsNumbers) {
  if (!testing_support::HaveSpreadsheet()) {
    GTEST_SKIP() << "LibreOffice is not installed (scripts/install-deps --spreadsheet)";
  }
  TempDir dir;
  TestResults w;
  w.StartRun(QString());
  w.FinishRun(MixedRun());
  w.findChild<QLineEdit*>(QStringLiteral("ResultsFilterBox"))->setText(QStringLiteral("pole"));
  w.export_to = QString::fromStdString(dir / "pole.csv");
  w.findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  // As the import dialog takes it: ';' between fields, '"' around them, UTF-8, from line 1.
  const std::vector<std::string> cells =
      testing_support::SpreadsheetCells(dir / "pole.csv", dir.path(), "CSV:59,34,76,1");
  for (const char* cell : {"A1 text Modèle", "B2 text mesuré", "E2 number -0.25", "H2 number 0.25",
                           "K2 number 0.5", "N2 number 1200"}) {
    EXPECT_NE(std::find(cells.begin(), cells.end(), cell), cells.end()) << cell;
  }
}
