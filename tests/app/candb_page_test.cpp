// The CANdb page inside the main window: importing for both buses with the duplicate question,
// bad files, the recent-files menu through the settings file, and a configuration built with the
// mouse from import to the saved file.

#include "candb_views/candb_page.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "candb_views/candb_table_view.h"
#include "candb_views/graph_msg_view.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::InfoContains;
using testing::ReadText;
using testing::WindowFixture;
using testing::WriteText;

const std::string kDemoDbc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc";

QMenu* RecentMenu(TCanLogForm1& w) {
  for (QMenu* m : w.findChildren<QMenu*>()) {
    if (m->title() == "&Most recent CANdb files ...") return m;
  }
  return nullptr;
}

int RowsOfBus(const SignalTable& t, const char* bus) {
  int n = 0;
  for (int r = 1; r < t.row_count(); ++r) n += t.cell(r, kColBusNr) == bus;
  return n;
}

TEST(CandbImport, SecondImportAsksYesOverwritesNoAppendsCancelStops) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.LoadCanDatabase(kDemoDbc, 1);
  const int n = RowsOfBus(w.candb_table(), "1");
  ASSERT_GT(n, 40);
  EXPECT_TRUE(f.asked().empty());
  EXPECT_TRUE(
      InfoContains(w, QString::fromStdString("Loaded CAN database \"" + kDemoDbc +
                                             "\" for bus #1, " + std::to_string(n) + " signals.")));
  f.AnswerWith({Answer::kYes, Answer::kNo, Answer::kCancel});
  w.LoadCanDatabase(kDemoDbc, 1);  // Yes: overwritten in place, asked once
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_EQ(f.asked()[0].caption, "Loading CANdb: Signal already defined");
  EXPECT_EQ(RowsOfBus(w.candb_table(), "1"), n);
  w.LoadCanDatabase(kDemoDbc, 1);  // No: a second copy of every signal
  EXPECT_EQ(RowsOfBus(w.candb_table(), "1"), 2 * n);
  w.LoadCanDatabase(kDemoDbc, 1);  // Cancel: nothing more
  EXPECT_EQ(f.asked().size(), 3u);
  EXPECT_EQ(RowsOfBus(w.candb_table(), "1"), 2 * n);
  EXPECT_TRUE(InfoContains(w, QString::fromStdString("for bus #1, 0 signals.")));
  // Bus 2 has no rows yet: no question; its nodes appear under "Bus2" and with " (2)".
  w.LoadCanDatabase(kDemoDbc, 2);
  EXPECT_EQ(f.asked().size(), 3u);
  EXPECT_EQ(RowsOfBus(w.candb_table(), "2"), n);
  CANdbPage* page = w.candb_page();
  EXPECT_GT(page->tree()->topLevelItem(1)->childCount(), 0);
  EXPECT_FALSE(page->node_list()->findItems("VCU (2)", Qt::MatchExactly).isEmpty());
  EXPECT_EQ(page->table_view()->model()->rowCount(), w.candb_table().data_row_count());
  EXPECT_STREQ(w.config().cfg.DbFileBus1, kDemoDbc.c_str());
  EXPECT_STREQ(w.config().cfg.DbFileBus2, kDemoDbc.c_str());
}

TEST(CandbImport, MissingAndTruncatedFilesKeepWhatWasThere) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.LoadCanDatabase(kDemoDbc, 1);
  const int rows = w.candb_table().data_row_count();
  w.LoadCanDatabase((f.dir() / "gone.dbc").string(), 2);
  EXPECT_TRUE(InfoContains(w, "File not found: \""));
  EXPECT_EQ(w.candb_table().data_row_count(), rows);
  // A file cut off in the middle of a message: the signals before the cut are loaded.
  const std::string text = ReadText(kDemoDbc);
  const std::string cut = text.substr(0, text.find(" SG_ MotorTemp"));
  WriteText(f.dir() / "cut.dbc", cut + " SG_ Broken : 39|8@0+ (1,");
  w.LoadCanDatabase((f.dir() / "cut.dbc").string(), 2);
  EXPECT_EQ(RowsOfBus(w.candb_table(), "1"), rows);
  EXPECT_GT(RowsOfBus(w.candb_table(), "2"), 5);
  EXPECT_GE(w.candb_table().FindRow(2, "", "", "VehicleSpeed"), 1);
  EXPECT_EQ(w.candb_table().FindRow(2, "", "", "MotorTemp"), -1);
}

TEST(CandbImport, RecentFilesMenuSurvivesTheSettingsFile) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  const std::string copy = (f.dir() / "copy.dbc").string();
  WriteText(copy, ReadText(kDemoDbc));
  w.LoadCanDatabase(kDemoDbc, 1);
  w.LoadCanDatabase(copy, 2);
  w.LoadCanDatabase(kDemoDbc, 1);  // already listed: stays where it is
  f.AnswerWith({Answer::kNo});     // the database names changed the configuration: not saved
  ASSERT_TRUE(f.Close());
  const std::string ini = ReadText(f.ini_path());
  EXPECT_NE(ini.find("Name0=" + copy), std::string::npos);
  EXPECT_NE(ini.find("BusNr0=2"), std::string::npos);

  WindowFixture g;
  TCanLogForm1& v = g.Start({}, ini);
  QMenu* menu = RecentMenu(v);
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_GE(actions.size(), 8);
  EXPECT_EQ(actions[0]->text().toStdString(), "&0  " + copy + " (bus 2)");
  EXPECT_EQ(actions[1]->text().toStdString(), "&1  " + kDemoDbc + " (bus 1)");
  EXPECT_TRUE(actions[1]->isVisible());
  EXPECT_FALSE(actions[2]->isVisible());
  actions[0]->trigger();
  EXPECT_EQ(RowsOfBus(v.candb_table(), "2"), RowsOfBus(w.candb_table(), "2"));
  EXPECT_GT(v.candb_page()->tree()->topLevelItem(1)->childCount(), 0);
}

// The whole job as a new user does it: import, find, drag a message into the logger, look at its
// layout, save, and read the file back with the command-line program.
TEST(CandbImport, ConfigurationBuiltWithTheMouseIsSaved) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.show();
  w.LoadCanDatabase(kDemoDbc, 1);
  CANdbPage* page = w.candb_page();
  page->search_field()->setText("*Temp*");
  QTest::keyClick(page->search_field(), Qt::Key_Return);
  EXPECT_EQ(page->lists_model().signal(), "MotorTemp");
  page->views()->setCurrentIndex(CANdbPage::kTreePage);
  QTreeWidgetItem* item = page->TreeItemOf({"Bus1", "MCU", "MCU_Motor", ""});
  ASSERT_NE(item, nullptr);
  page->tree()->scrollToItem(item);
  QTest::mousePress(page->tree()->viewport(), Qt::LeftButton, {},
                    page->tree()->visualItemRect(item).center());
  std::unique_ptr<QMimeData> mime(DragItemMime({"Bus1", "MCU", "MCU_Motor", ""}));
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
  QApplication::sendEvent(page->logged_list()->viewport(), &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, {});
  QApplication::sendEvent(page->logged_list()->viewport(), &drop);
  EXPECT_EQ(w.StatusText(), "Dropped MESSAGE \"MCU.MCU_Motor\"");
  EXPECT_EQ(page->logged_list()->count(), 6);
  EXPECT_TRUE(w.config().modified);
  page->logged_list()->setCurrentRow(2);
  page->graphic_display_box()->setChecked(true);
  EXPECT_TRUE(page->layout_view()->isVisible());
  EXPECT_EQ(page->layout_view()->windowTitle(), "Layout of CAN message \"MCU_Motor\"");
  const QString clc = QString::fromStdString((f.dir() / "mouse.clc").string());
  ASSERT_TRUE(w.SaveConfiguration(clc));
  QProcess cli;
  cli.start(TESSMAR_CLI_PATH, {"clc", "show", clc});
  ASSERT_TRUE(cli.waitForFinished(20000));
  const QString shown = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  for (const char* name : {"MotorSpeed", "MotorTemp", "InverterTemp", "McuCounter"}) {
    EXPECT_TRUE(shown.contains(name)) << name << "\n" << shown.toStdString();
  }
  EXPECT_TRUE(shown.contains("MCU_Motor")) << shown.toStdString();
}

// "Add" after pressing a message in the tree adds the whole message, as dragging it does; a
// double-click adds one signal; removing a signal the trigger uses asks first.
TEST(CandbImport, AddButtonAndDoubleClicksAddWhatTheyShow) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.show();
  w.LoadCanDatabase(kDemoDbc, 1);
  CANdbPage* page = w.candb_page();
  page->views()->setCurrentIndex(CANdbPage::kTreePage);
  QTreeWidgetItem* message = page->TreeItemOf({"Bus1", "MCU", "MCU_Motor", ""});
  ASSERT_NE(message, nullptr);
  page->tree()->scrollToItem(message);
  QTest::mousePress(page->tree()->viewport(), Qt::LeftButton, {},
                    page->tree()->visualItemRect(message).center());
  QTest::mouseRelease(page->tree()->viewport(), Qt::LeftButton, {},
                      page->tree()->visualItemRect(message).center());
  ASSERT_TRUE(page->add_button()->isEnabled());
  page->add_button()->click();
  EXPECT_EQ(page->logged_list()->count(), 6);

  page->EraseAll();
  QTreeWidgetItem* signal = page->TreeItemOf({"Bus1", "MCU", "MCU_Motor", "MotorTemp"});
  ASSERT_NE(signal, nullptr);
  Q_EMIT page->tree()->itemDoubleClicked(signal, 0);
  ASSERT_EQ(page->logged_list()->count(), 1);
  EXPECT_EQ(page->logged_list()->item(0)->text(), "MotorTemp");
  const int row = w.candb_table().FindRow(1, "", "", "MotorSpeed");
  Q_EMIT page->table_view()->doubleClicked(page->table_view()->model()->index(row - 1, 1));
  EXPECT_EQ(page->logged_list()->count(), 2);
  EXPECT_EQ(page->table_view()->model()->headerData(row - 1, Qt::Vertical).toString(), "[*]");

  SetText(w.config().cfg.SigName[0], "MotorTemp");
  f.AnswerWith({Answer::kNo, Answer::kYes});
  page->SelectLogged(0);
  page->RemoveSelected();
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_NE(f.asked()[0].text.find("\"MotorTemp\" (trigger line 1)"), std::string::npos);
  EXPECT_EQ(page->logged_list()->count(), 2);
  page->RemoveSelected();
  EXPECT_EQ(page->logged_list()->count(), 1);
  // Saving now names the trigger signal that is no longer logged.
  f.AnswerWith({Answer::kNo});
  EXPECT_FALSE(w.SaveConfiguration(QString::fromStdString((f.dir() / "t.clc").string())));
  ASSERT_EQ(f.asked().size(), 3u);
  EXPECT_NE(f.asked()[2].text.find("not in the logger list: \"MotorTemp\""), std::string::npos);
}

}  // namespace
}  // namespace tessmar
