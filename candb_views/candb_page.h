#pragma once
// The "CANdb" page: the CANdb views "Tree", "Table" and "Lists" with the search, the bus buttons
// and the how-to-select hint on the left; the list of logged signals with its buttons, the
// signal info and "graphic display" on the right. The page draws the models of candb/ (signal
// table, tree, lists, search, drag rules, logged-signal operations) and forwards the user's
// actions to them; it decides nothing itself.

#include <QListWidget>
#include <QTreeWidget>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "candb/signal_views.h"
#include "config/canlog_config.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTabWidget;

namespace tessmar {

class CANdbTableView;
class TGraphMsgView;

// Mime type of a dragged tree path (bus, node, message, signal separated by tabs).
inline constexpr const char* kDragItemMimeType = "application/x-tessmar-candb-path";
QMimeData* DragItemMime(const DragItem& item);
bool DragItemFromMime(const QMimeData* mime, DragItem& item);

// The tree of the "Tree" page: pressing a node reports it, moving the mouse with the left button
// down drags the pressed path; drops on the tree itself are refused with a status text.
class CandbTreeWidget : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CandbTreeWidget(QWidget* parent = nullptr);
  // Arms a drag of this path (cleared when the press matched no table row).
  void ArmDrag(const DragItem* item);

 Q_SIGNALS:
  void nodePressed(QTreeWidgetItem* item, Qt::MouseButton button);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool armed_ = false;
  DragItem drag_item_;
  QPoint press_pos_;
};

// The list of logged signals: accepts every drop of a tree path.
class LoggedSignalList : public QListWidget {
  Q_OBJECT
 public:
  explicit LoggedSignalList(QWidget* parent = nullptr);

 Q_SIGNALS:
  void itemDropped(tessmar::DragItem item);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

class CANdbPage : public QWidget {
  Q_OBJECT
 public:
  // Sub-page indices of the views, in tab order.
  enum ViewPage { kTreePage = 0, kTablePage = 1, kListsPage = 2 };

  CANdbPage(LoggerConfiguration& config, SignalTable& table, QWidget* parent = nullptr);
  ~CANdbPage() override;

  // After a load, a clear or a reset of the table: re-marks the logged rows, refills the lists,
  // rebuilds the tree and shows the table again.
  void RebuildViews();
  // After the logged signals changed elsewhere (a loaded or new configuration): the list of
  // logged signals, its count line and the "St" marks.
  void RefillLogged();
  // The 200 ms poll while the page is active: a signal clicked in the layout view is selected in
  // the logged list and in the views; a layout view closed by the user unticks "graphic display".
  void PollLayoutView();
  // The main page "CANdb" became active: shows the layout view when "graphic display" is ticked.
  void PageActivated();

  // ---- User actions (also driven by the tests) ----
  void Search();
  // "&Add signal(s) to list": adds every selected table row, top to bottom.
  void AddSelectedRows();
  // A path dropped on the list of logged signals.
  void DropItem(const DragItem& item);
  void RemoveSelected();
  void MoveSelected(bool up);
  void EraseAll();
  // "&Clear": the table back to its header and one empty row.
  void ClearTable();
  // Selects logged signal i (-1 for none) and shows its info.
  void SelectLogged(int index);
  void SetGraphicDisplay(bool on);
  // Width of the right-hand panel (the logged signals), kept in the settings file.
  int split_x() const;
  void SetSplitX(int width);

  // ---- Controls and models, for the main window, the tests and the screenshots ----
  QTabWidget* views() const { return PC_CANdbViews; }
  QSplitter* splitter() const { return splitter_; }
  CandbTreeWidget* tree() const { return TV_CANdbTree; }
  CANdbTableView* table_view() const { return SG_CANdbTable; }
  QListWidget* node_list() const { return LB_Nodes; }
  QListWidget* message_list() const { return LB_Messages; }
  QListWidget* signal_list() const { return LB_Signals; }
  LoggedSignalList* logged_list() const { return LB_LoggedSignals; }
  QLineEdit* search_field() const { return Ed_Search; }
  QPushButton* add_button() const { return Btn_AddSignals; }
  QRadioButton* bus_button(int bus) const { return bus == 2 ? RB_Bus2 : RB_Bus1; }
  QCheckBox* graphic_display_box() const { return Chk_GraphicDisplay; }
  QPlainTextEdit* info_box() const { return Ed_SignalInfo; }
  QLabel* count_label() const { return Lab_LoggedCount; }
  QLabel* hint_label() const { return Lab_HowToSelect; }
  QPushButton* up_button() const { return Btn_MoveUp; }
  QPushButton* down_button() const { return Btn_MoveDown; }
  QPushButton* remove_button() const { return Btn_RemoveSignal; }
  TGraphMsgView* layout_view() const { return layout_view_; }
  const SignalTree& tree_model() const { return tree_; }
  const SignalLists& lists_model() const { return lists_; }
  // The tree item of a path (null when the tree has none).
  QTreeWidgetItem* TreeItemOf(const DragItem& path) const;

 Q_SIGNALS:
  void importRequested(int bus);
  // The user changed the logged signals: the other pages refill their lists.
  void loggedSignalsChanged();

 private:
  void BuildViews(QWidget* left);
  void BuildLoggedPanel(QWidget* right);
  void BuildTree();
  void ShowLists();
  void ShowTableRow(int row);
  void ShowHint();
  void LoggedChanged(int select_index);
  // Removing a signal the trigger uses: asks first; true to go on.
  bool ConfirmRemovingTriggerSignal(const std::string& name);
  void ShowLayoutForRow(int row);
  void ShowLayoutForLogged();
  void DrawLayout(const LayoutRequest* request);

  void OnTableCurrentChanged(int row);
  void OnTableClicked();
  void OnTreePressed(QTreeWidgetItem* item, Qt::MouseButton button);
  // Double-click on a signal of the tree: added to the logged signals.
  void OnTreeDoubleClicked(QTreeWidgetItem* item);
  // Adds table rows to the logged signals, stopping at a refused or cancelled row.
  void AddRows(const std::vector<int>& rows);
  void OnNodeClicked(int index);
  void OnMessageClicked(int index);
  void OnSignalClicked(int index);
  void OnSignalDoubleClicked(int index);
  void OnBusClicked(int bus);

  LoggerConfiguration& config_;
  SignalTable& table_;
  SignalTree tree_;
  SignalLists lists_;
  SignalSearch search_;
  // Raised while the page itself changes a selection: the selection handlers then do nothing,
  // so that a programmatic change does not echo back into the models.
  int selecting_ = 0;
  std::vector<QTreeWidgetItem*> tree_items_;  // by tree node index
  std::optional<DragItem> pressed_path_;      // tree node pressed last that matches table rows
  std::vector<std::string> shown_messages_, shown_signals_;

  QSplitter* splitter_;
  QTabWidget* PC_CANdbViews;
  CandbTreeWidget* TV_CANdbTree;
  CANdbTableView* SG_CANdbTable;
  QListWidget* LB_Nodes;
  QListWidget* LB_Messages;
  QListWidget* LB_Signals;
  QRadioButton* RB_Bus1;
  QRadioButton* RB_Bus2;
  QLineEdit* Ed_Search;
  QPushButton* Btn_Search;
  QLabel* Lab_HowToSelect;
  QPushButton* Btn_AddSignals;
  LoggedSignalList* LB_LoggedSignals;
  QLabel* Lab_LoggedCount;
  QPushButton* Btn_MoveUp;
  QPushButton* Btn_MoveDown;
  QPushButton* Btn_RemoveSignal;
  QPushButton* Btn_More;
  QPlainTextEdit* Ed_SignalInfo;
  QCheckBox* Chk_GraphicDisplay;
  TGraphMsgView* layout_view_;
};

}  // namespace tessmar
