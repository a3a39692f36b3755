#pragma once
// The "Table" page of the CANdb views: the CANdb signal table as a 17-column grid, header row as
// the fixed row and the "St" column as the fixed column: it is drawn as the row headers, which stay
// in place while the other columns scroll sideways and belong to their rows whatever the
// scrolling. One grid row per data row of the table (grid row i is table row i + 1). The
// model reads the cells of the table directly, so a rebuild is one reset and costs nothing per
// row; a database with tens of thousands of signals shows at once.

#include <QAbstractTableModel>
#include <QTableView>

class QLabel;

namespace tessmar {

class SignalTable;

class SignalTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit SignalTableModel(const SignalTable& table, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // After rows were added, overwritten or cut away.
  void Reset();
  // After the "St" marks changed.
  void MarksChanged();

 private:
  const SignalTable& table_;
};

class CANdbTableView : public QTableView {
  Q_OBJECT
 public:
  CANdbTableView(const SignalTable& table, QWidget* parent = nullptr);

  SignalTableModel* table_model() const { return model_; }
  // Shows the table again after a load or a clear.
  void ShowTable();
  // Table row of the current grid row, 0 when none.
  int CurrentTableRow() const;
  // Makes table row r the current row (signal name column) and scrolls it into view.
  void SetCurrentTableRow(int r);
  // Table rows of the selection, top to bottom.
  std::vector<int> SelectedTableRows() const;

 protected:
  void updateGeometries() override;

 private:
  void PlaceCornerTitle();

  SignalTableModel* model_;
  QLabel* corner_title_ = nullptr;  // "St" above the row headers
};

}  // namespace tessmar
