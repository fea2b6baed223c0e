// Animation output: the keyframe channels of an avatar scene as a big-endian ".seq" file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cob {

// Writes the sequence file for the COB file held whole in `buffer` (read from `input_path`,
// which the file's header repeats as given) into `seq_file`, a file just created in binary mode
// and open for update ("w+b"), which the caller closes. Progress and problems go to `console`.
// A rejected file header prints its message and leaves `seq_file` empty.
void WriteAnimationSequence(const std::vector<std::uint8_t>& buffer, const std::string& input_path,
                            std::FILE* seq_file, std::FILE* console);

}  // namespace cob
