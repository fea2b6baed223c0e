// The view of a model: an orthographic camera turned about the model's box and fitted to it, and
// the projection of model points into a picture's pixels.
#pragma once

#include "boxtally/render/mesh.h"

namespace render {

inline constexpr float kMinZoom = 0.01f;
inline constexpr float kMaxZoom = 1000.0f;
inline constexpr float kFitMargin = 0.08f;  // of the picture's width and height, on each side

// The defaults are the first view: a three-quarter view from the front-left, above.
struct Camera {
  float yaw_degrees = 30.0f;    // the eye turned from the front (+z) toward the left (-x)
  float pitch_degrees = 30.0f;  // the eye raised above the ground (-90..90)
  float zoom = 1.0f;            // 1: the box fills the picture less the margins
  float pan_x = 0.0f;           // the model moved right, in lengths of the picture's shorter side
  float pan_y = 0.0f;           // the model moved down, likewise
};

struct Projection {
  Vec3 right;       // the view's axes in model space: screen x, screen up, and toward the eye
  Vec3 up;
  Vec3 toward_eye;
  Vec3 centre;      // the model point drawn at (origin_x, origin_y)
  float scale = 1;  // pixels per model unit
  float origin_x = 0;
  float origin_y = 0;
};

// Where a model point lands: pixel coordinates (y down) and a depth that grows toward the eye.
struct ScreenPoint {
  float x = 0;
  float y = 0;
  float depth = 0;
};

// The camera's view of `box` in a picture of width x height pixels: the box's eight corners fill
// it less the margins at zoom 1, its middle in the middle at pan 0. Out-of-range camera values
// are brought into range (pitch to -90..90, zoom to kMinZoom..kMaxZoom; non-finite ones give the
// first view's); a box that is a point or a flat square still gets a finite scale.
Projection FitProjection(const Camera& camera, const Bounds& box, int width, int height);

ScreenPoint Project(const Projection& projection, const Vec3& point);

}  // namespace render
