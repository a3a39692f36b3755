#include "candb_views/candb_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "candb_views/candb_table_view.h"
#include "candb_views/graph_msg_view.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "config/trigger_conversion.h"

namespace tessmar {
namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Raises the page's nesting counter for one scope.
class Nesting : public QScopedValueRollback<int> {
 public:
  explicit Nesting(int& counter) : QScopedValueRollback<int>(counter, counter + 1) {}
};

// The four node images of the tree: bus, node, message, signal.
QIcon TreeIcon(TreeNodeKind kind) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 1));
  switch (kind) {
    case TreeNodeKind::kBus:
      p.setBrush(QColor(70, 110, 200));
      p.drawRect(1, 6, 14, 4);
      p.drawLine(4, 2, 4, 6);
      p.drawLine(12, 10, 12, 14);
      break;
    case TreeNodeKind::kNode:
      p.setBrush(QColor(90, 170, 90));
      p.drawRoundedRect(2, 2, 12, 12, 3, 3);
      break;
    case TreeNodeKind::kMessage:
      p.setBrush(QColor(240, 190, 90));
      p.drawRect(1, 3, 14, 10);
      p.drawLine(1, 3, 8, 9);
      p.drawLine(15, 3, 8, 9);
      break;
    case TreeNodeKind::kSignal:
      p.setPen(QPen(QColor(180, 60, 60), 2));
      p.drawPolyline(QPolygon({QPoint(1, 11), QPoint(5, 11), QPoint(5, 4), QPoint(10, 4),
                               QPoint(10, 11), QPoint(15, 11)}));
      break;
  }
  return QIcon(pm);
}

QString HintText(int view_page) {
  // The hint table counts table 0, tree 1, lists 2; the tabs run tree, table, lists.
  const int hint_page = view_page == CANdbPage::kTreePage    ? 1
                        : view_page == CANdbPage::kTablePage ? 0
                                                             : 2;
  QString hint = Q(HowToSelectHint(hint_page));
  hint.replace(QStringLiteral("&&"), QStringLiteral("&"));  // one ampersand shows
  return hint;
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  return b;
}

QListWidget* List(const char* name, QWidget* parent) {
  auto* l = new QListWidget(parent);
  l->setObjectName(QLatin1String(name));
  l->setUniformItemSizes(true);
  return l;
}

// Refills a list box: first the waiting text, repainted once, then the entries inside one
// update bracket.
void FillList(QListWidget* list, const std::vector<std::string>& entries,
              const QStringList& waiting) {
  list->clear();
  list->addItems(waiting);
  list->repaint();
  list->setUpdatesEnabled(false);
  list->clear();
  QStringList items;
  items.reserve(static_cast<qsizetype>(entries.size()));
  for (const std::string& e : entries) items << Q(e);
  list->addItems(items);
  list->setUpdatesEnabled(true);
}

void SelectListRow(QListWidget* list, int row) {
  if (row >= 0 && row < list->count()) {
    list->setCurrentRow(row);
  } else {
    list->clearSelection();
    list->setCurrentRow(-1);
  }
}

}  // namespace

// ---- Drag item mime data -------------------------------------------------------------------

QMimeData* DragItemMime(const DragItem& item) {
  auto* mime = new QMimeData;
  const QString text = QStringList{Q(item.bus), Q(item.node), Q(item.message), Q(item.signal)}.join(
      QLatin1Char('\t'));
  mime->setData(QLatin1String(kDragItemMimeType), text.toUtf8());
  return mime;
}

bool DragItemFromMime(const QMimeData* mime, DragItem& item) {
  if (!mime || !mime->hasFormat(QLatin1String(kDragItemMimeType))) return false;
  const QStringList parts =
      QString::fromUtf8(mime->data(QLatin1String(kDragItemMimeType))).split(QLatin1Char('\t'));
  if (parts.size() != 4) return false;
  item = {parts[0].toStdString(), parts[1].toStdString(), parts[2].toStdString(),
          parts[3].toStdString()};
  return true;
}

// ---- Tree widget ---------------------------------------------------------------------------

CandbTreeWidget::CandbTreeWidget(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("TV_CANdbTree"));
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setAcceptDrops(true);
  setDragEnabled(false);  // drags start from mouseMoveEvent with the pressed path
}

void CandbTreeWidget::ArmDrag(const DragItem* item) {
  armed_ = item != nullptr;
  if (item) drag_item_ = *item;
}

void CandbTreeWidget::mousePressEvent(QMouseEvent* event) {
  press_pos_ = event->pos();
  armed_ = false;
  QTreeWidget::mousePressEvent(event);
  if (QTreeWidgetItem* item = itemAt(event->pos())) Q_EMIT nodePressed(item, event->button());
}

void CandbTreeWidget::mouseMoveEvent(QMouseEvent* event) {
  if (armed_ && (event->buttons() & Qt::LeftButton) &&
      (event->pos() - press_pos_).manhattanLength() >= QApplication::startDragDistance()) {
    armed_ = false;
    auto* drag = new QDrag(this);
    drag->setMimeData(DragItemMime(drag_item_));
    drag->exec(Qt::CopyAction);
    return;
  }
  QTreeWidget::mouseMoveEvent(event);
}

void CandbTreeWidget::dragEnterEvent(QDragEnterEvent* event) {
  DragItem item;
  if (DragItemFromMime(event->mimeData(), item)) {
    ShowMessage(kMsgStatus, DragStatusText(item));
    event->accept();  // so that the moves over the tree are seen; the drop itself is refused
  } else {
    event->ignore();
  }
}

void CandbTreeWidget::dragMoveEvent(QDragMoveEvent* event) {
  DragItem item;
  if (DragItemFromMime(event->mimeData(), item)) ShowMessage(kMsgStatus, DragStatusText(item));
  event->ignore();
}

void CandbTreeWidget::dropEvent(QDropEvent* event) { event->ignore(); }

// ---- Logged signal list --------------------------------------------------------------------

LoggedSignalList::LoggedSignalList(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("LB_LoggedSignals"));
  setAcceptDrops(true);
  setDropIndicatorShown(false);
}

void LoggedSignalList::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QLatin1String(kDragItemMimeType))) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void LoggedSignalList::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasFormat(QLatin1String(kDragItemMimeType))) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void LoggedSignalList::dropEvent(QDropEvent* event) {
  DragItem item;
  if (!DragItemFromMime(event->mimeData(), item)) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  Q_EMIT itemDropped(item);
}

// ---- The page ------------------------------------------------------------------------------

CANdbPage::CANdbPage(LoggerConfiguration& config, SignalTable& table, QWidget* parent)
    : QWidget(parent), config_(config), table_(table) {
  setObjectName(QStringLiteral("TS_CANdb"));
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName(QStringLiteral("Splitter_CANdb"));
  auto* left = new QWidget(splitter_);
  auto* right = new QWidget(splitter_);
  BuildViews(left);
  BuildLoggedPanel(right);
  splitter_->addWidget(left);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  splitter_->setSizes({720, 330});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter_);

  layout_view_ = new TGraphMsgView(this);
  RebuildViews();
  RefillLogged();
  SelectLogged(-1);
}

CANdbPage::~CANdbPage() = default;

int CANdbPage::split_x() const { return splitter_->sizes().value(1, 0); }

void CANdbPage::SetSplitX(int width) {
  const int total = std::max(splitter_->width(), width + 100);
  splitter_->setSizes({total - width, width});
}

void CANdbPage::BuildViews(QWidget* left) {
  auto* load1 = Button(tr("Load #&1"), "Btn_LoadBus1", left);
  auto* load2 = Button(tr("Load #&2"), "Btn_LoadBus2", left);
  auto* clear = Button(tr("&Clear"), "Btn_ClearTable", left);
  RB_Bus1 = new QRadioButton(tr("Bus1"), left);
  RB_Bus1->setObjectName(QStringLiteral("RB_Bus1"));
  RB_Bus2 = new QRadioButton(tr("Bus2"), left);
  RB_Bus2->setObjectName(QStringLiteral("RB_Bus2"));
  RB_Bus1->setChecked(true);
  Btn_Search = Button(tr("&Search:"), "Btn_Search", left);
  Ed_Search = new QLineEdit(QString::fromLatin1(SignalSearch::kInitialText), left);
  Ed_Search->setObjectName(QStringLiteral("Ed_Search"));
  Ed_Search->setToolTip(tr("search SIGNAL NAME with wildcards ( * and ? )"));
  Ed_Search->setPlaceholderText(Ed_Search->toolTip());

  auto* bar = new QHBoxLayout;
  bar->addWidget(load1);
  bar->addWidget(load2);
  bar->addWidget(clear);
  bar->addSpacing(12);
  bar->addWidget(RB_Bus1);
  bar->addWidget(RB_Bus2);
  bar->addSpacing(12);
  bar->addWidget(Btn_Search);
  bar->addWidget(Ed_Search, 1);

  PC_CANdbViews = new QTabWidget(left);
  PC_CANdbViews->setObjectName(QStringLiteral("PC_CANdbViews"));

  // "Tree"
  auto* tree_page = new QWidget(PC_CANdbViews);
  TV_CANdbTree = new CandbTreeWidget(tree_page);
  auto* expand = Button(tr("Expand all"), "Btn_ExpandAll", tree_page);
  auto* contract = Button(tr("Contract all"), "Btn_ContractAll", tree_page);
  auto* tree_buttons = new QHBoxLayout;
  tree_buttons->addWidget(expand);
  tree_buttons->addWidget(contract);
  tree_buttons->addStretch(1);
  auto* tree_layout = new QVBoxLayout(tree_page);
  tree_layout->addWidget(TV_CANdbTree, 1);
  tree_layout->addLayout(tree_buttons);
  PC_CANdbViews->addTab(tree_page, tr("Tree"));

  // "Table"
  SG_CANdbTable = new CANdbTableView(table_, PC_CANdbViews);
  PC_CANdbViews->addTab(SG_CANdbTable, tr("Table"));

  // "Lists"
  auto* lists_page = new QWidget(PC_CANdbViews);
  LB_Nodes = List("LB_Nodes", lists_page);
  LB_Messages = List("LB_MessagesOfNode", lists_page);
  LB_Signals = List("LB_SignalsOfMessage", lists_page);
  auto* lists_layout = new QHBoxLayout(lists_page);
  const std::pair<QString, QListWidget*> columns[] = {{tr("CAN nodes"), LB_Nodes},
                                                      {tr("Messages of node"), LB_Messages},
                                                      {tr("Signals of message"), LB_Signals}};
  for (const auto& [caption, list] : columns) {
    auto* column = new QVBoxLayout;
    column->addWidget(new QLabel(caption, lists_page));
    column->addWidget(list, 1);
    lists_layout->addLayout(column, 1);
  }
  PC_CANdbViews->addTab(lists_page, tr("Lists"));

  Lab_HowToSelect = new QLabel(left);
  Lab_HowToSelect->setObjectName(QStringLiteral("Lab_HowToSelect"));

  auto* layout = new QVBoxLayout(left);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(bar);
  layout->addWidget(PC_CANdbViews, 1);
  layout->addWidget(Lab_HowToSelect);

  connect(load1, &QPushButton::clicked, this, [this] { Q_EMIT importRequested(1); });
  connect(load2, &QPushButton::clicked, this, [this] { Q_EMIT importRequested(2); });
  connect(clear, &QPushButton::clicked, this, &CANdbPage::ClearTable);
  connect(RB_Bus1, &QRadioButton::clicked, this, [this] { OnBusClicked(1); });
  connect(RB_Bus2, &QRadioButton::clicked, this, [this] { OnBusClicked(2); });
  connect(Btn_Search, &QPushButton::clicked, this, &CANdbPage::Search);
  connect(Ed_Search, &QLineEdit::returnPressed, this, &CANdbPage::Search);
  connect(Ed_Search, &QLineEdit::textEdited, this, [this] { search_.TextEdited(); });
  connect(expand, &QPushButton::clicked, TV_CANdbTree, &QTreeWidget::expandAll);
  connect(contract, &QPushButton::clicked, TV_CANdbTree, &QTreeWidget::collapseAll);
  connect(PC_CANdbViews, &QTabWidget::currentChanged, this, &CANdbPage::ShowHint);
  connect(TV_CANdbTree, &CandbTreeWidget::nodePressed, this, &CANdbPage::OnTreePressed);
  connect(TV_CANdbTree, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OnTreeDoubleClicked(item); });
  connect(SG_CANdbTable, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) AddRows({index.row() + 1});
  });
  connect(SG_CANdbTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { OnTableCurrentChanged(current.row() + 1); });
  connect(SG_CANdbTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CANdbPage::OnTableClicked);
  connect(LB_Nodes, &QListWidget::currentRowChanged, this, &CANdbPage::OnNodeClicked);
  connect(LB_Messages, &QListWidget::currentRowChanged, this, &CANdbPage::OnMessageClicked);
  connect(LB_Signals, &QListWidget::currentRowChanged, this, &CANdbPage::OnSignalClicked);
  connect(LB_Signals, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { OnSignalDoubleClicked(LB_Signals->row(item)); });
}

void CANdbPage::BuildLoggedPanel(QWidget* right) {
  Btn_AddSignals = Button(tr("&Add signal(s) to list"), "Btn_AddSignals", right);
  Btn_AddSignals->setToolTip(tr("Add selected signal from CANdb file to the LOGGER's signal list"));
  Btn_AddSignals->setEnabled(false);
  LB_LoggedSignals = new LoggedSignalList(right);
  LB_LoggedSignals->setToolTip(tr("List of all logged signals (also important for CONVERSION)"));
  Lab_LoggedCount = new QLabel(right);
  Lab_LoggedCount->setObjectName(QStringLiteral("Lab_LoggedCount"));
  Btn_MoveUp = Button(tr("Move up"), "Btn_MoveUp", right);
  Btn_MoveDown = Button(tr("Move down"), "Btn_MoveDown", right);
  Btn_RemoveSignal = Button(tr("Remove"), "Btn_RemoveSignal", right);
  Btn_RemoveSignal->setToolTip(tr("Remove selected signal from logger list"));
  Btn_More = Button(tr("More.."), "Btn_More", right);
  Ed_SignalInfo = new QPlainTextEdit(right);
  Ed_SignalInfo->setObjectName(QStringLiteral("Ed_SignalInfo"));
  Ed_SignalInfo->setReadOnly(true);
  Ed_SignalInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Ed_SignalInfo->setMaximumHeight(Ed_SignalInfo->fontMetrics().height() * 8 + 12);
  Chk_GraphicDisplay = new QCheckBox(tr("graphic display"), right);
  Chk_GraphicDisplay->setObjectName(QStringLiteral("Chk_GraphicDisplay"));

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {Btn_MoveUp, Btn_MoveDown, Btn_RemoveSignal, Btn_More})
    buttons->addWidget(b);
  auto* info_head = new QHBoxLayout;
  info_head->addWidget(new QLabel(tr("Signal info :"), right));
  info_head->addStretch(1);
  info_head->addWidget(Chk_GraphicDisplay);
  auto* layout = new QVBoxLayout(right);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Btn_AddSignals);
  layout->addWidget(LB_LoggedSignals, 1);
  layout->addWidget(Lab_LoggedCount);
  layout->addLayout(buttons);
  layout->addLayout(info_head);
  layout->addWidget(Ed_SignalInfo);

  connect(Btn_AddSignals, &QPushButton::clicked, this, &CANdbPage::AddSelectedRows);
  connect(LB_LoggedSignals, &LoggedSignalList::itemDropped, this, &CANdbPage::DropItem);
  connect(LB_LoggedSignals, &QListWidget::currentRowChanged, this, [this](int row) {
    if (selecting_ == 0) SelectLogged(row);
  });
  connect(Btn_MoveUp, &QPushButton::clicked, this, [this] { MoveSelected(true); });
  connect(Btn_MoveDown, &QPushButton::clicked, this, [this] { MoveSelected(false); });
  connect(Btn_RemoveSignal, &QPushButton::clicked, this, &CANdbPage::RemoveSelected);
  connect(Btn_More, &QPushButton::clicked, this, [this] {
    QMenu menu(this);
    menu.addAction(tr("List of logged signals / messages..."))->setEnabled(false);
    menu.addSeparator();
    menu.addAction(tr("&Remove all logged signals and messages"), this, &CANdbPage::EraseAll);
    menu.addAction(Q(SignalListInfoCaption(config_.cfg.DeviceFamily)))->setEnabled(false);
    menu.exec(QCursor::pos());
  });
  connect(Chk_GraphicDisplay, &QCheckBox::toggled, this, &CANdbPage::SetGraphicDisplay);
}

// ---- Refilling -----------------------------------------------------------------------------

void CANdbPage::RebuildViews() {
  const bool any = tessmar::RebuildViews(table_, config_.sigs, tree_, lists_);
  {
    Nesting nesting(selecting_);  // the reset of the grid moves its current row
    SG_CANdbTable->ShowTable();
  }
  BuildTree();
  if (any) {
    tree_items_[0]->setExpanded(true);
    tree_items_[1]->setExpanded(true);
  }
  shown_messages_.clear();
  shown_signals_.clear();
  {
    Nesting nesting(selecting_);
    QStringList nodes;
    for (const NodeListEntry& e : lists_.node_list()) nodes << Q(e.text);
    LB_Nodes->setUpdatesEnabled(false);
    LB_Nodes->clear();
    LB_Nodes->addItems(nodes);
    LB_Nodes->setUpdatesEnabled(true);
    LB_Messages->clear();
    LB_Signals->clear();
  }
  ShowLists();
  ShowHint();
}

void CANdbPage::BuildTree() {
  // Built detached and handed over in one step: the widget sees two insertions, not one per node.
  TV_CANdbTree->setUpdatesEnabled(false);
  TV_CANdbTree->clear();
  tree_items_.assign(static_cast<std::size_t>(tree_.size()), nullptr);
  const QIcon icons[] = {TreeIcon(TreeNodeKind::kBus), TreeIcon(TreeNodeKind::kNode),
                         TreeIcon(TreeNodeKind::kMessage), TreeIcon(TreeNodeKind::kSignal)};
  for (int i = 0; i < tree_.size(); ++i) {
    const SignalTreeNode& n = tree_.node(i);
    auto* item = n.parent < 0
                     ? new QTreeWidgetItem
                     : new QTreeWidgetItem(tree_items_[static_cast<std::size_t>(n.parent)]);
    item->setText(0, Q(n.text));
    item->setIcon(0, icons[static_cast<int>(n.kind)]);
    item->setData(0, Qt::UserRole, i);
    tree_items_[static_cast<std::size_t>(i)] = item;
  }
  TV_CANdbTree->addTopLevelItems({tree_items_[0], tree_items_[1]});
  TV_CANdbTree->setUpdatesEnabled(true);
}

QTreeWidgetItem* CANdbPage::TreeItemOf(const DragItem& path) const {
  for (int i = 0; i < tree_.size(); ++i) {
    const DragItem p = tree_.PathOf(i);
    if (p.bus == path.bus && p.node == path.node && p.message == path.message &&
        p.signal == path.signal) {
      return tree_items_[static_cast<std::size_t>(i)];
    }
  }
  return nullptr;
}

void CANdbPage::ShowLists() {
  Nesting nesting(selecting_);
  if (lists_.message_list() != shown_messages_) {
    FillList(LB_Messages, lists_.message_list(), {tr("Thinking, please wait")});
    shown_messages_ = lists_.message_list();
  }
  if (lists_.signal_list() != shown_signals_) {
    FillList(LB_Signals, lists_.signal_list(), {tr("Thinking,"), tr("please wait")});
    shown_signals_ = lists_.signal_list();
  }
  SelectListRow(LB_Nodes, lists_.selected_node());
  SelectListRow(LB_Messages, lists_.selected_message());
  SelectListRow(LB_Signals, lists_.selected_signal());
  (lists_.bus() == 2 ? RB_Bus2 : RB_Bus1)->setChecked(true);
}

void CANdbPage::ShowTableRow(int row) {
  Nesting nesting(selecting_);
  if (table_.IsDataRow(row)) SG_CANdbTable->SetCurrentTableRow(row);
}

void CANdbPage::ShowHint() { Lab_HowToSelect->setText(HintText(PC_CANdbViews->currentIndex())); }

void CANdbPage::RefillLogged() {
  MarkLoggedRows(table_, config_.sigs);
  SG_CANdbTable->table_model()->MarksChanged();
  const std::vector<std::string> names = LoggedSignalNames(config_.sigs);
  {
    Nesting nesting(selecting_);
    const int current = LB_LoggedSignals->currentRow();
    QStringList items;
    for (const std::string& n : names) items << Q(n);
    LB_LoggedSignals->clear();
    LB_LoggedSignals->addItems(items);
    SelectListRow(LB_LoggedSignals, current);
  }
  Lab_LoggedCount->setText(
      Q(CountLineText(static_cast<int>(names.size()), CountUsedMessages(config_.cfg), GermanUi())));
  // More signals or messages than the device family takes: the list turns red.
  QPalette palette = LB_LoggedSignals->palette();
  palette.setColor(QPalette::Base, ExceedsFamilyLimits(config_.cfg, config_.sigs)
                                       ? QColor(255, 128, 128)
                                       : style()->standardPalette().color(QPalette::Base));
  LB_LoggedSignals->setPalette(palette);
}

void CANdbPage::LoggedChanged(int select_index) {
  RefillLogged();
  SelectLogged(select_index);
  Q_EMIT loggedSignalsChanged();
}

// ---- Selection events ----------------------------------------------------------------------

void CANdbPage::OnTableCurrentChanged(int row) {
  if (selecting_ > 0) return;
  Nesting nesting(selecting_);
  table_.SetCurrentRow(row);
  const bool exists = lists_.SelectTableRow(table_, row);
  ShowLists();
  if (exists && Chk_GraphicDisplay->isChecked()) ShowLayoutForRow(row);
}

void CANdbPage::OnTableClicked() {
  if (selecting_ > 0) return;
  const std::vector<int> rows = SG_CANdbTable->SelectedTableRows();
  Btn_AddSignals->setEnabled(!rows.empty() && search_.TableClicked(table_, rows.front()));
}

void CANdbPage::OnTreePressed(QTreeWidgetItem* item, Qt::MouseButton button) {
  if (!item) return;
  const TreePress press = PressTreeNode(tree_, item->data(0, Qt::UserRole).toInt(), table_, lists_);
  ShowLists();
  ShowTableRow(table_.current_row());
  Btn_AddSignals->setEnabled(press.matches);
  // "&Add signal(s) to list" adds what a drag of this node adds: a message with all its signals.
  pressed_path_ = press.matches ? std::optional<DragItem>(press.item) : std::nullopt;
  TV_CANdbTree->ArmDrag(button == Qt::LeftButton && press.matches ? &press.item : nullptr);
}

void CANdbPage::OnTreeDoubleClicked(QTreeWidgetItem* item) {
  if (!item) return;
  const DragItem path = tree_.PathOf(item->data(0, Qt::UserRole).toInt());
  // A signal is added; nodes and messages open and close as usual.
  if (!path.signal.empty()) AddRows(RowsForDrop(table_, path));
}

void CANdbPage::OnNodeClicked(int index) {
  if (selecting_ > 0 || index < 0) return;
  lists_.ClickNode(table_, index);
  ShowLists();
}

void CANdbPage::OnMessageClicked(int index) {
  if (selecting_ > 0 || index < 0) return;
  lists_.ClickMessage(table_, index);
  ShowLists();
}

void CANdbPage::OnSignalClicked(int index) {
  if (selecting_ > 0 || index < 0) return;
  const int row = lists_.ClickSignal(table_, index);
  ShowLists();
  ShowTableRow(row);
  if (row >= 1 && Chk_GraphicDisplay->isChecked()) ShowLayoutForRow(row);
}

void CANdbPage::OnSignalDoubleClicked(int index) {
  if (index < 0 || index >= static_cast<int>(lists_.signal_list().size())) return;
  const int row = lists_.RowOf(table_, lists_.signal_list()[static_cast<std::size_t>(index)]);
  if (row < 1) return;
  AddTableRow(config_, table_, row);
  LoggedChanged(LB_LoggedSignals->currentRow());
}

void CANdbPage::OnBusClicked(int bus) {
  if (selecting_ > 0) return;
  lists_.SelectBus(table_, bus);
  ShowLists();
  ShowTableRow(table_.current_row());
}

// ---- Actions -------------------------------------------------------------------------------

void CANdbPage::Search() {
  const SearchResult result = search_.Search(table_, lists_, Ed_Search->text().toStdString(),
                                             PC_CANdbViews->currentIndex() == kTreePage);
  if (result.show_lists_page) PC_CANdbViews->setCurrentIndex(kListsPage);
  if (result.beep) {
    QApplication::beep();
    return;
  }
  ShowLists();
  ShowTableRow(result.row);
}

void CANdbPage::AddSelectedRows() {
  // On the tree page the node pressed last counts, as if it were dragged to the list.
  if (PC_CANdbViews->currentIndex() == kTreePage && pressed_path_) {
    AddRows(RowsForDrop(table_, *pressed_path_));
    return;
  }
  // Every row of the selection, top to bottom; a Cancel answer affects only its own row.
  for (int row : SG_CANdbTable->SelectedTableRows()) AddTableRow(config_, table_, row);
  LoggedChanged(LB_LoggedSignals->currentRow());
}

void CANdbPage::AddRows(const std::vector<int>& rows) {
  for (int row : rows) {
    if (EndsAddRun(AddTableRow(config_, table_, row))) break;
  }
  LoggedChanged(LB_LoggedSignals->currentRow());
}

void CANdbPage::DropItem(const DragItem& item) {
  ShowMessage(kMsgStatus, DropStatusText(item));
  AddRows(RowsForDrop(table_, item));
}

void CANdbPage::RemoveSelected() {
  const int index = LB_LoggedSignals->currentRow();
  if (QListWidgetItem* item = LB_LoggedSignals->currentItem()) {
    const std::string name = item->text().toStdString();
    if (!ConfirmRemovingTriggerSignal(name)) return;
    RemoveLoggedSignal(config_, name);
  }
  // The selection stays at the same index while the list still has it.
  LoggedChanged(index < CountUsedSignals(config_.sigs) ? index : -1);
}

bool CANdbPage::ConfirmRemovingTriggerSignal(const std::string& name) {
  const std::vector<int> lines = TriggerLinesUsing(config_.cfg, name);
  if (lines.empty()) return true;
  std::string numbers;
  for (const int line : lines) numbers += (numbers.empty() ? "" : ", ") + std::to_string(line + 1);
  Question q;
  q.caption = "Warning";
  q.icon = Icon::kWarning;
  q.text = StrPrintf(Tr("The trigger uses the signal \"%s\" (trigger line %s).\r\nWithout it in "
                        "the logger list the logger cannot evaluate that condition.\r\n\r\n"
                        "Remove the signal all the same ?"),
                     name.c_str(), numbers.c_str());
  q.buttons = Buttons::kYesNo;
  q.batch_answer = Answer::kYes;
  return Ask(q) == Answer::kYes;
}

void CANdbPage::MoveSelected(bool up) {
  QListWidgetItem* item = LB_LoggedSignals->currentItem();
  if (!item) return;
  const std::string name = item->text().toStdString();
  if (MoveLoggedSignal(config_, name, up, LB_LoggedSignals->currentRow(),
                       LB_LoggedSignals->count()) < 0) {
    return;
  }
  const std::vector<std::string> names = LoggedSignalNames(config_.sigs);
  const auto it = std::find(names.begin(), names.end(), name);
  LoggedChanged(it == names.end() ? -1 : static_cast<int>(it - names.begin()));
}

void CANdbPage::EraseAll() {
  EraseAllLoggedSignals(config_);
  LoggedChanged(-1);
}

void CANdbPage::ClearTable() {
  table_.Reset();
  pressed_path_.reset();
  RebuildViews();
}

void CANdbPage::SelectLogged(int index) {
  {
    Nesting nesting(selecting_);
    SelectListRow(LB_LoggedSignals, index);
  }
  const SignalInfo info = ShowSignalInfo(config_, index);
  QStringList lines;
  for (const std::string& l : info.lines) lines << Q(l);
  Ed_SignalInfo->setPlainText(lines.join(QLatin1Char('\n')));
  Ed_SignalInfo->verticalScrollBar()->setValue(0);
  Btn_RemoveSignal->setEnabled(info.remove_enabled);
  Btn_MoveUp->setEnabled(info.up_enabled);
  Btn_MoveDown->setEnabled(info.down_enabled);
  if (Chk_GraphicDisplay->isChecked()) ShowLayoutForLogged();
}

// ---- Message layout view -------------------------------------------------------------------

void CANdbPage::SetGraphicDisplay(bool on) {
  if (Chk_GraphicDisplay->isChecked() != on) {
    Chk_GraphicDisplay->setChecked(on);  // comes back here through the toggled signal
    return;
  }
  if (on) {
    layout_view_->show();
    ShowLayoutForLogged();
  } else {
    layout_view_->hide();
  }
}

void CANdbPage::DrawLayout(const LayoutRequest* request) {
  if (request) {
    layout_view_->Draw(&request->message, request->signals, request->selected);
  } else {
    layout_view_->Draw(nullptr, {}, -1);
  }
}

void CANdbPage::ShowLayoutForRow(int row) {
  if (const std::optional<LayoutRequest> request = LayoutForTableRow(table_, row)) {
    DrawLayout(&*request);
  }
}

void CANdbPage::ShowLayoutForLogged() {
  const QListWidgetItem* item = LB_LoggedSignals->currentItem();
  const std::optional<LayoutRequest> request =
      item ? LayoutForLoggedSignal(config_, item->text().toStdString()) : std::nullopt;
  DrawLayout(request ? &*request : nullptr);
}

void CANdbPage::PageActivated() {
  if (Chk_GraphicDisplay->isChecked()) SetGraphicDisplay(true);
}

void CANdbPage::PollLayoutView() {
  if (!layout_view_->isVisible()) {
    if (Chk_GraphicDisplay->isChecked() && layout_view_->closed_by_user()) {
      const QSignalBlocker blocker(Chk_GraphicDisplay);
      Chk_GraphicDisplay->setChecked(false);
    } else if (Chk_GraphicDisplay->isChecked()) {
      SetGraphicDisplay(true);  // ticked in the settings file: shown with the page
    }
    return;
  }
  const auto clicked = layout_view_->TakeClickedSignal();
  if (!clicked) return;
  const std::vector<std::string> names = LoggedSignalNames(config_.sigs);
  const auto it = std::find(names.begin(), names.end(), clicked->name);
  if (it != names.end()) SelectLogged(static_cast<int>(it - names.begin()));
  const T_CanLog_MsgDef& m = clicked->message;
  lists_.Select(table_, (m.id != kCanIdFree && (m.id & kCanIdBus2)) ? "Bus2" : "Bus1", m.nn, m.mn,
                clicked->name, true);
  ShowLists();
  ShowTableRow(table_.current_row());
}

}  // namespace tessmar
