#include "boxtally/ui/results_columns.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace ui {

namespace {
// Shares `room` among `wishes`: the smaller wishes granted whole, the others one common width,
// never below kLeastSharedWidth. Returns that width (a wish at or under it is granted).
int CommonWidth(std::vector<int> wishes, int room) {
  std::sort(wishes.begin(), wishes.end());
  for (std::size_t i = 0; i < wishes.size(); ++i) {
    const int even = room / static_cast<int>(wishes.size() - i);
    if (wishes[i] > even) return std::max(even, kLeastSharedWidth);
    room -= wishes[i];
  }
  return wishes.empty() ? kLeastSharedWidth : std::max(wishes.back(), kLeastSharedWidth);
}
}  // namespace

std::vector<int> FitColumnWidths(const std::vector<int>& wanted, const std::vector<int>& give_way,
                                 int room) {
  std::vector<int> widths = wanted;
  if (std::accumulate(wanted.begin(), wanted.end(), 0) <= room || give_way.empty()) {
    return widths;
  }
  int left = room;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (std::find(give_way.begin(), give_way.end(), static_cast<int>(i)) == give_way.end()) {
      left -= wanted[i];
    }
  }
  const auto first = static_cast<std::size_t>(give_way.front());
  const int after = static_cast<int>(give_way.size() - 1) * kLeastSharedWidth;
  widths[first] = std::min(wanted[first], std::max(left - after, kLeastSharedWidth));
  left -= widths[first];
  std::vector<int> wishes;
  for (std::size_t k = 1; k < give_way.size(); ++k) {
    wishes.push_back(wanted[static_cast<std::size_t>(give_way[k])]);
  }
  const int common = CommonWidth(wishes, left);
  for (std::size_t k = 1; k < give_way.size(); ++k) {
    const auto column = static_cast<std::size_t>(give_way[k]);
    widths[column] = std::min(wanted[column], common);
  }
  return widths;
}

}  // namespace ui
