#include "candb_views/candb_table_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
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
  if (orientation == Qt::Vertical) {
    // The row headers carry the "St" column: they stay in place while the cells scroll sideways
    // and always move with their rows.
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole || !table_.IsDataRow(section + 1)) return {};
    return QString::fromStdString(table_.cell(section + 1, kColSt));
  }
  if (role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kSignalTableColumns) return {};
  return QString::fromLatin1(SignalTableTitles()[static_cast<std::size_t>(section)]);
}

void SignalTableModel::Reset() {
  beginResetModel();
  endResetModel();
}

void SignalTableModel::MarksChanged() {
  if (rowCount() == 0) return;
  Q_EMIT dataChanged(index(0, kColSt), index(rowCount() - 1, kColSt));
  Q_EMIT headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
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
  // Every row has the same height: the view never measures rows one by one.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setHighlightSections(false);
  // Fixed widths from the header texts and typical cells: measuring all rows would cost a pass
  // over a large table at every load.
  static const int kWidths[kSignalTableColumns] = {28, 150, 48, 110, 100, 130, 78,  50, 60,
                                                   60, 66,  66, 72,  110, 70,  180, 70};
  const int unit = fontMetrics().horizontalAdvance(QLatin1Char('x'));
  for (int c = 0; c < kSignalTableColumns; ++c) {
    setColumnWidth(c, std::max(kWidths[c] * unit / 7, 24));
  }
  // The "St" column is shown as the row headers (fixed while the grid scrolls sideways), wide
  // enough for "[*]" and for its title in the corner.
  setColumnHidden(kColSt, true);
  const int st_width = std::max(fontMetrics().horizontalAdvance(QStringLiteral("[*]")),
                                fontMetrics().horizontalAdvance(QStringLiteral("St"))) +
                       16;
  verticalHeader()->setFixedWidth(st_width);
  corner_title_ = new QLabel(QStringLiteral("St"), this);
  corner_title_->setObjectName(QStringLiteral("Lab_StTitle"));
  corner_title_->setAlignment(Qt::AlignCenter);
  corner_title_->setAttribute(Qt::WA_TransparentForMouseEvents);
  PlaceCornerTitle();
}

void CANdbTableView::PlaceCornerTitle() {
  if (!corner_title_) return;  // geometries are updated while the view is being built
  corner_title_->setGeometry(frameWidth(), frameWidth(), verticalHeader()->width(),
                             horizontalHeader()->height());
}

void CANdbTableView::updateGeometries() {
  QTableView::updateGeometries();
  PlaceCornerTitle();
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
