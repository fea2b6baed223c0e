// The results table's column widths: each column as wide as its title and the text of the first
// rows of a run, within the width the table has, so the last column (the source) stays in view.
#pragma once

#include <vector>

namespace ui {

inline constexpr int kFitRows = 100;          // rows a run's columns are fitted to
inline constexpr int kLeastSharedWidth = 60;  // pixels a column that gives way keeps at least

// The widths to give the columns: each its `wanted` width, except that where they pass `room`
// the columns listed in `give_way` (indexes) make room: the first of them keeps what it wants of
// what is left, leaving kLeastSharedWidth for each of the others, and the others share the rest,
// the smaller ones whole and the larger ones one common width. None goes below
// kLeastSharedWidth, nor above what it wants.
std::vector<int> FitColumnWidths(const std::vector<int>& wanted, const std::vector<int>& give_way,
                                 int room);

}  // namespace ui
