// A run started from the main window: the checks before it starts, the controls it locks, the
// run itself on the window's thread, and what the window shows when it ends.
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "boxtally/driver/format_check.h"
#include "boxtally/driver/registry_overlap.h"
#include "boxtally/driver/run_arguments.h"
#include "boxtally/driver/run_report.h"
#include "boxtally/ui/http_events.h"
#include "boxtally/ui/main_window.h"
#include "boxtally/ui/run_launch.h"
#include "boxtally/ui/textures_box.h"
#include "boxtally/ui/web_settings.h"
#include "boxtally/ui/window_texts.h"
#include "platform/paths.h"

namespace ui {

namespace {
QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }
QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }
}  // namespace

// The controls a run locks, in the order they are disabled and enabled again. The run button,
// errors_only_box_ (read at every model), propdump_box_ and connect_fix_box_ stay usable.
void MainWindow::SetRunControlsEnabled(bool enabled) {
  const std::vector<QWidget*> locked = {
      models_button_,     registry_button_,     log_button_,     format_button_,
      template_edit_,     append_registry_box_, append_log_box_, skip_huge_box_,
      handle_facers_box_, non_centered_box_,    over_sized_box_, web_mode_box_,
      models_edit_,       registry_edit_,       log_edit_,       url_edit_,
      format_file_edit_,  reuse_web_box_,       password_edit_,  proxy_edit_,
      textures_button_,   textures_edit_,       thumbnail_box_};
  for (QWidget* w : locked) w->setEnabled(enabled);
}

QString MainWindow::FieldName(int field) const {
  switch (static_cast<RunField>(field)) {
    case RunField::kModels:
      return models_label_->text();
    case RunField::kFormatFile:
      return format_button_->text();
    case RunField::kPassword:
      return password_label_->text();
    case RunField::kRegistry:
      return registry_button_->text();
    case RunField::kNone:
      break;
  }
  return {};
}

void MainWindow::StartOrStopRun() {
  if (running_) {
    // A press while the driver lets the window process messages: stop after this model.
    stop_requested_ = true;
    return;
  }
  stop_requested_ = false;
  MeasureModels();
  if (close_pending_) close();
}

bool MainWindow::ReadyToRun(RunInputs& in, RunArguments& run) {
  if (run.too_long != RunField::kNone) {
    ShowMessage(Tr(texts::kArgumentTooLong).arg(FieldName(static_cast<int>(run.too_long))));
    return false;
  }
  const web::WebControls web_controls = Controls();
  const std::vector<std::string> run_files{
      in.format_file, in.registry, ToStd(log_edit_->text()),
      GetFromWeb() ? in.models : std::string(),
      GetFromWeb() ? web::ValidatorFilePath(in.models) : std::string()};
  if (const auto same = driver::SameRunFiles(run_files)) {
    QString text =
        Tr(texts::kSameFiles)
            .arg(Tr(texts::kRunFileRoles[same->first]), Tr(texts::kRunFileRoles[same->second]),
                 FromStd(run_files[same->second]));
    text[0] = text[0].toUpper();
    ShowMessage(text);
    return false;
  }
  const std::string with_control = web::RefererTextWithControl(web_controls);
  if (GetFromWeb() && web_controls.use_referer && !with_control.empty()) {
    ShowMessage(Tr(texts::kControlInRefererText).arg(FromStd(with_control)));
    return false;
  }
  if (const QString problem = GetFromWeb() ? WebSettingsProblem(web_controls) : QString();
      !problem.isEmpty()) {
    ShowMessage(problem);
    return false;
  }
  if (const QString problem = TexturesFolderProblem(textures_edit_->text()); !problem.isEmpty()) {
    ShowMessage(problem);
    return false;
  }
  // A second run over the same models would give each of them twice: the user says what to do.
  const std::string template_text = in.format_file.empty()
                                        ? ToStd(template_edit_->toPlainText())
                                        : driver::ReadTemplate(in.format_file).value_or("");
  if (const std::size_t already = driver::ModelsAlreadyInRegistry(
          run.args, template_text, GetFromWeb(), propdump_box_->isChecked())) {
    const AppendAnswer answer = AskAppend(already);
    if (answer == AppendAnswer::kCancel) return false;
    in.append_registry = answer == AppendAnswer::kAppend;
    run = BuildRunArguments(in);
  }
  ThumbnailStart pictures = StartThumbnails(thumbnail_box_->Folder(), run_files);
  if (!pictures.problem.isEmpty()) {
    ShowMessage(pictures.problem);
    return false;
  }
  thumbnails_ = std::move(pictures.set);
  return true;
}

void MainWindow::MeasureModels() {
  const std::string work_dir = platform::WorkDirectory();
  if (work_dir.empty()) {
    ShowMessage(Tr(texts::kNoWorkFolder).arg(FromStd(platform::WorkDirectoryError())));
    return;
  }
  RunInputs in;
  in.models = ToStd(models_edit_->text());
  in.format_file = ToStd(format_file_edit_->text());
  in.temporary_format = work_dir + kTemporaryFormatFile;
  in.password = ToStd(password_edit_->text());
  in.registry = ToStd(registry_edit_->text());
  in.append_registry = append_registry_box_->isChecked();
  RunArguments run = BuildRunArguments(in);
  if (!ReadyToRun(in, run)) return;

  running_ = true;
  http_events_->StartRun();
  SetRunControlsEnabled(false);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  run_button_->setText(Tr(texts::kStop));
  // Nothing of an earlier run may stand for this one ("Done!" above all).
  SetStatusText(0, std::string());
  SetStatusText(1, std::string());
  run_summary_->SetText(QString());
  run_summary_->setVisible(false);
  Results()->StartRun(log_edit_->text());
  results_button_->setEnabled(true);
  run_progress_->setRange(0, 0);  // busy until the search has counted the models
  run_progress_->setVisible(true);
  feed_->Start();

  QString failure;
  std::optional<driver::RunOutcome> outcome;
  const bool temporary = in.format_file.empty();
  if (temporary &&
      !WriteTemporaryFormat(in.temporary_format, ToStd(template_edit_->toPlainText()))) {
    failure = Tr(texts::kCannotWriteFormat).arg(FromStd(in.temporary_format));
  }
  if (failure.isEmpty()) {
    bool locked = false;
    log_.reset(platform::OpenLogFile(
        ToStd(log_edit_->text()),
        append_log_box_->isChecked() ? platform::OpenMode::kAppend : platform::OpenMode::kCreate,
        &locked));
    if (!log_)
      failure = Tr(locked ? texts::kLogLocked : texts::kCannotOpenLog).arg(log_edit_->text());
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
  run_button_->setText(Tr(texts::kGenerer));
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
void MainWindow::ShowRunOutcome(const driver::RunOutcome& outcome) {
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

}  // namespace ui
