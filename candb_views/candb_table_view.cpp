#include "candb_views/candb_table_view.h"

#include <QHeaderView>

#include "candb/signal_table.h"

namespace tessmar {

CANdbTableView::CANdbTableView(QWidget* parent) : QTableWidget(parent) {
  setObjectName(QStringLiteral("SG_CANdbTable"));
  setColumnCount(kSignalTableColumns);
  QStringList titles;
  for (const char* title : SignalTableTitles()) titles << QString::fromLatin1(title);
  setHorizontalHeaderLabels(titles);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAlternatingRowColors(true);
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setStretchLastSection(true);
}

void CANdbTableView::ShowTable(const SignalTable& table) {
  setUpdatesEnabled(false);
  setRowCount(0);
  int shown = 0;
  for (int r = 1; r < table.row_count(); ++r) {
    if (table.cell(r, kColSigName).empty()) continue;  // the empty row of a fresh table
    setRowCount(shown + 1);
    for (int c = 0; c < kSignalTableColumns; ++c) {
      setItem(shown, c, new QTableWidgetItem(QString::fromStdString(table.cell(r, c))));
    }
    ++shown;
  }
  resizeColumnsToContents();
  setUpdatesEnabled(true);
}

}  // namespace tessmar
