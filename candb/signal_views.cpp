#include "candb/signal_views.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "common/message_output.h"

namespace tessmar {
namespace {

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

std::string Cut80(std::string_view s) {
  return std::string(s.substr(0, SignalLists::kMaxSelectionChars));
}

// Case-insensitive order as a sorted list box shows it; ties by the bytes.
bool ListLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string BusText(int bus) { return bus == 2 ? "Bus2" : "Bus1"; }

int BusFromText(std::string_view text) { return (!text.empty() && text.back() == '2') ? 2 : 1; }

}  // namespace

// ---- Tree ---------------------------------------------------------------------------------------

void SignalTree::Clear() {
  nodes_.clear();
  lookup_.clear();
  nodes_.push_back({TreeNodeKind::kBus, "Bus1", -1, {}});
  nodes_.push_back({TreeNodeKind::kBus, "Bus2", -1, {}});
}

int SignalTree::Child(int parent, TreeNodeKind kind, const std::string& text) {
  std::string key = std::to_string(parent);
  key += '\x1f';
  key += text;
  const auto it = lookup_.find(key);
  if (it != lookup_.end()) return it->second;
  const int index = size();
  nodes_.push_back({kind, text, parent, {}});
  nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
  lookup_.emplace(std::move(key), index);
  return index;
}

int SignalTree::Build(const SignalTable& table) {
  Clear();
  int node = -1;
  int message = -1;
  int prev_bus = -1;
  std::string prev_node;
  for (int r = 1; r < table.row_count(); ++r) {
    const SignalTableRow& row = table.row(r);
    if (row[kColSigName].empty()) {
      node = message = -1;  // forget the current node and message
      prev_bus = -1;
      continue;
    }
    const int bus = RowBus(table, r) - 1;
    if (node < 0 || bus != prev_bus || row[kColNodeName] != prev_node) {
      node = Child(bus, TreeNodeKind::kNode, row[kColNodeName]);
      prev_bus = bus;
      prev_node = row[kColNodeName];
    }
    message = Child(node, TreeNodeKind::kMessage, row[kColMsgName]);
    Child(message, TreeNodeKind::kSignal, row[kColSigName]);
  }
  return size() - 2;
}

DragItem SignalTree::PathOf(int i) const {
  DragItem item;
  std::vector<const SignalTreeNode*> chain;
  while (i >= 0 && i < size()) {
    chain.push_back(&nodes_[static_cast<std::size_t>(i)]);
    i = nodes_[static_cast<std::size_t>(i)].parent;
  }
  for (const SignalTreeNode* n : chain) {
    switch (n->kind) {
      case TreeNodeKind::kBus:
        item.bus = n->text;
        break;
      case TreeNodeKind::kNode:
        item.node = n->text;
        break;
      case TreeNodeKind::kMessage:
        item.message = n->text;
        break;
      case TreeNodeKind::kSignal:
        item.signal = n->text;
        break;
    }
  }
  return item;
}

// ---- Drag and drop ------------------------------------------------------------------------------

std::string DragStatusText(const DragItem& item) {
  if (item.node.empty()) return StrPrintf(Tr("Dragging BUS \"%s\""), item.bus.c_str());
  if (item.message.empty()) {
    return StrPrintf(Tr("Dragging NODE \"%s.%s\""), item.bus.c_str(), item.node.c_str());
  }
  if (item.signal.empty()) {
    return StrPrintf(Tr("Dragging MESSAGE \"%s.%s\""), item.node.c_str(), item.message.c_str());
  }
  return StrPrintf(Tr("Dragging SIGNAL \"%s.%s.%s\""), item.node.c_str(), item.message.c_str(),
                   item.signal.c_str());
}

int DragBusNumber(const DragItem& item) {
  if (!item.bus.empty() && item.bus.back() >= '1' && item.bus.back() <= '9') {
    return item.bus.back() - '0';
  }
  return 1;
}

std::string DropStatusText(const DragItem& item) {
  if (item.node.empty()) return StrPrintf(Tr("Dropped BUS number %d"), DragBusNumber(item));
  if (item.message.empty()) return StrPrintf(Tr("Dropped NODE \"%s\""), item.node.c_str());
  if (item.signal.empty()) {
    return StrPrintf(Tr("Dropped MESSAGE \"%s.%s\""), item.node.c_str(), item.message.c_str());
  }
  return StrPrintf(Tr("Dropped SIGNAL \"%s.%s.%s\""), item.node.c_str(), item.message.c_str(),
                   item.signal.c_str());
}

std::vector<int> RowsForDrop(const SignalTable& table, const DragItem& item) {
  std::vector<int> rows;
  const std::string bus = std::to_string(DragBusNumber(item));
  for (int r = 1; r < table.row_count(); ++r) {
    const SignalTableRow& row = table.row(r);
    if (row[kColBusNr] != bus) continue;
    if (!item.node.empty() && row[kColNodeName] != item.node) continue;
    if (!item.message.empty() && row[kColMsgName] != item.message) continue;
    if (!item.signal.empty() && row[kColSigName] != item.signal) continue;
    rows.push_back(r);
  }
  return rows;
}

// ---- Lists --------------------------------------------------------------------------------------

void SignalLists::FillNodes(const SignalTable& table) {
  std::set<std::pair<std::string, int>> seen;
  node_list_.clear();
  for (int r = 1; r < table.row_count(); ++r) {
    const std::string& node = table.cell(r, kColNodeName);
    if (IsBlank(node)) continue;
    const int bus = RowBus(table, r);
    if (!seen.emplace(node, bus).second) continue;
    NodeListEntry e;
    e.node = node;
    e.bus = bus;
    e.text = bus == 1 ? node : node + " (" + std::to_string(bus) + ")";
    node_list_.push_back(std::move(e));
  }
  std::sort(
      node_list_.begin(), node_list_.end(),
      [](const NodeListEntry& a, const NodeListEntry& b) { return ListLess(a.text, b.text); });
}

void SignalLists::FillMessages(const SignalTable& table) {
  std::unordered_set<std::string> seen;
  message_list_.clear();
  const std::string bus = std::to_string(this->bus());
  for (int r = 1; r < table.row_count(); ++r) {
    const SignalTableRow& row = table.row(r);
    if (row[kColBusNr] != bus) continue;
    if (node_.empty() ? IsBlank(row[kColNodeName]) : row[kColNodeName] != node_) continue;
    if (row[kColMsgName].empty() || !seen.insert(row[kColMsgName]).second) continue;
    message_list_.push_back(row[kColMsgName]);
  }
  std::sort(message_list_.begin(), message_list_.end(), ListLess);
}

void SignalLists::FillSignals(const SignalTable& table) {
  std::unordered_set<std::string> seen;
  signal_list_.clear();
  const std::string bus = std::to_string(this->bus());
  for (int r = 1; r < table.row_count(); ++r) {
    const SignalTableRow& row = table.row(r);
    if (row[kColBusNr] != bus || row[kColNodeName] != node_ || row[kColMsgName] != message_) {
      continue;
    }
    if (row[kColSigName].empty() || !seen.insert(row[kColSigName]).second) continue;
    signal_list_.push_back(row[kColSigName]);
  }
}

void SignalLists::MarkSelection() {
  selected_node_ = selected_message_ = selected_signal_ = -1;
  const int b = bus();
  for (std::size_t i = 0; i < node_list_.size(); ++i) {
    if (node_list_[i].node == node_ && node_list_[i].bus == b) selected_node_ = static_cast<int>(i);
  }
  for (std::size_t i = 0; i < message_list_.size(); ++i) {
    if (message_list_[i] == message_) selected_message_ = static_cast<int>(i);
  }
  for (std::size_t i = 0; i < signal_list_.size(); ++i) {
    if (signal_list_[i] == signal_) {
      selected_signal_ = static_cast<int>(i);
      break;
    }
  }
}

void SignalLists::Rebuild(const SignalTable& table) {
  FillNodes(table);
  signal_.clear();
  if (!node_list_.empty()) {
    node_ = node_list_[0].node;
    bus_text_ = BusText(node_list_[0].bus);
  } else {
    node_.clear();
  }
  FillMessages(table);
  message_ = message_list_.empty() ? std::string() : message_list_[0];
  FillSignals(table);
  selected_node_ = selected_message_ = selected_signal_ = -1;
}

void SignalLists::ClearSelection() { selected_node_ = selected_message_ = selected_signal_ = -1; }

bool SignalLists::Select(SignalTable& table, std::string_view bus_text, std::string_view node,
                         std::string_view message, std::string_view signal, bool move_table) {
  const std::string new_bus = BusText(BusFromText(bus_text));
  const bool bus_changed = new_bus != bus_text_;
  const bool node_changed = bus_changed || Cut80(node) != node_;
  const bool message_changed = node_changed || Cut80(message) != message_;
  bus_text_ = new_bus;
  node_ = Cut80(node);
  message_ = Cut80(message);
  signal_ = Cut80(signal);
  if (node_changed) FillMessages(table);
  if (message_changed) FillSignals(table);
  MarkSelection();
  if (move_table) {
    const int r = table.FindRow(bus(), node_, message_, signal_, 1);
    if (r >= 1) table.SetCurrentRow(r);
  }
  return table.FindRow(bus(), node_, "", "", 1) >= 1;
}

bool SignalLists::SelectTableRow(SignalTable& table, int row) {
  if (!table.IsDataRow(row)) {
    ClearSelection();
    return false;
  }
  const int b = RowBus(table, row);
  const std::string& node = table.cell(row, kColNodeName);
  const std::string& message = table.cell(row, kColMsgName);
  const std::string& signal = table.cell(row, kColSigName);
  const bool exists = Select(table, BusText(b), node, message, signal, false);
  if (exists) {
    ShowMessageF(kMsgStatus, "Selected \"Bus%d.%s.%s.%s\"", b, node.c_str(), message.c_str(),
                 signal.c_str());
  }
  return exists;
}

void SignalLists::ClickNode(const SignalTable& table, int index) {
  if (index < 0 || index >= static_cast<int>(node_list_.size())) return;
  const NodeListEntry& e = node_list_[static_cast<std::size_t>(index)];
  const bool changed = e.node != node_ || e.bus != bus();
  node_ = e.node;
  bus_text_ = BusText(e.bus);
  message_.clear();
  signal_.clear();
  if (changed) {
    FillMessages(table);
    signal_list_.clear();
  }
  MarkSelection();
}

bool SignalLists::ClickMessage(const SignalTable& table, int index) {
  if (node_.empty() || index < 0 || index >= static_cast<int>(message_list_.size())) {
    ShowMessage(kMsgStatus, Tr("First select CANdb NODE, then MESSAGE !"));
    return false;
  }
  message_ = message_list_[static_cast<std::size_t>(index)];
  signal_.clear();
  FillSignals(table);
  MarkSelection();
  const bool exists = table.FindRow(bus(), node_, message_, "", 1) >= 1;
  ShowMessage(kMsgStatus, Tr(exists ? "CANdb MESSAGE selected. Now select a SIGNAL please..."
                                    : "First select CANdb NODE, then MESSAGE !"));
  return exists;
}

int SignalLists::RowOf(const SignalTable& table, std::string_view signal) const {
  const std::string bus = std::to_string(this->bus());
  for (int r = 1; r < table.row_count(); ++r) {
    const SignalTableRow& row = table.row(r);
    if (row[kColBusNr] == bus && row[kColNodeName] == node_ && row[kColMsgName] == message_ &&
        row[kColSigName] == signal) {
      return r;
    }
  }
  return -1;
}

int SignalLists::ClickSignal(SignalTable& table, int index) {
  if (index < 0 || index >= static_cast<int>(signal_list_.size())) return -1;
  signal_ = signal_list_[static_cast<std::size_t>(index)];
  MarkSelection();
  const int r = RowOf(table, signal_);
  if (r >= 1) table.SetCurrentRow(r);
  return r;
}

void SignalLists::SelectBus(SignalTable& table, int bus) {
  Select(table, BusText(bus), node_, message_, signal_, true);
}

TreePress PressTreeNode(const SignalTree& tree, int index, SignalTable& table, SignalLists& lists) {
  TreePress press;
  if (index < 0 || index >= tree.size()) return press;
  press.item = tree.PathOf(index);
  const DragItem& p = press.item;
  ShowMessageF(kMsgStatus, "Selected \"%s.%s.%s.%s\"", p.bus.c_str(), p.node.c_str(),
               p.message.c_str(), p.signal.c_str());
  lists.Select(table, p.bus, p.node, p.message, p.signal, true);
  press.matches = table.FindRow(DragBusNumber(p), p.node, p.message, p.signal, 1) >= 1;
  return press;
}

// ---- Search -------------------------------------------------------------------------------------

bool SignalSearch::TableClicked(const SignalTable& table, int top_row) {
  if (!table.IsDataRow(top_row) || IsBlank(table.cell(top_row, kColSigName))) return false;
  start_row_ = top_row;
  return true;
}

SearchResult SignalSearch::Search(SignalTable& table, SignalLists& lists, std::string_view text,
                                  bool tree_page_shown) {
  SearchResult result;
  result.show_lists_page = tree_page_shown;
  const int r = table.FindRow(1, "", "", text, start_row_);
  const std::string shown(text);
  if (r < 0) {
    ShowMessageF(
        kMsgStatus,
        start_row_ < 2 ? "Search string \"%s\" not found" : "No further search results for \"%s\"",
        shown.c_str());
    result.beep = true;
    return result;
  }
  lists.Select(table, "Bus1", table.cell(r, kColNodeName), table.cell(r, kColMsgName),
               table.cell(r, kColSigName), false);
  table.SetCurrentRow(r);
  start_row_ = r + 1;
  result.row = r;
  return result;
}

const char* HowToSelectHint(int page) {
  switch (page) {
    case 0:
      return Tr("Hold SHIFT key for multi-select .");
    case 1:
      return Tr("Drag && drop signals or messages to log .");
    default:
      return Tr("Double-click signals to log .");
  }
}

}  // namespace tessmar
