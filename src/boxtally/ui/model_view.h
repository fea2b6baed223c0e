// A model drawn by the renderer in a widget, turned by the user: drag to turn it (yaw, pitch),
// drag with the right or middle button to move it, wheel to zoom, double-click to come back to
// the first view; the keys do the same once the view has the focus. Frames are drawn on a thread
// of the view's own, newest camera first, so a big mesh never holds up the window: while one
// frame is drawn, the last frame stays on screen and only the newest camera asked for is drawn
// next.
#pragma once

#include <QImage>
#include <QThreadPool>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "boxtally/render/camera.h"
#include "boxtally/render/mesh.h"
#include "boxtally/render/rasteriser.h"
#include "boxtally/render/texture.h"

namespace ui {

inline constexpr float kDragDegreesPerPixel = 0.5f;
inline constexpr float kKeyDegrees = 15.0f;  // one arrow key
inline constexpr float kZoomStep = 1.25f;    // one wheel notch, or + and -
inline constexpr float kKeyPan = 0.1f;       // Shift and an arrow: a tenth of the shorter side
// Pixels of the frame, in the highlight colour, that the view and the results table draw while
// they have the keyboard.
inline constexpr int kFocusFrameWidth = 3;

class ModelView : public QWidget {
 public:
  explicit ModelView(QWidget* parent = nullptr);
  ~ModelView() override;

  // The model to show, with the box drawn around it and the view fitted to; the first view.
  void SetScene(std::shared_ptr<const render::Mesh> mesh, const render::Bounds& box);
  // Nothing to show (the last frame goes too).
  void ClearScene();
  // Where the frames find the textures and masks the model names (nullptr: surfaces in their
  // colours); the frames from now on use it.
  void SetTextures(std::shared_ptr<render::TextureSource> textures);
  bool HasScene() const { return mesh_ != nullptr; }

  const render::Camera& Camera() const { return camera_; }
  // The scene as the view shows it now (its camera), drawn on the calling thread at width x
  // height pixels; an empty image without a scene or at a size past the renderer's.
  render::Image DrawNow(int width, int height) const;
  void SetCamera(const render::Camera& camera);  // brought into range, then drawn
  // The last frame drawn (device pixels), null before the first; whether one is being drawn.
  const QImage& Frame() const { return frame_; }
  bool Drawing() const { return drawing_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QSize FrameSize() const;  // device pixels the frame should have now
  void RequestFrame();
  void StartDrawing();
  void TakeFrame(std::uint64_t scene, const QImage& frame);
  void Turn(float yaw_degrees, float pitch_degrees);
  void Move(float right, float down);  // in lengths of the shorter side
  void Zoom(float factor);

  std::shared_ptr<const render::Mesh> mesh_;
  std::shared_ptr<render::TextureSource> textures_;
  render::Bounds box_;
  render::Camera camera_;
  QImage frame_;
  std::uint64_t scene_ = 0;  // counts the scenes given, so a frame of an older one is dropped
  bool drawing_ = false;
  bool again_ = false;  // the camera or the size changed while a frame was being drawn
  Qt::MouseButton drag_button_ = Qt::NoButton;
  QPointF drag_from_;
  QThreadPool painter_;  // one thread
};

}  // namespace ui
