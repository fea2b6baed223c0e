// The results window: what became of every model of the last run, one row each, filled as the
// run commits its models. A separate, resizable window that never blocks the main one.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "boxtally/driver/model_results.h"
#include "boxtally/ui/preview_pane.h"
#include "boxtally/ui/results_model.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QUrl;

namespace ui {

inline constexpr qint64 kMaxLogLinesShown = 1 << 20;  // bytes of a model's log lines shown

// The window's size and column widths, as the settings file keeps them.
struct ResultsLayout {
  int width = 0;  // 0: the window's own first size
  int height = 0;
  // Widths in pixels of the columns the user sized, from the left; 0 (or missing): fitted to the
  // first rows of each run.
  std::vector<int> columns;
  // Where the user put the window (its frame's top left corner); none: beside the main window.
  std::optional<QPoint> position;
};

class ResultsWindow : public QWidget {
 public:
  explicit ResultsWindow(QWidget* parent = nullptr);
  ~ResultsWindow() override;

  // A new run: the table empties and every row will show (the filter of the last run goes); the
  // models' lines will be read from `log_path`.
  void StartRun(const QString& log_path);
  // Models as the run commits them, in a batch (see run_feed.h): one insertion into the table.
  void Add(std::vector<driver::ModelOutcome> batch);
  // The run's end: every row in the table, as the run's own list has them.
  void FinishRun(const std::vector<driver::ModelOutcome>& results);

  void ApplyLayout(const ResultsLayout& layout);
  ResultsLayout CollectLayout() const;

  // Shows the window (in front, on a screen) with the keyboard in the table. The first time, it
  // goes where the user put it last, else beside the main window (see results_place.h).
  void ShowInFront();

  ResultsModel& Model() { return *model_; }
  ResultsFilter& Filter() { return *filter_; }
  QTableView* Table() const { return table_; }
  // The splitter that holds the table and, beside it, the preview of the selected model.
  QSplitter* TableSplitter() const { return table_splitter_; }
  PreviewPane& Preview() { return *preview_; }
  // The log lines shown under the table for the current row.
  QString LogLinesText() const;

 protected:
  void moveEvent(QMoveEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The modal and desktop parts, one place each, so the tests can stand in for the user.
  virtual bool OpenFolder(const QUrl& folder);
  virtual std::optional<QString> ChooseExportFile(QFileDialog& dialog);
  virtual void ShowMessage(const QString& text);

 private:
  void CreateControls();
  void SetFirstColumnWidths();
  void FitColumns();
  void LayOutControls();
  void ShowCurrentModel();  // the selected model's log lines and preview; none: nothing
  void ClearFilter();
  void ShowLogLines(const driver::ModelOutcome* m);
  void OpenSourceFolder(int view_row);
  void Export();
  void UpdateCount();
  void Place();

  ResultsModel* model_;
  ResultsFilter* filter_;
  QLineEdit* filter_box_ = nullptr;
  QCheckBox* problems_only_ = nullptr;
  QPushButton* clear_filter_ = nullptr;
  QLabel* count_ = nullptr;
  QTableView* table_ = nullptr;
  QSplitter* table_splitter_ = nullptr;
  QSplitter* log_splitter_ = nullptr;
  QPlainTextEdit* log_lines_ = nullptr;
  PreviewPane* preview_ = nullptr;
  QPushButton* export_button_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QFileDialog* export_dialog_ = nullptr;
  QString log_path_;
  std::array<bool, kResultsColumnCount> hand_sized_{};  // columns whose width the user set
  bool fitting_ = false;                                // the widths set now are the fit's
  bool fit_pending_ = false;  // fitted while hidden: again once the table has its width
  std::optional<std::uint64_t> log_lines_of_;  // the log offset of the model whose lines show
  std::string log_name_;                      // and its name
  bool placed_ = false;
  QPoint placed_at_;                   // where the window was put, to tell a move by the user
  std::optional<QPoint> user_place_;  // where the user put it
};

// The folder to open for a model's source: the folder of a local file, made absolute, or the web
// folder of an http(s) URL. Empty when there is none.
QUrl SourceFolder(const std::string& source);

// The bytes [offset, offset + length) of the file at `path`, at most kMaxLogLinesShown of them;
// nullopt when the file is shorter or cannot be read.
std::optional<QByteArray> ReadFileSlice(const QString& path, std::uint64_t offset,
                                        std::uint32_t length);

}  // namespace ui
