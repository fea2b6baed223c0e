#include "boxtally/ui/results_window.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <utility>

#include "boxtally/ui/desktop_open.h"
#include "boxtally/ui/model_view.h"
#include "boxtally/ui/report_export.h"
#include "boxtally/ui/results_columns.h"
#include "boxtally/ui/results_place.h"
#include "boxtally/ui/screen_fit.h"
#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {
constexpr int kFirstWidth = 1500;  // pixels: the window's first size, no larger than the screen
constexpr int kFirstHeight = 560;
constexpr int kFirstPreviewWidth = 360;  // pixels: the preview's share of the first width
constexpr int kCellPadding = 16;         // pixels beside a cell's text
constexpr int kSortIndicatorWidth = 12;  // pixels beside a column's title
constexpr int kLogLinesHeight = 90;  // pixels: the log box's first height
constexpr int kSmallestColumn = 16;  // pixels: a saved width below it is not a width

QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

// A folder as the user knows it: a path, or the web folder's address.
QString FolderText(const QUrl& folder) {
  return folder.isLocalFile() ? folder.toLocalFile() : folder.toDisplayString();
}
}  // namespace

QUrl SourceFolder(const std::string& source) {
  if (source.empty()) return {};
  const QString text = QString::fromStdString(source);
  const QUrl url(text);
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
    return url.adjusted(QUrl::RemoveFilename | QUrl::RemoveQuery | QUrl::RemoveFragment);
  }
  if (text.contains(QLatin1String("://"))) return {};  // another scheme: nothing to open
  return QUrl::fromLocalFile(QFileInfo(text).absolutePath());
}

std::optional<QByteArray> ReadFileSlice(const QString& path, std::uint64_t offset,
                                        std::uint32_t length) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(file.size());
  if (offset > size || length > size - offset) return std::nullopt;
  if (!file.seek(static_cast<qint64>(offset))) return std::nullopt;
  const QByteArray bytes = file.read(std::min<qint64>(length, kMaxLogLinesShown));
  if (bytes.size() != std::min<qint64>(length, kMaxLogLinesShown)) return std::nullopt;
  return bytes;
}

ResultsWindow::ResultsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(new ResultsModel(this)),
      filter_(new ResultsFilter(model_, this)) {
  setObjectName(QStringLiteral("ResultsWindow"));
  setWindowTitle(Tr(texts::kResults));
  // Closing the main window ends the program even while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  CreateControls();
  LayOutControls();
  resize(kFirstWidth, kFirstHeight);
}

ResultsWindow::~ResultsWindow() = default;

void ResultsWindow::CreateControls() {
  filter_box_ = new QLineEdit(this);
  filter_box_->setObjectName(QStringLiteral("ResultsFilterBox"));
  filter_box_->setPlaceholderText(Tr(texts::kFilterPlaceholder));
  filter_box_->setClearButtonEnabled(true);
  problems_only_ = new QCheckBox(Tr(texts::kProblemsOnly), this);
  problems_only_->setObjectName(QStringLiteral("ProblemsOnly"));
  clear_filter_ = new QPushButton(Tr(texts::kClearFilter), this);
  clear_filter_->setObjectName(QStringLiteral("ClearFilterButton"));
  clear_filter_->setToolTip(Tr(texts::kHintClearFilter));
  clear_filter_->setEnabled(false);
  count_ = new QLabel(this);
  count_->setObjectName(QStringLiteral("ResultsCount"));

  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("ResultsTable"));
  table_->setModel(filter_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  // Tab leaves the table for the next control; moving from cell to cell of a row selected
  // whole showed nothing, and kept the controls after the table out of reach.
  table_->setTabKeyNavigation(false);
  table_->setWordWrap(false);
  table_->setAlternatingRowColors(true);
  // Which of the table and the preview has the keyboard shows at a glance: a frame in the
  // highlight colour, drawn as the preview draws its own.
  table_->setStyleSheet(
      QStringLiteral("QTableView { border: %1px solid transparent; }"
                     "QTableView:focus { border: %1px solid palette(highlight); }")
          .arg(kFocusFrameWidth));
  // Rows of one height and no vertical header: 100,000 rows lay out at once.
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  table_->horizontalHeader()->setStretchLastSection(true);
  SetFirstColumnWidths();
  table_->viewport()->installEventFilter(this);
  // A width the user drags stays, for this run and the next; the last column only stretches.
  connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
    if (!fitting_ && column >= 0 && column < kResultsColumnCount - 1) hand_sized_[column] = true;
  });
  // The registry's order until the user picks a column.
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  table_->setSortingEnabled(true);

  log_lines_ = new QPlainTextEdit(this);
  log_lines_->setObjectName(QStringLiteral("ModelLogLines"));
  log_lines_->setReadOnly(true);
  log_lines_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_lines_->setTabChangesFocus(true);

  preview_ = new PreviewPane(this);

  export_button_ = new QPushButton(Tr(texts::kExport), this);
  export_button_->setObjectName(QStringLiteral("ExportButton"));
  export_button_->setToolTip(Tr(texts::kHintExport));
  close_button_ = new QPushButton(Tr(texts::kClose), this);
  close_button_->setObjectName(QStringLiteral("CloseResultsButton"));

  export_dialog_ = new QFileDialog(this, Tr(texts::kExportDialogTitle));
  export_dialog_->setObjectName(QStringLiteral("ExportDialog"));
  export_dialog_->setAcceptMode(QFileDialog::AcceptSave);
  export_dialog_->setNameFilters(texts::NameFilters(texts::kExportDialogFilter));
  export_dialog_->setDefaultSuffix(QStringLiteral("xlsx"));
  export_dialog_->selectFile(Tr(texts::kExportDialogName));
  // A name typed without its suffix gets the one of the kind chosen.
  connect(export_dialog_, &QFileDialog::filterSelected, this, [this](const QString& filter) {
    export_dialog_->setDefaultSuffix(
        filter.contains(QLatin1String("*.csv")) ? QStringLiteral("csv") : QStringLiteral("xlsx"));
  });

  connect(filter_box_, &QLineEdit::textChanged, this, [this](const QString& text) {
    filter_->SetText(text.trimmed());
    UpdateCount();
  });
  connect(problems_only_, &QCheckBox::toggled, this, [this](bool on) {
    filter_->SetProblemsOnly(on);
    UpdateCount();
  });
  connect(clear_filter_, &QPushButton::clicked, this, &ResultsWindow::ClearFilter);
  // The preview and the log lines follow the selection, also when a filter hides its row.
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ShowCurrentModel(); });
  connect(filter_, &QAbstractItemModel::layoutChanged, this, [this] { ShowCurrentModel(); });
  connect(filter_, &QAbstractItemModel::rowsRemoved, this, [this] { ShowCurrentModel(); });
  // Double-click or Return.
  connect(table_, &QTableView::activated, this,
          [this](const QModelIndex& index) { OpenSourceFolder(index.row()); });
  connect(filter_, &QAbstractItemModel::modelReset, this, [this] { ShowCurrentModel(); });
  connect(export_button_, &QPushButton::clicked, this, &ResultsWindow::Export);
  connect(close_button_, &QPushButton::clicked, this, &QWidget::close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    filter_box_->setFocus(Qt::ShortcutFocusReason);
    filter_box_->selectAll();
  });
}

// Each column not sized by hand as wide as its title and the first rows' texts, within the
// table's width: the name, reason and source give way where they would push the source out.
void ResultsWindow::FitColumns() {
  const int rows = std::min(model_->rowCount(), kFitRows);
  if (rows == 0) return;
  QHeaderView* header = table_->horizontalHeader();
  const QFontMetrics cells = table_->fontMetrics();
  const QFontMetrics titles = header->fontMetrics();
  std::vector<int> wanted(kResultsColumnCount);
  std::vector<int> title_widths(kResultsColumnCount);
  for (int column = 0; column < kResultsColumnCount; ++column) {
    if (hand_sized_[column]) {
      wanted[column] = header->sectionSize(column);
      continue;
    }
    int width = titles.horizontalAdvance(model_->headerData(column, Qt::Horizontal).toString()) +
                kCellPadding + kSortIndicatorWidth;
    title_widths[column] = width;
    for (int row = 0; row < rows; ++row) {
      const QString text = model_->index(row, column).data().toString();
      width = std::max(width, cells.horizontalAdvance(text) + kCellPadding);
    }
    wanted[column] = width;
  }
  // Where the table is too narrow: the name is kept whole first, the reason, the missing textures
  // and the source share what is left (a cell cut short shows whole as its hint). A column whose
  // cells are no wider than its title keeps the title whole where the name stays whole too.
  std::vector<int> give_way, give_way_titles_whole;
  for (const int column : {kColumnName, kColumnReason, kColumnMissingTextures, kColumnSource}) {
    if (hand_sized_[column]) continue;
    give_way.push_back(column);
    if (wanted[column] > title_widths[column]) give_way_titles_whole.push_back(column);
  }
  // Hidden, the table has no width of its own yet: fitted again once it has.
  fit_pending_ = !table_->isVisible();
  const int room = table_->viewport()->width();
  std::vector<int> widths = FitColumnWidths(wanted, give_way_titles_whole, room);
  const bool name_whole = give_way.empty() || give_way.front() != kColumnName ||
                          widths[kColumnName] >= wanted[kColumnName];
  if (!name_whole || std::accumulate(widths.begin(), widths.end(), 0) > room) {
    widths = FitColumnWidths(wanted, give_way, room);
  }
  fitting_ = true;
  for (int column = 0; column < kResultsColumnCount; ++column) {
    if (!hand_sized_[column]) header->resizeSection(column, widths[column]);
  }
  fitting_ = false;
}

// Before any run: wide enough for what the columns mostly hold: names, the longest fate, a
// reason of a few words, sizes to the thousandth, the notes.
void ResultsWindow::SetFirstColumnWidths() {
  const QFontMetrics metrics = table_->fontMetrics();
  const auto text = [&metrics](const char* utf8) {
    return metrics.horizontalAdvance(Tr(utf8)) + kCellPadding;
  };
  const int chars = metrics.averageCharWidth();
  const int widths[kResultsColumnCount] = {
      chars * 15 + kCellPadding,  text("ignoré (trop grand)"), chars * 40 + kCellPadding,
      text("Profondeur"),         text("Profondeur"),          text("Profondeur"),
      text("Polygones"),          text("Polygones"),           text("non centré, trop grand"),
      text("Textures manquantes"), chars * 24};
  for (int i = 0; i < kResultsColumnCount; ++i) table_->horizontalHeader()->resizeSection(i, widths[i]);
}

void ResultsWindow::LayOutControls() {
  auto* top = new QVBoxLayout(this);
  auto* filters = new QHBoxLayout;
  filters->addWidget(filter_box_, 1);
  filters->addWidget(problems_only_);
  filters->addWidget(clear_filter_);
  filters->addWidget(count_);
  top->addLayout(filters);

  // The table, with room beside it for a pane of the selected model; the log lines below.
  table_splitter_ = new QSplitter(Qt::Horizontal, this);
  table_splitter_->setObjectName(QStringLiteral("ResultsTableSplitter"));
  table_splitter_->addWidget(table_);
  table_splitter_->addWidget(preview_);
  table_splitter_->setChildrenCollapsible(false);
  table_splitter_->setStretchFactor(0, 1);
  table_splitter_->setStretchFactor(1, 0);
  table_splitter_->setSizes({kFirstWidth - kFirstPreviewWidth, kFirstPreviewWidth});
  log_splitter_ = new QSplitter(Qt::Vertical, this);
  log_splitter_->setObjectName(QStringLiteral("ResultsLogSplitter"));
  log_splitter_->addWidget(table_splitter_);
  log_splitter_->addWidget(log_lines_);
  log_splitter_->setStretchFactor(0, 1);
  log_splitter_->setSizes({kFirstHeight - kLogLinesHeight, kLogLinesHeight});
  top->addWidget(log_splitter_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(export_button_);
  buttons->addStretch(1);
  buttons->addWidget(close_button_);
  top->addLayout(buttons);

  setTabOrder(filter_box_, problems_only_);
  setTabOrder(problems_only_, clear_filter_);
  setTabOrder(clear_filter_, table_);
  setTabOrder(table_, preview_->View());
  setTabOrder(preview_->View(), log_lines_);
  setTabOrder(log_lines_, export_button_);
  setTabOrder(export_button_, close_button_);
  UpdateCount();
}

void ResultsWindow::StartRun(const QString& log_path) {
  ClearFilter();  // a filter of the last run would hide this run's models
  log_lines_of_.reset();
  // The run reads its log from the folder it started in; so will this window, later.
  log_path_ = log_path.isEmpty() ? QString() : QFileInfo(log_path).absoluteFilePath();
  model_->Clear();
  UpdateCount();
}

void ResultsWindow::Add(std::vector<driver::ModelOutcome> batch) {
  if (batch.empty()) return;
  const bool first_rows = model_->rowCount() < kFitRows;
  model_->Append(std::move(batch));
  if (first_rows) FitColumns();
  UpdateCount();
}

void ResultsWindow::FinishRun(const std::vector<driver::ModelOutcome>& results) {
  // The rows received are the run's list as a rule; when they are not, the list wins.
  const std::vector<driver::ModelOutcome>& shown = model_->Results();
  const bool same = shown.size() == results.size() &&
                    std::equal(shown.begin(), shown.end(), results.begin(),
                               [](const driver::ModelOutcome& a, const driver::ModelOutcome& b) {
                                 return a.name == b.name && a.fate == b.fate;
                               });
  if (!same) {
    model_->Reset(results);
    FitColumns();
  }
  UpdateCount();
}

void ResultsWindow::ClearFilter() {
  filter_box_->clear();
  problems_only_->setChecked(false);
}

void ResultsWindow::UpdateCount() {
  clear_filter_->setEnabled(!filter_box_->text().isEmpty() || problems_only_->isChecked());
  count_->setText(Tr(texts::kRowsShown)
                      .arg(texts::Count(static_cast<std::size_t>(filter_->rowCount())),
                           texts::Count(static_cast<std::size_t>(model_->rowCount()))));
}

void ResultsWindow::ShowCurrentModel() {
  const QModelIndexList selected = table_->selectionModel()->selectedRows();
  const driver::ModelOutcome* m =
      selected.isEmpty() ? nullptr : &model_->At(filter_->SourceRow(selected.front().row()));
  preview_->ShowModel(m);
  // Rows coming in, sorted, move the selected one: its lines are not read again for that.
  const std::optional<std::uint64_t> lines =
      m != nullptr ? std::optional<std::uint64_t>(m->log_offset) : std::nullopt;
  if (m != nullptr && log_lines_of_ == lines && log_name_ == m->name) return;
  log_lines_of_ = lines;
  log_name_ = m != nullptr ? m->name : std::string();
  ShowLogLines(m);
}

void ResultsWindow::ShowLogLines(const driver::ModelOutcome* selected) {
  if (selected == nullptr) {
    log_lines_->clear();
    return;
  }
  const driver::ModelOutcome& m = *selected;
  if (m.log_length == 0) {
    log_lines_->setPlainText(Tr(texts::kNoLogLines));
    return;
  }
  const std::optional<QByteArray> bytes = ReadFileSlice(log_path_, m.log_offset, m.log_length);
  if (!bytes) {
    log_lines_->setPlainText(Tr(texts::kLogLinesGone).arg(log_path_));
    return;
  }
  QString text = QString::fromUtf8(*bytes);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  log_lines_->setPlainText(text);
}

QString ResultsWindow::LogLinesText() const { return log_lines_->toPlainText(); }

void ResultsWindow::OpenSourceFolder(int view_row) {
  const driver::ModelOutcome& m = model_->At(filter_->SourceRow(view_row));
  const QUrl folder = SourceFolder(m.source);
  if (folder.isEmpty()) return;
  if (!OpenFolder(folder)) {
    ShowMessage(Tr(texts::kCannotOpenFolder).arg(FolderText(folder)));
  }
}

void ResultsWindow::Export() {
  const std::optional<QString> path = ChooseExportFile(*export_dialog_);
  if (!path || path->isEmpty()) return;
  std::vector<driver::ModelOutcome> shown;
  shown.reserve(static_cast<std::size_t>(filter_->rowCount()));
  for (int row = 0; row < filter_->rowCount(); ++row) {
    shown.push_back(model_->At(filter_->SourceRow(row)));
  }
  // A workbook of 100,000 models takes seconds, most of them compressing it.
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const std::optional<QString> failure = ExportResults(*path, shown);
  QGuiApplication::restoreOverrideCursor();
  if (failure) {
    ShowMessage(Tr(texts::kCannotExport).arg(*path, *failure));
  }
}

void ResultsWindow::ApplyLayout(const ResultsLayout& layout) {
  user_place_ = layout.position;
  if (layout.width > 0 && layout.height > 0) {
    resize(QSize(layout.width, layout.height).expandedTo(minimumSizeHint()));
  }
  QHeaderView* header = table_->horizontalHeader();
  const int columns = std::min<int>(static_cast<int>(layout.columns.size()), kResultsColumnCount);
  for (int i = 0; i < columns; ++i) {
    if (layout.columns[static_cast<std::size_t>(i)] >= kSmallestColumn) {
      header->resizeSection(i, layout.columns[static_cast<std::size_t>(i)]);  // by hand, once
    }
  }
}

ResultsLayout ResultsWindow::CollectLayout() const {
  ResultsLayout layout;
  layout.width = width();
  layout.height = height();
  layout.position = user_place_;
  // 0 for a column that fits its content.
  for (int i = 0; i < kResultsColumnCount; ++i) {
    layout.columns.push_back(hand_sized_[i] ? table_->horizontalHeader()->sectionSize(i) : 0);
  }
  return layout;
}

void ResultsWindow::ShowInFront() {
  if (!placed_) {
    Place();
  } else if (!isVisible()) {
    // No larger than the screen the main window is on, so its buttons stay in view.
    const QScreen* screen = parentWidget() != nullptr ? parentWidget()->screen() : this->screen();
    if (screen != nullptr) {
      const QMargins frame = FrameMargins(*this);
      const QSize room = screen->availableGeometry().size() -
                         QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
      resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
    }
  }
  show();
  raise();
  activateWindow();
  table_->setFocus(Qt::OtherFocusReason);
}

// Where the user put it, on the screens there are now; else next to the main window.
void ResultsWindow::Place() {
  placed_ = true;
  const QWidget* main = parentWidget();
  const QScreen* screen = main != nullptr ? main->screen() : this->screen();
  if (screen == nullptr) return;
  const QMargins frame = FrameMargins(*this);
  QRect place;
  if (user_place_ || main == nullptr) {
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens()) screens << s->availableGeometry();
    place = FitWithFrame(QRect(user_place_.value_or(pos()), size()), frame, screens,
                         minimumSizeHint());
  } else {
    place = PlaceBeside(main->frameGeometry(), size(), minimumSizeHint(), frame,
                        screen->availableGeometry());
  }
  resize(place.size());
  move(place.topLeft());
  placed_at_ = place.topLeft();
}

bool ResultsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_->viewport() && event->type() == QEvent::Resize && fit_pending_ &&
      table_->isVisible()) {
    FitColumns();
  }
  return QWidget::eventFilter(watched, event);
}

void ResultsWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (isVisible() && pos() != placed_at_) user_place_ = pos();
}

bool ResultsWindow::OpenFolder(const QUrl& folder) {
  return OpenOnDesktop(folder, this, [this, folder] {
    ShowMessage(Tr(texts::kCannotOpenFolder).arg(FolderText(folder)));
  });
}

std::optional<QString> ResultsWindow::ChooseExportFile(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

void ResultsWindow::ShowMessage(const QString& text) {
  QMessageBox::warning(this, Tr(texts::kMessageTitle), text);
}

}  // namespace ui
