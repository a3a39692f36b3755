#include "candb_views/candb_table_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <set>

#include "candb/signal_table.h"

namespace tessmar {

SignalTableModel::SignalTableModel(const SignalTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {}

int SignalTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : table_.data_row_count();
}

int SignalTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kSignalTableColumns;
}

QVariant SignalTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !table_.IsDataRow(index.row() + 1)) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromStdString(table_.cell(index.row() + 1, index.column()));
  }
  if (role == Qt::TextAlignmentRole && index.column() == kColSt) return int(Qt::AlignCenter);
  return {};
}

QVariant SignalTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= kSignalTableColumns) return {};
    return QString::fromLatin1(SignalTableTitles()[static_cast<std::size_t>(section)]);
  }
  return section + 1;
}

void SignalTableModel::Reset() {
  beginResetModel();
  endResetModel();
}

void SignalTableModel::MarksChanged() {
  if (rowCount() > 0) Q_EMIT dataChanged(index(0, kColSt), index(rowCount() - 1, kColSt));
}

CANdbTableView::CANdbTableView(const SignalTable& table, QWidget* parent)
    : QTableView(parent), model_(new SignalTableModel(table, this)) {
  setObjectName(QStringLiteral("SG_CANdbTable"));
  setModel(model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);  // Shift extends the selection
  setAlternatingRowColors(true);
  setWordWrap(false);
  verticalHeader()->setVisible(false);
  // Every row has the same height: the view never measures rows one by one.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setHighlightSections(false);
  // Fixed widths from the header texts and typical cells: measuring all rows would cost a pass
  // over a large table at every load.
  static const int kWidths[kSignalTableColumns] = {28, 150, 48, 110, 100, 130, 78, 50,
                                                   60, 60,  66, 66,  72,  110, 70,  180, 70};
  const int unit = fontMetrics().horizontalAdvance(QLatin1Char('x'));
  for (int c = 0; c < kSignalTableColumns; ++c) {
    setColumnWidth(c, std::max(kWidths[c] * unit / 7, 24));
  }
}

void CANdbTableView::ShowTable() { model_->Reset(); }

int CANdbTableView::CurrentTableRow() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() + 1 : 0;
}

void CANdbTableView::SetCurrentTableRow(int r) {
  if (r < 1 || r > model_->rowCount()) return;
  const QModelIndex index = model_->index(r - 1, kColSigName);
  selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

std::vector<int> CANdbTableView::SelectedTableRows() const {
  std::set<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedIndexes()) rows.insert(index.row() + 1);
  return {rows.begin(), rows.end()};
}

}  // namespace tessmar
