// MainWindow, the one window of boxtally: the settings' controls, the run button that calls
// BatchMain on the window's own thread, the RunHost the run reads its switches from, and in web
// mode the web fetch's host with its HTTP component. main_window.cpp makes the controls and
// answers them; main_window_layout.cpp places them, main_window_settings.cpp fills them from the
// settings file and back, main_window_run.cpp runs. The browse dialogs, the prompts, the HTTP
// component's events, the status panels, the template box and the guide have files of their own.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

#include "boxtally/driver/batch_main.h"
#include "boxtally/driver/run_host.h"
#include "boxtally/http/kest_http.h"
#include "boxtally/ui/prompts.h"
#include "boxtally/ui/results_window.h"
#include "boxtally/ui/run_feed.h"
#include "boxtally/ui/settings.h"
#include "boxtally/ui/summary_line.h"
#include "boxtally/ui/thumbnail_box.h"
#include "boxtally/web/web_fetch.h"
#include "platform/text_file.h"

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

class HelpWindow;
class StatusPanel;
class WindowHttpEvents;
struct RunInputs;
struct RunArguments;

class MainWindow : public QMainWindow, public driver::RunHost, public web::WebHost {
  Q_OBJECT

 public:
  // Reads the settings from `settings_path` (missing: the defaults); closing writes them back.
  explicit MainWindow(std::string settings_path, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The controls; their object names are the same in UpperCamelCase (run_button_: RunButton).
  // Web mode: its switch, the web folder's address and options, and the settings the window
  // never shows (use_referer_box_ to cob_debug_box_ keep what the settings file says).
  QCheckBox* web_mode_box_;
  QLabel* model_kinds_label_;  // what the models may be; file mode only
  QLabel* url_label_;
  QLineEdit* url_edit_;
  QCheckBox* reuse_web_box_;
  QCheckBox* propdump_box_;
  QCheckBox* connect_fix_box_;
  QCheckBox* use_referer_box_;
  QLabel* referer_world_label_;
  QLineEdit* referer_world_edit_;
  QLabel* user_agent_label_;
  QLineEdit* user_agent_edit_;
  QLabel* referer_label_;
  QLineEdit* referer_edit_;
  QLabel* proxy_label_;
  QLineEdit* proxy_edit_;
  // The models (a pattern, or the list file in web mode), the registry and the log.
  QPushButton* models_button_;
  QLabel* models_label_;
  QLineEdit* models_edit_;
  QPushButton* registry_button_;
  QLineEdit* registry_edit_;
  QCheckBox* append_registry_box_;
  QPushButton* log_button_;
  QLineEdit* log_edit_;
  QCheckBox* append_log_box_;
  QCheckBox* errors_only_box_;
  // Where the textures are, the format file, the switches of the measurement, the template.
  QPushButton* textures_button_;
  QLineEdit* textures_edit_;
  QPushButton* format_button_;
  QLineEdit* format_file_edit_;
  QCheckBox* skip_huge_box_;
  QCheckBox* handle_facers_box_;
  QCheckBox* non_centered_box_;
  QCheckBox* over_sized_box_;
  QCheckBox* cob_debug_box_;
  QLabel* if_omitted_label_;
  QLabel* template_label_;
  QPlainTextEdit* template_edit_;
  // The archives' password, the run button (Générer, and S T O P !!! during a run).
  QLabel* password_label_;
  QLineEdit* password_edit_;
  QPushButton* run_button_;
  QStatusBar* status_bar_;
  QFileDialog* models_dialog_;
  QFileDialog* registry_dialog_;
  QFileDialog* log_dialog_;
  QFileDialog* format_dialog_;
  QFileDialog* textures_dialog_;

  // The run button: starts a run, or during one asks it to stop after the model in progress.
  void StartOrStopRun();
  // The browse buttons: each dialog starts at its box's text, and a choice replaces that text.
  void ChooseModels();
  void ChooseRegistry();
  void ChooseLog();
  void ChooseFormat();
  void ChooseTextures();
  // The web mode box, ticked or not: captions, the web controls, and each mode's models box.
  void SwitchWebMode();
  // A filter chosen in the models dialog names its files and suffix (the list filter nothing).
  void ModelsFilterChanged(const QString& filter);

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
  // "Aide" and F1: the guide, in front (made at the first press).
  HelpWindow* Help();
  void ShowHelp();

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

  // The modal parts, one place each, so the tests can stand in for the user (see prompts.h).
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
  void CreateStatusBar();
  void ConnectControls();
  // main_window_layout.cpp: where each control stands, the tab order, the window's size.
  void LayOutControls();
  void SetTabOrder();
  void FitOnScreen();
  void GrowToFit();
  // main_window_settings.cpp: the controls from the settings file's values, and back.
  void ApplySettings(const Settings& settings);
  Settings CollectSettings() const;

  // main_window_run.cpp: the checks before a run, the run, what the window shows after it.
  void SetRunControlsEnabled(bool enabled);
  // The checks before a run; false (with a message shown, or the user's Cancel) when it may not
  // start. They may change `inputs` and `run` (the append question) and make the thumbnails.
  bool ReadyToRun(RunInputs& inputs, RunArguments& run);
  void MeasureModels();
  void ShowRunOutcome(const driver::RunOutcome& outcome);
  QString FieldName(int field) const;
  void UpdateOpenButtons();
  // "Ouvrir la registry", "Ouvrir le log": the file the box names, in the desktop's program.
  void OpenWrittenFile(const QLineEdit& box);

  std::string settings_path_;
  std::string ca_file_;  // the setting CaFile, which has no control
  int downloads_ = 1;    // the setting Downloads, which has no control
  platform::TextFilePtr log_;
  bool running_ = false;
  bool stop_requested_ = false;
  bool close_pending_ = false;  // closed during a run: close once the run has returned
  bool focus_set_ = false;
  StatusPanel* status_panels_[2] = {nullptr, nullptr};
  SummaryLine* run_summary_ = nullptr;
  QPushButton* results_button_ = nullptr;
  QPushButton* help_button_ = nullptr;
  ResultsWindow* results_window_ = nullptr;
  HelpWindow* help_window_ = nullptr;
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
  std::unique_ptr<WindowHttpEvents> http_events_;
  std::unique_ptr<http::TKestHTTP> http_;  // the component the design calls HTTP
  ThumbnailBox* thumbnail_box_ = nullptr;  // "Vignettes"
  std::unique_ptr<driver::ThumbnailSet> thumbnails_;  // the run's pictures, while it runs
};

}  // namespace ui
