#include "boxtally/ui/results_model.h"

#include <strings.h>

#include <algorithm>
#include <utility>

#include "boxtally/ui/window_texts.h"

namespace ui {

namespace {

// The column's number for a measured model. `to_sort`: a size as the float difference of its
// sides, which orders the rows as the sizes do (they differ by a unit in the last place at most)
// at a fraction of the cost of BoxSize, paid at every comparison of a sort.
double NumberOf(const driver::ModelOutcome& m, int column, bool to_sort = false) {
  switch (column) {
    case kColumnWidth:
    case kColumnHeight:
    case kColumnDepth: {
      const auto axis = static_cast<std::size_t>(column - kColumnWidth);
      return to_sort ? m.box[axis + 3] - m.box[axis] : driver::BoxSize(m, axis);
    }
    case kColumnVertices:
      return m.vertices;
    case kColumnPolygons:
      return m.polygons;
    default:
      return 0;
  }
}

bool IsNumberColumn(int column) { return column >= kColumnWidth && column <= kColumnPolygons; }

// -1, 0 or 1, as strcmp.
template <typename T>
int Compare(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether a name holds the filter's text, letter case aside. A filter of ASCII letters (the rule)
// is looked for in the name's UTF-8 bytes as they are, which no multi-byte character can fool:
// no text is made for each of 100,000 rows at every key.
bool NameHolds(const std::string& name, const QString& needle) {
  bool ascii = true;
  for (const QChar c : needle) ascii = ascii && c.unicode() < 0x80;
  if (!ascii) return QString::fromStdString(name).contains(needle, Qt::CaseInsensitive);
  const QByteArray bytes = needle.toLatin1();
  const auto same = [](char a, char b) { return LowerAscii(a) == LowerAscii(b); };
  return std::search(name.begin(), name.end(), bytes.begin(), bytes.end(), same) != name.end();
}
}  // namespace

void ResultsModel::Clear() { Reset({}); }

void ResultsModel::Append(std::vector<driver::ModelOutcome> outcomes) {
  if (outcomes.empty()) return;
  const int first = static_cast<int>(results_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(outcomes.size()) - 1);
  results_.insert(results_.end(), std::make_move_iterator(outcomes.begin()),
                  std::make_move_iterator(outcomes.end()));
  endInsertRows();
}

void ResultsModel::Reset(std::vector<driver::ModelOutcome> outcomes) {
  beginResetModel();
  results_ = std::move(outcomes);
  endResetModel();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(results_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kResultsColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const driver::ModelOutcome& m = At(index.row());
  const int column = index.column();
  if (role == Qt::TextAlignmentRole) {
    return IsNumberColumn(column) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  }
  if (role == Qt::ToolTipRole &&
      (column == kColumnReason || column == kColumnSource || column == kColumnMissingTextures)) {
    return data(index, Qt::DisplayRole);  // long reasons and paths, whole
  }
  if (role != Qt::DisplayRole) return {};
  switch (column) {
    case kColumnName:
      return QString::fromStdString(m.name);
    case kColumnFate:
      return texts::FateText(m.fate);
    case kColumnReason:
      return texts::ReasonFrench(m);
    case kColumnWidth:
    case kColumnHeight:
    case kColumnDepth:
      if (!driver::HasMeasures(m)) return {};
      return texts::SizeText(NumberOf(m, column));
    case kColumnVertices:
    case kColumnPolygons:
      if (!driver::HasMeasures(m)) return {};
      return texts::Count(static_cast<std::size_t>(NumberOf(m, column)));
    case kColumnNotes:
      return driver::HasMeasures(m) ? texts::NotesText(m.flags) : QString();
    case kColumnMissingTextures:
      return texts::MissingTexturesText(m);
    case kColumnSource:
      return QString::fromStdString(m.source);
    default:
      return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kResultsColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(texts::kResultsColumns[section]);
  if (role != Qt::ToolTipRole || section < kColumnWidth || section > kColumnDepth) return {};
  // How the registry writes the box on the column's axis.
  static const char* const kTags[3][4] = {{"x", "<fleft>", "<fright>", "<fx>"},
                                          {"y", "<fbottom>", "<ftop>", "<fy>"},
                                          {"z", "<fback>", "<ffront>", "<fz>"}};
  const char* const* tags = kTags[section - kColumnWidth];
  return QString::fromUtf8(texts::kHintSizeColumn)
      .arg(QString::fromLatin1(tags[0]), QString::fromLatin1(tags[1]),
           QString::fromLatin1(tags[2]), QString::fromLatin1(tags[3]));
}

bool ResultsModel::Less(int column, int left_row, int right_row) const {
  const driver::ModelOutcome& a = At(left_row);
  const driver::ModelOutcome& b = At(right_row);
  int order = 0;
  if (IsNumberColumn(column)) {
    order = Compare(driver::HasMeasures(a), driver::HasMeasures(b));
    if (order == 0 && driver::HasMeasures(a)) {
      order = Compare(NumberOf(a, column, true), NumberOf(b, column, true));
    }
  } else if (column == kColumnName) {
    order = strcasecmp(a.name.c_str(), b.name.c_str());
  } else if (column == kColumnSource) {
    order = strcasecmp(a.source.c_str(), b.source.c_str());
  } else if (column == kColumnFate) {
    order = Compare(a.fate, b.fate);
  } else if (column == kColumnReason) {
    order = Compare(a.reason, b.reason);
    if (order == 0) order = a.facts.compare(b.facts);
  } else if (column == kColumnNotes) {
    const auto flags = [](const driver::ModelOutcome& m) {
      return driver::HasMeasures(m) ? m.flags : -1;
    };
    order = Compare(flags(a), flags(b));
  } else if (column == kColumnMissingTextures) {
    order = Compare(a.missing_textures, b.missing_textures);  // none first
  }
  return order < 0;  // equal rows keep the registry's order: the view's sort is stable
}

bool ResultsModel::Matches(int row, const QString& needle) const {
  if (needle.isEmpty()) return true;
  const driver::ModelOutcome& m = At(row);
  if (NameHolds(m.name, needle)) return true;
  for (const std::string& texture : m.missing_textures) {
    if (NameHolds(texture, needle)) return true;
  }
  return m.reason != driver::Reason::kNone &&
         texts::ReasonFrench(m).contains(needle, Qt::CaseInsensitive);
}

ResultsFilter::ResultsFilter(ResultsModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), model_(model) {
  setSourceModel(model);
}

// A new filter sorts and filters the rows anew at once: telling the view which of 100,000 rows
// went, range by range, takes it twenty times longer.
void ResultsFilter::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  invalidate();
}

void ResultsFilter::SetProblemsOnly(bool on) {
  if (on == problems_only_) return;
  problems_only_ = on;
  invalidate();
}

int ResultsFilter::SourceRow(int view_row) const {
  return mapToSource(index(view_row, 0)).row();
}

bool ResultsFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  return model_->Less(left.column(), left.row(), right.row());
}

bool ResultsFilter::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const {
  (void)source_parent;
  if (problems_only_ && !IsProblem(model_->At(source_row))) return false;
  return model_->Matches(source_row, text_);
}

}  // namespace ui
