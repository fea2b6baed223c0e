// The results window's table: one row per model of the run, in the order of the registry, and
// the view's sorting and filtering of it. Sorting and filtering compare the records themselves,
// never texts made for each comparison, so 100,000 rows sort in a blink.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <vector>

#include "boxtally/driver/model_results.h"

namespace ui {

// The table's columns, left to right.
enum ResultsColumn : int {
  kColumnName,
  kColumnFate,
  kColumnReason,
  kColumnWidth,     // size x
  kColumnHeight,    // size y
  kColumnDepth,     // size z
  kColumnVertices,
  kColumnPolygons,
  kColumnNotes,     // the flags
  kColumnMissingTextures,
  kColumnSource,
  kResultsColumnCount
};

// A result the user should look at: every model that did not get its registry lines, and those
// that name textures the object path lacks.
inline bool IsProblem(const driver::ModelOutcome& m) {
  return m.fate != driver::Fate::kMeasured || !m.missing_textures.empty();
}

class ResultsModel : public QAbstractTableModel {
 public:
  explicit ResultsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Empties the table (a new run).
  void Clear();
  // Adds rows at the end, as one insertion.
  void Append(std::vector<driver::ModelOutcome> outcomes);
  // The whole table at once, when the run's own list differs from the rows received.
  void Reset(std::vector<driver::ModelOutcome> outcomes);

  const std::vector<driver::ModelOutcome>& Results() const { return results_; }
  const driver::ModelOutcome& At(int row) const { return results_[static_cast<std::size_t>(row)]; }

  // The order of two rows by a column: numbers as numbers (rows without one first), texts
  // without regard to case, fates and reasons in their enums' order.
  bool Less(int column, int left_row, int right_row) const;
  // Whether the model's name, reason (as shown) or a missing texture holds `needle`, ignoring
  // case.
  bool Matches(int row, const QString& needle) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<driver::ModelOutcome> results_;
};

// What the view shows of the model: sorted by any column, filtered by a text over names and
// reasons, and to the problems only when asked.
class ResultsFilter : public QSortFilterProxyModel {
 public:
  explicit ResultsFilter(ResultsModel* model, QObject* parent = nullptr);

  void SetText(const QString& text);
  void SetProblemsOnly(bool on);
  // The source row of a row of the view.
  int SourceRow(int view_row) const;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  ResultsModel* model_;
  QString text_;
  bool problems_only_ = false;
};

}  // namespace ui
