#include "boxtally/ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QUrl>
#include <initializer_list>
#include <utility>
#include <vector>

#include "boxtally/ui/desktop_open.h"
#include "boxtally/ui/file_dialogs.h"
#include "boxtally/ui/help_window.h"
#include "boxtally/ui/http_events.h"
#include "boxtally/ui/run_launch.h"
#include "boxtally/ui/status_panel.h"
#include "boxtally/ui/template_box.h"
#include "boxtally/ui/textures_box.h"
#include "boxtally/ui/web_settings.h"
#include "boxtally/ui/window_texts.h"
#include "platform/paths.h"

namespace ui {

namespace {

constexpr int kStatusPanel0Width = 150;  // pixels: the HTTP events
constexpr int kStatusPanel1Width = 50;   // pixels at least: the run's progress, stretched
constexpr int kRunButtonWidth = 129;     // pixels at least
constexpr int kRunButtonHeight = 73;
constexpr double kRunButtonFontScale = 1.6;  // the run button's font against the window's
constexpr int kDesignWidth = 598;            // pixels: the window's first size at least
constexpr int kDesignHeight = 388;

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }
QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }

template <typename W>
W* Named(W* widget, const char* name, const char* hint = nullptr) {
  widget->setObjectName(QString::fromLatin1(name));
  if (hint != nullptr) {
    widget->setToolTip(Tr(hint));
    widget->setToolTipDuration(kHintShowMs);
  }
  return widget;
}

void SetVisible(std::initializer_list<QWidget*> widgets, bool visible) {
  for (QWidget* w : widgets) w->setVisible(visible);
}

// The file the dialog's choice names, into its box; a cancelled dialog changes nothing.
void TakeChoice(const std::optional<QStringList>& chosen, QLineEdit& box) {
  if (chosen && !chosen->isEmpty()) box.setText(chosen->front());
}

}  // namespace

MainWindow::MainWindow(std::string settings_path, QWidget* parent)
    : QMainWindow(parent), settings_path_(std::move(settings_path)) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(Tr(texts::kWindowCaption));
  CreateControls();
  CreateStatusBar();
  models_dialog_ = CreateModelsDialog(this);
  registry_dialog_ = CreateRegistryDialog(this);
  log_dialog_ = CreateLogDialog(this);
  format_dialog_ = CreateFormatDialog(this);
  ConnectControls();
  LayOutControls();
  SetTabOrder();
  resize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));
  ApplySettings(LoadSettings(settings_path_));
  FitOnScreen();
  UpdateOpenButtons();
  http_events_ = std::make_unique<WindowHttpEvents>(
      *this, [this](const std::string& text) { SetStatusText(0, text); });
  http_ = std::make_unique<http::TKestHTTP>(http_events_.get());
  // While a request waits, the window repaints and the run button can ask for a stop, which
  // abandons the request at once.
  http_->SetMessagePump([this] {
    QCoreApplication::processEvents();
    if (stop_requested_) http_->Abort();
  });
}

// The component goes first: its events write into the status bar.
MainWindow::~MainWindow() { http_.reset(); }

void MainWindow::CreateControls() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("MainWindowClient"));
  setCentralWidget(central);
  auto check = [central](const char* name, const char* caption, const char* hint) {
    return Named(new QCheckBox(Tr(caption), central), name, hint);
  };
  auto edit = [central](const char* name, const char* text, const char* hint) {
    return Named(new QLineEdit(Tr(text), central), name, hint);
  };
  auto label = [central](const char* name, const char* caption) {
    return Named(new QLabel(Tr(caption), central), name);
  };
  auto button = [central](const char* name, const char* caption, const char* hint) {
    return Named(new QPushButton(Tr(caption), central), name, hint);
  };

  web_mode_box_ = check("WebModeBox", texts::kWebMode, texts::kHintWebMode);
  model_kinds_label_ = label("ModelKindsLabel", texts::kModelKinds);
  url_label_ = label("UrlLabel", texts::kUrlLabel);
  url_edit_ = edit("UrlEdit", "", texts::kHintUrl);
  reuse_web_box_ = check("ReuseWebBox", texts::kReuseWeb, texts::kHintReuseWeb);
  propdump_box_ = check("PropdumpBox", texts::kPropdump, texts::kHintPropdump);
  connect_fix_box_ = check("ConnectFixBox", texts::kConnectFix, texts::kHintConnectFix);
  use_referer_box_ = check("UseRefererBox", texts::kUseReferer, texts::kHintUseReferer);
  referer_world_label_ = label("RefererWorldLabel", texts::kRefererWorldLabel);
  referer_world_edit_ =
      edit("RefererWorldEdit", texts::kRefererWorldDefault, texts::kHintRefererWorld);
  user_agent_label_ = label("UserAgentLabel", texts::kUserAgentLabel);
  user_agent_edit_ = edit("UserAgentEdit", kDefaultUserAgent, texts::kHintUserAgent);
  referer_label_ = label("RefererLabel", texts::kRefererLabel);
  referer_edit_ = edit("RefererEdit", kDefaultReferer, texts::kHintReferer);
  const ProxyControls proxy = CreateProxyControls(central);
  proxy_label_ = proxy.label;
  proxy_edit_ = proxy.edit;
  models_button_ = button("ModelsButton", texts::kModelsButton, texts::kHintModelsButton);
  models_label_ = label("ModelsLabel", texts::kModelsLabel);
  models_edit_ = edit("ModelsEdit", "*.zip", texts::kHintModels);
  registry_button_ = button("RegistryButton", texts::kRegistryButton, texts::kHintRegistryButton);
  registry_edit_ = edit("RegistryEdit", "registry.txt", texts::kHintRegistry);
  append_registry_box_ =
      check("AppendRegistryBox", texts::kAppendResult, texts::kHintAppendRegistry);
  log_button_ = button("LogButton", texts::kLogButton, texts::kHintLogButton);
  log_edit_ = edit("LogEdit", "boxtally.log", texts::kHintLog);
  append_log_box_ = check("AppendLogBox", texts::kAppendResult, texts::kHintAppendLog);
  errors_only_box_ = check("ErrorsOnlyBox", texts::kErrorsOnly, texts::kHintErrorsOnly);
  const TexturesControls textures = CreateTexturesControls(central, this);
  textures_button_ = textures.button;
  textures_edit_ = textures.edit;
  textures_dialog_ = textures.dialog;
  thumbnail_box_ = new ThumbnailBox(central, [this](QFileDialog& d) { return ExecDialog(d); });
  format_button_ = button("FormatButton", texts::kFormatButton, texts::kHintFormatButton);
  format_file_edit_ = edit("FormatFileEdit", "", texts::kHintFormatFile);
  skip_huge_box_ = check("SkipHugeBox", texts::kSkipHuge, texts::kHintSkipHuge);
  handle_facers_box_ = check("HandleFacersBox", texts::kHandleFacers, texts::kHintHandleFacers);
  non_centered_box_ = check("NonCenteredBox", texts::kNonCentered, texts::kHintNonCentered);
  over_sized_box_ = check("OverSizedBox", texts::kOverSized, texts::kHintOverSized);
  cob_debug_box_ = check("CobDebugBox", texts::kCobDebug, nullptr);
  if_omitted_label_ = label("IfOmittedLabel", texts::kIfOmitted);
  template_label_ = label("TemplateLabel", texts::kTemplateLabel);
  template_edit_ =
      Named(new TemplateBox(Tr(kDefaultTemplate), central), "TemplateEdit", texts::kHintTemplate);
  template_edit_->installEventFilter(this);
  password_label_ = label("PasswordLabel", texts::kPasswordLabel);
  password_label_->setWordWrap(true);  // two lines above the password rather than a wider window
  password_edit_ = edit("PasswordEdit", "", texts::kHintPassword);
  password_edit_->setEchoMode(QLineEdit::Password);
  run_button_ = button("RunButton", texts::kGenerer, nullptr);
  QFont big = run_button_->font();
  big.setPointSizeF(big.pointSizeF() * kRunButtonFontScale);
  run_button_->setFont(big);
  run_button_->setMinimumSize(kRunButtonWidth, kRunButtonHeight);
  run_button_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  run_button_->setDefault(true);
  open_registry_button_ =
      button("OpenRegistryButton", texts::kOpenRegistry, texts::kHintOpenRegistry);
  open_log_button_ = button("OpenLogButton", texts::kOpenLog, texts::kHintOpenLog);
  // The last run's summary, the button that shows every model's result, and the guide's.
  run_summary_ = Named(new SummaryLine(central), "RunSummary");
  run_summary_->setVisible(false);
  results_button_ = button("ResultsButton", texts::kResults, texts::kHintResults);
  results_button_->setEnabled(false);  // until a run has started
  help_button_ = button("HelpButton", texts::kHelp, texts::kHintHelp);

  append_registry_box_->setChecked(true);
  append_log_box_->setChecked(true);
  errors_only_box_->setChecked(true);
  // Hidden until web mode, or never shown: their values come from the settings file.
  SetVisible({url_label_, url_edit_, reuse_web_box_, propdump_box_, connect_fix_box_,
              use_referer_box_, referer_world_label_, referer_world_edit_, user_agent_label_,
              user_agent_edit_, referer_label_, referer_edit_, cob_debug_box_},
             false);
}

// Panel 0 (the HTTP events), panel 1 (the run's progress), during a run the progress bar, then
// "Résultats" and "Aide".
void MainWindow::CreateStatusBar() {
  status_bar_ = Named(new QStatusBar(this), "StatusBar");
  setStatusBar(status_bar_);
  for (int i = 0; i < 2; ++i) {
    status_panels_[i] = new StatusPanel(status_bar_);
    status_panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
  }
  status_panels_[0]->setFixedWidth(kStatusPanel0Width);
  status_panels_[1]->setMinimumWidth(kStatusPanel1Width);
  status_bar_->addWidget(status_panels_[0]);
  status_bar_->addWidget(status_panels_[1], 1);
  run_progress_ = new QProgressBar(status_bar_);
  run_progress_->setObjectName(QStringLiteral("RunProgress"));
  run_progress_->setFormat(QStringLiteral("%v / %m"));
  run_progress_->setVisible(false);
  status_bar_->addPermanentWidget(run_progress_);
  status_bar_->addPermanentWidget(results_button_);
  status_bar_->addPermanentWidget(help_button_);
  RunFeedSinks sinks;
  sinks.status = [this](int panel, const QString& text) { status_panels_[panel]->SetText(text); };
  sinks.progress = [this](std::size_t done, std::size_t total) {
    ShowRunProgress(*run_progress_, done, total);
  };
  sinks.results = [this](std::vector<driver::ModelOutcome> batch) {
    Results()->Add(std::move(batch));
  };
  feed_ = new RunFeed(std::move(sinks), this);
}

void MainWindow::ConnectControls() {
  connect(run_button_, &QPushButton::clicked, this, &MainWindow::StartOrStopRun);
  connect(models_button_, &QPushButton::clicked, this, &MainWindow::ChooseModels);
  connect(registry_button_, &QPushButton::clicked, this, &MainWindow::ChooseRegistry);
  connect(log_button_, &QPushButton::clicked, this, &MainWindow::ChooseLog);
  connect(format_button_, &QPushButton::clicked, this, &MainWindow::ChooseFormat);
  connect(textures_button_, &QPushButton::clicked, this, &MainWindow::ChooseTextures);
  // Toggled, not clicked: a tick set from the settings switches the mode as a click does.
  connect(web_mode_box_, &QCheckBox::toggled, this, &MainWindow::SwitchWebMode);
  connect(models_dialog_, &QFileDialog::filterSelected, this, &MainWindow::ModelsFilterChanged);
  // Générer is the window's default button: Return in a box presses it. The boxes are locked
  // during a run, so Return never stops one.
  for (QLineEdit* box : {models_edit_, registry_edit_, log_edit_, format_file_edit_, password_edit_,
                         url_edit_, proxy_edit_, textures_edit_}) {
    connect(box, &QLineEdit::returnPressed, run_button_, &QPushButton::click);
  }
  connect(open_registry_button_, &QPushButton::clicked, this,
          [this] { OpenWrittenFile(*registry_edit_); });
  connect(open_log_button_, &QPushButton::clicked, this, [this] { OpenWrittenFile(*log_edit_); });
  connect(results_button_, &QPushButton::clicked, this, &MainWindow::ShowResults);
  auto* results_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
  connect(results_key, &QShortcut::activated, this, [this] {
    if (results_button_->isEnabled()) ShowResults();
  });
  connect(help_button_, &QPushButton::clicked, this, &MainWindow::ShowHelp);
  // F1 from any of the program's windows, the results window's included.
  auto* help_key = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help_key->setContext(Qt::ApplicationShortcut);
  connect(help_key, &QShortcut::activated, this, &MainWindow::ShowHelp);
  connect(registry_edit_, &QLineEdit::textChanged, this, &MainWindow::UpdateOpenButtons);
  connect(log_edit_, &QLineEdit::textChanged, this, &MainWindow::UpdateOpenButtons);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (focus_set_) return;
  focus_set_ = true;
  models_edit_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The driver is still on this window's stack: stop after the model in progress, then close.
    stop_requested_ = true;
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (SaveSettings(settings_path_, CollectSettings()) != kSettingsOk) {
    ShowMessage(Tr(texts::kUnableToWrite).arg(FromStd(settings_path_)));
  }
  if (results_window_ != nullptr) results_window_->close();
  if (help_window_ != nullptr) help_window_->close();
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == template_edit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (key->modifiers() & Qt::ControlModifier)) {
      const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
      focusNextPrevChild(!back);
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ShowMessage(const QString& text) { ShowWarning(this, text); }

std::optional<QStringList> MainWindow::ExecDialog(QFileDialog& dialog) {
  return ChooseFiles(dialog);
}

std::optional<QString> MainWindow::AskText(const QString& title, const QString& prompt) {
  return AskLine(this, title, prompt);
}

bool MainWindow::OpenDocument(const QString& path) {
  return OpenOnDesktop(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()), this,
                       [this, path] { ShowMessage(Tr(texts::kCannotOpenDocument).arg(path)); });
}

AppendAnswer MainWindow::AskAppend(std::size_t models) { return AskAppendQuestion(this, models); }

void MainWindow::ChooseModels() {
  SetModelsDialogMode(*models_dialog_, web_mode_box_->isChecked());
  // The box holds this mode's own text (each mode keeps its own).
  StartDialogAt(*models_dialog_, models_edit_->text(), true);
  AcceptTypedModelNames(*models_dialog_);
  const std::optional<QStringList> chosen = ExecDialog(*models_dialog_);
  if (!chosen || chosen->isEmpty()) return;
  std::vector<std::string> names;
  for (const QString& name : *chosen) names.push_back(ToStd(name));
  models_edit_->setText(FromStd(ModelsTextForChoice(names)));
}

void MainWindow::ModelsFilterChanged(const QString& filter) {
  ApplyModelsFilter(*models_dialog_, filter);
}

void MainWindow::ChooseRegistry() {
  // Appending never destroys the old registry, so only a new one asks before overwriting.
  registry_dialog_->setOption(QFileDialog::DontConfirmOverwrite, append_registry_box_->isChecked());
  StartDialogAt(*registry_dialog_, registry_edit_->text(), true);
  TakeChoice(ExecDialog(*registry_dialog_), *registry_edit_);
}

void MainWindow::ChooseLog() {
  log_dialog_->setOption(QFileDialog::DontConfirmOverwrite, append_log_box_->isChecked());
  StartDialogAt(*log_dialog_, log_edit_->text(), true);
  TakeChoice(ExecDialog(*log_dialog_), *log_edit_);
}

void MainWindow::ChooseFormat() {
  StartDialogAt(*format_dialog_, format_file_edit_->text(), true);
  TakeChoice(ExecDialog(*format_dialog_), *format_file_edit_);
}

void MainWindow::ChooseTextures() {
  // A box that names a folder opens it, rather than the folder around it.
  if (platform::IsDirectory(ToStd(textures_edit_->text()))) {
    textures_dialog_->setDirectory(textures_edit_->text());
  } else {
    StartDialogAt(*textures_dialog_, textures_edit_->text(), false);
  }
  TakeChoice(ExecDialog(*textures_dialog_), *textures_edit_);
}

std::string MainWindow::TexturesFolder() const { return ToStd(textures_edit_->text()); }

void MainWindow::SwitchWebMode() {
  const bool web = web_mode_box_->isChecked();
  // Each mode keeps its models box: the list file never stays behind as a pattern, nor the
  // pattern as a list file.
  if (web != models_web_) {
    (models_web_ ? web_list_ : file_models_) = models_edit_->text();
    models_edit_->setText(web ? web_list_ : file_models_);
    models_web_ = web;
  }
  if (web) {
    models_button_->setText(Tr(texts::kListeDeFichier));
    model_kinds_label_->setVisible(false);
    url_label_->setVisible(true);
    models_label_->setText(Tr(texts::kListeDeFichier));
    SetVisible(
        {url_edit_, propdump_box_, connect_fix_box_, reuse_web_box_, proxy_label_, proxy_edit_},
        true);
    GrowToFit();
    return;
  }
  models_button_->setText(Tr(texts::kDossierDesObjets));
  model_kinds_label_->setVisible(true);
  models_label_->setText(Tr(texts::kModelsLabel));
  SetVisible({user_agent_label_, referer_label_, referer_world_label_, url_edit_, url_label_,
              propdump_box_, connect_fix_box_, reuse_web_box_, use_referer_box_, user_agent_edit_,
              referer_edit_, referer_world_edit_, proxy_label_, proxy_edit_},
             false);
}

QString MainWindow::PanelText(int panel) const {
  return panel == 0 || panel == 1 ? status_panels_[panel]->Text() : QString();
}

QString MainWindow::PanelShownText(int panel) const {
  return panel == 0 || panel == 1 ? status_panels_[panel]->Shown() : QString();
}

QString MainWindow::SummaryText() const { return run_summary_->Text(); }

ResultsWindow* MainWindow::Results() {
  if (results_window_ == nullptr) {
    results_window_ = new ResultsWindow(this);
    results_window_->ApplyLayout(results_layout_);
    // The preview reads a model as a run would: with the password of the box, and rwxsmith
    // where the runs find it.
    results_window_->Preview().SetPasswordSource([this] { return ToStd(password_edit_->text()); });
    results_window_->Preview().SetProgramDirectory(ProgramDirectory());
  }
  return results_window_;
}

void MainWindow::ShowResults() { Results()->ShowInFront(); }

HelpWindow* MainWindow::Help() {
  if (help_window_ == nullptr) help_window_ = new HelpWindow(this);
  return help_window_;
}

void MainWindow::ShowHelp() { Help()->ShowInFront(); }

void MainWindow::ModelCommitted(const driver::ModelOutcome& outcome) { feed_->Commit(outcome); }

// The two buttons open what a run wrote; a file that is not there (yet) has nothing to open.
void MainWindow::UpdateOpenButtons() {
  open_registry_button_->setEnabled(platform::IsRegularFile(ToStd(registry_edit_->text())));
  open_log_button_->setEnabled(platform::IsRegularFile(ToStd(log_edit_->text())));
}

void MainWindow::OpenWrittenFile(const QLineEdit& box) {
  UpdateOpenButtons();  // the file may have gone since
  if (!platform::IsRegularFile(ToStd(box.text()))) return;
  if (!OpenDocument(box.text())) ShowMessage(Tr(texts::kCannotOpenDocument).arg(box.text()));
}

platform::TextFile& MainWindow::Log() { return *log_; }
bool MainWindow::ErrorsOnly() const { return errors_only_box_->isChecked(); }
bool MainWindow::CobDebug() const { return cob_debug_box_->isChecked(); }
bool MainWindow::SkipHugeObjects() const { return skip_huge_box_->isChecked(); }
bool MainWindow::HandleFacers() const { return handle_facers_box_->isChecked(); }
bool MainWindow::NonCentered() const { return non_centered_box_->isChecked(); }
bool MainWindow::OverSized() const { return over_sized_box_->isChecked(); }
std::string MainWindow::ProgramDirectory() const { return platform::ProgramDirectory(); }
std::string MainWindow::WorkDirectory() const { return platform::WorkDirectory(); }

void MainWindow::SetStatusText(int panel, const std::string& text) {
  feed_->SetStatusText(panel, text);
}

// During a run, a round at most every kRunFeedMs: a round per model repaints for every model.
void MainWindow::ProcessMessages() {
  if (feed_->RoundDue()) QCoreApplication::processEvents();
}

bool MainWindow::GetFromWeb() const { return web_mode_box_->isChecked(); }

// The bar counts the results committed, so in web mode an entry that gave no model (a missing
// one, say) is done too and the bar ends at the list's length: "12 / 50".
void MainWindow::ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) {
  (void)done;
  (void)found_name;  // panel 1 names the model already
  feed_->SetTotal(total);
}

web::WebControls MainWindow::Controls() const {
  web::WebControls c;
  c.url = ToStd(url_edit_->text());
  c.list_file = ToStd(models_edit_->text());
  c.propdump = propdump_box_->isChecked();
  c.reuse_web = reuse_web_box_->isChecked();
  c.connect_fix = connect_fix_box_->isChecked();
  c.use_referer = use_referer_box_->isChecked();
  c.user_agent = ToStd(user_agent_edit_->text());
  c.referer = ToStd(referer_edit_->text());
  c.referer_world = ToStd(referer_world_edit_->text());
  c.ca_file = ca_file_;
  c.proxy = ProxyOfText(ToStd(proxy_edit_->text()));
  c.log_file = ToStd(log_edit_->text());
  c.registry_file = ToStd(registry_edit_->text());
  return c;
}

void MainWindow::ShowStatusNow(int panel, const std::string& text) {
  SetStatusText(panel, text);
  feed_->HandOver();
  status_bar_->repaint();
}

// Modal: the run waits until the box is closed.
void MainWindow::ShowConnectionFailed() { ShowMessage(Tr(texts::kConnectionFailed)); }

std::optional<std::string> MainWindow::AskForOtherHost() {
  const std::optional<QString> host =
      AskText(Tr(texts::kInvalidHostTitle), Tr(texts::kInvalidHostPrompt));
  if (!host) return std::nullopt;
  return ToStd(*host);
}

}  // namespace ui
