#include "boxtally/ui/preview_pane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <utility>

#include "boxtally/driver/model_geometry.h"
#include "boxtally/ui/model_view.h"
#include "boxtally/ui/window_texts.h"
#include "platform/file_search.h"
#include "platform/paths.h"

namespace ui {

namespace {

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

render::Bounds RegistryBox(const driver::ModelOutcome& m) {
  return {{m.box[0], m.box[1], m.box[2]}, {m.box[3], m.box[4], m.box[5]}};
}

// Whether two results are one model of one run, as far as the pane shows it.
bool SameModel(const driver::ModelOutcome& a, const driver::ModelOutcome& b) {
  return a.name == b.name && a.path == b.path && a.source == b.source && a.fate == b.fate &&
         a.reason == b.reason && a.box == b.box;
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent)
    : QWidget(parent),
      sizes_(new QLabel(this)),
      save_(new QPushButton(QString::fromUtf8(texts::kSavePicture), this)),
      message_(new QLabel(this)),
      view_(new ModelView(this)),
      stack_(new QStackedLayout),
      password_([] { return std::string(); }),
      program_dir_(platform::ProgramDirectory()),
      ask_picture_(AskPicture) {
  setObjectName(QStringLiteral("PreviewPane"));
  sizes_->setObjectName(QStringLiteral("PreviewSizes"));
  sizes_->setWordWrap(true);
  sizes_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setObjectName(QStringLiteral("PreviewMessage"));
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignCenter);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A long path without a blank must not widen the pane: it is cut at the pane's edge instead.
  message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  sizes_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  stack_->addWidget(view_);
  stack_->addWidget(message_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout;
  top->addWidget(sizes_, 1);
  top->addWidget(save_, 0, Qt::AlignTop);
  layout->addLayout(top);
  layout->addLayout(stack_, 1);
  save_->setObjectName(QStringLiteral("SavePictureButton"));
  save_->setToolTip(QString::fromUtf8(texts::kHintSavePicture));
  save_->setEnabled(false);
  connect(save_, &QPushButton::clicked, this, &PreviewPane::SavePictureClick);

  readers_.setMaxThreadCount(kMaxReadings);
  reading_notice_.setSingleShot(true);
  reading_notice_.setInterval(kReadingNoticeMs);
  connect(&reading_notice_, &QTimer::timeout, this, [this] {
    if (shown_) ShowMessage(QString::fromUtf8(texts::kPreviewReading).arg(FromStd(shown_->name)));
  });
  ShowModel(nullptr);
}

PreviewPane::~PreviewPane() {
  CancelReadings();
  readers_.waitForDone();
  // Their results were never received: the folders go here, on the window's thread.
  for (const Job& r : readings_) platform::FreeWorkDirectory(r.work_dir);
}

void PreviewPane::SetPasswordSource(std::function<std::string()> password) {
  password_ = std::move(password);
}

void PreviewPane::SetProgramDirectory(const std::string& dir) { program_dir_ = dir; }

void PreviewPane::SetTextures(std::shared_ptr<render::TextureSource> textures) {
  view_->SetTextures(std::move(textures));
}

void PreviewPane::SetPictureDialogs(
    std::function<std::optional<PictureRequest>(QWidget*, QSize)> ask) {
  ask_picture_ = std::move(ask);
}

void PreviewPane::SavePictureClick() {
  if (!view_->HasScene()) return;
  const qreal ratio = view_->devicePixelRatioF();
  const QSize pane(qRound(view_->width() * ratio), qRound(view_->height() * ratio));
  const std::optional<PictureRequest> request = ask_picture_(this, pane);
  if (!request) return;
  if (const QString problem = SavePicture(*view_, request->path, request->size); !problem.isEmpty()) {
    QMessageBox::warning(this, QString::fromUtf8(texts::kMessageTitle), problem);
  }
}

QString PreviewPane::MessageText() const {
  return stack_->currentWidget() == message_ ? message_->text() : QString();
}

QString PreviewPane::SizesText() const { return sizes_->isHidden() ? QString() : sizes_->text(); }

bool PreviewPane::Busy() const {
  for (const Job& r : readings_) {
    if (r.id == newest_) return true;
  }
  return waiting_.has_value();
}

void PreviewPane::ShowModel(const driver::ModelOutcome* model) {
  if (model != nullptr && shown_ && SameModel(*model, *shown_)) return;
  CancelReadings();
  ++newest_;
  reading_notice_.stop();
  view_->ClearScene();
  save_->setEnabled(false);
  sizes_->setVisible(false);
  if (model == nullptr) {
    shown_.reset();
    ShowMessage(QString::fromUtf8(texts::kPreviewNothing));
    return;
  }
  shown_ = *model;
  if (!driver::HasMeasures(*model)) {  // a model skipped as huge was measured too
    ShowMessage(texts::NoPictureText(*model, false));
    return;
  }
  sizes_->setText(texts::BoxSizesText(*model));
  sizes_->setVisible(true);
  // An empty view until the picture comes; a reading that proves slow says so.
  stack_->setCurrentWidget(view_);
  reading_notice_.start();
  const Request request{newest_, model->path, password_()};
  if (static_cast<int>(readings_.size()) < kMaxReadings) {
    StartReading(request);
  } else {
    waiting_ = request;
  }
}

void PreviewPane::CancelReadings() {
  for (const Job& r : readings_) r.cancel->store(true);
  waiting_.reset();
}

void PreviewPane::StartReading(const Request& request) {
  // Not thread-safe: made here, on the window's thread, and freed here when the result comes.
  const std::string work_dir = platform::NewWorkDirectory();
  if (work_dir.empty()) {
    ShowMessage(QString::fromUtf8(texts::kPreviewNoWorkFolder)
                    .arg(FromStd(platform::WorkDirectoryError())));
    return;
  }
  Job reading{request.id, std::make_shared<std::atomic<bool>>(false), work_dir};
  readings_.push_back(reading);
  readers_.start([this, request, reading, program_dir = program_dir_] {
    Found found;
    if (reading.cancel->load()) {  // cancelled before its turn came
      found.cancelled = true;
    } else if (!platform::FileExists(request.path)) {
      found.gone = true;
    } else {
      driver::GeometryRequest g;
      g.model_path = request.path;
      g.found_name = request.path.substr(platform::DirectoryPrefixLength(request.path));
      g.password = request.password;
      g.work_dir = reading.work_dir;
      g.program_dir = program_dir;
      g.cancel = reading.cancel.get();
      driver::ModelGeometry geometry = driver::ReadModelGeometry(g);
      found.fate = geometry.fate;
      found.reason = geometry.reason;
      found.facts = std::move(geometry.facts);
      found.mesh = std::make_shared<const render::Mesh>(std::move(geometry.mesh));
      found.cut = geometry.cut;
      found.cancelled = geometry.cancelled;
    }
    QMetaObject::invokeMethod(
        this, [this, id = request.id, found] { TakeReading(id, found); }, Qt::QueuedConnection);
  });
}

void PreviewPane::TakeReading(std::uint64_t id, const Found& found) {
  for (auto r = readings_.begin(); r != readings_.end(); ++r) {
    if (r->id != id) continue;
    platform::FreeWorkDirectory(r->work_dir);
    readings_.erase(r);
    break;
  }
  if (waiting_) {
    const Request next = *std::exchange(waiting_, std::nullopt);
    StartReading(next);
  }
  if (id != newest_ || found.cancelled || !shown_) return;
  reading_notice_.stop();
  if (found.gone) {
    ShowMessage(QString::fromUtf8(texts::kPreviewFileGone).arg(FromStd(shown_->path)));
  } else if (found.fate != driver::Fate::kMeasured) {
    // The file changed since the run: it reads otherwise now.
    driver::ModelOutcome now = *shown_;
    now.fate = found.fate;
    now.reason = found.reason;
    now.facts = found.facts;
    ShowMessage(texts::NoPictureText(now, true));
  } else {
    ShowPicture(found);
  }
}

void PreviewPane::ShowPicture(const Found& found) {
  if (found.cut) {
    sizes_->setText(texts::BoxSizesText(*shown_) + QLatin1Char('\n') +
                    QString::fromUtf8(texts::kPreviewCut));
  }
  view_->SetScene(found.mesh, RegistryBox(*shown_));
  stack_->setCurrentWidget(view_);
  save_->setEnabled(true);
}

void PreviewPane::ShowMessage(const QString& text) {
  message_->setText(text);
  stack_->setCurrentWidget(message_);
}

}  // namespace ui
