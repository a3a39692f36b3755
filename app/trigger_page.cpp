#include "app/trigger_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "app/qt_text.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "common/text_readers.h"

namespace tessmar {
namespace {

constexpr int kRedFrameRole = Qt::UserRole + 1;

// Draws a red frame around the cells of flagged grid lines.
class RedFrameDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (!index.data(kRedFrameRole).toBool()) return;
    painter->save();
    painter->setPen(QPen(QColor(220, 0, 0), 2));
    painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    painter->restore();
  }
};

// As many digits as the value needs: the field is read back when the page is applied, so six
// digits would change a comparison value of 1234567 into 1234570.
QString FormatValue(double value) { return QString::fromStdString(FormatGRoundTrip(value)); }

double ReadValue(const QLineEdit* edit) {
  const std::string text = ToCore(edit->text());
  std::string_view cursor = text;
  return ReadReal(cursor);
}

void SetControlActive(QWidget* widget, bool active) {
  QPalette palette = widget->palette();
  const QPalette standard = widget->style()->standardPalette();
  palette.setColor(QPalette::Base, standard.color(active ? QPalette::Base : QPalette::Button));
  palette.setColor(QPalette::Button, standard.color(active ? QPalette::Base : QPalette::Button));
  widget->setPalette(palette);
}

// Fills a list; each entry keeps its own text as data. Signal names are shown as they are, only
// the fixed entries go through the translation.
void SetListEntries(QComboBox* list, const std::vector<std::string>& entries,
                    bool translate = true) {
  list->clear();
  for (const std::string& e : entries) {
    const bool fixed = translate || e == kTriggerUnusedEntry;
    list->addItem(FromCore(fixed ? std::string_view(Tr(e.c_str())) : std::string_view(e)),
                  FromCore(e));
  }
}

}  // namespace

TriggerPage::TriggerPage(LoggerConfiguration& config, const int& update_guard, QWidget* parent)
    : QWidget(parent), config_(config), update_guard_(update_guard) {
  TS_Trigger = new QTabWidget(this);
  TS_Trigger->setObjectName(QStringLiteral("TS_Trigger"));
  four_line_page_ = BuildFourLinePage();
  grid_page_ = BuildGridPage();
  TS_Trigger->addTab(four_line_page_, tr("Trigger Conditions"));
  TS_Trigger->addTab(grid_page_, tr("Trigger Conditions"));
  TS_Trigger->addTab(BuildOptionsPage(), tr("Trigger Options"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(TS_Trigger);
}

// ---- Building ----------------------------------------------------------------------------------

QWidget* TriggerPage::BuildFourLinePage() {
  auto* page = new QWidget(TS_Trigger);
  page->setObjectName(QStringLiteral("TS_TriggerFourLine"));
  auto* grid = new QGridLayout;
  const QStringList titles = {tr("Line"),        tr("Trigger signal"), tr("Comp. A"), QString(),
                              tr("Combination"), tr("Comp. B"),        QString()};
  for (int c = 0; c < titles.size(); ++c) grid->addWidget(new QLabel(titles[c], page), 0, c);
  auto make_list = [this, page](const QString& name) {
    auto* list = new QComboBox(page);
    list->setObjectName(name);
    connect(list, &QComboBox::activated, this, &TriggerPage::OnFourLineEdited);
    return list;
  };
  auto make_edit = [this, page](const QString& name) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(name);
    edit->setMaximumWidth(110);
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
      if (edit->isModified()) OnFourLineEdited();
      edit->setModified(false);
    });
    return edit;
  };
  int row = 1;
  for (int n = 0; n < kMaxFourLineTriggerLines; ++n) {
    FourLineControls& line = lines_[std::size_t(n)];
    const QString nr = QString::number(n + 1);
    line.signal = make_list(QStringLiteral("CB_TrigSignal") + nr);
    line.signal->setMinimumWidth(220);
    line.op_a = make_list(QStringLiteral("CB_CompOpA") + nr);
    line.val_a = make_edit(QStringLiteral("Ed_CompValA") + nr);
    line.inner = make_list(QStringLiteral("CB_InnerCombi") + nr);
    line.op_b = make_list(QStringLiteral("CB_CompOpB") + nr);
    line.val_b = make_edit(QStringLiteral("Ed_CompValB") + nr);
    for (int op = 0; op < kFourLineOperators; ++op) {
      line.op_a->addItem(FromCore(OperatorText(op)));
      line.op_b->addItem(FromCore(OperatorText(op)));
    }
    for (const char* combi : kFourLineCombiTexts) line.inner->addItem(tr(combi));
    grid->addWidget(new QLabel(QStringLiteral("[%1]").arg(n + 1), page), row, 0);
    grid->addWidget(line.signal, row, 1);
    grid->addWidget(line.op_a, row, 2);
    grid->addWidget(line.val_a, row, 3);
    grid->addWidget(line.inner, row, 4);
    grid->addWidget(line.op_b, row, 5);
    grid->addWidget(line.val_b, row, 6);
    ++row;
    if (n % 2 == 0) {
      // The outer combination joins this line with the next one.
      QComboBox* outer = make_list(QStringLiteral("CB_OuterCombi%1").arg(n / 2 + 1));
      for (const char* combi : kFourLineCombiTexts) outer->addItem(tr(combi));
      CB_OuterCombi[std::size_t(n / 2)] = outer;
      grid->addWidget(outer, row, 1, Qt::AlignLeft);
      ++row;
    } else if (n == 1) {
      Btn_StartStop = new QPushButton(page);
      Btn_StartStop->setObjectName(QStringLiteral("Btn_StartStop"));
      connect(Btn_StartStop, &QPushButton::clicked, this, [this] {
        if (update_guard_ > 0) return;
        config_.cfg.Use2Starts = config_.cfg.Use2Starts ? 0 : 1;
        config_.modified = true;
        Btn_StartStop->setText(config_.cfg.Use2Starts ? QStringLiteral("START2")
                                                      : QStringLiteral("STOP"));
        Q_EMIT optionsEdited();
      });
      auto* caption = new QLabel(tr("Lines 1 and 2: START condition.  Lines 3 and 4:"), page);
      auto* row_layout = new QHBoxLayout;
      row_layout->addWidget(caption);
      row_layout->addWidget(Btn_StartStop);
      row_layout->addStretch(1);
      grid->addLayout(row_layout, row, 1, 1, 6);
      ++row;
    }
  }
  Lab_TrigInfo1 = new QLabel(page);
  Lab_TrigInfo1->setObjectName(QStringLiteral("Lab_TrigInfo1"));
  Lab_TrigInfo2 = new QLabel(page);
  Lab_TrigInfo2->setObjectName(QStringLiteral("Lab_TrigInfo2"));
  for (QLabel* l : {Lab_TrigInfo1, Lab_TrigInfo2}) {
    l->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0); font-weight: bold;"));
  }
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(grid);
  layout->addSpacing(12);
  layout->addWidget(Lab_TrigInfo1);
  layout->addWidget(Lab_TrigInfo2);
  layout->addStretch(1);
  return page;
}

QWidget* TriggerPage::BuildGridPage() {
  auto* page = new QWidget(TS_Trigger);
  page->setObjectName(QStringLiteral("TS_TriggerGrid"));
  SG_TriggerConds = new QTableWidget(kMaxTriggerLines, kTriggerGridColumns, page);
  QTableWidget* g = SG_TriggerConds;
  g->setObjectName(QStringLiteral("SG_TriggerConds"));
  QStringList titles;
  for (const char* t : kTriggerGridTitles) titles << (t[0] ? tr(t) : QString());
  g->setHorizontalHeaderLabels(titles);
  g->verticalHeader()->setVisible(false);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  g->setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::DoubleClicked |
                     QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  g->setItemDelegate(new RedFrameDelegate(g));
  for (int r = 0; r < kMaxTriggerLines; ++r) {
    for (int c = 0; c < kTriggerGridColumns; ++c) {
      auto* item = new QTableWidgetItem;
      // Only the reference value is typed into its cell; the lists edit the other cells.
      if (c != kTrigColValue) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      g->setItem(r, c, item);
    }
  }
  CB_GridAction = new QComboBox(g->viewport());
  CB_GridAction->setObjectName(QStringLiteral("CB_GridAction"));
  CB_GridSignal = new QComboBox(g->viewport());
  CB_GridSignal->setObjectName(QStringLiteral("CB_GridSignal"));
  CB_GridOperator = new QComboBox(g->viewport());
  CB_GridOperator->setObjectName(QStringLiteral("CB_GridOperator"));
  g->verticalHeader()->setDefaultSectionSize(CB_GridAction->sizeHint().height());
  const int widths[kTriggerGridColumns] = {44, 110, 40, 260, 70, 140, 40};
  for (int c = 0; c < kTriggerGridColumns; ++c) g->setColumnWidth(c, widths[c]);
  g->horizontalHeader()->setStretchLastSection(true);
  for (QComboBox* list : {CB_GridAction, CB_GridSignal, CB_GridOperator}) list->hide();

  connect(CB_GridAction, &QComboBox::activated, this,
          [this] { OnGridListChosen(CB_GridAction, kTrigColAction); });
  connect(CB_GridSignal, &QComboBox::activated, this,
          [this] { OnGridListChosen(CB_GridSignal, kTrigColSignal); });
  connect(CB_GridOperator, &QComboBox::activated, this,
          [this] { OnGridListChosen(CB_GridOperator, kTrigColComp); });
  connect(g, &QTableWidget::currentCellChanged, this, [this](int, int, int, int) {
    // Selecting another cell applies the edits made so far.
    if (grid_changed_ && update_guard_ == 0 && filling_ == 0) ApplyGrid();
    PlaceGridLists();
  });
  connect(g, &QTableWidget::cellChanged, this, &TriggerPage::OnGridItemChanged);
  connect(g->verticalScrollBar(), &QScrollBar::valueChanged, this, &TriggerPage::PlaceGridLists);
  connect(g->horizontalScrollBar(), &QScrollBar::valueChanged, this, &TriggerPage::PlaceGridLists);
  connect(g->horizontalHeader(), &QHeaderView::sectionResized, this, &TriggerPage::PlaceGridLists);
  g->viewport()->installEventFilter(this);
  page->installEventFilter(this);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(g);
  return page;
}

QWidget* TriggerPage::BuildOptionsPage() {
  auto* page = new QWidget(TS_Trigger);
  page->setObjectName(QStringLiteral("TS_TriggerOptions"));
  auto* layout = new QVBoxLayout(page);
  for (int i = 0; i < kTrigOptionBoxes; ++i) {
    auto* box = new QCheckBox(tr(kTrigOptionTexts[std::size_t(i)]), page);
    box->setObjectName(QStringLiteral("Chk_TrigOption%1").arg(i));
    connect(box, &QCheckBox::toggled, this, [this] {
      if (update_guard_ == 0 && filling_ == 0) Q_EMIT optionsEdited();
    });
    Chk_TrigOption[std::size_t(i)] = box;
    layout->addWidget(box);
  }
  layout->addStretch(1);
  return page;
}

// ---- Refill ------------------------------------------------------------------------------------

void TriggerPage::Refill() {
  ++filling_;
  ShowEditorsOfFamily();
  const auto boxes = TrigOptionBoxes(config_.cfg.TrigOptions);
  for (int i = 0; i < kTrigOptionBoxes; ++i) {
    Chk_TrigOption[std::size_t(i)]->setChecked(boxes[std::size_t(i)]);
  }
  RefillFourLine();
  if (TS_Trigger->isTabVisible(TS_Trigger->indexOf(grid_page_))) {
    RefillGrid();
  } else {
    // The four-line trigger keeps other codes in the same fields: no grid findings then.
    Q_EMIT statusText(QString());
  }
  --filling_;
}

void TriggerPage::ShowEditorsOfFamily() {
  const TriggerEditor editor = FamilyLimits(config_.cfg.DeviceFamily).trigger_editor;
  const int four = TS_Trigger->indexOf(four_line_page_);
  const int grid = TS_Trigger->indexOf(grid_page_);
  const bool show_four = editor != TriggerEditor::kGrid;
  const bool show_grid = editor != TriggerEditor::kFourLine;
  // Hiding the current tab lets the tab widget pick a neighbour; the other editor is wanted.
  const int current = TS_Trigger->currentIndex();
  TS_Trigger->setTabVisible(four, show_four);
  TS_Trigger->setTabVisible(grid, show_grid);
  if (!show_four && current == four) TS_Trigger->setCurrentIndex(grid);
  if (!show_grid && current == grid) TS_Trigger->setCurrentIndex(four);
}

void TriggerPage::RefillGrid() {
  const TriggerGridCheck check = grid_model_.Refill(config_.cfg, config_.sigs);
  for (int r = 0; r < kMaxTriggerLines; ++r) {
    for (int c = 0; c < kTriggerGridColumns; ++c) {
      SG_TriggerConds->item(r, c)->setText(
          FromCore(grid_model_.lines()[std::size_t(r)][std::size_t(c)]));
    }
  }
  grid_changed_ = false;
  ShowGridCheck(check);
}

void TriggerPage::RefillFourLine() {
  const T_CanLog_Config& cfg = config_.cfg;
  std::vector<std::string> names = TriggerSignalChoices(config_.sigs);
  for (int n = 0; n < kMaxFourLineTriggerLines; ++n) {
    const FourLineControls& line = lines_[std::size_t(n)];
    SetListEntries(line.signal, names, false);
    const QString name = FromCore(TextOf(cfg.SigName[n]));
    int index = line.signal->findData(name);
    if (index < 0 && !name.isEmpty()) {
      // A name that is not among the logged signals is still shown as stored.
      line.signal->insertItem(0, name, name);
      index = 0;
    }
    line.signal->setCurrentIndex(index < 0 ? line.signal->count() - 1 : index);
    auto show_op = [](QComboBox* list, int32_t op) {
      list->setCurrentIndex(op >= 0 && op < kFourLineOperators ? op : -1);
    };
    show_op(line.op_a, cfg.CompOp[2 * n]);
    show_op(line.op_b, cfg.CompOp[2 * n + 1]);
    line.val_a->setText(FormatValue(cfg.CompVal[2 * n]));
    line.val_b->setText(FormatValue(cfg.CompVal[2 * n + 1]));
    const int32_t inner = cfg.ActionOrCombi[n];
    line.inner->setCurrentIndex(inner >= 0 && inner < 3 ? inner : -1);
    const bool active = TriggerSignalActive(TextOf(cfg.SigName[n]));
    for (QWidget* w : std::initializer_list<QWidget*>{line.signal, line.op_a, line.val_a,
                                                      line.inner, line.op_b, line.val_b}) {
      SetControlActive(w, active);
    }
  }
  for (int i = 0; i < 2; ++i) {
    const int32_t outer = cfg.OuterCombi[i];
    CB_OuterCombi[std::size_t(i)]->setCurrentIndex(outer >= 0 && outer < 3 ? outer : -1);
    SetControlActive(CB_OuterCombi[std::size_t(i)],
                     TriggerSignalActive(TextOf(cfg.SigName[2 * i + 1])));
  }
  Btn_StartStop->setText(cfg.Use2Starts ? QStringLiteral("START2") : QStringLiteral("STOP"));
  const FourLineCheck check = CheckFourLineTrigger(cfg);
  Lab_TrigInfo1->setText(FromCore(check.first));
  Lab_TrigInfo2->setText(FromCore(check.second));
  four_line_edited_ = false;
}

// ---- Grid --------------------------------------------------------------------------------------

void TriggerPage::PlaceGridLists() {
  QTableWidget* g = SG_TriggerConds;
  const int row = g->currentRow();
  const std::array<std::pair<QComboBox*, int>, 3> lists = {
      std::pair{CB_GridAction, int(kTrigColAction)}, std::pair{CB_GridSignal, int(kTrigColSignal)},
      std::pair{CB_GridOperator, int(kTrigColComp)}};
  if (row < 0 || row >= kMaxTriggerLines) {
    for (const auto& [list, column] : lists) list->hide();
    return;
  }
  SetListEntries(CB_GridAction, TriggerActionChoices(row));
  SetListEntries(CB_GridSignal, TriggerSignalChoices(config_.sigs), false);
  SetListEntries(CB_GridOperator, TriggerOperatorChoices());
  for (const auto& [list, column] : lists) {
    const std::string cell = ToCore(g->item(row, column)->text());
    std::vector<std::string> entries;
    for (int i = 0; i < list->count(); ++i) entries.push_back(ToCore(list->itemData(i).toString()));
    list->setCurrentIndex(TriggerChoiceIndex(entries, cell));
    // Each list covers its cell exactly, wherever the grid has been scrolled or resized to.
    const QRect cell_rect = g->visualRect(g->model()->index(row, column));
    list->setGeometry(cell_rect);
    // The list covers its cell, so it carries the cell's red frame itself.
    const uint32_t flag = column == kTrigColAction   ? kTrigFlagTooManyStarts
                          : column == kTrigColSignal ? kTrigFlagUnknownSignal
                                                     : 0u;
    list->setStyleSheet((grid_model_.flags(row) & flag) != 0
                            ? QStringLiteral("QComboBox { border: 2px solid rgb(220, 0, 0); }")
                            : QString());
    list->setVisible(cell_rect.isValid() && g->viewport()->rect().intersects(cell_rect));
  }
}

void TriggerPage::OnGridListChosen(QComboBox* list, int column) {
  const int row = SG_TriggerConds->currentRow();
  if (row < 0 || list->currentIndex() < 0) return;
  SG_TriggerConds->item(row, column)->setText(list->currentData().toString());
  grid_changed_ = true;
}

void TriggerPage::OnGridItemChanged(int row, int column) {
  if (filling_ > 0 || update_guard_ > 0) return;
  grid_changed_ = true;
  // A value typed in place reaches the grid when its editor closes, possibly after another cell
  // became current: apply it then.
  if (column == kTrigColValue && SG_TriggerConds->currentRow() != row) ApplyGrid();
}

void TriggerPage::ReadGridCells() {
  for (int r = 0; r < kMaxTriggerLines; ++r) {
    for (int c = 0; c < kTriggerGridColumns; ++c) {
      grid_model_.lines()[std::size_t(r)][std::size_t(c)] =
          ToCore(SG_TriggerConds->item(r, c)->text());
    }
  }
}

bool TriggerPage::ApplyGrid() {
  if (!grid_changed_) return false;
  ReadGridCells();
  const auto before = std::make_unique<T_CanLog_Config>(config_.cfg);
  const TriggerGridCheck check = grid_model_.Apply(config_.cfg, config_.sigs);
  // The grid writes the record directly; a change must still be saved before the program ends.
  if (!(config_.cfg == *before)) config_.modified = true;
  grid_changed_ = false;
  ShowGridCheck(check);
  return true;
}

void TriggerPage::ShowGridCheck(const TriggerGridCheck& check) {
  ++filling_;
  for (int r = 0; r < kMaxTriggerLines; ++r) {
    const uint32_t flags = grid_model_.flags(r);
    SG_TriggerConds->item(r, kTrigColAction)
        ->setData(kRedFrameRole, (flags & kTrigFlagTooManyStarts) != 0);
    SG_TriggerConds->item(r, kTrigColSignal)
        ->setData(kRedFrameRole, (flags & kTrigFlagUnknownSignal) != 0);
  }
  --filling_;
  PlaceGridLists();
  const std::string error = check.ErrorText();
  if (!error.empty()) ShowMessage(kMsgError, error);
  Q_EMIT statusText(check.status_text.empty() ? QString()
                                              : FromCore(Tr(check.status_text.c_str())));
}

// ---- Four-line editor and option page apply ----------------------------------------------------

void TriggerPage::OnFourLineEdited() {
  if (update_guard_ > 0 || filling_ > 0) return;
  four_line_edited_ = true;
  Q_EMIT optionsEdited();
}

void TriggerPage::WriteFourLine(T_CanLog_Config& cfg) const {
  for (int n = 0; n < kMaxFourLineTriggerLines; ++n) {
    const FourLineControls& line = lines_[std::size_t(n)];
    SetText(cfg.SigName[n], ToCore(line.signal->currentData().toString()));
    if (line.op_a->currentIndex() >= 0) cfg.CompOp[2 * n] = line.op_a->currentIndex();
    if (line.op_b->currentIndex() >= 0) cfg.CompOp[2 * n + 1] = line.op_b->currentIndex();
    cfg.CompVal[2 * n] = ReadValue(line.val_a);
    cfg.CompVal[2 * n + 1] = ReadValue(line.val_b);
    if (line.inner->currentIndex() >= 0) cfg.ActionOrCombi[n] = line.inner->currentIndex();
  }
  for (int i = 0; i < 2; ++i) {
    const int outer = CB_OuterCombi[std::size_t(i)]->currentIndex();
    if (outer >= 0) cfg.OuterCombi[i] = outer;
  }
}

void TriggerPage::ApplyTo(T_CanLog_Config& edited) {
  // Only what the user changed is written back: the texts show values with "%g", and writing
  // them back unasked would round the stored values.
  if (four_line_edited_) WriteFourLine(edited);
  if (grid_changed_ && TS_Trigger->isTabVisible(TS_Trigger->indexOf(grid_page_))) {
    ReadGridCells();
    ShowGridCheck(grid_model_.Apply(edited, config_.sigs));
    grid_changed_ = false;
  }
  std::array<bool, kTrigOptionBoxes> boxes{};
  for (int i = 0; i < kTrigOptionBoxes; ++i) {
    boxes[std::size_t(i)] = Chk_TrigOption[std::size_t(i)]->isChecked();
  }
  edited.TrigOptions = TrigOptionsFromBoxes(edited.TrigOptions, boxes);
}

bool TriggerPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == SG_TriggerConds->viewport() &&
      (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
    PlaceGridLists();
  } else if (watched == grid_page_ && event->type() == QEvent::Hide) {
    // Leaving the grid page applies its edits.
    if (grid_changed_ && update_guard_ == 0 && filling_ == 0) ApplyGrid();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tessmar
