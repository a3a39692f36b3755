#include "candb_views/candb_table_view.h"

#include <QHeaderView>
#include <QItemSelectionModel>
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
  static const int kWidths[kSignalTableColumns] = {28, 150, 48, 110, 100, 130, 78,  50, 60,
                                                   60, 66,  66, 72,  110, 70,  180, 70};
  const int unit = fontMetrics().horizontalAdvance(QLatin1Char('x'));
  for (int c = 0; c < kSignalTableColumns; ++c) {
    setColumnWidth(c, std::max(kWidths[c] * unit / 7, 24));
  }

  // The fixed column: a second view of the same model and selection that shows only column 0,
  // laid over the grid's left edge and scrolled vertically with it.
  fixed_column_ = new QTableView(this);
  fixed_column_->setModel(model_);
  fixed_column_->setSelectionModel(selectionModel());
  fixed_column_->setFocusPolicy(Qt::NoFocus);
  fixed_column_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fixed_column_->setSelectionBehavior(QAbstractItemView::SelectRows);
  fixed_column_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  fixed_column_->setAlternatingRowColors(true);
  fixed_column_->verticalHeader()->setVisible(false);
  fixed_column_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  fixed_column_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
  fixed_column_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  fixed_column_->horizontalHeader()->setHighlightSections(false);
  fixed_column_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_column_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_column_->setFrameShape(QFrame::NoFrame);
  for (int c = 1; c < kSignalTableColumns; ++c) fixed_column_->setColumnHidden(c, true);
  fixed_column_->setColumnWidth(kColSt, columnWidth(kColSt));
  viewport()->stackUnder(fixed_column_);
  connect(fixed_column_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(verticalScrollBar(), &QAbstractSlider::valueChanged, fixed_column_->verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this,
          [this](int section, int, int size) {
            if (section == kColSt) {
              fixed_column_->setColumnWidth(kColSt, size);
              PlaceFixedColumn();
            }
          });
  PlaceFixedColumn();
}

void CANdbTableView::PlaceFixedColumn() {
  fixed_column_->setGeometry(frameWidth(), frameWidth(), columnWidth(kColSt),
                             viewport()->height() + horizontalHeader()->height());
}

void CANdbTableView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  PlaceFixedColumn();
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
