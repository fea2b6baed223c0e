#include "boxtally/ui/model_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

#include "boxtally/render/rasteriser.h"
#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {
constexpr int kHintSide = 320;    // pixels: the view's wished-for size
constexpr int kLeastSide = 96;    // pixels: below it a model is hard to make out
constexpr double kNotch = 120.0;  // QWheelEvent's units of one wheel notch

QColor Rgb(std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

QImage ToQImage(const render::Image& image, qreal ratio) {
  if (image.width == 0) return {};
  QImage frame = QImage(image.rgba.data(), image.width, image.height, image.width * 4,
                        QImage::Format_RGBA8888)
                     .convertToFormat(QImage::Format_RGB32);  // a copy, quick to paint
  frame.setDevicePixelRatio(ratio);
  return frame;
}
}  // namespace

ModelView::ModelView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ModelView"));
  setFocusPolicy(Qt::StrongFocus);
  setToolTip(QString::fromUtf8(texts::kHintModelView));
  setAccessibleName(QString::fromUtf8(texts::kModelViewName));
  painter_.setMaxThreadCount(1);
}

ModelView::~ModelView() {
  // A frame in progress still posts to this view: let it end while the view is whole.
  painter_.waitForDone();
}

void ModelView::SetScene(std::shared_ptr<const render::Mesh> mesh, const render::Bounds& box) {
  mesh_ = std::move(mesh);
  box_ = box;
  camera_ = render::Camera{};
  frame_ = QImage();
  ++scene_;
  RequestFrame();
  update();
}

void ModelView::ClearScene() {
  mesh_.reset();
  frame_ = QImage();
  ++scene_;
  update();
}

void ModelView::SetTextures(std::shared_ptr<render::TextureSource> textures) {
  textures_ = std::move(textures);
  RequestFrame();
}

render::Image ModelView::DrawNow(int width, int height) const {
  if (mesh_ == nullptr) return {};
  render::DrawOptions options;
  options.textures = textures_.get();
  return render::DrawScene(*mesh_, &box_, camera_, width, height, options);
}

void ModelView::SetCamera(const render::Camera& camera) {
  camera_ = camera;
  camera_.pitch_degrees = std::clamp(camera_.pitch_degrees, -90.0f, 90.0f);
  camera_.yaw_degrees = std::fmod(camera_.yaw_degrees, 360.0f);
  camera_.zoom = std::clamp(camera_.zoom, render::kMinZoom, render::kMaxZoom);
  RequestFrame();
}

QSize ModelView::sizeHint() const { return {kHintSide, kHintSide}; }
QSize ModelView::minimumSizeHint() const { return {kLeastSide, kLeastSide}; }

QSize ModelView::FrameSize() const {
  const qreal ratio = devicePixelRatioF();
  return QSize(std::clamp(qRound(width() * ratio), 1, render::kMaxImageSide),
               std::clamp(qRound(height() * ratio), 1, render::kMaxImageSide));
}

void ModelView::RequestFrame() {
  if (mesh_ == nullptr) return;
  if (drawing_) {
    again_ = true;
    return;
  }
  StartDrawing();
}

void ModelView::StartDrawing() {
  drawing_ = true;
  again_ = false;
  const QSize size = FrameSize();
  const qreal ratio = devicePixelRatioF();
  painter_.start([this, mesh = mesh_, textures = textures_, box = box_, camera = camera_, size,
                  ratio, scene = scene_] {
    render::DrawOptions options;
    options.textures = textures.get();
    const QImage frame = ToQImage(
        render::DrawScene(*mesh, &box, camera, size.width(), size.height(), options), ratio);
    QMetaObject::invokeMethod(
        this, [this, scene, frame] { TakeFrame(scene, frame); }, Qt::QueuedConnection);
  });
}

void ModelView::TakeFrame(std::uint64_t scene, const QImage& frame) {
  drawing_ = false;
  if (scene == scene_) {
    frame_ = frame;
    update();
  }
  if (again_ || (scene != scene_ && mesh_ != nullptr)) StartDrawing();
}

void ModelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Rgb(render::kBackground));
  // Until the frame of this size comes, the last one stretched.
  if (!frame_.isNull()) painter.drawImage(QRectF(rect()), frame_);
  if (mesh_ != nullptr && frame_.size() != FrameSize()) RequestFrame();
  if (hasFocus()) {
    const qreal half = kFocusFrameWidth / 2.0;
    painter.setPen(QPen(palette().color(QPalette::Highlight), kFocusFrameWidth));
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
  }
}

void ModelView::Turn(float yaw_degrees, float pitch_degrees) {
  render::Camera c = camera_;
  c.yaw_degrees += yaw_degrees;
  c.pitch_degrees += pitch_degrees;
  SetCamera(c);
}

void ModelView::Move(float right, float down) {
  render::Camera c = camera_;
  c.pan_x += right;
  c.pan_y += down;
  SetCamera(c);
}

void ModelView::Zoom(float factor) {
  render::Camera c = camera_;
  c.zoom *= factor;
  SetCamera(c);
}

void ModelView::mousePressEvent(QMouseEvent* event) {
  drag_button_ = event->button();
  drag_from_ = event->position();
  event->accept();
}

// Dragging the model: to the right turns its front to the right, down turns its top toward the
// viewer (the eye rises), as if the user held it.
void ModelView::mouseMoveEvent(QMouseEvent* event) {
  if (drag_button_ == Qt::NoButton) return;
  const QPointF step = event->position() - drag_from_;
  drag_from_ = event->position();
  if (drag_button_ == Qt::LeftButton) {
    Turn(static_cast<float>(step.x()) * kDragDegreesPerPixel,
         static_cast<float>(step.y()) * kDragDegreesPerPixel);
  } else {
    const float shorter = static_cast<float>(std::max(1, std::min(width(), height())));
    Move(static_cast<float>(step.x()) / shorter, static_cast<float>(step.y()) / shorter);
  }
}

void ModelView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == drag_button_) drag_button_ = Qt::NoButton;
}

void ModelView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) SetCamera(render::Camera{});
}

void ModelView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / kNotch;
  if (notches == 0) return;
  Zoom(static_cast<float>(std::pow(kZoomStep, notches)));
  event->accept();
}

void ModelView::keyPressEvent(QKeyEvent* event) {
  const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
  switch (event->key()) {
    case Qt::Key_Left:
      return shift ? Move(-kKeyPan, 0) : Turn(-kKeyDegrees, 0);
    case Qt::Key_Right:
      return shift ? Move(kKeyPan, 0) : Turn(kKeyDegrees, 0);
    case Qt::Key_Up:
      return shift ? Move(0, -kKeyPan) : Turn(0, -kKeyDegrees);
    case Qt::Key_Down:
      return shift ? Move(0, kKeyPan) : Turn(0, kKeyDegrees);
    case Qt::Key_Plus:
    case Qt::Key_Equal:  // + without Shift on many keyboards
      return Zoom(kZoomStep);
    case Qt::Key_Minus:
      return Zoom(1 / kZoomStep);
    case Qt::Key_Home:
    case Qt::Key_0:
      return SetCamera(render::Camera{});
    default:
      QWidget::keyPressEvent(event);
  }
}

}  // namespace ui
