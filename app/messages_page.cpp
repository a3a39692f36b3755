#include "app/messages_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "common/message_output.h"
#include "config/table_editors.h"

namespace tessmar {
namespace {

template <std::size_t N>
QTableWidget* MakeGrid(const char* name, int rows, const std::array<const char*, N>& titles,
                       QWidget* parent) {
  auto* grid = new QTableWidget(rows, int(N), parent);
  grid->setObjectName(QString::fromLatin1(name));
  QStringList labels;
  for (const char* t : titles) labels << FromCore(Tr(t));
  grid->setHorizontalHeaderLabels(labels);
  grid->verticalHeader()->setVisible(false);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setColumnWidth(0, 40);
  return grid;
}

QString Cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

// Sets a cell's text; the "Nr" column is shown, never edited.
void SetCell(QTableWidget* grid, int row, int column, const QString& text) {
  auto* item = new QTableWidgetItem(text);
  if (column == 0) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  grid->setItem(row, column, item);
}

void SetGridRed(QTableWidget* grid, bool red) {
  QPalette palette = grid->palette();
  palette.setColor(QPalette::Base, red ? QColor(255, 128, 128)
                                       : grid->style()->standardPalette().color(QPalette::Base));
  grid->setPalette(palette);
}

QPushButton* MakeButton(const char* name, const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

MessagesPage::MessagesPage(LoggerConfiguration& config, const int& update_guard, QWidget* parent)
    : QWidget(parent), config_(config), update_guard_(update_guard) {
  SG_OwnMessages = MakeGrid("SG_OwnMessages", 0, kMessageGridTitles, this);
  SG_OwnMessages->setColumnWidth(1, 40);
  SG_OwnMessages->setColumnWidth(2, 110);
  SG_OwnMessages->setColumnWidth(3, 220);
  SG_OwnMessages->setColumnWidth(4, 180);
  SG_Expressions = MakeGrid("SG_Expressions", MAX_LOGGED_EXPRESSIONS, kExpressionGridTitles, this);
  SG_Expressions->setColumnWidth(1, 180);
  SG_Expressions->setColumnWidth(2, 90);
  SG_Expressions->setColumnWidth(3, 90);

  Btn_ApplyMessages = MakeButton("Btn_ApplyMessages", tr("CLICK HERE TO APPLY EDITS !!!"), this);
  Btn_ApplyExpressions =
      MakeButton("Btn_ApplyExpressions", tr("CLICK HERE TO APPLY EDITS !!!"), this);
  Btn_ApplyMessages->setToolTip(tr("Write the edited message table into the logger configuration"));
  Btn_ApplyExpressions->setToolTip(
      tr("Write the edited expressions into the logger configuration"));
  Btn_HelpMessages = MakeButton("Btn_HelpMessages", tr("Help"), this);
  Btn_HelpExpressions = MakeButton("Btn_HelpExpressions", tr("Help"), this);

  connect(Btn_ApplyMessages, &QPushButton::clicked, this, &MessagesPage::ApplyMessages);
  connect(Btn_ApplyExpressions, &QPushButton::clicked, this, &MessagesPage::ApplyExpressions);
  // The first edit of a grid enables its apply button.
  connect(SG_OwnMessages, &QTableWidget::cellChanged, this, [this] {
    if (filling_ == 0 && update_guard_ == 0) Btn_ApplyMessages->setEnabled(true);
  });
  connect(SG_Expressions, &QTableWidget::cellChanged, this, [this] {
    if (filling_ == 0 && update_guard_ == 0) Btn_ApplyExpressions->setEnabled(true);
  });
  connect(Btn_HelpMessages, &QPushButton::clicked, this, [this] {
    QMessageBox::information(
        this, tr("Messages, etc"),
        tr("One row per message slot of the logger. \"Bus\": 1 or 2. \"CAN-ID\": 0x123 is a "
           "standard identifier; more than five characters (0x0123, 0x18FEF100) make it an "
           "extended one. \"Intv.-Limit/ms\": the shortest interval at which the logger writes "
           "the message (0 = every telegram, at most 10000 ms). An empty CAN-ID frees the slot.\n"
           "Edits take effect when you click the apply button."));
  });
  connect(Btn_HelpExpressions, &QPushButton::clicked, this, [this] {
    QMessageBox::information(
        this, tr("Messages, etc"),
        tr("Each expression with a name is evaluated by the logger and recorded like a signal. "
           "MinVal and MaxVal give its expected range. Rows without a name are dropped.\n"
           "Edits take effect when you click the apply button."));
  });

  auto button_row = [this](QPushButton* apply, QPushButton* help) {
    auto* row = new QHBoxLayout;
    row->addWidget(apply);
    row->addWidget(help);
    row->addStretch(1);
    return row;
  };
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(tr("Add own CAN-message-IDs for logging here (no CANdb file required),"), this));
  layout->addWidget(new QLabel(
      tr("or define individual limits for the logger's write-interval in this table."), this));
  layout->addWidget(SG_OwnMessages, 3);
  layout->addLayout(button_row(Btn_ApplyMessages, Btn_HelpMessages));
  layout->addSpacing(8);
  layout->addWidget(
      new QLabel(tr("Besides CAN-messages, you can record other values too (see manual)."), this));
  layout->addWidget(new QLabel(tr("Enter a few EXPRESSIONS to define those values below."), this));
  layout->addWidget(SG_Expressions, 2);
  layout->addLayout(button_row(Btn_ApplyExpressions, Btn_HelpExpressions));
}

void MessagesPage::Refill() {
  const T_CanLog_Config& cfg = config_.cfg;
  if (!Btn_ApplyMessages->isEnabled() || cfg.Msg != shown_messages_ ||
      cfg.DeviceFamily != shown_family_) {
    RefillMessages();
  }
  if (!Btn_ApplyExpressions->isEnabled() || cfg.Exp != shown_expressions_) RefillExpressions();
}

void MessagesPage::RefillMessages() {
  ++filling_;
  const MessageGridFill fill = FillMessageGrid(config_.cfg);
  shown_messages_ = config_.cfg.Msg;
  shown_family_ = config_.cfg.DeviceFamily;
  SG_OwnMessages->setRowCount(int(fill.rows.size()));
  for (int r = 0; r < int(fill.rows.size()); ++r) {
    const MessageGridRow& row = fill.rows[std::size_t(r)];
    SetCell(SG_OwnMessages, r, 0, QString::number(r));
    SetCell(SG_OwnMessages, r, 1, FromCore(row.bus));
    SetCell(SG_OwnMessages, r, 2, FromCore(row.can_id));
    SetCell(SG_OwnMessages, r, 3, FromCore(row.name));
    SetCell(SG_OwnMessages, r, 4, FromCore(row.sender));
    SetCell(SG_OwnMessages, r, 5, FromCore(row.interval));
  }
  message_grid_red_ = fill.red;
  SetGridRed(SG_OwnMessages, fill.red);
  Btn_ApplyMessages->setEnabled(false);
  --filling_;
}

void MessagesPage::RefillExpressions() {
  ++filling_;
  const auto rows = FillExpressionGrid(config_.cfg);
  shown_expressions_ = config_.cfg.Exp;
  for (int r = 0; r < int(rows.size()); ++r) {
    const ExpressionGridRow& row = rows[std::size_t(r)];
    SetCell(SG_Expressions, r, 0, QString::number(r));
    SetCell(SG_Expressions, r, 1, FromCore(row.name));
    SetCell(SG_Expressions, r, 2, FromCore(row.min));
    SetCell(SG_Expressions, r, 3, FromCore(row.max));
    SetCell(SG_Expressions, r, 4, FromCore(row.expression));
  }
  Btn_ApplyExpressions->setEnabled(false);
  --filling_;
}

void MessagesPage::ApplyMessages() {
  std::vector<MessageGridRow> rows(std::size_t(SG_OwnMessages->rowCount()));
  for (int r = 0; r < int(rows.size()); ++r) {
    rows[std::size_t(r)] = {ToCore(Cell(SG_OwnMessages, r, 1)), ToCore(Cell(SG_OwnMessages, r, 2)),
                            ToCore(Cell(SG_OwnMessages, r, 3)), ToCore(Cell(SG_OwnMessages, r, 4)),
                            ToCore(Cell(SG_OwnMessages, r, 5))};
  }
  ApplyMessageGrid(rows, config_.cfg);
  config_.modified = true;
  RefillMessages();
  Q_EMIT applied();
}

void MessagesPage::ApplyExpressions() {
  std::vector<ExpressionGridRow> rows(std::size_t(SG_Expressions->rowCount()));
  for (int r = 0; r < int(rows.size()); ++r) {
    rows[std::size_t(r)] = {ToCore(Cell(SG_Expressions, r, 1)), ToCore(Cell(SG_Expressions, r, 2)),
                            ToCore(Cell(SG_Expressions, r, 3)), ToCore(Cell(SG_Expressions, r, 4))};
  }
  ApplyExpressionGrid(rows, config_.cfg);
  config_.modified = true;
  RefillExpressions();
  Q_EMIT applied();
}

}  // namespace tessmar
