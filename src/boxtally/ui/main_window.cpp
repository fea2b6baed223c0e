#include "boxtally/ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <clocale>
#include <exception>
#include <utility>
#include <vector>

#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/format_check.h"
#include "boxtally/driver/registry_overlap.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/ui/desktop_open.h"
#include "boxtally/ui/run_launch.h"
#include "boxtally/ui/textures_box.h"
#include "boxtally/ui/web_settings.h"
#include "boxtally/ui/window_texts.h"
#include "platform/paths.h"

namespace ui {

namespace {

constexpr int kStatusPanel0Width = 150;   // pixels: the HTTP events
constexpr int kStatusPanel1Width = 50;    // pixels at least: the run's progress, stretched
constexpr int kRunButtonWidth = 129;      // pixels at least
constexpr int kTemplateBoxHeight = 69;    // pixels: the template box's first height
constexpr int kTemplateBoxSlack = 24;     // pixels: frame, margins and the text cursor
constexpr int kTemplateBoxMinChars = 16;  // average characters: the narrowest template box
constexpr int kTemplateBoxMinLines = 1;   // lines: the lowest template box
constexpr int kRunButtonHeight = 73;
constexpr double kRunButtonFontScale = 1.6;  // the run button's font against the window's
constexpr int kDesignWidth = 598;            // pixels: the window's first size at least
constexpr int kDesignHeight = 388;
constexpr int kFrameMarginX = 6;  // pixels around the registry and log rows in their frames
constexpr int kFrameMarginY = 2;
constexpr int kRowSpacing = 4;      // pixels between the window's rows
constexpr int kWindowMargin = 6;    // pixels around them
constexpr int kPanelPadding = 4;    // pixels between a status panel's frame and its text
// The models dialog's filters, counted from 1 as the handlers do.
constexpr int kZipFilter = 3;
constexpr int kListFilter = 5;

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }
QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }

// "description|pattern|description|pattern" to the descriptions, which already end in their
// patterns in parentheses, the form the file dialog reads.
QStringList NameFilters(const char* filter) {
  const QStringList parts = Tr(filter).split('|');
  QStringList names;
  for (int i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
  return names;
}

template <typename W>
W* Named(W* widget, const char* name, const char* hint = nullptr) {
  widget->setObjectName(QString::fromLatin1(name));
  if (hint != nullptr) {
    widget->setToolTip(Tr(hint));
    widget->setToolTipDuration(kHintShowMs);
  }
  return widget;
}

// The dialog's "file name" box: shown in the dialog and kept, so the tests can read it.
void SetDialogFileName(QFileDialog& dialog, const QString& name) {
  dialog.setProperty("fileName", name);
  dialog.selectFile(name);
}

void SelectFilter(QFileDialog& dialog, int index_from_1) {
  const QStringList filters = dialog.nameFilters();
  if (index_from_1 >= 1 && index_from_1 <= filters.size()) {
    dialog.selectNameFilter(filters[index_from_1 - 1]);
  }
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, int stretch_index) {
  auto* row = new QHBoxLayout;
  int i = 0;
  for (QWidget* w : widgets) row->addWidget(w, i++ == stretch_index ? 1 : 0);
  return row;
}

QFrame* Framed(QLayout* layout, const char* name) {
  auto* frame = new QFrame;
  frame->setObjectName(QString::fromLatin1(name));
  frame->setFrameShape(QFrame::StyledPanel);
  // Thin margins: on a small screen every pixel of height counts.
  layout->setContentsMargins(kFrameMarginX, kFrameMarginY, kFrameMarginX, kFrameMarginY);
  frame->setLayout(layout);
  return frame;
}

// The template box: first shown as wide as the default template and the design's height, it is
// the first thing to shrink when the screen is small (it scrolls).
class TemplateBox : public QPlainTextEdit {
 public:
  TemplateBox(const QString& text, QWidget* parent) : QPlainTextEdit(text, parent) {}
  QSize sizeHint() const override {
    return {fontMetrics().horizontalAdvance(Tr(kDefaultTemplate)) + kTemplateBoxSlack,
            kTemplateBoxHeight};
  }
  QSize minimumSizeHint() const override {
    const int frame = 2 * frameWidth() + 2 * static_cast<int>(document()->documentMargin());
    return {fontMetrics().averageCharWidth() * kTemplateBoxMinChars + frame,
            fontMetrics().lineSpacing() * kTemplateBoxMinLines + frame};
  }
};

}  // namespace

// A status bar panel whose text, when too long for its width, is shown elided with "…" in the
// middle (the end of a model name or URL tells more than its middle). Its minimum width is small,
// so a long text never widens the window; the whole text is its hint.
class StatusPanel : public QFrame {
 public:
  explicit StatusPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  }
  // The panels share the status bar by their stretch, not by their texts: a new text repaints
  // the panel and never moves the others.
  void SetText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setToolTip(text);
    update();
  }
  const QString& Text() const { return text_; }
  QString Shown() const {
    const int room = contentsRect().width() - 2 * kPanelPadding;
    return fontMetrics().elidedText(text_, Qt::ElideMiddle, std::max(room, 0));
  }
  QSize sizeHint() const override {
    return {fontMetrics().horizontalAdvance(text_) + 2 * (kPanelPadding + frameWidth()),
            fontMetrics().height() + 2 * frameWidth() + 2};
  }
  QSize minimumSizeHint() const override { return {minimumWidth(), sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawText(contentsRect().adjusted(kPanelPadding, 0, -kPanelPadding, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, Shown());
  }

 private:
  QString text_;
};

// The component's events, handed to the window's handlers of the same names.
class TForm1::HttpHandlers : public http::HttpEvents {
 public:
  explicit HttpHandlers(TForm1& form) : form_(form) {}
  void OnConnect() override { form_.HTTPConnect(); }
  void OnConnectionFailed() override { form_.HTTPConnectionFailed(); }
  void OnDisconnect() override { form_.HTTPDisconnect(); }
  void OnFailure(http::CmdType cmd) override { form_.HTTPFailure(cmd); }
  void OnHostResolved() override { form_.HTTPHostResolved(); }
  void OnInvalidHost(bool& handled) override { form_.HTTPInvalidHost(handled); }
  void OnPacketRecvd() override { form_.HTTPPacketRecvd(); }
  void OnPacketSent() override { form_.HTTPPacketSent(); }
  void OnStatus(const std::string& status) override { form_.HTTPStatus(status); }
  void OnSuccess(http::CmdType cmd) override { form_.HTTPSuccess(cmd); }
  void OnAboutToSend() override { form_.HTTPAboutToSend(); }
  void OnRedirect(bool& handled) override { form_.HTTPRedirect(handled); }

 private:
  TForm1& form_;
};

void PrepareApplication(QApplication& app) {
  std::setlocale(LC_NUMERIC, "C");
  // Without the translations (not installed) Qt's dialogs stay English; nothing else changes.
  auto* qt_texts = new QTranslator(&app);
  if (qt_texts->load(QStringLiteral("qtbase_fr"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(qt_texts);
  }
  app.setApplicationName(QStringLiteral("boxtally"));
  app.setDesktopFileName(QStringLiteral("boxtally"));
  app.setWindowIcon(QIcon::fromTheme(QStringLiteral("boxtally")));
}

TForm1::TForm1(std::string settings_path, QWidget* parent)
    : QMainWindow(parent), settings_path_(std::move(settings_path)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Tr(texts::kWindowCaption));
  CreateControls();
  CreateDialogs();
  LayOutControls();
  SetTabOrder();
  resize(sizeHint().expandedTo(QSize(kDesignWidth, kDesignHeight)));
  ApplySettings(LoadSettings(settings_path_));
  FitOnScreen();
  UpdateOpenButtons();
  http_handlers_ = std::make_unique<HttpHandlers>(*this);
  http_ = std::make_unique<http::TKestHTTP>(http_handlers_.get());
  // While a request waits, the window repaints and the run button can ask for a stop, which
  // abandons the request at once.
  http_->SetMessagePump([this] {
    QCoreApplication::processEvents();
    if (stop_requested_) http_->Abort();
  });
}

// The component goes first: its handlers write into the status bar.
TForm1::~TForm1() { http_.reset(); }

void TForm1::CreateControls() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Form1Client"));
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

  GetFromWeb_ = check("GetFromWeb", texts::kGetFromWeb, texts::kHintGetFromWeb);
  Label7 = label("Label7", texts::kLabel7);
  Label2 = label("Label2", texts::kLabel2);
  UrlEdit = edit("UrlEdit", "", texts::kHintUrlEdit);
  ReuseWeb = check("ReuseWeb", texts::kReuseWeb, texts::kHintReuseWeb);
  ItIsThePropfile = check("ItIsThePropfile", texts::kItIsThePropfile, texts::kHintItIsThePropfile);
  ConnectFix = check("ConnectFix", texts::kConnectFix, texts::kHintConnectFix);
  UseReferer = check("UseReferer", texts::kUseReferer, texts::kHintUseReferer);
  Label11 = label("Label11", texts::kLabel11);
  RefererWorldEdit =
      edit("RefererWorldEdit", texts::kRefererWorldEdit, texts::kHintRefererWorldEdit);
  Label3 = label("Label3", texts::kLabel3);
  UserAgentEdit = edit("UserAgentEdit", kDefaultUserAgent, texts::kHintUserAgentEdit);
  Label4 = label("Label4", texts::kLabel4);
  RefererEdit = edit("RefererEdit", kDefaultReferer, texts::kHintRefererEdit);
  const ProxyControls proxy = CreateProxyControls(central);
  ProxyLabel = proxy.label;
  ProxyEdit = proxy.edit;
  Button2 = button("Button2", texts::kButton2, texts::kHintButton2);
  Label1 = label("Label1", texts::kLabel1);
  RwxFileEdit = edit("RwxFileEdit", "*.zip", texts::kHintRwxFileEdit);
  Button3 = button("Button3", texts::kButton3, texts::kHintButton3);
  RegFileEdit = edit("RegFileEdit", "registry.txt", texts::kHintRegFileEdit);
  CheckBox1 = check("CheckBox1", texts::kAppendResult, texts::kHintCheckBox1);
  Button4 = button("Button4", texts::kButton4, texts::kHintButton4);
  LogFileEdit = edit("LogFileEdit", "boxtally.log", texts::kHintLogFileEdit);
  CheckBox2 = check("CheckBox2", texts::kAppendResult, texts::kHintCheckBox2);
  ErrorsOnly_ = check("ErrorsOnly", texts::kErrorsOnly, texts::kHintErrorsOnly);
  const TexturesControls textures = CreateTexturesControls(central, this);
  TexturesButton = textures.button;
  TexturesEdit = textures.edit;
  TexturesDialog = textures.dialog;
  thumbnail_box_ = new ThumbnailBox(central, [this](QFileDialog& d) { return ExecDialog(d); });
  Button5 = button("Button5", texts::kButton5, texts::kHintButton5);
  FormatFile = edit("FormatFile", "", texts::kHintFormatFile);
  CheckBox3 = check("CheckBox3", texts::kCheckBox3, texts::kHintCheckBox3);
  HandleFacers_ = check("HandleFacers", texts::kHandleFacers, texts::kHintHandleFacers);
  NonCentered_ = check("NonCentered", texts::kNonCentered, texts::kHintNonCentered);
  OverSized_ = check("OverSized", texts::kOverSized, texts::kHintOverSized);
  CobDebug_ = check("CobDebug", texts::kCobDebug, nullptr);
  Label8 = label("Label8", texts::kLabel8);
  Label6 = label("Label6", texts::kLabel6);
  MyInput = Named(new TemplateBox(Tr(kDefaultTemplate), central), "MyInput", texts::kHintMyInput);
  MyInput->setTabChangesFocus(false);  // a tab is part of a template
  MyInput->setLineWrapMode(QPlainTextEdit::NoWrap);
  MyInput->installEventFilter(this);
  Label5 = label("Label5", texts::kLabel5);
  Label5->setWordWrap(true);  // two lines above the password rather than a wider window
  PassEdit = edit("PassEdit", "", texts::kHintPassEdit);
  PassEdit->setEchoMode(QLineEdit::Password);
  Button1 = button("Button1", texts::kGenerer, nullptr);
  QFont big = Button1->font();
  big.setPointSizeF(big.pointSizeF() * kRunButtonFontScale);
  Button1->setFont(big);
  Button1->setMinimumSize(kRunButtonWidth, kRunButtonHeight);
  Button1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  Button1->setDefault(true);
  open_registry_button_ =
      button("OpenRegistryButton", texts::kOpenRegistry, texts::kHintOpenRegistry);
  open_log_button_ = button("OpenLogButton", texts::kOpenLog, texts::kHintOpenLog);
  // The last run's summary, and the button that shows every model's result.
  run_summary_ = Named(new SummaryLine(central), "RunSummary");
  run_summary_->setVisible(false);
  results_button_ = button("ResultsButton", texts::kResults, texts::kHintResults);
  results_button_->setEnabled(false);  // until a run has started

  CheckBox1->setChecked(true);
  CheckBox2->setChecked(true);
  ErrorsOnly_->setChecked(true);

  // Hidden until web mode, or never shown: their values come from the settings file.
  for (QWidget* w : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(UrlEdit),
                     static_cast<QWidget*>(ReuseWeb), static_cast<QWidget*>(ItIsThePropfile),
                     static_cast<QWidget*>(ConnectFix), static_cast<QWidget*>(UseReferer),
                     static_cast<QWidget*>(Label11), static_cast<QWidget*>(RefererWorldEdit),
                     static_cast<QWidget*>(Label3), static_cast<QWidget*>(UserAgentEdit),
                     static_cast<QWidget*>(Label4), static_cast<QWidget*>(RefererEdit),
                     static_cast<QWidget*>(CobDebug_)}) {
    w->setVisible(false);
  }

  // Panel 0 (the HTTP events), panel 1 (the run's progress), and during a run the progress bar.
  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  setStatusBar(StatusBar1);
  for (int i = 0; i < 2; ++i) {
    status_panels_[i] = new StatusPanel(StatusBar1);
    status_panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
  }
  status_panels_[0]->setFixedWidth(kStatusPanel0Width);
  status_panels_[1]->setMinimumWidth(kStatusPanel1Width);
  StatusBar1->addWidget(status_panels_[0]);
  StatusBar1->addWidget(status_panels_[1], 1);
  run_progress_ = new QProgressBar(StatusBar1);
  run_progress_->setObjectName(QStringLiteral("RunProgress"));
  run_progress_->setFormat(QStringLiteral("%v / %m"));
  run_progress_->setVisible(false);
  StatusBar1->addPermanentWidget(run_progress_);
  StatusBar1->addPermanentWidget(results_button_);
  RunFeedSinks sinks;
  sinks.status = [this](int panel, const QString& text) { status_panels_[panel]->SetText(text); };
  sinks.progress = [this](std::size_t done, std::size_t total) {
    ShowRunProgress(*run_progress_, done, total);
  };
  sinks.results = [this](std::vector<driver::ModelOutcome> batch) {
    Results()->Add(std::move(batch));
  };
  feed_ = new RunFeed(std::move(sinks), this);

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(TexturesButton, &QPushButton::clicked, this, &TForm1::TexturesButtonClick);
  // Toggled, not clicked: a tick set from the settings switches the mode as a click does.
  connect(GetFromWeb_, &QCheckBox::toggled, this, &TForm1::GetFromWebClick);
  connect(UseReferer, &QCheckBox::clicked, this, &TForm1::UseRefererClick);
  // Générer is the window's default button: Return in a box presses it. The boxes are locked
  // during a run, so Return never stops one.
  for (QLineEdit* box :
       {RwxFileEdit, RegFileEdit, LogFileEdit, FormatFile, PassEdit, UrlEdit, ProxyEdit,
        TexturesEdit}) {
    connect(box, &QLineEdit::returnPressed, Button1, &QPushButton::click);
  }
  connect(open_registry_button_, &QPushButton::clicked, this, [this] { OpenResult(*RegFileEdit); });
  connect(open_log_button_, &QPushButton::clicked, this, [this] { OpenResult(*LogFileEdit); });
  connect(results_button_, &QPushButton::clicked, this, &TForm1::ShowResults);
  auto* results_key = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
  connect(results_key, &QShortcut::activated, this, [this] {
    if (results_button_->isEnabled()) ShowResults();
  });
  connect(RegFileEdit, &QLineEdit::textChanged, this, &TForm1::UpdateOpenButtons);
  connect(LogFileEdit, &QLineEdit::textChanged, this, &TForm1::UpdateOpenButtons);
}

void TForm1::CreateDialogs() {
  OpenDialog1 = Named(new QFileDialog(this, Tr(texts::kOpenDialog1Title)), "OpenDialog1");
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
  OpenDialog1->setNameFilters(NameFilters(texts::kOpenDialog1Filter));
  SelectFilter(*OpenDialog1, kZipFilter);
  SetDialogFileName(*OpenDialog1, QStringLiteral("*.zip"));
  OpenDialog1->setDefaultSuffix(QStringLiteral("zip"));
  connect(OpenDialog1, &QFileDialog::filterSelected, this, &TForm1::OpenDialog1TypeChange);

  SaveDialog1 = Named(new QFileDialog(this, Tr(texts::kSaveDialog1Title)), "SaveDialog1");
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setNameFilters(NameFilters(texts::kSaveDialog1Filter));
  SetDialogFileName(*SaveDialog1, Tr(texts::kSaveDialog1Name));
  SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));

  SaveDialog2 = Named(new QFileDialog(this, Tr(texts::kSaveDialog2Title)), "SaveDialog2");
  SaveDialog2->setAcceptMode(QFileDialog::AcceptSave);
  SetDialogFileName(*SaveDialog2, Tr(texts::kSaveDialog2Name));

  OpenDialog2 = Named(new QFileDialog(this, Tr(texts::kOpenDialog2Title)), "OpenDialog2");
  OpenDialog2->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog2->setFileMode(QFileDialog::ExistingFile);
  SetDialogFileName(*OpenDialog2, Tr(texts::kOpenDialog2Name));
}

void TForm1::LayOutControls() {
  // Tight rows: the window fits a 1280x800 screen at twice the scale, web rows included.
  auto* top = new QVBoxLayout(centralWidget());
  top->setSpacing(kRowSpacing);
  top->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);

  auto* web_row = Row({GetFromWeb_, Label7, Label2, UrlEdit}, 3);
  web_row->setStretch(1, 1);
  top->addLayout(web_row);
  // Left-aligned without a stretch item: in file mode the row is empty and takes no height.
  auto* web_options = Row({ReuseWeb, ItIsThePropfile, ConnectFix, ProxyLabel, ProxyEdit}, -1);
  top->addLayout(web_options);
  top->setAlignment(web_options, Qt::AlignLeft);
  top->addLayout(Row({Button2, Label1, RwxFileEdit}, 2));
  // Each row ends with the button that opens its file once a run has written it.
  top->addWidget(
      Framed(Row({Button3, RegFileEdit, CheckBox1, open_registry_button_}, 1), "RegistryFrame"));
  top->addWidget(
      Framed(Row({Button4, LogFileEdit, CheckBox2, ErrorsOnly_, open_log_button_}, 1), "LogFrame"));

  auto* format_grid = new QGridLayout;
  auto* format_row = Row({Button5, FormatFile}, 1);
  format_grid->addLayout(format_row, 0, 0, 1, 3);
  format_grid->addWidget(CheckBox3, 1, 0);
  format_grid->addWidget(HandleFacers_, 1, 1);
  format_grid->addWidget(NonCentered_, 2, 0);
  format_grid->addWidget(OverSized_, 2, 1);
  // The pictures' boxes beside the switches: the window has no height to spare for a row.
  auto* textures_row = Row({TexturesButton, TexturesEdit}, 1);
  format_grid->addLayout(textures_row, 1, 2);
  format_grid->addWidget(thumbnail_box_, 2, 2);
  for (QLayout* row : {static_cast<QLayout*>(textures_row), thumbnail_box_->layout()}) {
    row->setSpacing(kRowSpacing);
  }
  auto* default_label = new QHBoxLayout;
  default_label->addWidget(Label8);
  default_label->addWidget(Label6, 1);
  format_grid->addLayout(default_label, 3, 0, 1, 3);
  format_grid->addWidget(MyInput, 4, 0, 1, 3);
  format_grid->setRowStretch(4, 1);
  format_grid->setColumnStretch(2, 1);
  format_grid->setSpacing(kRowSpacing);
  format_grid->setContentsMargins(kRowSpacing, kFrameMarginX, kRowSpacing, kFrameMarginX);
  auto* format_box = Named(new QGroupBox, "FormatFrame");
  format_box->setLayout(format_grid);

  auto* right = new QVBoxLayout;
  right->addWidget(Label5);
  right->addWidget(PassEdit);
  right->addSpacing(12);
  right->addWidget(Button1);
  right->addStretch(1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(format_box, 1);
  bottom->addLayout(right);
  top->addLayout(bottom, 1);
  // A second status line, shown once a run has ended, above the status bar.
  top->addWidget(run_summary_);

  // The browse buttons share one width, so the boxes beside them line up.
  int width = 0;
  for (QPushButton* b : {Button2, Button3, Button4, Button5}) {
    width = std::max(width, b->sizeHint().width());
  }
  for (QPushButton* b : {Button2, Button3, Button4, Button5}) {
    b->setFixedWidth(width);
  }
}

void TForm1::SetTabOrder() {
  // The Part's order first, so a keyboard user types a pattern, tabs through the registry, log
  // and password boxes and presses the run button; the other controls follow top to bottom.
  const std::vector<QWidget*> order = {RwxFileEdit,     RegFileEdit,
                                       LogFileEdit,     PassEdit,
                                       Button1,         GetFromWeb_,
                                       UrlEdit,         ReuseWeb,
                                       ItIsThePropfile, ConnectFix,
                                       ProxyEdit,       Button2,
                                       Button3,
                                       CheckBox1,       open_registry_button_,
                                       Button4,         CheckBox2,
                                       ErrorsOnly_,     open_log_button_,
                                       TexturesButton,  TexturesEdit,
                                       thumbnail_box_->Button(), thumbnail_box_->Edit(),
                                       Button5,         FormatFile,
                                       CheckBox3,       HandleFacers_,
                                       NonCentered_,    OverSized_,
                                       MyInput,         results_button_};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

void TForm1::ApplySettings(const Settings& s) {
  move(s.left, s.top);
  CobDebug_->setChecked(s.cob_debug);
  RegFileEdit->setText(FromStd(s.registry_file));
  CheckBox1->setChecked(s.append_registry);
  LogFileEdit->setText(FromStd(s.log_file));
  CheckBox2->setChecked(s.append_log);
  FormatFile->setText(FromStd(s.format_file));
  CheckBox3->setChecked(s.skip_huge_objects);
  HandleFacers_->setChecked(s.handle_facers);
  NonCentered_->setChecked(s.non_centered);
  OverSized_->setChecked(s.over_sized);
  if (s.from_web) GetFromWeb_->setChecked(true);  // false leaves the box and the mode alone
  // The mode is set: each mode's models box, the current one from ModelPath.
  file_models_ = FromStd(s.file_models);
  web_list_ = FromStd(s.list_file);
  RwxFileEdit->setText(FromStd(s.model_path));
  ReuseWeb->setChecked(s.reuse_web);
  ErrorsOnly_->setChecked(s.errors_only);
  ItIsThePropfile->setChecked(s.it_is_the_propfile);
  UrlEdit->setText(FromStd(s.url));
  UseReferer->setChecked(s.use_referer);
  UserAgentEdit->setText(FromStd(s.user_agent));
  RefererEdit->setText(FromStd(s.referer));
  RefererWorldEdit->setText(FromStd(s.referer_world));
  ca_file_ = s.ca_file;
  ProxyEdit->setText(FromStd(s.proxy));
  thumbnail_box_->SetFolder(FromStd(s.thumbnail_folder));
  downloads_ = s.downloads;
  TexturesEdit->setText(FromStd(s.textures));
  MyInput->setPlainText(FromStd(s.default_format));
  results_layout_ = ResultsLayout{s.results_width, s.results_height, s.results_columns, {}};
  if (s.results_placed) results_layout_.position = QPoint(s.results_left, s.results_top);
}

Settings TForm1::CollectSettings() const {
  Settings s;
  s.top = y();
  s.left = x();
  s.cob_debug = CobDebug_->isChecked();
  s.model_path = ToStd(RwxFileEdit->text());
  s.file_models = ToStd(models_web_ ? file_models_ : RwxFileEdit->text());
  s.list_file = ToStd(models_web_ ? RwxFileEdit->text() : web_list_);
  s.registry_file = ToStd(RegFileEdit->text());
  s.append_registry = CheckBox1->isChecked();
  s.log_file = ToStd(LogFileEdit->text());
  s.append_log = CheckBox2->isChecked();
  s.format_file = ToStd(FormatFile->text());
  s.skip_huge_objects = CheckBox3->isChecked();
  s.handle_facers = HandleFacers_->isChecked();
  s.non_centered = NonCentered_->isChecked();
  s.over_sized = OverSized_->isChecked();
  s.from_web = GetFromWeb_->isChecked();
  s.reuse_web = ReuseWeb->isChecked();
  s.errors_only = ErrorsOnly_->isChecked();
  s.it_is_the_propfile = ItIsThePropfile->isChecked();
  s.use_referer = UseReferer->isChecked();
  s.url = ToStd(UrlEdit->text());
  s.user_agent = ToStd(UserAgentEdit->text());
  s.referer = ToStd(RefererEdit->text());
  s.referer_world = ToStd(RefererWorldEdit->text());
  s.ca_file = ca_file_;
  s.proxy = ToStd(ProxyEdit->text());
  s.thumbnail_folder = ToStd(thumbnail_box_->Folder());
  s.downloads = downloads_;
  s.textures = ToStd(TexturesEdit->text());
  s.default_format = ToStd(MyInput->toPlainText());
  const ResultsLayout results =
      results_window_ != nullptr ? results_window_->CollectLayout() : results_layout_;
  s.results_width = results.width;
  s.results_height = results.height;
  s.results_columns = results.columns;
  s.results_placed = results.position.has_value();
  s.results_left = results.position.value_or(QPoint()).x();
  s.results_top = results.position.value_or(QPoint()).y();
  return s;
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (focus_set_) return;
  focus_set_ = true;
  RwxFileEdit->setFocus(Qt::OtherFocusReason);
}

void TForm1::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (frame_fitted_ || !isVisible() || frameGeometry() == geometry()) return;
  frame_fitted_ = true;
  FitOnScreen();
}

void TForm1::closeEvent(QCloseEvent* event) {
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
  event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MyInput && event->type() == QEvent::KeyPress) {
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

void TForm1::ShowMessage(const QString& text) {
  QMessageBox::warning(this, Tr(texts::kMessageTitle), text);
}

std::optional<QStringList> TForm1::ExecDialog(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedFiles();
}

bool TForm1::OpenDocument(const QString& path) {
  return OpenOnDesktop(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()), this,
                       [this, path] { ShowMessage(Tr(texts::kCannotOpenDocument).arg(path)); });
}

AppendAnswer TForm1::AskAppend(std::size_t models) { return AskAppendQuestion(this, models); }

std::optional<QString> TForm1::AskText(const QString& title, const QString& prompt) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(this, title, prompt, QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return text;
}

// The controls a run locks, in the order they are disabled and enabled again. The run button,
// ErrorsOnly (read at every model), ItIsThePropfile and ConnectFix stay usable.
void TForm1::SetRunControlsEnabled(bool enabled) {
  const std::vector<QWidget*> locked = {
      Button2,     Button3,       Button4,      Button5,    MyInput,     CheckBox1,   CheckBox2,
      CheckBox3,   HandleFacers_, NonCentered_, OverSized_, GetFromWeb_, RwxFileEdit, RegFileEdit,
      LogFileEdit, UrlEdit,       FormatFile,   ReuseWeb,   PassEdit,    ProxyEdit,
      TexturesButton, TexturesEdit,  thumbnail_box_};
  for (QWidget* w : locked) w->setEnabled(enabled);
}

QString TForm1::FieldName(int field) const {
  switch (static_cast<RunField>(field)) {
    case RunField::kModels:
      return Label1->text();
    case RunField::kFormatFile:
      return Button5->text();
    case RunField::kPassword:
      return Label5->text();
    case RunField::kRegistry:
      return Button3->text();
    case RunField::kNone:
      break;
  }
  return {};
}

void TForm1::Button1Click() {
  if (running_) {
    // A press while the driver lets the window process messages: stop after this model.
    stop_requested_ = true;
    return;
  }
  stop_requested_ = false;
  RunBatch();
  if (close_pending_) close();
}

void TForm1::RunBatch() {
  const std::string work_dir = platform::WorkDirectory();
  if (work_dir.empty()) {
    ShowMessage(Tr(texts::kNoWorkFolder).arg(FromStd(platform::WorkDirectoryError())));
    return;
  }
  RunInputs in;
  in.models = ToStd(RwxFileEdit->text());
  in.format_file = ToStd(FormatFile->text());
  in.temporary_format = work_dir + kTemporaryFormatFile;
  in.password = ToStd(PassEdit->text());
  in.registry = ToStd(RegFileEdit->text());
  in.append_registry = CheckBox1->isChecked();
  RunArguments run = BuildRunArguments(in);
  if (run.too_long != RunField::kNone) {
    ShowMessage(Tr(texts::kArgumentTooLong).arg(FieldName(static_cast<int>(run.too_long))));
    return;
  }
  const web::WebControls web_controls = Controls();
  const std::vector<std::string> run_files{
      in.format_file, in.registry, ToStd(LogFileEdit->text()),
      GetFromWeb() ? in.models : std::string(),
      GetFromWeb() ? web::ValidatorFilePath(in.models) : std::string()};
  if (const auto same = driver::SameRunFiles(run_files)) {
    QString text =
        Tr(texts::kSameFiles)
            .arg(Tr(texts::kRunFileRoles[same->first]), Tr(texts::kRunFileRoles[same->second]),
                 FromStd(run_files[same->second]));
    text[0] = text[0].toUpper();
    ShowMessage(text);
    return;
  }
  const std::string with_control = web::RefererTextWithControl(web_controls);
  if (GetFromWeb() && web_controls.use_referer && !with_control.empty()) {
    ShowMessage(Tr(texts::kControlInRefererText).arg(FromStd(with_control)));
    return;
  }
  if (const QString problem = GetFromWeb() ? WebSettingsProblem(web_controls) : QString();
      !problem.isEmpty()) {
    ShowMessage(problem);
    return;
  }
  if (const QString problem = TexturesFolderProblem(TexturesEdit->text()); !problem.isEmpty()) {
    ShowMessage(problem);
    return;
  }
  // A second run over the same models would give each of them twice: the user says what to do.
  const std::string template_text = in.format_file.empty()
                                        ? ToStd(MyInput->toPlainText())
                                        : driver::ReadTemplate(in.format_file).value_or("");
  if (const std::size_t already = driver::ModelsAlreadyInRegistry(
          run.args, template_text, GetFromWeb(), ItIsThePropfile->isChecked())) {
    const AppendAnswer answer = AskAppend(already);
    if (answer == AppendAnswer::kCancel) return;
    in.append_registry = answer == AppendAnswer::kAppend;
    run = BuildRunArguments(in);
  }
  ThumbnailStart pictures = StartThumbnails(thumbnail_box_->Folder(), run_files);
  if (!pictures.problem.isEmpty()) {
    ShowMessage(pictures.problem);
    return;
  }
  thumbnails_ = std::move(pictures.set);

  running_ = true;
  prompts_ = web::HostPrompts();
  SetRunControlsEnabled(false);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  Button1->setText(Tr(texts::kStop));
  // Nothing of an earlier run may stand for this one ("Done!" above all).
  SetStatusText(0, std::string());
  SetStatusText(1, std::string());
  run_summary_->SetText(QString());
  run_summary_->setVisible(false);
  Results()->StartRun(LogFileEdit->text());
  results_button_->setEnabled(true);
  run_progress_->setRange(0, 0);  // busy until the search has counted the models
  run_progress_->setVisible(true);
  feed_->Start();

  QString failure;
  std::optional<driver::RunOutcome> outcome;
  const bool temporary = in.format_file.empty();
  if (temporary && !WriteTemporaryFormat(in.temporary_format, ToStd(MyInput->toPlainText()))) {
    failure = Tr(texts::kCannotWriteFormat).arg(FromStd(in.temporary_format));
  }
  if (failure.isEmpty()) {
    bool locked = false;
    log_.reset(platform::OpenLogFile(
        ToStd(LogFileEdit->text()),
        CheckBox2->isChecked() ? platform::OpenMode::kAppend : platform::OpenMode::kCreate,
        &locked));
    if (!log_)
      failure = Tr(locked ? texts::kLogLocked : texts::kCannotOpenLog).arg(LogFileEdit->text());
  }
  if (failure.isEmpty()) {
    try {
      outcome = driver::RunBatch(*this, run.args);
    } catch (const std::exception& e) {
      failure = Tr(texts::kUnexpectedFailure).arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      failure = Tr(texts::kUnexpectedFailure).arg(QStringLiteral("?"));
    }
  }

  feed_->Finish();
  Button1->setText(Tr(texts::kGenerer));
  log_.reset();
  if (temporary) platform::RemoveFile(in.temporary_format);
  QGuiApplication::restoreOverrideCursor();
  SetRunControlsEnabled(true);
  run_progress_->setVisible(false);
  running_ = false;
  UpdateOpenButtons();
  // The preview draws the run's models with the textures the run found.
  Results()->Preview().SetTextures(outcome ? outcome->textures : nullptr);
  Results()->FinishRun(outcome ? outcome->results : std::vector<driver::ModelOutcome>());
  if (outcome) ShowRunOutcome(*outcome);
  if (!failure.isEmpty()) ShowMessage(failure);
  if (thumbnails_ && thumbnails_->failed > 0) ShowMessage(ThumbnailFailuresText(*thumbnails_));
  thumbnails_.reset();
}

// The summary under the controls; the results window in front when a model was not measured. A
// run that ended early says why in a message box, and the status text it left (the last
// "Processing" or "Checking") goes: it would read as the run's state.
void TForm1::ShowRunOutcome(const driver::RunOutcome& outcome) {
  const QString summary = texts::RunSummary(outcome);
  run_summary_->SetText(summary);
  run_summary_->setVisible(true);
  GrowToFit();
  // An ending before the first model (a registry in use, say) explains itself in its box.
  const auto& results = outcome.results;
  const bool reached = std::any_of(results.begin(), results.end(), [](const auto& m) {
    return m.fate != driver::Fate::kNotReached;
  });
  if (reached && std::any_of(results.begin(), results.end(), IsProblem)) ShowResults();
  if (!driver::EndedEarly(outcome.end)) return;
  SetStatusText(1, std::string());
  ShowMessage(texts::EndingMessage(outcome));
}

void TForm1::Button2Click() {
  if (!GetFromWeb_->isChecked() && dialog_list_flag_) {
    OpenDialog1->setDefaultSuffix(QStringLiteral("zip"));
    SetDialogFileName(*OpenDialog1, QStringLiteral("*.zip"));
    SelectFilter(*OpenDialog1, kZipFilter);
    dialog_list_flag_ = false;
  } else if (GetFromWeb_->isChecked() && !dialog_list_flag_) {
    OpenDialog1->setDefaultSuffix(QStringLiteral("txt"));
    SetDialogFileName(*OpenDialog1, QStringLiteral("*.txt"));
    SelectFilter(*OpenDialog1, kListFilter);
    dialog_list_flag_ = true;
  }
  // The box holds this mode's own text (each mode keeps its own).
  StartDialogAt(*OpenDialog1, *RwxFileEdit, true);
  AcceptTypedModelNames();
  const std::optional<QStringList> chosen = ExecDialog(*OpenDialog1);
  if (!chosen || chosen->isEmpty()) return;
  std::vector<std::string> names;
  for (const QString& name : *chosen) names.push_back(ToStd(name));
  RwxFileEdit->setText(FromStd(ModelsTextForChoice(names)));
}

void TForm1::StartDialogAt(QFileDialog& dialog, const QLineEdit& box, bool take_name) {
  const DialogStart start =
      DialogStartFor(ToStd(box.text()), platform::CurrentDirectory().value_or(std::string()));
  if (!start.folder.empty()) dialog.setDirectory(FromStd(start.folder));
  if (take_name && !start.name.empty()) SetDialogFileName(dialog, FromStd(start.name));
}

// The models dialog takes any typed text, as the models box does (a pattern such as "*.zip", a
// name still to come), and still lets several listed files be chosen: it asks for existing files
// only while the typed text names one. Qt's own dialog only; a desktop's dialog keeps its rules.
void TForm1::AcceptTypedModelNames() {
  if (typed_names_watched_) return;
  auto* typed = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (typed == nullptr) return;
  typed_names_watched_ = true;
  connect(typed, &QLineEdit::textChanged, this, [this](const QString& text) {
    const bool exist = TypedNamesExist(ToStd(OpenDialog1->directory().absolutePath()), ToStd(text));
    const QFileDialog::FileMode mode = exist ? QFileDialog::ExistingFiles : QFileDialog::AnyFile;
    if (OpenDialog1->fileMode() != mode) OpenDialog1->setFileMode(mode);
  });
}

void TForm1::OpenDialog1TypeChange(const QString& filter) {
  static const char* const kNames[] = {"*.rwx", "*.cob", "*.zip", "*.*"};
  static const char* const kSuffixes[] = {"rwx", "cob", "zip", ""};
  const int index = OpenDialog1->nameFilters().indexOf(filter);  // from 0
  if (index < 0 || index >= 4) return;                           // the list filter changes nothing
  SetDialogFileName(*OpenDialog1, QString::fromLatin1(kNames[index]));
  OpenDialog1->setDefaultSuffix(QString::fromLatin1(kSuffixes[index]));
}

void TForm1::Button3Click() {
  // Appending never destroys the old registry, so only a new one asks before overwriting.
  SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, CheckBox1->isChecked());
  StartDialogAt(*SaveDialog1, *RegFileEdit, true);
  const std::optional<QStringList> chosen = ExecDialog(*SaveDialog1);
  if (chosen && !chosen->isEmpty()) RegFileEdit->setText(chosen->front());
}

void TForm1::Button4Click() {
  SaveDialog2->setOption(QFileDialog::DontConfirmOverwrite, CheckBox2->isChecked());
  StartDialogAt(*SaveDialog2, *LogFileEdit, true);
  const std::optional<QStringList> chosen = ExecDialog(*SaveDialog2);
  if (chosen && !chosen->isEmpty()) LogFileEdit->setText(chosen->front());
}

void TForm1::Button5Click() {
  StartDialogAt(*OpenDialog2, *FormatFile, true);
  const std::optional<QStringList> chosen = ExecDialog(*OpenDialog2);
  if (chosen && !chosen->isEmpty()) FormatFile->setText(chosen->front());
}

void TForm1::TexturesButtonClick() {
  // A box that names a folder opens it, rather than the folder around it.
  if (platform::IsDirectory(ToStd(TexturesEdit->text()))) {
    TexturesDialog->setDirectory(TexturesEdit->text());
  } else {
    StartDialogAt(*TexturesDialog, *TexturesEdit, false);
  }
  const std::optional<QStringList> chosen = ExecDialog(*TexturesDialog);
  if (chosen && !chosen->isEmpty()) TexturesEdit->setText(chosen->front());
}

std::string TForm1::TexturesFolder() const { return ToStd(TexturesEdit->text()); }

void TForm1::GetFromWebClick() {
  const bool web = GetFromWeb_->isChecked();
  // Each mode keeps its models box: the list file never stays behind as a pattern, nor the
  // pattern as a list file.
  if (web != models_web_) {
    (models_web_ ? web_list_ : file_models_) = RwxFileEdit->text();
    RwxFileEdit->setText(web ? web_list_ : file_models_);
    models_web_ = web;
  }
  if (web) {
    Button2->setText(Tr(texts::kListeDeFichier));
    Label7->setVisible(false);
    Label2->setVisible(true);
    Label1->setText(Tr(texts::kListeDeFichier));
    for (QWidget* w : {static_cast<QWidget*>(UrlEdit), static_cast<QWidget*>(ItIsThePropfile),
                       static_cast<QWidget*>(ConnectFix), static_cast<QWidget*>(ReuseWeb),
                       static_cast<QWidget*>(ProxyLabel), static_cast<QWidget*>(ProxyEdit)}) {
      w->setVisible(true);
    }
    GrowToFit();
    return;
  }
  Button2->setText(Tr(texts::kDossierDesObjets));
  Label7->setVisible(true);
  Label1->setText(Tr(texts::kLabel1));
  for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                     static_cast<QWidget*>(Label11), static_cast<QWidget*>(UrlEdit),
                     static_cast<QWidget*>(Label2), static_cast<QWidget*>(ItIsThePropfile),
                     static_cast<QWidget*>(ConnectFix), static_cast<QWidget*>(ReuseWeb),
                     static_cast<QWidget*>(UseReferer), static_cast<QWidget*>(UserAgentEdit),
                     static_cast<QWidget*>(RefererEdit), static_cast<QWidget*>(RefererWorldEdit),
                     static_cast<QWidget*>(ProxyLabel), static_cast<QWidget*>(ProxyEdit)}) {
    w->setVisible(false);
  }
}

QString TForm1::PanelText(int panel) const {
  return panel == 0 || panel == 1 ? status_panels_[panel]->Text() : QString();
}

QString TForm1::PanelShownText(int panel) const {
  return panel == 0 || panel == 1 ? status_panels_[panel]->Shown() : QString();
}

QString TForm1::SummaryText() const { return run_summary_->Text(); }

ResultsWindow* TForm1::Results() {
  if (results_window_ == nullptr) {
    results_window_ = new ResultsWindow(this);
    results_window_->ApplyLayout(results_layout_);
    // The preview reads a model as a run would: with the password of the box, and rwxsmith
    // where the runs find it.
    results_window_->Preview().SetPasswordSource([this] { return ToStd(PassEdit->text()); });
    results_window_->Preview().SetProgramDirectory(ProgramDirectory());
  }
  return results_window_;
}

void TForm1::ShowResults() { Results()->ShowInFront(); }

void TForm1::ModelCommitted(const driver::ModelOutcome& outcome) { feed_->Commit(outcome); }

// The two buttons open what a run wrote; a file that is not there (yet) has nothing to open.
void TForm1::UpdateOpenButtons() {
  open_registry_button_->setEnabled(platform::IsRegularFile(ToStd(RegFileEdit->text())));
  open_log_button_->setEnabled(platform::IsRegularFile(ToStd(LogFileEdit->text())));
}

void TForm1::OpenResult(const QLineEdit& box) {
  UpdateOpenButtons();  // the file may have gone since
  if (!platform::IsRegularFile(ToStd(box.text()))) return;
  if (!OpenDocument(box.text())) ShowMessage(Tr(texts::kCannotOpenDocument).arg(box.text()));
}

// Room for what the window shows now (the web rows, a summary on several lines), within the
// screen: it grows, and never shrinks on its own.
void TForm1::GrowToFit() {
  const QSize wanted = size().expandedTo(sizeHint());
  if (wanted == size()) return;
  resize(wanted);
  FitOnScreen();
}

// At start-up: on a screen, also when the one it was saved on is gone, and no larger than it (the
// template box gives way first).
void TForm1::FitOnScreen() {
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens << screen->availableGeometry();
  const QRect place =
      FitWithFrame(QRect(pos(), size()), FrameMargins(*this), screens, minimumSizeHint());
  resize(place.size());
  move(place.topLeft());
}

platform::TextFile& TForm1::Log() { return *log_; }
bool TForm1::ErrorsOnly() const { return ErrorsOnly_->isChecked(); }
bool TForm1::CobDebug() const { return CobDebug_->isChecked(); }
bool TForm1::SkipHugeObjects() const { return CheckBox3->isChecked(); }
bool TForm1::HandleFacers() const { return HandleFacers_->isChecked(); }
bool TForm1::NonCentered() const { return NonCentered_->isChecked(); }
bool TForm1::OverSized() const { return OverSized_->isChecked(); }
std::string TForm1::ProgramDirectory() const { return platform::ProgramDirectory(); }
std::string TForm1::WorkDirectory() const { return platform::WorkDirectory(); }

void TForm1::SetStatusText(int panel, const std::string& text) {
  feed_->SetStatusText(panel, text);
}

// During a run, a round at most every kRunFeedMs: a round per model repaints for every model.
void TForm1::ProcessMessages() {
  if (feed_->RoundDue()) QCoreApplication::processEvents();
}

bool TForm1::GetFromWeb() const { return GetFromWeb_->isChecked(); }

web::WebControls TForm1::Controls() const {
  web::WebControls c;
  c.url = ToStd(UrlEdit->text());
  c.list_file = ToStd(RwxFileEdit->text());
  c.propdump = ItIsThePropfile->isChecked();
  c.reuse_web = ReuseWeb->isChecked();
  c.connect_fix = ConnectFix->isChecked();
  c.use_referer = UseReferer->isChecked();
  c.user_agent = ToStd(UserAgentEdit->text());
  c.referer = ToStd(RefererEdit->text());
  c.referer_world = ToStd(RefererWorldEdit->text());
  c.ca_file = ca_file_;
  c.proxy = ProxyOfText(ToStd(ProxyEdit->text()));
  c.log_file = ToStd(LogFileEdit->text());
  c.registry_file = ToStd(RegFileEdit->text());
  return c;
}

void TForm1::ShowStatusNow(int panel, const std::string& text) {
  SetStatusText(panel, text);
  feed_->HandOver();
  StatusBar1->repaint();
}

void TForm1::HTTPConnect() { SetStatusText(0, "Connected"); }

void TForm1::HTTPConnectionFailed() { prompts_.ConnectionFailed(*this, http_->Host); }

// Modal: the run waits until the box is closed.
void TForm1::ShowConnectionFailed() { ShowMessage(Tr(texts::kConnectionFailed)); }

std::optional<std::string> TForm1::AskForOtherHost() {
  const std::optional<QString> host =
      AskText(Tr(texts::kInvalidHostTitle), Tr(texts::kInvalidHostPrompt));
  if (!host) return std::nullopt;
  return ToStd(*host);
}

void TForm1::HTTPDisconnect() { SetStatusText(0, "Disconnected"); }
void TForm1::HTTPFailure(http::CmdType cmd) { SetStatusText(0, web::FailureText(cmd)); }
void TForm1::HTTPHostResolved() { SetStatusText(0, "Host Resolved"); }

void TForm1::HTTPInvalidHost(bool& handled) {
  const std::optional<std::string> host = prompts_.OtherHost(*this, http_->Host);
  if (!host) return;  // the request fails
  http_->Host = *host;
  handled = true;
}

void TForm1::HTTPPacketRecvd() { SetStatusText(0, web::ReceivedText(*http_)); }
void TForm1::HTTPPacketSent() { SetStatusText(0, web::SentText(*http_)); }
void TForm1::HTTPStatus(const std::string& status) { SetStatusText(0, status); }
void TForm1::HTTPSuccess(http::CmdType cmd) { SetStatusText(0, web::SuccessText(cmd)); }
void TForm1::HTTPAboutToSend() { web::ApplyReferer(*http_, Controls()); }

void TForm1::HTTPRedirect(bool& handled) {
  handled = false;  // the component follows the redirection
  SetStatusText(0, "Redirected");
}

// The bar counts the results committed, so in web mode an entry that gave no model (a missing
// one, say) is done too and the bar ends at the list's length: "12 / 50".
void TForm1::ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) {
  (void)done;
  (void)found_name;  // panel 1 names the model already
  feed_->SetTotal(total);
}

}  // namespace ui
