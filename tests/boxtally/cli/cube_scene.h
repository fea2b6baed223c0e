// A small COB scene for the end-to-end tests, and the registry line the real rwxsmith and
// boxtally-cli give it.
#pragma once

#include <string>

#include "rwxsmith/cob_test_builder.h"

namespace testing_support {

// A unit cube from (0,0,0) to (1,1,1), placed by its polyhedron matrix at (1,2,3).
inline std::string CubeScene(const std::string& texture = "") {
  cobtest::PolyDef cube;
  cube.name = "Cube";
  cube.translation = {1, 2, 3};
  cube.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                   {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  cube.faces = {cobtest::Face({0, 1, 2, 3}), cobtest::Face({4, 5, 6, 7}),
                cobtest::Face({0, 1, 5, 4}), cobtest::Face({1, 2, 6, 5}),
                cobtest::Face({2, 3, 7, 6}), cobtest::Face({3, 0, 4, 7})};
  cobtest::MatDef paint;
  paint.shader = 'f';
  paint.texture = texture;
  cobtest::CobFile file;
  file.Group(10, 0, "Box").Poly(20, 10, cube).Mat(30, 20, paint).End();
  return std::string(file.bytes().begin(), file.bytes().end());
}

// The converter stores the cube (moved to x 1..2, y 2..3, z 3..4) as a prototype and places it
// in a frame that scales by 0.1, turns -90 degrees about x and 180 about y: (x, y, z) becomes
// (-0.1 x, 0.1 z, 0.1 y). So the box is x -0.2..-0.1, y 0.3..0.4, z 0.2..0.3, and in integer
// mode lo = trunc(min * 1000) + 5 and hi = trunc(max * 1000) - 5.
inline constexpr const char* kCubeBox = " 1 -195 305 205 -105 395 295\r\n";

}  // namespace testing_support
