// The window on Qt's offscreen platform, under a French locale: its controls, its settings, and
// real runs started, stopped and closed from it.
#include "boxtally/ui/main_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "boxtally/driver/run_report.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/ui/model_view.h"
#include "boxtally/ui/screen_fit.h"
#include "boxtally/ui/summary_line.h"
#include "boxtally/ui/window_texts.h"
#include "french_desktop.h"
#include "platform/paths.h"
#include "support/https_server.h"
#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

// QStrings in failure messages as text, not as arrays of code units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

testing::Environment* const kQt =
    testing::AddGlobalTestEnvironment(new testing_support::FrenchDesktop);

// The window with the user's modal parts played by the test.
class TestWindow : public ui::MainWindow {
 public:
  using MainWindow::MainWindow;

  void ProcessMessages() override {
    MainWindow::ProcessMessages();
    ++rounds;
    if (on_round) on_round(rounds);
  }

  std::size_t Jobs() const override { return jobs > 0 ? jobs : MainWindow::Jobs(); }
  std::string ProgramDirectory() const override {
    return program_dir.empty() ? MainWindow::ProgramDirectory() : program_dir;
  }

  // Every status text, as "panel:text", in the order shown.
  void SetStatusText(int panel, const std::string& text) override {
    MainWindow::SetStatusText(panel, text);
    status.push_back(std::to_string(panel) + ":" + text);
  }

  // Fills in the boxes of the models, the registry and the log.
  void SetFiles(const std::string& models, const std::string& registry, const std::string& log) {
    models_edit_->setText(QString::fromStdString(models));
    registry_edit_->setText(QString::fromStdString(registry));
    log_edit_->setText(QString::fromStdString(log));
  }

  std::vector<QString> messages;
  std::function<void(int)> on_round;  // at the driver's message round of each model
  int rounds = 0;
  std::optional<QStringList> dialog_answer;
  std::vector<QFileDialog*> dialogs_shown;
  std::vector<std::string> status;
  std::vector<QString> questions;  // "title|prompt" of each input box
  std::optional<QString> answer;   // what the user types into it; nullopt: Cancel
  bool real_dialogs = false;       // the file dialogs really shown (the test plays the user)
  std::size_t jobs = 0;            // models measured at once; 0: the window's own choice
  std::string program_dir;         // where rwxsmith is; empty: beside the test (it is not)
  std::vector<QString> opened;     // files handed to the desktop's programs

 protected:
  void ShowMessage(const QString& text) override { messages.push_back(text); }
  bool OpenDocument(const QString& path) override {
    opened.push_back(path);
    return true;
  }
  ui::AppendAnswer AskAppend(std::size_t) override { return ui::AppendAnswer::kAppend; }
  std::optional<QString> AskText(const QString& title, const QString& prompt) override {
    questions.push_back(title + "|" + prompt);
    return answer;
  }
  std::optional<QStringList> ExecDialog(QFileDialog& dialog) override {
    dialogs_shown.push_back(&dialog);
    if (real_dialogs) return MainWindow::ExecDialog(dialog);
    return dialog_answer;
  }
};

template <typename W = QWidget>
W* Control(const QWidget& window, const char* name) {
  W* w = window.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

QString CaptionOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
  return {};
}

std::string Std(const QString& s) { return s.toStdString(); }

// A run's summary without its time, which varies; empty when the time is not there in French
// form (tenths after a comma).
std::string SummaryWithoutTime(const QString& summary) {
  static const QRegularExpression time(QStringLiteral(" \\(\\d+,\\d s\\)$"));
  const QRegularExpressionMatch found = time.match(summary);
  return found.hasMatch() ? Std(summary.left(found.capturedStart())) : std::string();
}

// A small object path: three RWX models, a zip, an encrypted zip and a broken zip.
const char* const kPassword = "tree-pw";
struct ObjectPath {
  TempDir dir;
  std::string models;  // the pattern
  ObjectPath() {
    WriteFile(dir / "box.rwx",
              "modelbegin\nclumpbegin\nvertex -1 0 -1\nvertex 1 2 1\nvertex 1 0 -1\n"
              "triangle 1 2 3\nclumpend\nmodelend\n");
    WriteFile(dir / "Flat.RWX",
              "modelbegin\nclumpbegin\nvertex -0.25 0 -0.25\nvertex 0.5 0.001 0.5\n"
              "vertex 0.5 0 0\ntriangle 1 2 3\nclumpend\nmodelend\n");
    WriteFile(dir / "pole.rwx",
              "modelbegin\nclumpbegin\ntranslate 0 1 0\nvertex 0 0 0\nvertex 0.1 3 0.1\n"
              "vertex 0.1 0 0\ntriangle 1 2 3\nclumpend\nmodelend\n");
    WriteFile(dir / "tree.rwx",
              "modelbegin\nclumpbegin\nvertex -2 0 -2\nvertex 2 6 2\nvertex 2 0 -2\n"
              "triangle 1 2 3\nclumpend\nmodelend\n");
    const std::string zip = "cd '" + dir.path() +
                            "' && zip -q -X plain.zip tree.rwx && zip -q -X -P " + kPassword +
                            " secret.zip box.rwx && rm tree.rwx";
    EXPECT_EQ(std::system(zip.c_str()), 0);
    WriteFile(dir / "broken.zip", "PK\x03\x04 not really a zip");
    models = dir / "*.*";
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

const char* const kRunLocked[] = {
    "ModelsButton",      "RegistryButton", "LogButton",   "FormatButton",    "TemplateEdit",
    "AppendRegistryBox", "AppendLogBox",   "SkipHugeBox", "HandleFacersBox", "NonCenteredBox",
    "OverSizedBox",      "WebModeBox",     "ModelsEdit",  "RegistryEdit",    "LogEdit",
    "UrlEdit",           "FormatFileEdit", "ReuseWebBox", "PasswordEdit"};
const char* const kStaysEnabled[] = {"RunButton", "ErrorsOnlyBox", "PropdumpBox", "ConnectFixBox"};

}  // namespace

// A shown window, the small object path and the folder its runs write into.
class MainWindowRun : public ::testing::Test {
 protected:
  MainWindowRun() { w.show(); }
  ObjectPath objects;
  TempDir out;
  TestWindow w{out / "boxtally.INI"};
};

TEST(MainWindow, ShowsEveryControlWithItsCaptionHintAndVisibility) {
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  w.show();
  EXPECT_EQ(Std(w.windowTitle()), "boxtally V" BOXTALLY_VERSION);
  struct Case {
    const char* name;
    const char* caption;
    const char* hint;
    bool visible;
  };
  const Case cases[] = {
      {"WebModeBox", "Charger depuis le Web",
       "Si cocher, le programme lit les objets de URL donner basé sur la liste des fichiers "
       "fournit.",
       true},
      {"ModelKindsLabel", "Cela doit être des fichiers cob, rwx ou bien des zip", "", true},
      {"UrlLabel", "URL", "", false},
      {"UrlEdit", "", "Spécifier l'Url du dossier des objets sur le web.", false},
      {"ReuseWebBox", "Réutiliser les fichiers web",
       "Si cocher, il sauve les modèles localement pour une possible réexécution.", false},
      {"PropdumpBox", "C'est un fichier Propdump!",
       "Le fichier choisi comme liste est un fichier Propdump (sauvegarde serveur). Le programme "
       "extraira tous les modèles à partir de ce fichier!",
       false},
      {"ConnectFixBox", "Fixer la connection",
       "Cocher cette case si vous recevez des messages d'échec de connection.", false},
      {"UseRefererBox", "Utiliser le Referer",
       "Cocher cette option si le serveur FTP exige un referer", false},
      {"RefererWorldLabel", "World", "", false},
      {"RefererWorldEdit", "",  // the settings' empty default wins over the design's "GM"
       "Ecrivez le nom du monde utiliser par le referer du serveur d'objet (FTP)", false},
      {"UserAgentLabel", "User-Agent", "", false},
      {"UserAgentEdit", "Gridmere/3.60 (560)",
       "Utiliser \"Gridmere/3.60 (560)\" si le serveur limite l'accés au browser d'GM", false},
      {"RefererLabel", "Referer", "", false},
      {"RefererEdit", "gm://localhost:5670/",
       "Utiliser \"gm://localhost:5670/\" si le serveur d'objets exige un referer", false},
      {"ModelsButton", "Chemin du dossier",
       "Rechercher le dossier des objets ou la liste d'objet(s)", true},
      {"ModelsLabel", "Fichier(s) RWX", "", true},
      {"ModelsEdit", "*.zip",
       "Indiquez les modèles sur lesquels vous voulez à générer la registry\n les caractères "
       "spéciaux sont acceptés (wildchars) \nou la liste des fichiers qui contient la liste des "
       "modèles sur le site web.",
       true},
      {"RegistryButton", "Fichier Registry", "Chercher le fichier registry", true},
      {"RegistryEdit", "myreg.txt", "Spécifier le nom de la registry ici", true},
      {"AppendRegistryBox", "Ajoute le résultat",
       "Si cocher, la registry que vous allez générer sera ajouterà l'ancienne.", true},
      {"LogButton", "Fichier Log", "Chercher le fichier log", true},
      {"LogEdit", "boxtally.log", "Spécifier le nom du fichier et le chemin du fichier log ici",
       true},
      {"AppendLogBox", "Ajoute le résultat",
       "Si cocher, le fichier log générer sera ajouter à l'ancien", true},
      {"ErrorsOnlyBox", "Noter que les erreurs",
       "Si cocher, le fichier log contiendra seulement les messages d'erreur", true},
      {"FormatButton", "Fichier de Format",
       "Rechercher le fichier de format de sortie (optionnel!)", true},
      {"FormatFileEdit", "", "Spécifier le fichier texte de format de sortie (optionnel!)", true},
      {"SkipHugeBox", "Ignorer les grands objets (ground)",
       "Ignorer les objets énormes dans la registry (plus grand que 20x20 mètres)", true},
      {"HandleFacersBox", "Enclore les sprites",
       "Élargir dans une boite englobante pour les objets qui se présente toujours de face (objet "
       "AxisAlignment)",
       true},
      {"NonCenteredBox", "Non-Centré", "Ecrire un commentaire si un objet n'est pas centré", true},
      {"OverSizedBox", "Empiétement",
       "Ecrire un commentaire si la taille d'objet excéde la taille d'empiétement", true},
      {"CobDebugBox", "CobDebug", "", false},
      {"IfOmittedLabel", "Si omis, utiliser:", "", true},
      {"TemplateLabel", "le format par défaut de la registry", "", true},
      {"TemplateEdit", "<ffile> 1 <fleft> <fbottom> <fback> <fright> <ftop> <ffront>",
       "Spécifier le format spécial de sortie ici.", true},
      {"PasswordLabel", "Mot de passe pour les fichiers Zip", "", true},
      {"PasswordEdit", "", "Écrivez le mot de passe commun à tout les fichiers zip", true},
      {"RunButton", "Générer", "", true},
      {"StatusBar", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* control = Control(w, c.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(Std(CaptionOf(control)), c.caption);
    EXPECT_EQ(Std(control->toolTip()), c.hint);
    if (c.hint[0] != '\0') {
      EXPECT_EQ(control->toolTipDuration(), 6000);
    }
    EXPECT_EQ(control->isVisible(), c.visible);
  }
  // Ticks of a first start: the settings' defaults.
  for (const char* name : {"AppendRegistryBox", "AppendLogBox", "ErrorsOnlyBox", "SkipHugeBox"}) {
    EXPECT_TRUE(Control<QCheckBox>(w, name)->isChecked()) << name;
  }
  for (const char* name : {"WebModeBox", "HandleFacersBox", "NonCenteredBox", "OverSizedBox",
                           "CobDebugBox", "ConnectFixBox"}) {
    EXPECT_FALSE(Control<QCheckBox>(w, name)->isChecked()) << name;
  }
  EXPECT_EQ(w.password_edit_->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(w.template_edit_->tabChangesFocus());
  EXPECT_GT(w.run_button_->font().pointSizeF(), w.font().pointSizeF());
  EXPECT_GE(w.run_button_->width(), 129);
  EXPECT_GE(w.run_button_->height(), 73);
  EXPECT_FALSE(w.RunProgress()->isVisible());
  EXPECT_EQ(w.pos(), QPoint(60, 70));
}

TEST(MainWindow, WebModeSwitchesCaptionsAndControls) {
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  w.show();
  const char* const web_controls[] = {"UrlLabel", "UrlEdit", "ReuseWebBox", "PropdumpBox",
                                      "ConnectFixBox"};
  const char* const never_shown[] = {"UseRefererBox",  "RefererWorldLabel", "RefererWorldEdit",
                                     "UserAgentLabel", "UserAgentEdit",     "RefererLabel",
                                     "RefererEdit",    "CobDebugBox"};
  w.models_edit_->setText(QStringLiteral("objects/*.rwx"));
  w.web_mode_box_->click();
  EXPECT_EQ(Std(w.models_button_->text()), "Liste de Fichier");
  EXPECT_EQ(Std(w.models_label_->text()), "Liste de Fichier");
  EXPECT_FALSE(w.model_kinds_label_->isVisible());
  for (const char* name : web_controls) EXPECT_TRUE(Control(w, name)->isVisible()) << name;
  for (const char* name : never_shown) EXPECT_FALSE(Control(w, name)->isVisible()) << name;
  // Each mode keeps its own models box.
  EXPECT_EQ(Std(w.models_edit_->text()), "");
  w.models_edit_->setText(QStringLiteral("list.txt"));

  w.web_mode_box_->click();
  EXPECT_EQ(Std(w.models_button_->text()), "Dossier des objets");
  EXPECT_EQ(Std(w.models_label_->text()), "Fichier(s) RWX");
  QCoreApplication::processEvents();
  EXPECT_GE(w.models_label_->width(),
            w.models_label_->fontMetrics().horizontalAdvance(w.models_label_->text()));
  EXPECT_TRUE(w.model_kinds_label_->isVisible());
  for (const char* name : web_controls) EXPECT_FALSE(Control(w, name)->isVisible()) << name;
  for (const char* name : never_shown) EXPECT_FALSE(Control(w, name)->isVisible()) << name;
  EXPECT_EQ(Std(w.models_edit_->text()), "objects/*.rwx");
  w.web_mode_box_->click();
  EXPECT_EQ(Std(w.models_edit_->text()), "list.txt");
  // And so does the settings file.
  w.close();
  TestWindow again(dir / "boxtally.INI");
  EXPECT_EQ(Std(again.models_edit_->text()), "list.txt");
  again.web_mode_box_->click();
  EXPECT_EQ(Std(again.models_edit_->text()), "objects/*.rwx");
}

TEST(MainWindow, TabOrderStartsInTheModelsBoxAndReachesTheRunButton) {
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_EQ(Std(QApplication::focusWidget()->objectName()), "ModelsEdit");
  for (const char* next : {"RegistryEdit", "LogEdit", "PasswordEdit", "RunButton", "WebModeBox"}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(Std(QApplication::focusWidget()->objectName()), next);
  }
  // A tab typed in the template box stays there.
  w.template_edit_->setFocus();
  w.template_edit_->clear();
  QTest::keyClick(w.template_edit_, Qt::Key_Tab);
  EXPECT_EQ(Std(w.template_edit_->toPlainText()), "\t");
  EXPECT_EQ(QApplication::focusWidget(), w.template_edit_);
  // Ctrl+Tab leaves it without typing; Ctrl+Shift+Tab goes back to the box before it.
  QTest::keyClick(w.template_edit_, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(Std(w.template_edit_->toPlainText()), "\t");
  EXPECT_NE(QApplication::focusWidget(), w.template_edit_);
  w.template_edit_->setFocus();
  QTest::keyClick(w.template_edit_, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), w.over_sized_box_);
}

TEST(MainWindow, ReadsItsSettingsAndWritesThemWhenClosed) {
  TempDir dir;
  const std::string ini = dir / "boxtally.INI";
  WriteFile(ini,
            "[Form]\r\nTop=0x20\r\nLeft=15\r\n[Debug]\r\nCobDebug=1\r\n"
            "[Parameters]\r\nFromWeb=1\r\nErrorsOnly=2\r\nURL=http://example.invalid/obj\r\n"
            "[Mine]\r\nKeep=me\r\n");
  // Longer than a settings value may be (2,047 characters), and kept whole all the same.
  std::string long_template = "<ffile> 1";
  for (int i = 0; i < 30; ++i) {
    long_template +=
        "\n<ffname> <fleft> <fbottom> <fback> <fright> <ftop> <ffront> <fx> " + std::to_string(i);
  }
  {
    TestWindow w(ini);
    w.show();
    EXPECT_EQ(w.pos(), QPoint(15, 32));
    EXPECT_TRUE(w.CobDebug());
    EXPECT_TRUE(w.web_mode_box_->isChecked());
    EXPECT_TRUE(w.url_edit_->isVisible());
    EXPECT_TRUE(w.reuse_web_box_->isVisible());
    EXPECT_EQ(Std(w.models_label_->text()), "Liste de Fichier");
    EXPECT_EQ(Std(w.url_edit_->text()), "http://example.invalid/obj");
    EXPECT_TRUE(w.ErrorsOnly());
    w.template_edit_->setPlainText(QString::fromStdString(long_template));
    w.password_edit_->setText(QStringLiteral("never saved"));
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(w.messages.empty());
  }
  const std::string saved = ReadFile(ini);
  for (const char* line :
       {"\r\nTop=32\r\n", "\r\nCobDebug=0\r\n", "\r\nErrorsOnly=1\r\n", "\r\nFromWeb=1\r\n",
        "\r\nDefaultFormat=<ffile> 1\r\n", "[Mine]\r\nKeep=me\r\n"}) {
    EXPECT_NE(saved.find(line), std::string::npos) << line << " in\n" << saved;
  }
  EXPECT_EQ(saved.find("never saved"), std::string::npos);
  TestWindow again(ini);
  EXPECT_FALSE(again.CobDebug());
  EXPECT_EQ(Std(again.template_edit_->toPlainText()), long_template);
}

TEST(MainWindow, ASettingsFileThatCannotBeWrittenIsNamedInAMessage) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  const std::string ini = dir / "file/boxtally.INI";
  TestWindow w(ini);
  w.show();
  EXPECT_TRUE(w.close());  // the window still closes
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_EQ(Std(w.messages[0]), "Unable to write to " + ini);
}

TEST(MainWindow, DialogsAreSetUpAsTheirButtonsAsk) {
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  const QStringList model_filters = {"Fichiers RenderWare(*.rwx)", "Fichiers TrueSpace(*.cob)",
                                     "Fichiers zip(*.zip)", "Tous les Fichiers(*.*)",
                                     "Liste de Fichiers(*.txt)"};
  QFileDialog& models = *w.models_dialog_;
  EXPECT_EQ(Std(models.windowTitle()), "Sélectionner les Fichiers pour la Registry");
  EXPECT_EQ(models.nameFilters(), model_filters);
  EXPECT_EQ(models.fileMode(), QFileDialog::ExistingFiles);

  struct Step {
    bool web;
    const char* filter;
    const char* name;
    const char* suffix;
  };
  // The name comes from the box, which each mode keeps: the list chosen just before in web
  // mode, what the first choice left in file mode.
  const Step steps[] = {{false, "Fichiers zip(*.zip)", "*.zip", "zip"},
                        {true, "Liste de Fichiers(*.txt)", "*.txt", "txt"},
                        {true, "Liste de Fichiers(*.txt)", "list.txt", "txt"},
                        {false, "Fichiers zip(*.zip)", "list.txt", "zip"}};
  w.dialog_answer = QStringList{QString::fromStdString(dir / "list.txt")};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.web ? "web" : "file");
    w.web_mode_box_->setChecked(s.web);
    w.models_button_->click();
    EXPECT_EQ(models.selectedNameFilter(), QString::fromUtf8(s.filter));
    EXPECT_EQ(Std(models.property("fileName").toString()), s.name);
    EXPECT_EQ(Std(models.defaultSuffix()), s.suffix);
  }
  EXPECT_EQ(Std(w.models_edit_->text()), dir / "list.txt");
  struct Change {
    int filter;
    const char* name;
    const char* suffix;
  };
  const Change changes[] = {{0, "*.rwx", "rwx"},
                            {1, "*.cob", "cob"},
                            {3, "*.*", ""},
                            {4, "*.*", ""},  // the list filter changes nothing
                            {2, "*.zip", "zip"}};
  for (const Change& c : changes) {
    SCOPED_TRACE(c.filter);
    w.ModelsFilterChanged(model_filters[c.filter]);
    EXPECT_EQ(Std(models.property("fileName").toString()), c.name);
    EXPECT_EQ(Std(models.defaultSuffix()), c.suffix);
  }

  struct Save {
    QPushButton* button;
    QFileDialog* dialog;
    QCheckBox* append;
    QLineEdit* edit;
    const char* title;
    const char* name;
    QStringList filters;
  };
  const Save saves[] = {
      {w.registry_button_,
       w.registry_dialog_,
       w.append_registry_box_,
       w.registry_edit_,
       "Choisissez un nom pour le fichier Registry",
       "registry.txt",
       {"Fichiers Registry(*.txt)", "Tous les Fichiers(*.*)"}},
      {w.log_button_,
       w.log_dialog_,
       w.append_log_box_,
       w.log_edit_,
       "Choisissez un nom pour le fichier Log",
       "boxtally.log",
       {}},
  };
  for (const Save& s : saves) {
    SCOPED_TRACE(s.title);
    EXPECT_EQ(Std(s.dialog->windowTitle()), s.title);
    EXPECT_EQ(Std(s.dialog->property("fileName").toString()), s.name);
    EXPECT_EQ(s.dialog->acceptMode(), QFileDialog::AcceptSave);
    if (!s.filters.isEmpty()) {
      EXPECT_EQ(s.dialog->nameFilters(), s.filters);
    }
    for (const bool append : {true, false}) {
      s.append->setChecked(append);
      w.dialog_answer = QStringList{QString::fromStdString(dir / "chosen.txt")};
      s.button->click();
      // Only a file made anew is overwritten, so only then does the dialog ask first.
      EXPECT_EQ(s.dialog->testOption(QFileDialog::DontConfirmOverwrite), append);
      EXPECT_EQ(Std(s.edit->text()), dir / "chosen.txt");
    }
  }
  EXPECT_EQ(Std(w.registry_dialog_->defaultSuffix()), "txt");
  EXPECT_EQ(Std(w.format_dialog_->windowTitle()),
            "Choisissez Le fichier des définitions du Format de sorties");
  EXPECT_EQ(Std(w.format_dialog_->property("fileName").toString()), "myformat.txt");
  EXPECT_EQ(w.format_dialog_->fileMode(), QFileDialog::ExistingFile);
  w.dialog_answer = std::nullopt;  // cancelled: nothing changes
  w.format_button_->click();
  EXPECT_EQ(Std(w.format_file_edit_->text()), "");
}

TEST_F(MainWindowRun, ARunWritesWhatTheTerminalFrontEndWrites) {
  w.SetFiles(objects.models, out / "window-reg.txt", out / "window.log");
  w.password_edit_->setText(QString::fromLatin1(kPassword));
  w.append_registry_box_->setChecked(false);
  w.append_log_box_->setChecked(false);
  w.errors_only_box_->setChecked(false);
  WriteFile(out / "window.log", "an older run\r\n");
  w.run_button_->click();

  WriteFile(out / "format.txt", std::string(ui::kDefaultTemplate) + "\r\n");
  const testing_support::ProgramRun cli =
      RunProgram({BOXTALLY_BIN_DIR "/boxtally-cli", "--quiet", "--log", out / "cli.log",
                  "--new-log", "--all-messages", objects.models, out / "format.txt", "-r",
                  std::string("-s") + kPassword, "-o" + (out / "cli-reg.txt")});
  ASSERT_EQ(cli.exit_status, 0) << cli.err;
  const std::string registry = ReadFile(out / "window-reg.txt");
  EXPECT_EQ(Lines(registry).size(), 5u) << registry;  // every model but the broken zip
  EXPECT_EQ(registry, ReadFile(out / "cli-reg.txt"));
  const std::string log = ReadFile(out / "window.log");
  EXPECT_NE(log.find("Unable to get zipfile name"), std::string::npos) << log;
  EXPECT_EQ(log, ReadFile(out / "cli.log"));
  EXPECT_EQ(Std(w.PanelText(1)), "Done!");
  EXPECT_TRUE(w.messages.empty());

  // Appending ticked: the same lines once more after the first run's.
  w.append_registry_box_->setChecked(true);
  w.run_button_->click();
  EXPECT_EQ(ReadFile(out / "window-reg.txt"), registry + registry);
}

TEST_F(MainWindowRun, DuringARunTheControlsAreLockedAndTheTemporaryFormatExists) {
  w.SetFiles(objects.models, out / "reg.txt", out / "run.log");
  w.template_edit_->setPlainText(QStringLiteral("<ffile>\t<fvert>\n# <ffname>"));
  const std::string temporary = platform::WorkDirectory() + "myregxxx.$$$";
  bool checked = false;
  w.on_round = [&](int round) {
    if (round != 2) return;
    checked = true;
    QTest::qWait(2 * ui::kRunFeedMs);  // the status bar shows the run in batches
    EXPECT_EQ(ReadFile(temporary), "<ffile>\t<fvert>\r\n# <ffname>\r\n");
    EXPECT_EQ(Std(w.run_button_->text()), "S T O P !!!");
    for (const char* name : kRunLocked) EXPECT_FALSE(Control(w, name)->isEnabled()) << name;
    for (const char* name : kStaysEnabled) EXPECT_TRUE(Control(w, name)->isEnabled()) << name;
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_TRUE(w.RunProgress()->isVisible());
    EXPECT_EQ(w.RunProgress()->maximum(), 6);  // models found
    EXPECT_EQ(w.RunProgress()->value(), 1);    // models done
    EXPECT_EQ(Std(w.PanelText(1)), "Processing broken.zip");
  };
  w.run_button_->click();
  EXPECT_TRUE(checked);
  EXPECT_FALSE(platform::FileExists(temporary));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(w.RunProgress()->isVisible());
  EXPECT_EQ(Lines(ReadFile(out / "reg.txt")).size(), 8u);  // two lines for each of four models
}

TEST_F(MainWindowRun, TheStopButtonEndsTheRunAfterTheModelInProgress) {
  w.SetFiles(objects.models, out / "reg.txt", out / "run.log");
  w.append_registry_box_->setChecked(false);
  w.password_edit_->setText(QString::fromLatin1(kPassword));
  // The press arrives from a timer while the driver lets the window process its messages.
  w.on_round = [&](int round) {
    if (round != 2) return;
    QTimer::singleShot(0, w.run_button_, &QPushButton::click);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.StopRequested());
    EXPECT_EQ(Std(w.run_button_->text()), "S T O P !!!");  // nothing changes on screen
    EXPECT_FALSE(w.models_edit_->isEnabled());
  };
  w.run_button_->click();
  EXPECT_EQ(w.rounds, 2);
  // box.rwx measured, broken.zip (the model in progress) finished with its log line; only a
  // completed run makes the registry.
  EXPECT_FALSE(std::filesystem::exists(out / "reg.txt"));
  EXPECT_EQ(Std(w.run_button_->text()), "Générer");
  EXPECT_EQ(Std(w.PanelText(1)), "Done!");
  EXPECT_EQ(SummaryWithoutTime(w.SummaryText()),
            "Arrêté après 2 sur 6 : 1 modèle mesuré, 1 en échec, 4 non traités ; la registry "
            "n'a pas été modifiée");
  for (const char* name : kRunLocked) EXPECT_TRUE(Control(w, name)->isEnabled()) << name;
  EXPECT_FALSE(w.Running());
}

TEST_F(MainWindowRun, ClosingDuringARunStopsItAndClosesAfterwards) {
  w.SetFiles(objects.models, out / "reg.txt", out / "run.log");
  w.on_round = [&](int round) {
    if (round == 3) {
      EXPECT_FALSE(w.close());  // refused while the driver is on the stack
    }
  };
  w.run_button_->click();
  EXPECT_EQ(w.rounds, 3);
  EXPECT_FALSE(w.isVisible());
  EXPECT_NE(ReadFile(out / "boxtally.INI").find("ModelPath=" + objects.models), std::string::npos);
}

TEST(MainWindow, RefusesToRunWhatCannotGoWell) {
  ObjectPath objects;
  TempDir out;
  int holder = -1;
  const std::string log = out / "run.log";
  const std::string registry = out / "reg.txt";
  const std::string temporary = platform::WorkDirectory() + "myregxxx.$$$";
  struct Case {
    const char* name;
    std::function<void(TestWindow&)> set_up;
    std::string message;
  };
  const Case cases[] = {
      {"a log file that cannot be opened",
       [&](TestWindow& w) { w.log_edit_->setText(QString::fromStdString(out / "no/run.log")); },
       "Impossible d'ouvrir le fichier log " + (out / "no/run.log") +
           " : la génération n'est pas lancée."},
      {"a temporary format file that cannot be written",
       [&](TestWindow&) { std::filesystem::create_directory(temporary); },
       "Impossible d'écrire le fichier de format temporaire " + temporary +
           " : la génération n'est pas lancée."},
      {"a models text over 511 bytes",
       [&](TestWindow& w) { w.models_edit_->setText(QString(512, QLatin1Char('m'))); },
       "Le champ « Fichier(s) RWX » dépasse 511 caractères : la génération n'est pas lancée."},
      {"a user agent holding a line break, in web mode",
       [&](TestWindow& w) {
         w.web_mode_box_->setChecked(true);
         w.use_referer_box_->setChecked(true);
         w.user_agent_edit_->setText(QStringLiteral("Agent\r\nX-Evil: 1"));
       },
       "Le réglage UserAgent contient un caractère de contrôle : la génération n'est pas lancée."},
      {"a password over 511 bytes with its -s",
       [&](TestWindow& w) { w.password_edit_->setText(QString(510, QLatin1Char('p'))); },
       "Le champ « Mot de passe pour les fichiers Zip » dépasse 511 caractères : la génération "
       "n'est pas lancée."},
      {"the registry as the log",
       [&](TestWindow& w) { w.log_edit_->setText(QString::fromStdString(registry)); },
       "Le fichier registry et le fichier log sont un seul fichier (" + registry +
           ") : rien n'a été généré."},
      // One file under two names, before it is made (the run reads names from its own folder);
      // the records beside a web list.
      {"a new registry as the log",
       [&](TestWindow& w) {
         ASSERT_EQ(chdir(out.path().c_str()), 0);
         w.registry_edit_->setText(QStringLiteral("new.txt"));
         w.log_edit_->setText(QStringLiteral("./new.txt"));
       },
       "Le fichier registry et le fichier log sont un seul fichier (./new.txt) : rien n'a été "
       "généré."},
      {"the registry as the web records",
       [&](TestWindow& w) {
         w.web_mode_box_->setChecked(true);
         w.models_edit_->setText(QString::fromStdString(out / "list.txt"));
         w.registry_edit_->setText(QString::fromStdString(out / ".boxtally-web"));
       },
       "Le fichier registry et le fichier .boxtally-web des téléchargements sont un seul fichier "
       "(" +
           (out / ".boxtally-web") + ") : rien n'a été généré."},
      {"a new log that another run writes",
       [&](TestWindow& w) {
         WriteFile(log, "another run's line\r\n");
         holder = open(log.c_str(), O_RDONLY);
         flock(holder, LOCK_SH);
         w.append_log_box_->setChecked(false);
       },
       "Le fichier log " + log +
           " est en cours d'écriture par une autre génération : il ne peut pas être recréé, rien "
           "n'a été généré."},
  };
  const std::filesystem::path folder = std::filesystem::current_path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w(out / "boxtally.INI");
    w.show();
    w.SetFiles(objects.models, registry, log);
    c.set_up(w);
    w.run_button_->click();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_EQ(Std(w.messages[0]), c.message);
    EXPECT_EQ(w.rounds, 0);
    EXPECT_FALSE(platform::FileExists(registry));
    EXPECT_EQ(Std(w.run_button_->text()), "Générer");
    for (const char* name : kRunLocked) EXPECT_TRUE(Control(w, name)->isEnabled()) << name;
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    std::filesystem::remove(temporary);
    if (holder >= 0) {
      EXPECT_EQ(ReadFile(log), "another run's line\r\n");
    }
    close(holder);
    holder = -1;
    std::filesystem::remove(log);
    std::filesystem::current_path(folder);
    EXPECT_FALSE(platform::FileExists(out / "new.txt"));
  }
}

TEST(MainWindow, ARunThatEndsEarlySaysWhyAndLeavesNoDone) {
  ObjectPath objects;
  TempDir out;
  std::filesystem::create_directory(out / "folder");
  const std::string no_match = objects.dir / "*.none";
  const std::string locked = out / "locked.txt";
  int holder = -1;
  struct Case {
    const char* name;
    std::function<void(TestWindow&)> set_up;
    std::string message;
    const char* not_reached = "";  // in the summary: the models found and never reached
  };
  std::vector<Case> cases = {
      {"no file matches the models box",
       [&](TestWindow& w) { w.models_edit_->setText(QString::fromStdString(no_match)); },
       "Aucun fichier ne correspond à « " + no_match + " » : rien n'a été mesuré."},
      {"a registry in a folder that does not exist",
       [&](TestWindow& w) {
         w.registry_edit_->setText(QString::fromStdString(out / "no/reg.txt"));
       },
       "Impossible de créer ou d'ouvrir le fichier registry « " + (out / "no/reg.txt") +
           " » : rien n'a été mesuré.",
       ", 3 non traités"},
      {"a format file that is a folder",
       [&](TestWindow& w) { w.format_file_edit_->setText(QString::fromStdString(out / "folder")); },
       "Impossible de lire le fichier de format « " + (out / "folder") +
           " » (absent, illisible ou dossier) : rien n'a été mesuré."},
      {"a list file that cannot be opened",
       [&](TestWindow& w) {
         w.web_mode_box_->setChecked(true);
         w.models_edit_->setText(QString::fromStdString(out / "nolist.txt"));
       },
       "Impossible d'ouvrir la liste de fichiers « " + (out / "nolist.txt") +
           " » : rien n'a été mesuré."},
      // What another window or terminal run holds while it writes the registry.
      {"a registry another run is writing",
       [&](TestWindow& w) {
         WriteFile(locked, "earlier\r\n");
         holder = open((out / ".locked.txt.lock").c_str(), O_WRONLY | O_CREAT, 0600);
         ASSERT_EQ(flock(holder, LOCK_EX), 0);
         w.registry_edit_->setText(QString::fromStdString(locked));
         w.append_registry_box_->setChecked(
             false);  // even a registry to be made anew keeps its lines
       },
       "Le fichier Registry " + locked +
           " est en cours d'écriture par une autre génération : rien n'a été généré.",
       ", 3 non traités"},
  };
  // Made read-only by its owner; root, who may write any mode, is kept out by the immutable flag.
  const std::string read_only = out / "read-only.txt";
  WriteFile(read_only, "earlier\r\n");
  chmod(read_only.c_str(), 0444);
  if (geteuid() == 0 && std::system(("chattr +i '" + read_only + "' 2>/dev/null").c_str()) != 0) {
    std::printf("skipped the read-only registry: chattr +i is refused here\n");
  } else {
    cases.push_back(
        {"a registry its owner made read-only",
         [&](TestWindow& w) { w.registry_edit_->setText(QString::fromStdString(read_only)); },
         "Le fichier Registry " + read_only + " est en lecture seule : rien n'a été généré.",
         ", 3 non traités"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w(out / "boxtally.INI");
    w.show();
    w.SetFiles(objects.dir / "*.rwx", out / "reg.txt", out / "run.log");
    w.run_button_->click();  // a run that went through: its "Done!" must not stand for the next one
    ASSERT_EQ(Std(w.PanelText(1)), "Done!");
    c.set_up(w);
    w.run_button_->click();
    EXPECT_EQ(w.messages, std::vector<QString>{QString::fromStdString(c.message)});
    EXPECT_EQ(Std(w.PanelText(1)), "");
    EXPECT_EQ(SummaryWithoutTime(w.SummaryText()),
              std::string("Interrompu : aucun modèle mesuré") + c.not_reached);
    EXPECT_FALSE(w.Results()->isVisible());  // the box says why
    EXPECT_EQ(Std(w.run_button_->text()), "Générer");
  }
  close(holder);
  EXPECT_EQ(ReadFile(locked), "earlier\r\n");
  EXPECT_EQ(ReadFile(read_only), "earlier\r\n");
  (void)std::system(("chattr -i '" + read_only + "' 2>/dev/null").c_str());
}

TEST_F(MainWindowRun, ReturnInABoxPressesTheRunButton) {
  EXPECT_TRUE(w.run_button_->isDefault());
  w.SetFiles(objects.dir / "*.rwx", out / "reg.txt", out / "run.log");
  for (QLineEdit* box :
       {w.models_edit_, w.registry_edit_, w.log_edit_, w.format_file_edit_, w.password_edit_}) {
    SCOPED_TRACE(Std(box->objectName()));
    std::filesystem::remove(out / "reg.txt");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(Lines(ReadFile(out / "reg.txt")).size(), 3u);  // the three RWX models
    EXPECT_EQ(Std(w.PanelText(1)), "Done!");
  }
  // In the template box Return starts a new line of the template.
  std::filesystem::remove(out / "reg.txt");
  w.template_edit_->setPlainText(QStringLiteral("<ffile>"));
  w.template_edit_->moveCursor(QTextCursor::End);
  QTest::keyClick(w.template_edit_, Qt::Key_Return);
  EXPECT_EQ(Std(w.template_edit_->toPlainText()), "<ffile>\n");
  EXPECT_FALSE(platform::FileExists(out / "reg.txt"));
}

TEST(MainWindow, BrowseDialogsStartInTheFolderOfTheirBox) {
  TempDir dir;
  std::filesystem::create_directory(dir / "objects");
  std::filesystem::create_directory(dir / "results");
  std::filesystem::create_directory(dir / "elsewhere");
  TestWindow w(dir / "boxtally.INI");
  struct Case {
    const char* name;
    QPushButton* button;
    QLineEdit* box;
    QFileDialog* dialog;
    std::string text;
    std::string folder;
    std::string file_name;
  };
  const Case cases[] = {
      {"a models pattern", w.models_button_, w.models_edit_, w.models_dialog_,
       dir / "objects/*.rwx", dir / "objects", "*.rwx"},
      {"a registry", w.registry_button_, w.registry_edit_, w.registry_dialog_,
       dir / "results/reg.txt", dir / "results", "reg.txt"},
      {"a log in a folder that is gone: the last folder", w.log_button_, w.log_edit_, w.log_dialog_,
       dir / "gone/run.log", dir / "elsewhere", "run.log"},
      {"no format file: the last folder and the first name", w.format_button_, w.format_file_edit_,
       w.format_dialog_, "", dir / "elsewhere", "myformat.txt"},
      {"a textures folder: that folder", w.textures_button_, w.textures_edit_, w.textures_dialog_,
       dir / "objects", dir / "objects", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.dialog->setDirectory(QString::fromStdString(dir / "elsewhere"));  // where the user went last
    c.box->setText(QString::fromStdString(c.text));
    w.dialog_answer = std::nullopt;
    c.button->click();
    ASSERT_EQ(w.dialogs_shown.back(), c.dialog);
    EXPECT_EQ(Std(c.dialog->directory().absolutePath()), c.folder);
    EXPECT_EQ(Std(c.dialog->property("fileName").toString()), c.file_name);
  }
}

TEST(MainWindow, TheTexturesBoxNamesWhereTheRunFindsTheModelsTextures) {
  TempDir dir;
  std::filesystem::create_directories(dir / "models");
  std::filesystem::create_directories(dir / "tex");
  WriteFile(dir / "models/sign.rwx",
            "modelbegin\ntexture wood mask bark\nvertex 0 0 0\nvertex 1 1 0\nvertex 1 0 0\n"
            "triangle 1 2 3\nmodelend\n");
  WriteFile(dir / "tex/Wood.png", "only its name counts here");
  TestWindow w(dir / "boxtally.INI");
  w.SetFiles(dir / "models/*.rwx", dir / "reg.txt", dir / "run.log");

  w.textures_edit_->setText(QString::fromStdString(dir / "gone"));
  w.run_button_->click();
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_EQ(Std(w.messages[0]), "Le dossier des textures " + (dir / "gone") + " n'existe pas.");
  EXPECT_TRUE(w.SummaryText().isEmpty());  // nothing ran

  w.textures_edit_->setText(QString::fromStdString(dir / "tex"));
  w.run_button_->click();
  EXPECT_EQ(SummaryWithoutTime(w.SummaryText()),
            "Terminé : 1 modèle mesuré (1 avec des textures manquantes)");
  ASSERT_EQ(w.Results()->Model().rowCount(), 1);
  EXPECT_EQ(w.Results()->Model().At(0).missing_textures, std::vector<std::string>{"bark"});
  EXPECT_EQ(ReadFile(dir / "run.log"),
            "Warning: Missing textures: bark (file:" + (dir / "models/sign.rwx") + ")\r\n");
}

TEST(MainWindow, TheModelsDialogTakesTypedNamesAsTheyAre) {
  ObjectPath objects;
  TempDir out;
  struct Case {
    std::string typed;
    std::string box;
  };
  const Case cases[] = {
      {"*.zip", objects.dir / "*.zip"},  // a pattern names no file
      // Several chosen: *.rwx would also take Flat.RWX, so the first of them.
      {"\"box.rwx\" \"pole.rwx\"", objects.dir / "box.rwx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    TestWindow w(out / "boxtally.INI");
    w.real_dialogs = true;
    w.models_edit_->setText(QString::fromStdString(objects.dir / "tree.zip"));
    bool typed_in = false;
    // A refused name leaves the dialog open, or opens Qt's "file not found" box over it: both
    // are closed, and the models box keeps its text.
    const auto close_what_stays = [&w] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != nullptr && modal != w.models_dialog_) modal->close();
      if (w.models_dialog_->isVisible()) w.models_dialog_->reject();
    };
    QTimer::singleShot(0, &w, [&] {
      auto* typed = w.models_dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (typed != nullptr) {
        typed_in = true;
        typed->clear();
        QTest::keyClicks(typed, QString::fromStdString(c.typed));
        QTimer::singleShot(0, &w, close_what_stays);
        QTest::keyClick(typed, Qt::Key_Return);
      }
      close_what_stays();
    });
    w.models_button_->click();
    EXPECT_TRUE(typed_in);
    EXPECT_EQ(Std(w.models_edit_->text()), c.box);
  }
}

TEST(MainWindow, QtsOwnDialogTextsAreFrench) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("boxtally"), QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::Save);
  std::vector<std::string> captions;
  for (const QAbstractButton* b : box.buttons()) captions.push_back(Std(b->text()));
  std::sort(captions.begin(), captions.end());
  EXPECT_EQ(captions, (std::vector<std::string>{"&Non", "&Oui", "Annuler", "Enregistrer"}));
}

TEST(MainWindow, APositionOffEveryScreenComesBackOnTheNearestOne) {
  const QRect left(0, 0, 1920, 1080);
  const QRect right(1920, 0, 1280, 1024);
  const QSize minimum(560, 310);
  struct Case {
    const char* name;
    QRect window;
    QList<QRect> screens;
    QRect place;
  };
  const Case cases[] = {
      {"on the first screen", {60, 70, 600, 400}, {left, right}, {60, 70, 600, 400}},
      {"across both", {1700, 100, 600, 400}, {left, right}, {1700, 100, 600, 400}},
      {"the second screen unplugged", {2000, 100, 600, 400}, {left}, {1320, 100, 600, 400}},
      {"its title bar above the screen", {100, -300, 600, 400}, {left}, {100, 0, 600, 400}},
      {"partly below the screen", {100, 1070, 600, 400}, {left}, {100, 680, 600, 400}},
      {"mostly on the second screen", {3000, 900, 600, 400}, {left, right}, {2600, 624, 600, 400}},
      {"larger than its screen", {5000, 5000, 2000, 1200}, {left}, {0, 0, 1920, 1080}},
      {"a screen smaller than the window can be",
       {60, 70, 600, 400},
       {{0, 0, 500, 300}},
       {0, 0, 560, 310}},
      {"no screen known", {5000, 5000, 10, 10}, {}, {5000, 5000, 10, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ui::FitOnScreens(c.window, c.screens, minimum), c.place);
  }
  // 1280x800 at twice the scale, under a desktop panel: the title bar fits too, so the window
  // gives up its height (it overflowed the screen's bottom by the title bar's height).
  EXPECT_EQ(ui::FitWithFrame({60, 70, 598, 388}, {2, 28, 2, 2}, {QRect(0, 28, 640, 372)},
                             minimum),
            QRect(38, 28, 598, 342));

  // A position saved on a screen that is gone: the window starts on the one there is.
  TempDir dir;
  WriteFile(dir / "boxtally.INI", "[Form]\r\nTop=4000\r\nLeft=-6000\r\n");
  TestWindow w(dir / "boxtally.INI");
  w.show();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // Its frame too, title bar included.
  EXPECT_TRUE(screen.contains(w.frameGeometry()));
  EXPECT_EQ(w.frameGeometry().left(), screen.left());
}

TEST(MainWindow, FitsALaptopScreenAtTwiceTheScale) {
  // 1280x800 at a scale factor of 2: 640x400 device-independent pixels, less a desktop panel
  // and a title bar.
  const QSize room(640, 400 - 2 * 28);
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  w.show();
  // Where there is room, the template box shows the default template whole.
  EXPECT_GE(
      w.template_edit_->viewport()->width(),
      w.template_edit_->fontMetrics().horizontalAdvance(QString::fromLatin1(ui::kDefaultTemplate)));
  // Before any run, and with the summary of a run that met every kind of local model.
  for (const bool after_run : {false, true}) {
    if (after_run) {
      ObjectPath objects;
      w.SetFiles(objects.models, dir / "reg.txt", dir / "run.log");
      w.run_button_->click();
      ASSERT_FALSE(w.SummaryText().isEmpty());
    }
    for (const bool web : {false, true}) {
      SCOPED_TRACE(std::to_string(after_run) + " " + std::to_string(web));
      w.web_mode_box_->setChecked(web);
      QCoreApplication::processEvents();
      EXPECT_LE(w.minimumSizeHint().width(), room.width());
      EXPECT_LE(w.minimumSizeHint().height(), room.height());
    }
  }
}

TEST(MainWindow, TheResultsWindowFitsTooAndKeepsItsSizeAndColumnWidths) {
  const QSize room(640, 400 - 2 * 28);  // as above
  TempDir dir;
  {
    TestWindow w(dir / "boxtally.INI");
    w.show();
    ui::ResultsWindow* results = w.Results();
    EXPECT_LE(results->minimumSizeHint().width(), room.width());
    EXPECT_LE(results->minimumSizeHint().height(), room.height());
    results->resize(720, 360);
    results->Table()->horizontalHeader()->resizeSection(ui::kColumnReason, 333);
    EXPECT_TRUE(w.close());
  }
  TestWindow again(dir / "boxtally.INI");
  EXPECT_EQ(again.Results()->size(), QSize(720, 360));
  EXPECT_EQ(again.Results()->Table()->horizontalHeader()->sectionSize(ui::kColumnReason), 333);
}

TEST(MainWindow, StatusTextsStayReadableAndNeverWidenTheWindow) {
  TempDir dir;
  TestWindow w(dir / "boxtally.INI");
  w.show();
  const QSize minimum = w.minimumSizeHint();
  const std::string long_name = "Processing " + std::string(300, 'x') + ".zip";
  w.SetStatusText(1, long_name);
  QCoreApplication::processEvents();
  EXPECT_EQ(Std(w.PanelText(1)), long_name);
  const std::string shown = Std(w.PanelShownText(1));
  EXPECT_NE(shown.find("…"), std::string::npos) << shown;
  EXPECT_EQ(shown.rfind("Processing x", 0), 0u) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), ".zip") << shown;
  EXPECT_EQ(w.minimumSizeHint(), minimum);
  w.SetStatusText(1, "Processing tree.zip");
  EXPECT_EQ(Std(w.PanelShownText(1)), "Processing tree.zip");
  // The progress bar keeps room for its figures.
  w.ShowProgress(5, 123456, "tree.zip");
  EXPECT_GE(w.RunProgress()->minimumWidth(),
            w.RunProgress()->fontMetrics().horizontalAdvance(QStringLiteral("123456 / 123456")));
}

TEST_F(MainWindowRun, TheRegistryAndTheLogOpenOnceARunHasWrittenThem) {
  auto* open_registry = Control<QPushButton>(w, "OpenRegistryButton");
  auto* open_log = Control<QPushButton>(w, "OpenLogButton");
  ASSERT_NE(open_registry, nullptr);
  ASSERT_NE(open_log, nullptr);
  EXPECT_EQ(Std(open_registry->text()), "Ouvrir la registry");
  EXPECT_EQ(Std(open_log->text()), "Ouvrir le log");
  const std::string registry = out / "reg.txt";
  const std::string log = out / "run.log";
  w.SetFiles(objects.dir / "*.rwx", registry, log);
  EXPECT_FALSE(open_registry->isEnabled());
  EXPECT_FALSE(open_log->isEnabled());
  w.run_button_->click();
  EXPECT_TRUE(open_registry->isEnabled());
  EXPECT_TRUE(open_log->isEnabled());
  open_registry->click();
  open_log->click();
  EXPECT_EQ(w.opened,
            (std::vector<QString>{QString::fromStdString(registry), QString::fromStdString(log)}));
  // Another name has nothing to open yet.
  w.registry_edit_->setText(QString::fromStdString(out / "other.txt"));
  EXPECT_FALSE(open_registry->isEnabled());
  EXPECT_TRUE(w.messages.empty());
}

TEST(MainWindow, TheSummaryStandsWholeUnderTheControlsAndTheResultsOpenThemselves) {
  // The results themselves are the driver's, checked there for one worker and four.
  TempDir objects;
  TempDir out;
  WriteFile(objects / "a.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
  WriteFile(objects / "c.cob", "Caligari garbage");  // no converter beside the tests: it fails
  WriteFile(objects / "e.rwx", "modelbegin\nblock 50 1 1\nmodelend\n");  // huge
  WriteFile(objects / "g.rwx", "modelbegin\nmodelend\n");
  WriteFile(objects / "readme.rwx", "just a text\n");
  ASSERT_EQ(std::system(("cd '" + objects.path() + "' && cp readme.rwx readme.txt && " +
                         "zip -q -X text.zip readme.txt && rm readme.txt")
                            .c_str()),
            0);
  TestWindow w(out / "boxtally.INI");
  w.show();
  w.jobs = 4;
  EXPECT_FALSE(Control(w, "ResultsButton")->isEnabled());
  w.SetFiles(objects / "*.*", out / "reg.txt", out / "run.log");
  w.run_button_->click();
  EXPECT_EQ(Std(w.PanelText(1)), "Done!");
  EXPECT_EQ(SummaryWithoutTime(w.SummaryText()),
            "Terminé : 1 modèle mesuré, 1 en échec, 1 ignoré (trop grand), 1 modèle vide, "
            "1 archive sans modèle, 1 fichier sans modèle");
  EXPECT_TRUE(w.messages.empty());
  QCoreApplication::processEvents();
  // On a line of its own above the status bar, whole at the window's first size.
  auto* summary = w.findChild<ui::SummaryLine*>(QStringLiteral("RunSummary"));
  ASSERT_NE(summary, nullptr);
  EXPECT_TRUE(summary->isVisible());
  EXPECT_TRUE(summary->ShownWhole());
  EXPECT_EQ(summary->toolTip(), w.SummaryText());
  EXPECT_GT(summary->mapTo(&w, QPoint(0, 0)).y(), w.template_edit_->mapTo(&w, QPoint(0, 0)).y());
  // Models were not measured: their results are in front.
  ASSERT_NE(w.Results(), nullptr);
  EXPECT_TRUE(w.Results()->isVisible());
  EXPECT_EQ(w.Results()->Model().rowCount(), 6);
  EXPECT_TRUE(Control(w, "ResultsButton")->isEnabled());

  // A run without a problem leaves the results window closed; Ctrl+R opens it.
  w.Results()->close();
  w.models_edit_->setText(QString::fromStdString(objects / "a.rwx"));
  w.run_button_->click();
  EXPECT_EQ(SummaryWithoutTime(w.SummaryText()), "Terminé : 1 modèle mesuré");
  EXPECT_FALSE(w.Results()->isVisible());
  EXPECT_EQ(w.Results()->Model().rowCount(), 1);
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(w.Results()->isVisible());
}

TEST(MainWindow, ThePreviewDrawsEveryModelOfARunOrSaysWhyNot) {
  // The example object path, the COB corpus when it is there (rwxsmith refuses its ASCII files),
  // an encrypted and a broken archive.
  TempDir objects, out;
  std::vector<std::string> drawn = {"fence.rwx", "lamp.rwx", "locked.rwx",
                                    "rock.rwx",  "sign.rwx", "table.rwx"};
  const std::string copy = "cp '" BOXTALLY_TEST_SUPPORT_DIR "'/../../examples/objects/*.zip '" +
                           objects.path() + "' && cp '" BOXTALLY_CORPUS "'/cob/*.cob '" +
                           objects.path() + "'";
  if (std::system(copy.c_str()) == 0) {
    drawn.insert(drawn.end(), {"dwarf.cob", "molecule.cob", "spider_4_3.cob", "spider_6_6.cob"});
  }
  WriteFile(objects / "locked.rwx", "modelbegin\nblock 1 2 3\nmodelend\n");
  ASSERT_EQ(std::system(("cd '" + objects.path() + "' && zip -q -X -P " + kPassword +
                         " locked.zip locked.rwx && rm locked.rwx").c_str()), 0);
  WriteFile(objects / "broken.zip", "PK\x03\x04 not really a zip");
  std::sort(drawn.begin(), drawn.end());

  TestWindow w(out / "boxtally.INI");
  w.program_dir = BOXTALLY_BIN_DIR "/";
  w.show();
  w.SetFiles(objects / "*.*", out / "reg.txt", out / "run.log");
  w.password_edit_->setText(QString::fromLatin1(kPassword));
  w.run_button_->click();
  ui::ResultsWindow& results = *w.Results();
  ui::PreviewPane& pane = results.Preview();
  QTableView* table = results.Table();
  table->sortByColumn(ui::kColumnName, Qt::AscendingOrder);
  const auto select = [&](int row) {
    table->setCurrentIndex(results.Filter().index(row, 0));
    return QTest::qWaitFor([&] {
      return !pane.Busy() && !pane.View()->Drawing() &&
             (!pane.View()->HasScene() || !pane.View()->Frame().isNull());
    }, 30000);
  };
  std::vector<std::string> shown;
  int locked_row = 0;
  for (int row = 0; row < results.Filter().rowCount(); ++row) {
    const driver::ModelOutcome& m = results.Model().At(results.Filter().SourceRow(row));
    SCOPED_TRACE(m.name);
    ASSERT_TRUE(select(row));
    if (m.name == "locked.rwx") locked_row = row;
    if (m.fate != driver::Fate::kMeasured) {  // the table's reason, in the pane
      const QString reason = results.Filter().index(row, ui::kColumnReason).data().toString();
      EXPECT_TRUE(pane.MessageText().contains(reason)) << Std(pane.MessageText());
      continue;
    }
    // Something of the model shows over what its box, the ground and the axes alone give.
    const QImage frame = pane.View()->Frame().convertToFormat(QImage::Format_RGBA8888);
    const render::Bounds box{{m.box[0], m.box[1], m.box[2]}, {m.box[3], m.box[4], m.box[5]}};
    const render::Image bare =
        render::DrawScene(render::Mesh{}, &box, render::Camera{}, frame.width(), frame.height());
    std::size_t model_pixels = 0;
    for (std::size_t i = 0; i < bare.rgba.size(); i += 4) {
      model_pixels += std::memcmp(frame.constBits() + i, &bare.rgba[i], 3) != 0;
    }
    EXPECT_GT(model_pixels, 100u);
    shown.push_back(m.name);
  }
  EXPECT_EQ(shown, drawn);

  // The view takes the keyboard after the table; the password is the box's as it stands.
  results.ShowInFront();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&results));
  QTest::keyClick(table, Qt::Key_Tab);
  EXPECT_TRUE(pane.View()->hasFocus());
  w.password_edit_->clear();
  ASSERT_TRUE(select(locked_row == 0 ? 1 : 0));
  ASSERT_TRUE(select(locked_row));
  EXPECT_EQ(Std(pane.MessageText()),
            "Ce modèle ne se lit plus comme pendant la génération.\nRésultat\u00a0: en échec\n"
            "Raison\u00a0: archive chiffrée sans mot de passe");
}

TEST(MainWindow, TheSummaryReadsAsFrench) {
  using driver::Fate;
  using driver::Reason;
  struct Models {
    Fate fate;
    Reason reason;
    int count;
  };
  struct Case {
    driver::RunEnd end;
    std::vector<Models> models;
    double seconds;
    std::string summary;
  };
  // French groups thousands with a narrow no-break space and writes tenths after a comma.
  const Case cases[] = {
      {driver::RunEnd::kCompleted,
       {{Fate::kMeasured, Reason::kNone, 1998}, {Fate::kFailed, Reason::kArchiveTruncated, 2}},
       3.44,
       "Terminé : 1\u202f998 modèles mesurés, 2 en échec (3,4 s)"},
      {driver::RunEnd::kCompleted,
       {{Fate::kMeasured, Reason::kNone, 1},
        {Fate::kSkippedHuge, Reason::kNone, 2},
        {Fate::kNotModelFile, Reason::kNone, 2}},
       75.0,
       "Terminé : 1 modèle mesuré, 2 ignorés (trop grands), 2 fichiers sans modèle (1 min 15 s)"},
      {driver::RunEnd::kCompleted,
       {{Fate::kEmpty, Reason::kNone, 1},
        {Fate::kNoModel, Reason::kNone, 2},
        {Fate::kRefused, Reason::kNameTooLong, 1}},
       0.0,
       "Terminé : aucun modèle mesuré, 1 modèle vide, 2 archives sans modèle, 1 refusé (nom trop "
       "long) (0,0 s)"},
      // The web: what is missing is named, and the reason the models not downloaded share.
      {driver::RunEnd::kCompleted,
       {{Fate::kMeasured, Reason::kNone, 47}, {Fate::kMissingOnServer, Reason::kHttpStatus, 3}},
       1.2,
       "Terminé : 47 modèles mesurés, 3 absents du serveur (1,2 s)"},
      {driver::RunEnd::kCompleted,
       {{Fate::kMeasured, Reason::kNone, 24}, {Fate::kNotDownloaded, Reason::kConnectionFailed, 23}},
       1.2,
       "Terminé : 24 modèles mesurés, 23 non téléchargés (serveur injoignable) (1,2 s)"},
      {driver::RunEnd::kStopped,
       {{Fate::kMeasured, Reason::kNone, 12}, {Fate::kNotReached, Reason::kRunStopped, 38}},
       0.5,
       "Arrêté après 12 sur 50 : 12 modèles mesurés, 38 non traités (0,5 s)"},
      {driver::RunEnd::kMeasurementAbort,
       {{Fate::kMeasured, Reason::kNone, 1},
        {Fate::kFailed, Reason::kMeasurementLimit, 1},
        {Fate::kNotReached, Reason::kRunEndedEarly, 1}},
       0.0,
       "Interrompu après 2 sur 3 : 1 modèle mesuré, 1 en échec, 1 non traité (0,0 s)"},
      {driver::RunEnd::kNoMatch, {}, 0.0, "Interrompu : aucun modèle mesuré (0,0 s)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    driver::RunOutcome outcome;
    outcome.end = c.end;
    outcome.seconds = c.seconds;
    for (const Models& m : c.models) {
      driver::ModelOutcome one;
      one.fate = m.fate;
      one.reason = m.reason;
      outcome.results.insert(outcome.results.end(), static_cast<std::size_t>(m.count), one);
    }
    EXPECT_EQ(Std(texts::RunSummary(outcome)), c.summary);
  }
}

TEST(MainWindow, ARegistryNameWithADashStaysAFileName) {
  ObjectPath objects;
  TempDir out;
  const std::string cwd = platform::CurrentDirectory().value_or("/");
  ASSERT_EQ(chdir(out.path().c_str()), 0);
  TestWindow w(out / "boxtally.INI");
  w.SetFiles(objects.dir / "*.rwx", "-reg.txt", out / "run.log");
  w.run_button_->click();
  EXPECT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(Lines(ReadFile(out / "-reg.txt")).size(), 3u);
  EXPECT_EQ(ReadFile(out / "run.log"), "");  // no "Unknown option: r"
}

TEST(MainWindow, NumbersStayLocaleFreeUnderAFrenchDesktop) {
  // The environment started Qt under fr_FR.UTF-8: Qt took it, then LC_NUMERIC went back to "C".
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "fr_FR.UTF-8");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  TempDir out;
  WriteFile(out / "colour.rwx",
            "modelbegin\nclumpbegin\ncolor 1 0 0.5\nvertex 0 0 0\nvertex 1.5 1 1\n"
            "vertex 1 0 0\ntriangle 1 2 3\nclumpend\nmodelend\n");
  WriteFile(out / "format.txt", "<ffile> <fcolor%.2f> <fx>\n");
  TestWindow w(out / "boxtally.INI");
  w.SetFiles(out / "colour.rwx", out / "reg.txt", out / "run.log");
  w.format_file_edit_->setText(QString::fromStdString(out / "format.txt"));
  w.run_button_->click();
  // Red 1 gives "1", green 0 gives "0", blue 127/255 = "0.50" gives ".5", written back to back;
  // the x size 1.5 is 1500 thousandths.
  EXPECT_EQ(ReadFile(out / "reg.txt"), "colour.rwx 10.5 1500\r\n");
}

namespace {

// A web object path played by a scripted server: a HEAD reply, then the zip of one model.
struct WebObjects {
  TempDir dir;
  std::string zip_reply;
  std::size_t zip_size = 0;
  WebObjects() {
    WriteFile(dir / "tree.rwx", "modelbegin\nblock 2 2 2\nmodelend\n");
    EXPECT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -X tree.zip tree.rwx").c_str()), 0);
    const std::string zip = ReadFile(dir / "tree.zip");
    std::filesystem::remove(dir / "tree.zip");
    zip_size = zip.size();
    zip_reply =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n\r\n" + zip;
  }
};

QString NoModelMessage(const std::string& list) {
  return QString::fromStdString("La liste « " + list +
                                " » n'a donné aucun modèle (voir le fichier log) : rien n'a été "
                                "mesuré.");
}

void SetUpWebRun(TestWindow& w, const TempDir& out, const std::string& url) {
  w.show();
  w.web_mode_box_->setChecked(true);
  w.url_edit_->setText(QString::fromStdString(url));
  w.SetFiles(out / "list.txt", out / "reg.txt", out / "run.log");
  w.append_registry_box_->setChecked(false);
  w.append_log_box_->setChecked(false);
}

}  // namespace

TEST(MainWindow, AWebRunChecksDownloadsAndMeasuresWithItsEventsInTheStatusBar) {
  WebObjects objects;
  TempDir out;
  testing_support::ScriptedServer server({{testing_support::SendBytes("HTTP/1.0 200 OK\r\n\r\n")},
                                          {testing_support::SendBytes(objects.zip_reply)}});
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/objects";
  // One download at a time: the one component's events, in the order they come.
  WriteFile(out / "boxtally.INI", "[Parameters]\r\nDownloads=1\r\n");
  TestWindow w(out / "boxtally.INI");
  SetUpWebRun(w, out, url);
  w.propdump_box_->setChecked(true);
  WriteFile(out / "list.txt", "propdump version 4\r\n1 2 3 4 5 6 7 8 8 0 0 tree.rwx\r\n");
  w.run_button_->click();
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(ReadFile(out / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(ReadFile(out / "run.log"), "");
  const std::string model = url + "/tree.zip";
  const std::string bytes = std::to_string(objects.zip_size);
  EXPECT_EQ(w.status,
            (std::vector<std::string>{
                "0:", "1:",  // nothing of an earlier run stays
                "1:Checking " + model, "0:Connected", "0:Head Success", "0:Transaction Completed",
                "0:Disconnected", "1:Getting " + model, "0:Connected", "0:Sending Buffer",
                "0:" + bytes + " bytes of " + bytes + " received", "0:Get Success",
                "0:Transaction Completed", "0:Request Close Socket", "0:Disconnected",
                "1:Processing tree.zip", "1:Done!"}));
  EXPECT_EQ(Std(w.PanelText(1)), "Done!");
  EXPECT_EQ(Std(w.run_button_->text()), "Générer");
  EXPECT_TRUE(w.models_edit_->isEnabled());

  // The seen-name set lives as long as the window: the same propdump again fetches nothing,
  // and a run that yields no model leaves the registry as it was, and says so.
  w.run_button_->click();
  EXPECT_EQ(server.connections(), 2);
  EXPECT_EQ(ReadFile(out / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(w.messages, std::vector<QString>{NoModelMessage(out / "list.txt")});
  EXPECT_EQ(Std(w.PanelText(1)), "");
}

TEST(MainWindow, WebDialogsForAFailedConnectionAndAHostThatCannotBeFound) {
  WebObjects objects;
  TempDir out;
  WriteFile(out / "list.txt", "tree.rwx\n");
  const int refused = testing_support::FreeLoopbackPort();
  {
    TestWindow w(out / "boxtally.INI");
    SetUpWebRun(w, out, "http://127.0.0.1:" + std::to_string(refused));
    w.connect_fix_box_->setChecked(true);
    w.run_button_->click();
    EXPECT_EQ(w.messages, (std::vector<QString>{QStringLiteral("Connection Failed"),
                                                NoModelMessage(out / "list.txt")}));
    EXPECT_EQ(ReadFile(out / "run.log"),
              "Error exception in getting http://127.0.0.1:" + std::to_string(refused) +
                  "/tree.zip  hdr=syntax$$$.hdr Rep=0   errno=10061 sent=0 recvd=0\r\n");
  }
  testing_support::ScriptedServer server({{testing_support::SendBytes(objects.zip_reply)}});
  const std::string port = std::to_string(server.port());
  for (const bool answered : {false, true}) {
    SCOPED_TRACE(answered);
    TestWindow w(out / "boxtally.INI");
    SetUpWebRun(w, out, "http://objects.invalid:" + port);
    w.connect_fix_box_->setChecked(true);
    if (answered) w.answer = QStringLiteral("127.0.0.1");
    w.run_button_->click();
    EXPECT_EQ(w.questions,
              std::vector<QString>{QStringLiteral("Invalid Host|Please Choose another host")});
    EXPECT_EQ(w.messages.empty(), answered);
    if (answered) {
      EXPECT_EQ(ReadFile(out / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
      EXPECT_EQ(server.connections(), 1);
    } else {
      EXPECT_EQ(server.connections(), 0);
      EXPECT_EQ(ReadFile(out / "run.log"),
                "Error exception in getting http://objects.invalid:" + port +
                    "/tree.zip  hdr=syntax$$$.hdr Rep=0   errno=11001 sent=0 recvd=0\r\n");
    }
  }
}

TEST(MainWindow, AWebRunOverHttpsTrustsTheSettingsCaFileAndKeepsIt) {
  if (!testing_support::HaveProgram("openssl")) GTEST_SKIP() << "needs openssl";
  WebObjects objects;
  TempDir out;
  std::filesystem::create_directories(out / "site/objects");
  ASSERT_EQ(std::system(("cd '" + objects.dir.path() + "' && zip -q -X '" + (out / "site/objects") +
                         "/tree.zip' tree.rwx")
                            .c_str()),
            0);
  ASSERT_TRUE(testing_support::MakeAuthority(out.path(), "authority"));
  ASSERT_TRUE(
      testing_support::MakeServerCertificate(out.path(), "server", "authority", "IP:127.0.0.1"));
  testing_support::HttpsServer server(out / "site", out / "server.pem", out / "server.key", false);
  const std::string ini = out / "boxtally.INI";
  const std::string ca_line = "CaFile=" + (out / "authority.pem");
  WriteFile(ini, "[Parameters]\r\n" + ca_line + "\r\n");
  WriteFile(out / "list.txt", "tree.rwx\n");
  TestWindow w(ini);
  SetUpWebRun(w, out, "https://127.0.0.1:" + std::to_string(server.port()) + "/objects");
  w.run_button_->click();
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(ReadFile(out / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
  EXPECT_EQ(ReadFile(out / "run.log"), "");
  w.close();
  EXPECT_NE(ReadFile(ini).find("\r\n" + ca_line + "\r\n"), std::string::npos);
}

// The proxy box: a web run goes through the proxy it names (the setting Proxy keeps it), and a
// proxy or a file of authorities that cannot be used stops the run before it starts.
TEST(MainWindow, AWebRunGoesThroughTheProxyBoxAndUnusableSettingsStopItFirst) {
  WebObjects objects;
  TempDir out;
  testing_support::ScriptedServer proxy({{testing_support::SendBytes(objects.zip_reply)}});
  const std::string ini = out / "boxtally.INI";
  WriteFile(ini, "[Parameters]\r\nDownloads=1\r\nConnectFix=1\r\n");
  WriteFile(out / "list.txt", "tree.rwx\n");
  WriteFile(out / "empty.pem", "no certificate here\n");
  TestWindow w(ini);
  SetUpWebRun(w, out, "http://objects.invalid/objects");
  w.connect_fix_box_->setChecked(true);
  EXPECT_TRUE(w.proxy_edit_->isVisible());
  struct Case {
    const char* proxy;
    const char* message;  // the start of the message box; nullptr: the run goes
  };
  const std::string proxy_url = "http://127.0.0.1:" + std::to_string(proxy.port());
  const Case cases[] = {
      {"socks5://127.0.0.1:1080", "Le proxy ne peut pas servir : la génération n'est pas lancée.\n"
                                  "--proxy: socks5://127.0.0.1:1080: only http:// proxies are "
                                  "supported"},
      {proxy_url.c_str(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.proxy);
    w.messages.clear();
    w.proxy_edit_->setText(QString::fromUtf8(c.proxy));
    w.run_button_->click();
    if (c.message != nullptr) {
      ASSERT_EQ(w.messages.size(), 1u);
      EXPECT_EQ(Std(w.messages[0]), c.message);
      EXPECT_FALSE(std::filesystem::exists(out / "reg.txt"));
      continue;
    }
    EXPECT_TRUE(w.messages.empty());
    EXPECT_EQ(ReadFile(out / "reg.txt"), "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].substr(0, 50),
              "GET http://objects.invalid/objects/tree.zip HTTP/1");
  }
  w.close();
  EXPECT_NE(ReadFile(ini).find("\r\nProxy=" + proxy_url + "\r\n"), std::string::npos);

  // A file of authorities without a certificate: said at once, not once per model.
  WriteFile(ini, "[Parameters]\r\nCaFile=" + (out / "empty.pem") + "\r\n");
  TestWindow again(ini);
  SetUpWebRun(again, out, "https://objects.invalid/objects");
  again.run_button_->click();
  ASSERT_EQ(again.messages.size(), 1u);
  EXPECT_EQ(Std(again.messages[0]),
            "Le fichier d'autorités de certification (réglage CaFile) ne peut pas servir : la "
            "génération n'est pas lancée.\ncannot read trusted certificates from " +
                (out / "empty.pem") + ": no certificate or crl found");
}

TEST(MainWindow, TheStopButtonAbandonsTheDownloadsInProgress) {
  WebObjects objects;
  // A byte every 100 ms: the archive would be whole only after many seconds. With several
  // downloads the second model is asked for at once, and gets no answer.
  testing_support::ServerScript drip;
  testing_support::AppendDrip(drip, objects.zip_reply, 1, 100);
  for (const int downloads : {1, 6}) {
    SCOPED_TRACE(downloads);
    TempDir out;
    testing_support::ScriptedServer server({drip, {testing_support::PauseFor(60000)}});
    WriteFile(out / "list.txt", "tree.rwx\nother.rwx\n");
    WriteFile(out / "boxtally.INI",
              "[Parameters]\r\nDownloads=" + std::to_string(downloads) + "\r\n");
    TestWindow w(out / "boxtally.INI");
    SetUpWebRun(w, out, "http://127.0.0.1:" + std::to_string(server.port()));
    w.connect_fix_box_->setChecked(true);
    QTimer::singleShot(400, w.run_button_, &QPushButton::click);  // pressed while the body drips in
    w.run_button_->click();
    EXPECT_FALSE(w.Running());
    EXPECT_EQ(server.connections(), downloads == 1 ? 1 : 2);
    EXPECT_FALSE(platform::FileExists(out / "reg.txt"));
    EXPECT_FALSE(platform::FileExists(out / "tree.zip"));
    // The model in progress says how it ended, as with one download at a time.
    EXPECT_EQ(ReadFile(out / "run.log").rfind("Error exception in getting http", 0), 0u);
    for (const auto& e : std::filesystem::directory_iterator(out.path())) {
      EXPECT_NE(e.path().filename().string().rfind(".download-", 0), 0u) << e.path();
    }
  }
}

// However many requests meet a server that refuses them, or a host name that cannot be found,
// the run shows one box per host name, and every request takes the answer.
TEST(MainWindow, SeveralDownloadsAskOncePerRunAndHost) {
  WebObjects objects;
  TempDir out;
  WriteFile(out / "list.txt", "a.rwx\nb.rwx\nc.rwx\nd.rwx\n");
  WriteFile(out / "boxtally.INI", "[Parameters]\r\nDownloads=4\r\n");
  const std::string refused = std::to_string(testing_support::FreeLoopbackPort());
  TestWindow w(out / "boxtally.INI");
  SetUpWebRun(w, out, "http://127.0.0.1:" + refused);
  w.run_button_->click();
  EXPECT_EQ(w.messages, (std::vector<QString>{QStringLiteral("Connection Failed"),
                                              NoModelMessage(out / "list.txt")}));
  const std::string log = ReadFile(out / "run.log");
  for (const char* name : {"a", "b", "c", "d"}) {
    EXPECT_NE(log.find("File http://127.0.0.1:" + refused + "/" + name + ".zip doesn't exist"),
              std::string::npos)
        << name;
  }
  // Never a plain "Done!": the summary and the results say what is missing, and why.
  EXPECT_EQ(SummaryWithoutTime(w.SummaryText()),
            "Interrompu après 4 sur 4 : aucun modèle mesuré, 4 non téléchargés (serveur "
            "injoignable)");
  EXPECT_TRUE(w.Results()->isVisible());

  testing_support::ScriptedServer server({{testing_support::SendBytes(objects.zip_reply)},
                                          {testing_support::SendBytes(objects.zip_reply)}});
  WriteFile(out / "list.txt", "tree.rwx\ntree.rwx\n");
  w.messages.clear();
  w.answer = QStringLiteral("127.0.0.1");
  w.connect_fix_box_->setChecked(true);
  w.url_edit_->setText(
      QString::fromStdString("http://objects.invalid:" + std::to_string(server.port())));
  int most = 0;  // the progress bar's length: the list's, known before the first download
  w.on_round = [&](int) {
    QTest::qWait(2 * ui::kRunFeedMs);
    most = std::max(most, w.RunProgress()->maximum());
  };
  w.run_button_->click();
  EXPECT_EQ(most, 2);
  EXPECT_EQ(w.RunProgress()->value(), 2);
  EXPECT_EQ(w.questions,
            std::vector<QString>{QStringLiteral("Invalid Host|Please Choose another host")});
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(ReadFile(out / "reg.txt"),
            "tree.rwx 1 -995 -995 -995 995 995 995\r\n"
            "tree.rwx 1 -995 -995 -995 995 995 995\r\n");
}

// The file names in a folder and their bytes.
std::map<std::string, std::string> FolderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

TEST(MainWindow, TheThumbnailsBoxDrawsEveryMeasuredModelAsTheTerminalDoes) {
  ObjectPath objects;
  TempDir out;
  const std::string ini = out / "boxtally.INI";
  WriteFile(out / "a-file", "not a folder");
  {
    TestWindow w(ini);
    w.show();
    w.SetFiles(objects.models, out / "reg.txt", out / "window.log");
    w.password_edit_->setText(QString::fromLatin1(kPassword));
    auto* box = Control<QLineEdit>(w, "ThumbnailsEdit");
    // A folder that cannot be made: the run does not start.
    box->setText(QString::fromStdString(out / "a-file/thumbs"));
    w.run_button_->click();
    ASSERT_EQ(w.messages.size(), 1u);
    EXPECT_TRUE(w.messages[0].startsWith(QStringLiteral("Le dossier des vignettes ne peut pas servir")))
        << Std(w.messages[0]);
    EXPECT_FALSE(std::filesystem::exists(out / "reg.txt"));
    // A file of the run where a picture may take its name: the folder is not even made.
    box->setText(QString::fromStdString(out / "thumbs"));
    w.registry_edit_->setText(QString::fromStdString(out / "thumbs/tree.png"));
    w.run_button_->click();
    ASSERT_EQ(w.messages.size(), 2u);
    EXPECT_EQ(Std(w.messages[1]), "Le fichier registry (" + (out / "thumbs/tree.png") +
                                      ") se trouve dans le dossier des vignettes sous un nom "
                                      "d'image : rien n'a été généré.");
    EXPECT_FALSE(std::filesystem::exists(out / "thumbs"));
    w.registry_edit_->setText(QString::fromStdString(out / "reg.txt"));
    // Chosen with the browse button, made by the run, filled as --thumbnails fills its folder.
    w.dialog_answer = QStringList{QString::fromStdString(out / "thumbs")};
    Control<QPushButton>(w, "ThumbnailsButton")->click();
    EXPECT_EQ(Std(box->text()), out / "thumbs");
    w.run_button_->click();
    EXPECT_EQ(w.messages.size(), 2u);
    EXPECT_FALSE(w.Running());
    EXPECT_EQ(w.Thumbnails(), nullptr);  // only while a run lasts
    EXPECT_TRUE(w.close());
  }
  WriteFile(out / "format.txt", std::string(ui::kDefaultTemplate) + "\r\n");
  const testing_support::ProgramRun cli =
      RunProgram({BOXTALLY_BIN_DIR "/boxtally-cli", "--quiet", "--thumbnails", out / "cli-thumbs",
                  objects.models, out / "format.txt", "-r", std::string("-s") + kPassword,
                  "-o" + (out / "cli-reg.txt")});
  ASSERT_EQ(cli.exit_status, 0) << cli.err;
  const std::map<std::string, std::string> drawn = FolderFiles(out / "thumbs");
  EXPECT_EQ(drawn.size(), 5u);  // every model but the broken zip
  EXPECT_TRUE(drawn == FolderFiles(out / "cli-thumbs"));
  EXPECT_NE(ReadFile(ini).find("\r\nThumbnails=" + (out / "thumbs") + "\r\n"), std::string::npos);
  TestWindow again(ini);
  EXPECT_EQ(Std(Control<QLineEdit>(again, "ThumbnailsEdit")->text()), out / "thumbs");
}
