// Where each control of the main window stands, the order Tab visits them in, and the window's
// size on the screens there are.
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMoveEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <vector>

#include "boxtally/ui/main_window.h"
#include "boxtally/ui/screen_fit.h"

namespace ui {

namespace {

constexpr int kFrameMarginX = 6;  // pixels around the registry and log rows in their frames
constexpr int kFrameMarginY = 2;
constexpr int kRowSpacing = 4;     // pixels between the window's rows
constexpr int kWindowMargin = 6;   // pixels around them
constexpr int kRunButtonGap = 12;  // pixels between the password box and the run button

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

}  // namespace

void MainWindow::LayOutControls() {
  // Tight rows: the window fits a 1280x800 screen at twice the scale, web rows included.
  auto* top = new QVBoxLayout(centralWidget());
  top->setSpacing(kRowSpacing);
  top->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);

  auto* web_row = Row({web_mode_box_, model_kinds_label_, url_label_, url_edit_}, 3);
  web_row->setStretch(1, 1);
  top->addLayout(web_row);
  // Left-aligned without a stretch item: in file mode the row is empty and takes no height.
  auto* web_options =
      Row({reuse_web_box_, propdump_box_, connect_fix_box_, proxy_label_, proxy_edit_}, -1);
  top->addLayout(web_options);
  top->setAlignment(web_options, Qt::AlignLeft);
  top->addLayout(Row({models_button_, models_label_, models_edit_}, 2));
  // Each row ends with the button that opens its file once a run has written it.
  top->addWidget(Framed(
      Row({registry_button_, registry_edit_, append_registry_box_, open_registry_button_}, 1),
      "RegistryFrame"));
  top->addWidget(
      Framed(Row({log_button_, log_edit_, append_log_box_, errors_only_box_, open_log_button_}, 1),
             "LogFrame"));

  auto* format_grid = new QGridLayout;
  format_grid->addLayout(Row({format_button_, format_file_edit_}, 1), 0, 0, 1, 3);
  format_grid->addWidget(skip_huge_box_, 1, 0);
  format_grid->addWidget(handle_facers_box_, 1, 1);
  format_grid->addWidget(non_centered_box_, 2, 0);
  format_grid->addWidget(over_sized_box_, 2, 1);
  // The pictures' boxes beside the switches: the window has no height to spare for a row.
  auto* textures_row = Row({textures_button_, textures_edit_}, 1);
  format_grid->addLayout(textures_row, 1, 2);
  format_grid->addWidget(thumbnail_box_, 2, 2);
  textures_row->setSpacing(kRowSpacing);
  thumbnail_box_->layout()->setSpacing(kRowSpacing);
  auto* template_labels = new QHBoxLayout;
  template_labels->addWidget(if_omitted_label_);
  template_labels->addWidget(template_label_, 1);
  format_grid->addLayout(template_labels, 3, 0, 1, 3);
  format_grid->addWidget(template_edit_, 4, 0, 1, 3);
  format_grid->setRowStretch(4, 1);
  format_grid->setColumnStretch(2, 1);
  format_grid->setSpacing(kRowSpacing);
  format_grid->setContentsMargins(kRowSpacing, kFrameMarginX, kRowSpacing, kFrameMarginX);
  auto* format_box = new QGroupBox;
  format_box->setObjectName(QStringLiteral("FormatFrame"));
  format_box->setLayout(format_grid);

  auto* right = new QVBoxLayout;
  right->addWidget(password_label_);
  right->addWidget(password_edit_);
  right->addSpacing(kRunButtonGap);
  right->addWidget(run_button_);
  right->addStretch(1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(format_box, 1);
  bottom->addLayout(right);
  top->addLayout(bottom, 1);
  // A second status line, shown once a run has ended, above the status bar.
  top->addWidget(run_summary_);

  // The browse buttons share one width, so the boxes beside them line up.
  int width = 0;
  for (QPushButton* b : {models_button_, registry_button_, log_button_, format_button_}) {
    width = std::max(width, b->sizeHint().width());
  }
  for (QPushButton* b : {models_button_, registry_button_, log_button_, format_button_}) {
    b->setFixedWidth(width);
  }
}

void MainWindow::SetTabOrder() {
  // What a first run needs comes first, so a keyboard user types a pattern, tabs through the
  // registry, log and password boxes and presses the run button; the other controls follow top
  // to bottom.
  QWidget* const thumbnails_button = thumbnail_box_->Button();
  QWidget* const thumbnails_edit = thumbnail_box_->Edit();
  const std::vector<QWidget*> order = {
      models_edit_,      registry_edit_,       log_edit_,
      password_edit_,    run_button_,          web_mode_box_,
      url_edit_,         reuse_web_box_,       propdump_box_,
      connect_fix_box_,  proxy_edit_,          models_button_,
      registry_button_,  append_registry_box_, open_registry_button_,
      log_button_,       append_log_box_,      errors_only_box_,
      open_log_button_,  textures_button_,     textures_edit_,
      thumbnails_button, thumbnails_edit,      format_button_,
      format_file_edit_, skip_huge_box_,       handle_facers_box_,
      non_centered_box_, over_sized_box_,      template_edit_,
      results_button_,   help_button_};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (frame_fitted_ || !isVisible() || frameGeometry() == geometry()) return;
  frame_fitted_ = true;
  FitOnScreen();
}

// Room for what the window shows now (the web rows, a summary on several lines), within the
// screen: it grows, and never shrinks on its own.
void MainWindow::GrowToFit() {
  const QSize wanted = size().expandedTo(sizeHint());
  if (wanted == size()) return;
  resize(wanted);
  FitOnScreen();
}

// At start-up: on a screen, also when the one it was saved on is gone, and no larger than it (the
// template box gives way first).
void MainWindow::FitOnScreen() {
  QList<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens << screen->availableGeometry();
  const QRect place =
      FitWithFrame(QRect(pos(), size()), FrameMargins(*this), screens, minimumSizeHint());
  resize(place.size());
  move(place.topLeft());
}

}  // namespace ui
