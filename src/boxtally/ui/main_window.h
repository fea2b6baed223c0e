// TForm1, the one window of boxtally: the settings' controls, the run button that calls BatchMain
// on the window's own thread, the RunHost the run reads its switches from, and in web mode the
// web fetch's host with the HTTP component and its event handlers.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/http/kest_http.h"
#include "boxtally/ui/append_question.h"
#include "boxtally/ui/results_window.h"
#include "boxtally/ui/run_feed.h"
#include "boxtally/ui/screen_fit.h"
#include "boxtally/ui/settings.h"
#include "boxtally/ui/summary_line.h"
#include "boxtally/ui/thumbnail_box.h"
#include "boxtally/web/web_fetch.h"
#include "platform/text_file.h"

class QApplication;
class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace ui {

inline constexpr int kHintShowMs = 6000;  // how long a hint stays visible

// After the QApplication exists: locale-free numbers (Qt took LC_NUMERIC from the desktop, and a
// French one would make printf write "1,50"), Qt's own French texts for its dialogs ("Annuler",
// "Enregistrer"; the window is French whatever the desktop's language), and the program's name
// and icon.
void PrepareApplication(QApplication& app);

class StatusPanel;

class TForm1 : public QMainWindow, public driver::RunHost, public web::WebHost {
  Q_OBJECT

 public:
  // Reads the settings from `settings_path` (missing: the defaults); closing writes them back.
  explicit TForm1(std::string settings_path, QWidget* parent = nullptr);
  ~TForm1() override;

  // The controls, under the names the design gives them (also their object names).
  QCheckBox* GetFromWeb_;
  QLabel* Label7;
  QLabel* Label2;
  QLineEdit* UrlEdit;
  QCheckBox* ReuseWeb;
  QCheckBox* ItIsThePropfile;
  QCheckBox* ConnectFix;
  QCheckBox* UseReferer;
  QLabel* Label11;
  QLineEdit* RefererWorldEdit;
  QLabel* Label3;
  QLineEdit* UserAgentEdit;
  QLabel* Label4;
  QLineEdit* RefererEdit;
  QLabel* ProxyLabel;
  QLineEdit* ProxyEdit;
  QPushButton* Button2;
  QLabel* Label1;
  QLineEdit* RwxFileEdit;
  QPushButton* Button3;
  QLineEdit* RegFileEdit;
  QCheckBox* CheckBox1;
  QPushButton* Button4;
  QLineEdit* LogFileEdit;
  QCheckBox* CheckBox2;
  QCheckBox* ErrorsOnly_;
  QPushButton* TexturesButton;
  QLineEdit* TexturesEdit;
  QPushButton* Button5;
  QLineEdit* FormatFile;
  QCheckBox* CheckBox3;
  QCheckBox* HandleFacers_;
  QCheckBox* NonCentered_;
  QCheckBox* OverSized_;
  QCheckBox* CobDebug_;
  QLabel* Label8;
  QLabel* Label6;
  QPlainTextEdit* MyInput;
  QLabel* Label5;
  QLineEdit* PassEdit;
  QPushButton* Button1;
  QStatusBar* StatusBar1;
  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;
  QFileDialog* SaveDialog2;
  QFileDialog* OpenDialog2;
  QFileDialog* TexturesDialog;

  // Event handlers.
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void TexturesButtonClick();
  void GetFromWebClick();
  void UseRefererClick() {}
  void OpenDialog1TypeChange(const QString& filter);

  // Handlers of the HTTP component's events: texts in panel 0 of the status bar, and the two
  // dialogs of a connection that fails and of a host name that cannot be found.
  void HTTPConnect();
  void HTTPConnectionFailed();
  void HTTPDisconnect();
  void HTTPFailure(http::CmdType cmd);
  void HTTPHostResolved();
  void HTTPInvalidHost(bool& handled);
  void HTTPPacketRecvd();
  void HTTPPacketSent();
  void HTTPStatus(const std::string& status);
  void HTTPSuccess(http::CmdType cmd);
  void HTTPAboutToSend();
  void HTTPRedirect(bool& handled);

  bool Running() const { return running_; }
  QString PanelText(int panel) const;
  // What the panel shows of its text in its width: the text, or the text elided with "…".
  QString PanelShownText(int panel) const;
  // The summary of the last run, under the controls (empty before the first run).
  QString SummaryText() const;
  QProgressBar* RunProgress() const { return run_progress_; }
  // The results window (made at the first run or the first press of "Résultats").
  ResultsWindow* Results();
  // "Résultats" and Ctrl+R: the results window, in front.
  void ShowResults();

  // RunHost.
  platform::TextFile& Log() override;
  bool ErrorsOnly() const override;
  bool CobDebug() const override;
  bool SkipHugeObjects() const override;
  bool HandleFacers() const override;
  bool NonCentered() const override;
  bool OverSized() const override;
  bool StopRequested() const override { return stop_requested_; }
  void ClearStopRequest() override { stop_requested_ = false; }
  std::string ProgramDirectory() const override;
  std::string WorkDirectory() const override;
  void SetStatusText(int panel, const std::string& text) override;
  void ProcessMessages() override;
  void ShowProgress(std::size_t done, std::size_t total, const std::string& found_name) override;
  bool GetFromWeb() const override;
  web::WebHost* WebFetch() override { return this; }
  void ModelCommitted(const driver::ModelOutcome& outcome) override;
  std::string TexturesFolder() const override;
  driver::ThumbnailSet* Thumbnails() override { return thumbnails_.get(); }

  // WebHost: the controls of web mode, the HTTP component, and the seen-name set, which lives
  // as long as the window.
  web::WebControls Controls() const override;
  http::TKestHTTP& Http() override { return *http_; }
  web::SeenNames& Seen() override { return seen_names_; }
  web::ListFile& List() override { return list_file_; }
  std::size_t Downloads() const override { return static_cast<std::size_t>(downloads_); }
  void ShowConnectionFailed() override;
  std::optional<std::string> AskForOtherHost() override;
  void ShowStatusNow(int panel, const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Once the window manager has framed the window, the frame fits the screen too.
  void moveEvent(QMoveEvent* event) override;
  // Ctrl+Tab and Ctrl+Shift+Tab leave the template box, where Tab types a tab.
  bool eventFilter(QObject* watched, QEvent* event) override;

  // The modal parts, one place each, so the tests can stand in for the user.
  virtual void ShowMessage(const QString& text);
  // The chosen file names, or nullopt when the dialog was cancelled.
  virtual std::optional<QStringList> ExecDialog(QFileDialog& dialog);
  // An input box with one empty text field; nullopt when it was cancelled.
  virtual std::optional<QString> AskText(const QString& title, const QString& prompt);
  // Opens a file in the desktop's program for it; false when none could be started.
  virtual bool OpenDocument(const QString& path);
  // Before appending `models` models the registry holds lines of already.
  virtual AppendAnswer AskAppend(std::size_t models);

 private:
  void CreateControls();
  void CreateDialogs();
  void LayOutControls();
  void SetTabOrder();
  void ApplySettings(const Settings& settings);
  Settings CollectSettings() const;
  void SetRunControlsEnabled(bool enabled);
  void RunBatch();
  void ShowRunOutcome(const driver::RunOutcome& outcome);
  QString FieldName(int field) const;
  void FitOnScreen();
  void GrowToFit();
  void StartDialogAt(QFileDialog& dialog, const QLineEdit& box, bool take_name);
  void AcceptTypedModelNames();
  void UpdateOpenButtons();
  void OpenResult(const QLineEdit& box);

  std::string settings_path_;
  std::string ca_file_;       // the setting CaFile, which has no control
  int downloads_ = 1;         // the setting Downloads, which has no control
  web::HostPrompts prompts_;  // the failed requests' dialogs of the run in progress
  platform::TextFilePtr log_;
  bool running_ = false;
  bool stop_requested_ = false;
  bool close_pending_ = false;  // closed during a run: close once the run has returned
  bool dialog_list_flag_ = false;
  bool focus_set_ = false;
  bool typed_names_watched_ = false;
  StatusPanel* status_panels_[2] = {nullptr, nullptr};
  SummaryLine* run_summary_ = nullptr;
  QPushButton* results_button_ = nullptr;
  ResultsWindow* results_window_ = nullptr;
  ResultsLayout results_layout_;  // from the settings until the results window exists
  // Each mode's models box; the box shows the one of `models_web_`'s mode.
  QString file_models_;
  QString web_list_;
  bool models_web_ = false;
  bool frame_fitted_ = false;  // fitted again once the window manager framed the window
  QProgressBar* run_progress_ = nullptr;
  RunFeed* feed_ = nullptr;  // what the run tells of its models, for the status bar and results
  QPushButton* open_registry_button_ = nullptr;
  QPushButton* open_log_button_ = nullptr;
  web::SeenNames seen_names_;
  web::ListFile list_file_;
  class HttpHandlers;
  std::unique_ptr<HttpHandlers> http_handlers_;
  std::unique_ptr<http::TKestHTTP> http_;  // the component the design calls HTTP
  ThumbnailBox* thumbnail_box_ = nullptr;  // "Vignettes"
  std::unique_ptr<driver::ThumbnailSet> thumbnails_;  // the run's pictures, while it runs
};

}  // namespace ui
