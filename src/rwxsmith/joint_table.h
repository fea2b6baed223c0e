// The avatar joints: 42 names in table order, joint number = position + 1. Objects of an avatar
// scene are tied to a joint by a piece of their "gm_" name.
#pragma once

#include <array>
#include <string_view>

namespace cob {

inline constexpr int kJointCount = 42;

// kJointNames[n - 1] is the name of joint n (1 pelvis ... 42 lfear).
inline constexpr std::array<std::string_view, kJointCount> kJointNames = {
    "pelvis",   "back",      "neck",      "head",       "rtsternum", "rtshoulder", "rtelbow",
    "rtwrist",  "rtfingers", "lfsternum", "lfshoulder", "lfelbow",   "lfwrist",    "lffingers",
    "rthip",    "rtknee",    "rtankle",   "rttoes",     "lfhip",     "lfknee",     "lfankle",
    "lftoes",   "neck2",     "tail",      "tail2",      "tail3",     "tail4",      "obj",
    "obj2",     "obj3",      "hair",      "hair2",      "hair3",     "hair4",      "rtbreast",
    "lfbreast", "rteye",     "lfeye",     "lips",       "nose",      "rtear",      "lfear"};

enum class JointCase { kExact, kIgnoreCase };

// The number (1..42) of the first joint in table order whose name equals `piece`, or 0.
int JointNumber(std::string_view piece, JointCase match);

// The name of joint `number` (1..42); empty for any other number.
std::string_view JointName(int number);

}  // namespace cob
