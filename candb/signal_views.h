#pragma once
// The views of the CANdb page as data, rebuilt from the signal table: the tree bus / node /
// message / signal, the three lists nodes / messages of the node / signals of the message with
// their selection state, the signal search, and the drag-and-drop rules. The desktop widgets show
// these models; nothing here needs a window system.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "candb/signal_table.h"

namespace tessmar {

// ---- Tree ---------------------------------------------------------------------------------------

enum class TreeNodeKind { kBus, kNode, kMessage, kSignal };

struct SignalTreeNode {
  TreeNodeKind kind = TreeNodeKind::kBus;
  std::string text;
  int parent = -1;            // index of the parent node, -1 for the roots
  std::vector<int> children;  // indices, in the order they were added
};

// Bus, node, message and signal texts of a tree node (the deeper ones empty for a node higher up).
struct DragItem {
  std::string bus;  // "Bus1" or "Bus2"
  std::string node;
  std::string message;
  std::string signal;
};

class SignalTree {
 public:
  SignalTree() { Clear(); }

  // Clears the tree and adds the two roots "Bus1" (index 0) and "Bus2" (index 1).
  void Clear();
  // Rebuilds the tree from the table's rows; returns the number of nodes added below the roots.
  int Build(const SignalTable& table);

  int size() const { return static_cast<int>(nodes_.size()); }
  const SignalTreeNode& node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
  const std::vector<SignalTreeNode>& nodes() const { return nodes_; }
  // The path of a tree node as a drag item.
  DragItem PathOf(int i) const;

 private:
  int Child(int parent, TreeNodeKind kind, const std::string& text);

  std::vector<SignalTreeNode> nodes_;
  std::unordered_map<std::string, int> lookup_;  // parent index + text -> child index
};

// ---- Drag and drop ------------------------------------------------------------------------------

// Status text while dragging over the tree: "Dragging BUS \"%s\"", "Dragging NODE \"%s.%s\"",
// "Dragging MESSAGE \"%s.%s\"" or "Dragging SIGNAL \"%s.%s.%s\"".
std::string DragStatusText(const DragItem& item);
// Status text of a drop on the list of logged signals: "Dropped BUS number %d",
// "Dropped NODE \"%s\"", "Dropped MESSAGE \"%s.%s\"" or "Dropped SIGNAL \"%s.%s.%s\"".
std::string DropStatusText(const DragItem& item);
// Bus number of a drag item: the last character of the bus text when it is a digit 1 to 9, else 1.
int DragBusNumber(const DragItem& item);
// The table rows a drop adds to the logger configuration, in table order: rows of the item's bus
// whose node, message and signal cells equal the item's texts (an empty text matches every row).
std::vector<int> RowsForDrop(const SignalTable& table, const DragItem& item);

// ---- Lists --------------------------------------------------------------------------------------

// One entry of the node list: "name" for bus 1, "name (n)" for higher buses.
struct NodeListEntry {
  std::string text;
  std::string node;
  int bus = 1;
};

// The three lists of the "Lists" page and their selection (current bus, node, message, signal,
// each at most 80 characters). Every operation reads the table given to it.
class SignalLists {
 public:
  static constexpr std::size_t kMaxSelectionChars = 80;

  const std::vector<NodeListEntry>& node_list() const { return node_list_; }
  const std::vector<std::string>& message_list() const { return message_list_; }
  const std::vector<std::string>& signal_list() const { return signal_list_; }
  // Index of the selected entry in each list; -1 for none.
  int selected_node() const { return selected_node_; }
  int selected_message() const { return selected_message_; }
  int selected_signal() const { return selected_signal_; }

  const std::string& bus_text() const { return bus_text_; }  // "Bus1" or "Bus2"
  int bus() const { return bus_text_ == "Bus2" ? 2 : 1; }
  const std::string& node() const { return node_; }
  const std::string& message() const { return message_; }
  const std::string& signal() const { return signal_; }

  // After a load or clear: refills the node list, the message list for the first node and the
  // signal list for its first message.
  void Rebuild(const SignalTable& table);

  // Selects the entries in the three lists (refilling the lower lists when a higher level
  // changed); with move_table the table's current row moves to the first row that matches all
  // four. Returns whether a table row with that bus and node exists.
  bool Select(SignalTable& table, std::string_view bus_text, std::string_view node,
              std::string_view message, std::string_view signal, bool move_table);
  // Selecting a data row of the table selects its bus, node, message and signal (table not
  // moved); outside the data rows the list selections are cleared. True when a row with that bus
  // and node exists; then the status line shows "Selected \"Bus%d.%s.%s.%s\"".
  bool SelectTableRow(SignalTable& table, int row);
  void ClearSelection();

  // A click on the node list: the entry's node (and its bus) becomes current, the current message
  // is cleared; a different node refills the message list and empties the signal list.
  void ClickNode(const SignalTable& table, int index);
  // A click on the message list (only with a current node). Shows at status level
  // "CANdb MESSAGE selected. Now select a SIGNAL please..." when a matching row exists, else
  // "First select CANdb NODE, then MESSAGE !". Returns whether a row exists.
  bool ClickMessage(const SignalTable& table, int index);
  // A click on the signal list: the first row of the current bus, node, message and this signal
  // (exact comparison) becomes the table's current row; returns it (-1 if none).
  int ClickSignal(SignalTable& table, int index);
  // The radio buttons "Bus1" / "Bus2": selects that bus and moves the table.
  void SelectBus(SignalTable& table, int bus);

  // First row with the current bus, node, message and the given signal (exact comparison), -1.
  int RowOf(const SignalTable& table, std::string_view signal) const;

 private:
  void FillNodes(const SignalTable& table);
  void FillMessages(const SignalTable& table);
  void FillSignals(const SignalTable& table);
  void MarkSelection();

  std::string bus_text_ = "Bus1";
  std::string node_, message_, signal_;
  std::vector<NodeListEntry> node_list_;
  std::vector<std::string> message_list_;
  std::vector<std::string> signal_list_;
  int selected_node_ = -1;
  int selected_message_ = -1;
  int selected_signal_ = -1;
};

// Pressing the mouse on a tree node: shows "Selected \"%s.%s.%s.%s\"" at status level, selects the
// path in the lists and the table. `matches` (a table row of that path exists) enables
// "&Add signal(s) to list" and lets a drag of `item` start.
struct TreePress {
  DragItem item;
  bool matches = false;
};
TreePress PressTreeNode(const SignalTree& tree, int index, SignalTable& table, SignalLists& lists);

// ---- Search -------------------------------------------------------------------------------------

struct SearchResult {
  int row = -1;                  // the row found, -1 if none
  bool beep = false;             // no result: the page beeps
  bool show_lists_page = false;  // the search was started on the tree page
};

// The signal search of the CANdb page ("&Search:" or Enter in the search field).
class SignalSearch {
 public:
  static constexpr const char* kInitialText = "*";

  // Editing the search text starts the next search at row 1 again.
  void TextEdited() { start_row_ = 1; }
  // Clicking a table row with a signal makes it the start of the next search.
  void SetStartRow(int row) { start_row_ = row; }
  // A click on the table with `top_row` as the top row of the selection: true ("&Add signal(s)
  // to list" enabled, the row becomes the search start) when it is a data row with a non-blank
  // signal name.
  bool TableClicked(const SignalTable& table, int top_row);
  int start_row() const { return start_row_; }

  // Finds the next bus-1 row from the start row whose signal name matches the text. Found: the
  // row is selected in the lists and becomes the table's current row, the start row moves past
  // it. Not found: "Search string \"%s\" not found" (start row below 2) or "No further search
  // results for \"%s\"" at status level, and a beep.
  SearchResult Search(SignalTable& table, SignalLists& lists, std::string_view text,
                      bool tree_page_shown);

 private:
  int start_row_ = 1;
};

// "Hold SHIFT key for multi-select ." (table page 0), "Drag && drop signals or messages to log ."
// (tree page 1), "Double-click signals to log ." (lists page 2), translated.
const char* HowToSelectHint(int page);

}  // namespace tessmar
