// The CANdb page under the offscreen platform: search, the tree and the lists, drag and drop onto
// the logged list, adding, removing and moving logged signals, and clicks in the layout view.

#include "candb_views/candb_page.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "candb_views/candb_table_view.h"
#include "candb_views/graph_msg_view.h"
#include "common/message_output.h"

namespace tessmar {
namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "candb_views_tests";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

// A page over a table with the example database on bus 1 (and optionally bus 2); records the
// status texts and log lines, and answers questions from a list (Cancel when it runs out).
class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    SetMessageHandler([this](int severity, std::string_view text) {
      (severity == kMsgStatus ? status_ : log_).emplace_back(text);
    });
    SetQuestionHandler([this](const Question& q) {
      asked_.push_back(q);
      if (answers_.empty()) return Answer::kCancel;
      const Answer a = answers_.front();
      answers_.erase(answers_.begin());
      return a;
    });
    NewConfigWithDefaults(config_.cfg, config_.sigs, 3);
  }
  void TearDown() override {
    page_.reset();
    SetMessageHandler({});
    SetQuestionHandler({});
  }

  CANdbPage& Page(bool both_buses = false) {
    const std::string dbc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc";
    table_.LoadDbc(dbc, 1, kLoadIgnoreNodeNames);
    if (both_buses) table_.LoadDbc(dbc, 2, kLoadIgnoreNodeNames);
    page_ = std::make_unique<CANdbPage>(config_, table_);
    page_->resize(1000, 600);
    page_->show();
    page_->RebuildViews();
    return *page_;
  }

  std::vector<std::string> Logged() const {
    std::vector<std::string> names;
    for (int i = 0; i < page_->logged_list()->count(); ++i) {
      names.push_back(page_->logged_list()->item(i)->text().toStdString());
    }
    return names;
  }
  std::string LastStatus() const { return status_.empty() ? std::string() : status_.back(); }
  bool Logs(const std::string& line) const {
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }

  // Sends a drag of the path over (or a drop onto) a widget's viewport; true when accepted.
  static bool DragOver(QAbstractScrollArea* target, const DragItem& item, bool drop) {
    std::unique_ptr<QMimeData> mime(DragItemMime(item));
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target->viewport(), &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target->viewport(), &move);
    if (!drop) return move.isAccepted();
    QDropEvent event(at, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(target->viewport(), &event);
    return event.isAccepted();
  }

  // Presses the left mouse button on a tree node.
  void PressTree(const DragItem& path) {
    QTreeWidgetItem* item = page_->TreeItemOf(path);
    ASSERT_NE(item, nullptr) << path.node << "." << path.message << "." << path.signal;
    page_->tree()->scrollToItem(item);
    QTest::mousePress(page_->tree()->viewport(), Qt::LeftButton, {},
                      page_->tree()->visualItemRect(item).center());
    QTest::mouseRelease(page_->tree()->viewport(), Qt::LeftButton, {},
                        page_->tree()->visualItemRect(item).center());
  }

  LoggerConfiguration config_;
  SignalTable table_;
  std::unique_ptr<CANdbPage> page_;
  std::vector<std::string> status_, log_;
  std::vector<Question> asked_;
  std::vector<Answer> answers_;
};

// ---- Views and search ---------------------------------------------------------------------

TEST_F(PageTest, ViewsShowTheTableTreeAndListsWithBusTwoNodesMarked) {
  CANdbPage& page = Page(true);
  EXPECT_EQ(page.table_view()->model()->rowCount(), table_.data_row_count());
  EXPECT_EQ(page.table_view()->model()->columnCount(), kSignalTableColumns);
  EXPECT_EQ(page.table_view()->model()->headerData(3, Qt::Horizontal).toString(), "ID, extd-flag");
  ASSERT_EQ(page.tree()->topLevelItemCount(), 2);
  EXPECT_TRUE(page.tree()->topLevelItem(0)->isExpanded());
  EXPECT_EQ(page.tree()->topLevelItem(1)->text(0), "Bus2");
  EXPECT_GT(page.tree()->topLevelItem(1)->childCount(), 0);
  QStringList nodes;
  for (int i = 0; i < page.node_list()->count(); ++i) nodes << page.node_list()->item(i)->text();
  EXPECT_TRUE(nodes.contains("BMS"));
  EXPECT_TRUE(nodes.contains("BMS (2)"));
  // The hint follows the view page; the tree's hint shows a single ampersand.
  page.views()->setCurrentIndex(CANdbPage::kTreePage);
  EXPECT_EQ(page.hint_label()->text(), "Drag & drop signals or messages to log .");
  page.views()->setCurrentIndex(CANdbPage::kTablePage);
  EXPECT_EQ(page.hint_label()->text(), "Hold SHIFT key for multi-select .");
  // A bus-2 node in the lists checks "Bus2" and fills the messages of that node on bus 2.
  page.node_list()->setCurrentRow(int(nodes.indexOf("BMS (2)")));
  EXPECT_TRUE(page.bus_button(2)->isChecked());
  EXPECT_EQ(page.lists_model().bus(), 2);
  EXPECT_GT(page.message_list()->count(), 0);
  EXPECT_EQ(page.signal_list()->count(), 0);
  page.message_list()->setCurrentRow(0);
  EXPECT_EQ(LastStatus(), "CANdb MESSAGE selected. Now select a SIGNAL please...");
  ASSERT_GT(page.signal_list()->count(), 0);
  page.signal_list()->setCurrentRow(0);
  const int row = page.table_view()->CurrentTableRow();
  EXPECT_EQ(table_.cell(row, kColBusNr), "2");
  EXPECT_EQ(table_.cell(row, kColSigName), page.signal_list()->item(0)->text().toStdString());
}

TEST_F(PageTest, SearchWalksTheHitsAndReportsTheEnd) {
  CANdbPage& page = Page(true);
  page.views()->setCurrentIndex(CANdbPage::kTreePage);
  page.search_field()->clear();
  QTest::keyClicks(page.search_field(), "*Temp*");
  QTest::keyClick(page.search_field(), Qt::Key_Return);
  EXPECT_EQ(page.views()->currentIndex(), CANdbPage::kListsPage);  // the tree shows no hits
  std::vector<std::string> hits;
  for (int i = 0; i < 20 && status_.empty(); ++i) {
    const int row = page.table_view()->CurrentTableRow();
    hits.push_back(table_.cell(row, kColSigName));
    EXPECT_EQ(table_.cell(row, kColBusNr), "1");
    EXPECT_EQ(page.signal_list()->currentItem()->text().toStdString(), hits.back());
    page.Search();
  }
  EXPECT_EQ(hits, (std::vector<std::string>{"MotorTemp", "InverterTemp", "PackTempMax",
                                            "CellTempMin", "CellTempMax", "AmbientTemp", "DcdcTemp",
                                            "CoolantTempIn", "CoolantTempOut"}));
  EXPECT_EQ(LastStatus(), "No further search results for \"*Temp*\"");
  EXPECT_EQ(page.table_view()->CurrentTableRow(),
            table_.FindRow(1, "", "", "CoolantTempOut"));  // the current row stays
  // Editing the text starts again at the top; a name only bus 2 would have is not found.
  QTest::keyClick(page.search_field(), Qt::Key_Backspace);
  QTest::keyClicks(page.search_field(), "X");
  page.Search();
  EXPECT_EQ(LastStatus(), "Search string \"*TempX\" not found");
}

// ---- Drag and drop ------------------------------------------------------------------------

TEST_F(PageTest, MessageDraggedFromTheTreeIsLoggedInTableOrder) {
  CANdbPage& page = Page();
  const DragItem message{"Bus1", "MCU", "MCU_Motor", ""};
  PressTree(message);
  EXPECT_EQ(LastStatus(), "Selected \"Bus1.MCU.MCU_Motor.\"");
  EXPECT_TRUE(page.add_button()->isEnabled());
  EXPECT_EQ(page.lists_model().message(), "MCU_Motor");
  // Over the tree the drop is refused and the status line names what is dragged.
  EXPECT_FALSE(DragOver(page.tree(), message, false));
  EXPECT_EQ(LastStatus(), "Dragging MESSAGE \"MCU.MCU_Motor\"");
  EXPECT_TRUE(DragOver(page.logged_list(), message, true));
  EXPECT_EQ(LastStatus(), "Dropped MESSAGE \"MCU.MCU_Motor\"");
  const std::vector<std::string> motor = {"MotorSpeed",   "MotorTorque",  "MotorTemp",
                                          "InverterTemp", "MotorCurrent", "McuCounter"};
  EXPECT_EQ(Logged(), motor);
  EXPECT_EQ(page.count_label()->text(), "6 logged signals in 1 message");
  EXPECT_TRUE(Logs("Added signal+message \"Bus1.MCU.MCU_Motor.MotorSpeed\" to logger list"));
  EXPECT_EQ(table_.cell(table_.FindRow(1, "", "", "MotorTemp"), kColSt), "[*]");
  EXPECT_EQ(page.table_view()
                ->model()
                ->index(table_.FindRow(1, "", "", "MotorTemp") - 1, 0)
                .data()
                .toString(),
            "[*]");
  // Dropping the whole node again asks for the first name already logged; Cancel ends the run.
  answers_ = {Answer::kCancel};
  EXPECT_TRUE(DragOver(page.logged_list(), {"Bus1", "MCU", "", ""}, true));
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].caption, "PROBLEM");
  EXPECT_EQ(Logged(), motor);
}

// ---- Logged signals -----------------------------------------------------------------------

TEST_F(PageTest, SelectedRowsAreAddedThenMovedRemovedAndErased) {
  CANdbPage& page = Page();
  // Three rows of VCU_Status selected with Shift, added top to bottom.
  const int first = table_.FindRow(1, "", "VCU_Status", "AccelPedal");
  page.table_view()->SetCurrentTableRow(first);
  QItemSelectionModel* sel = page.table_view()->selectionModel();
  sel->select(QItemSelection(page.table_view()->model()->index(first - 1, 0),
                             page.table_view()->model()->index(first + 1, 16)),
              QItemSelectionModel::Select);
  EXPECT_TRUE(page.add_button()->isEnabled());
  page.add_button()->click();
  EXPECT_EQ(Logged(), (std::vector<std::string>{"AccelPedal", "BrakePedal", "GearSelected"}));
  // The info of a selected signal, and the buttons it enables.
  page.logged_list()->setCurrentRow(0);
  const QStringList info = page.info_box()->toPlainText().split('\n');
  EXPECT_EQ(info.value(0), "AccelPedal");
  EXPECT_EQ(info.value(1), "id=0x00000100 (11bit)");
  EXPECT_TRUE(info.contains("msg=\"VCU_Status\""));
  EXPECT_FALSE(page.up_button()->isEnabled());
  EXPECT_TRUE(page.down_button()->isEnabled());
  page.down_button()->click();
  EXPECT_EQ(Logged(), (std::vector<std::string>{"BrakePedal", "AccelPedal", "GearSelected"}));
  EXPECT_EQ(page.logged_list()->currentRow(), 1);  // the selection follows the signal
  page.up_button()->click();
  EXPECT_EQ(page.logged_list()->currentRow(), 0);
  // Removing keeps the selection at the same index and shows its info.
  page.remove_button()->click();
  EXPECT_TRUE(Logs("Removed signal \"Bus1.VCU.VCU_Status.AccelPedal\" from logger list"));
  EXPECT_EQ(Logged(), (std::vector<std::string>{"BrakePedal", "GearSelected"}));
  EXPECT_EQ(page.logged_list()->currentRow(), 0);
  EXPECT_EQ(page.info_box()->toPlainText().split('\n').value(0), "BrakePedal");
  EXPECT_TRUE(table_.cell(first, kColSt).empty());  // no longer marked
  // A double-click in the signal list adds that signal; an existing name asks first.
  answers_ = {Answer::kNo};
  page.views()->setCurrentIndex(CANdbPage::kListsPage);
  for (int i = 0; i < page.signal_list()->count(); ++i) {
    if (page.signal_list()->item(i)->text() == "BrakePedal" ||
        page.signal_list()->item(i)->text() == "DriveMode") {
      Q_EMIT page.signal_list()->itemDoubleClicked(page.signal_list()->item(i));
    }
  }
  EXPECT_EQ(asked_.size(), 1u);  // BrakePedal: kept
  EXPECT_EQ(Logged(), (std::vector<std::string>{"BrakePedal", "GearSelected", "DriveMode"}));
  page.EraseAll();
  EXPECT_TRUE(Logged().empty());
  EXPECT_EQ(page.count_label()->text(), "0 logged signals in 0 messages");
  EXPECT_TRUE(page.info_box()->toPlainText().isEmpty());
}

// ---- Message layout view ------------------------------------------------------------------

TEST_F(PageTest, ClickInTheLayoutViewSelectsTheLoggedSignal) {
  CANdbPage& page = Page();
  page.DropItem({"Bus1", "BMS", "BMS_CellStats", ""});
  ASSERT_EQ(Logged().size(), 6u);
  page.SelectLogged(0);
  page.graphic_display_box()->setChecked(true);
  TGraphMsgView* view = page.layout_view();
  ASSERT_TRUE(view->isVisible());
  EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
  page.SelectLogged(0);  // draws at the shown size
  EXPECT_EQ(view->windowTitle(), "Layout of CAN message \"BMS_CellStats\"");
  // Bit 0 of byte 3 belongs to CellVoltMax (start bit 24) only.
  const int cw = view->image()->width() / 12, rh = view->image()->height() / 12;
  QTest::mouseClick(view->image(), Qt::LeftButton, {}, QPoint(9 * cw + cw / 2, 5 * rh + rh / 2));
  EXPECT_EQ(view->last_click().byte, 3);
  EXPECT_EQ(view->last_click().bit, 0);
  page.PollLayoutView();
  ASSERT_NE(page.logged_list()->currentItem(), nullptr);
  EXPECT_EQ(page.logged_list()->currentItem()->text(), "CellVoltMax");
  EXPECT_EQ(page.info_box()->toPlainText().split('\n').value(0), "CellVoltMax");
  EXPECT_EQ(page.lists_model().signal(), "CellVoltMax");
  EXPECT_EQ(table_.cell(page.table_view()->CurrentTableRow(), kColSigName), "CellVoltMax");
  // The user closes the window: the next poll unticks "graphic display".
  view->close();
  page.PollLayoutView();
  EXPECT_FALSE(page.graphic_display_box()->isChecked());
}

}  // namespace
}  // namespace tessmar
