// The two screen dumps of the interactive mode: chunk census and texture image census.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace cob {

// Headers mode: one line "  TYPE : COUNT" per chunk type (compared without regard to case,
// spelled as first met), in order of first occurrence. A rejected file header prints its
// message only.
void PrintChunkCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console);

// Imagelist mode: one line "  NAME (USES)" per texture image name used by the materials
// (compared without regard to case, spelled as first met), then the count of distinct names.
// A rejected file header prints its message only.
void PrintImageCensus(const std::vector<std::uint8_t>& buffer, std::FILE* console);

}  // namespace cob
