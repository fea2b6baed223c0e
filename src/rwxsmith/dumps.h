// The two screen dumps of the interactive mode (chunk census, texture image census) and the
// file header check they share with the animation writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cob {

inline constexpr std::size_t kMaxImageName = 31;  // characters of an image name kept
// Bytes of Mat1 data before its extensions: number, shader, facet, angle, eight floats.
inline constexpr std::size_t kMaterialFixedSize = 37;

// The image name of a texture path: the part after its last "/" or "\" (the whole path when it
// has none), ending at a zero byte if the path holds one, cut at kMaxImageName characters.
std::string ImageNameOfPath(const std::uint8_t* path, std::size_t length);

// Headers mode: one line "  TYPE : COUNT" per chunk type (compared without regard to case,
// spelled as first met), in order of first occurrence. A rejected file header prints its
// message only.
void PrintChunkCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console);

// Imagelist mode: one line "  NAME (USES)" per texture image name used by the materials
// (compared without regard to case, spelled as first met), then the count of distinct names.
// Bump and environment maps are not listed. A rejected file header prints its message only.
void PrintImageCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console);

}  // namespace cob
