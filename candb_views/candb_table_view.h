#pragma once
// A read-only view of the CANdb signal table: one row per imported signal of both buses, the
// table's 17 columns. The editing, tree, lists and search of the CANdb page build on it later.

#include <QTableWidget>

namespace tessmar {

class SignalTable;

class CANdbTableView : public QTableWidget {
  Q_OBJECT
 public:
  explicit CANdbTableView(QWidget* parent = nullptr);

  // Shows the data rows of the table (call after every load).
  void ShowTable(const SignalTable& table);
};

}  // namespace tessmar
