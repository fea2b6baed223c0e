#include "rwxsmith/joint_table.h"

namespace cob {

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}
}  // namespace

int JointNumber(std::string_view piece, JointCase match) {
  for (int i = 0; i < kJointCount; ++i) {
    const std::string_view name = kJointNames[static_cast<std::size_t>(i)];
    const bool same = match == JointCase::kExact ? piece == name : EqualIgnoreCase(piece, name);
    if (same) return i + 1;
  }
  return 0;
}

std::string_view JointName(int number) {
  if (number < 1 || number > kJointCount) return {};
  return kJointNames[static_cast<std::size_t>(number - 1)];
}

}  // namespace cob
