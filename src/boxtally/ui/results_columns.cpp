#include "boxtally/ui/results_columns.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace ui {

std::vector<int> FitColumnWidths(const std::vector<int>& wanted, const std::vector<int>& give_way,
                                 int room) {
  std::vector<int> widths = wanted;
  if (std::accumulate(wanted.begin(), wanted.end(), 0) <= room) return widths;
  int left = room;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (std::find(give_way.begin(), give_way.end(), static_cast<int>(i)) == give_way.end()) {
      left -= wanted[i];
    }
  }
  for (std::size_t k = 0; k < give_way.size(); ++k) {
    const auto column = static_cast<std::size_t>(give_way[k]);
    if (column >= widths.size()) continue;
    const int after = static_cast<int>(give_way.size() - k - 1) * kLeastSharedWidth;
    const int width = std::min(wanted[column], std::max(left - after, kLeastSharedWidth));
    widths[column] = std::min(wanted[column], std::max(width, kLeastSharedWidth));
    left -= widths[column];
  }
  return widths;
}

}  // namespace ui
