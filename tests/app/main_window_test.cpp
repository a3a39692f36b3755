// The main window under the offscreen platform: pages, settings, messages, the option page,
// the converter options check, dropped files, asking to save and the partner protocol.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "app/converter_page.h"
#include "app/logger_cfg_page.h"
#include "app/setup_page.h"
#include "app/simple_pages.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::ReadText;
using testing::WindowFixture;

bool InfoContains(TCanLogForm1& w, const QString& text) {
  for (const QString& line : w.info_page()->Lines()) {
    if (line.contains(text)) return true;
  }
  return false;
}

// ---- Window and pages -------------------------------------------------------------------------

TEST(MainWindow, PagesInOrderAndSettingsFileReported) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  const QStringList expected = {"CANdb",     "Aliases", "Messages, etc", "Logger Cfg", "Trigger",
                                "Converter", "GPS",     "Setup",         "Info"};
  QStringList captions;
  for (int i = 0; i < w.pages()->count(); ++i) captions << w.pages()->tabText(i);
  EXPECT_EQ(captions, expected);
  EXPECT_TRUE(InfoContains(
      w, QStringLiteral("Loaded converter config from \"%1\" .")
             .arg(QString::fromStdString(f.ini_path().string()))));
  auto* not_done = w.findChild<QWidget*>(QStringLiteral("Lab_AliasesNotImplemented"));
  ASSERT_NE(not_done, nullptr);
}

TEST(MainWindow, VerboseStartPrintsTheDebuggingInfoAndChoosesTheCandbPage) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nVerboseDisplay=1\r\n[Files]\r\nLoggerCfg=\r\n");
  EXPECT_TRUE(w.verbose());
  w.TimerTick();
  EXPECT_TRUE(w.started());
  EXPECT_TRUE(InfoContains(w, "Debugging info ..."));
  EXPECT_TRUE(InfoContains(w, "  MAX_LOGGED_MESSAGES = 256"));
  EXPECT_TRUE(InfoContains(w, "  MAX_LOGGED_EXPRESSIONS = 64"));
  EXPECT_EQ(w.pages()->currentIndex(), int(MainPage::kCANdb));
}

TEST(MainWindow, StatusLineFollowsSeverityAndClickShowsInfo) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  ShowMessage(kMsgError, "Something failed");
  ShowMessage(kMsgInfo, "Just info");
  EXPECT_EQ(w.StatusText(), "Something failed");
  EXPECT_TRUE(InfoContains(w, "Just info"));
  ShowMessage(kMsgStatus, "Progress 5 %");
  EXPECT_EQ(w.StatusText(), "Progress 5 %");
  EXPECT_FALSE(InfoContains(w, "Progress"));  // status-only texts stay out of the list
  w.pages()->setCurrentIndex(0);
  QTest::mouseClick(w.findChild<QWidget*>(QStringLiteral("StatusLine")), Qt::LeftButton);
  EXPECT_EQ(w.pages()->currentIndex(), int(MainPage::kInfo));
}

// ---- Settings ---------------------------------------------------------------------------------

TEST(MainWindowSettings, FormatCodeSelectsTheListEntry) {
  {
    WindowFixture f;
    TCanLogForm1& w = f.Start({}, "[Converter]\r\nOutputFileFormat=11\r\n");
    auto* list = w.findChild<QListWidget*>(QStringLiteral("LB_FileFormat"));
    ASSERT_NE(list->currentItem(), nullptr);
    EXPECT_EQ(list->currentItem()->text(), "Semicolon-\"CSV\", german");
  }
  {
    WindowFixture f;
    TCanLogForm1& w = f.Start({}, "[Converter]\r\nOutputFileFormat=10\r\n");
    auto* list = w.findChild<QListWidget*>(QStringLiteral("LB_FileFormat"));
    EXPECT_EQ(list->currentRow(), -1);
  }
}

TEST(MainWindowSettings, RoundTripKeepsEveryControl) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({},
                            "[MainWindow]\r\nLeft=10\r\nTop=20\r\nWidth=900\r\nHeight=650\r\n"
                            "LaunchExternalViewer=1\r\n[DeviceInfo]\r\nLoggerDeviceFamily=2\r\n"
                            "[Files]\r\nLogFileDir=/data/in\r\nExportDir=/data/out\r\n"
                            "LoggerCfg=/cfg/van.clc\r\n[Converter]\r\nOutputType=0\r\n"
                            "OutputFileFormat=5\r\nInvalidSignal=NaN\r\n");
  EXPECT_EQ(w.converter_page()->input_dir()->text(), "/data/in");
  EXPECT_EQ(w.converter_page()->output_dir()->text(), "/data/out");
  EXPECT_EQ(w.last_family(), 2);
  EXPECT_TRUE(w.converter_page()->launch_viewer_box()->isChecked());
  // Linked fields follow each other.
  QTest::keyClicks(w.setup_page()->log_file_dir(), "2");
  EXPECT_EQ(w.converter_page()->input_dir()->text(), "/data/in2");
  w.setup_page()->external_viewer()->setText("/usr/bin/viewer");
  ASSERT_TRUE(f.Close());
  const std::string ini = ReadText(f.ini_path());
  EXPECT_NE(ini.find("LogFileDir=/data/in2"), std::string::npos) << ini;
  EXPECT_NE(ini.find("ExternalDataViewer=/usr/bin/viewer"), std::string::npos);
  EXPECT_NE(ini.find("LoggerCfg=/cfg/van.clc"), std::string::npos);
  EXPECT_NE(ini.find("OutputFileFormat=5"), std::string::npos);
  EXPECT_NE(ini.find("LoggerDeviceFamily=2"), std::string::npos);
  EXPECT_NE(ini.find("LaunchExternalViewer=1"), std::string::npos);
}

TEST(MainWindowSettings, MaximisedCloseKeepsPlacementAndUnnamedIsNotRemembered) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nLeft=11\r\nTop=22\r\nWidth=801\r\nHeight=602\r\n"
                                "[Files]\r\nLoggerCfg=/cfg/van.clc\r\n");
  w.NewConfiguration(true);
  EXPECT_TRUE(w.config_file_name().endsWith("unnamed.clc"));
  w.showMaximized();
  ASSERT_TRUE(f.Close());
  const std::string ini = ReadText(f.ini_path());
  EXPECT_NE(ini.find("Width=801"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Left=11"), std::string::npos);
  EXPECT_NE(ini.find("LoggerCfg=/cfg/van.clc"), std::string::npos);
  EXPECT_EQ(ini.find("unnamed.clc"), std::string::npos);
}

// ---- Logger Cfg and Setup pages ---------------------------------------------------------------

TEST(LoggerCfgPage, EditsReachTheRecordAndSetModified) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.NewConfiguration(true);
  ASSERT_FALSE(w.config().modified);
  auto* pre = w.findChild<QLineEdit*>(QStringLiteral("Ed_Pretrigger"));
  auto* post = w.findChild<QLineEdit*>(QStringLiteral("Ed_Posttrigger"));
  pre->setText("400");
  Q_EMIT pre->editingFinished();
  post->setText("-1");
  Q_EMIT post->editingFinished();
  EXPECT_EQ(w.config().cfg.Pretrig10ms, 32767);
  EXPECT_EQ(w.config().cfg.Posttrig10ms, 0);
  EXPECT_EQ(pre->text(), "327.67");
  EXPECT_TRUE(w.config().modified);
  w.findChild<QCheckBox*>(QStringLiteral("Chk_FifoMode"))->setChecked(true);
  EXPECT_EQ(w.config().cfg.FifoMode, 1);
  auto* info = w.findChild<QLineEdit*>(QStringLiteral("Ed_InfoString"));
  info->setText("Van test");
  Q_EMIT info->editingFinished();
  EXPECT_STREQ(w.config().cfg.InfoString, "Van test");
}

TEST(LoggerCfgPage, ReceiveAllWithRateLimitShowsTheConflictUntilResolved) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  auto* rate = w.findChild<QLineEdit*>(QStringLiteral("Ed_MsgRateLimit"));
  rate->setText("10");
  Q_EMIT rate->editingFinished();
  w.findChild<QRadioButton*>(QStringLiteral("RB_ReceiveAll"))->setChecked(true);
  EXPECT_EQ(w.StatusText(),
            "Options \"Limit write interval\" AND \"Receive All\" can't be used together.");
  EXPECT_EQ(w.status().owner(), StatusOwner::kOptionConflict);
  EXPECT_EQ(w.config().cfg.ReceiveAll, 1);  // stored all the same
  EXPECT_EQ(w.config().cfg.MsgRateLimit, 10);
  rate->setText("0");
  Q_EMIT rate->editingFinished();
  EXPECT_EQ(w.StatusText(), "");
}

TEST(SetupPage, FamilyListSetsFamilyLimitsAndModified) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=0\r\n");
  EXPECT_EQ(w.config().cfg.DeviceFamily, 0u);
  EXPECT_EQ(w.setup_page()->family_list()->currentRow(), 0);
  w.setup_page()->family_list()->setCurrentRow(4);
  EXPECT_EQ(w.config().cfg.DeviceFamily, 4u);
  EXPECT_EQ(w.last_family(), 4);
  EXPECT_TRUE(w.config().modified);
  EXPECT_TRUE(w.logger_cfg_page()->limits_line().contains("256 signals, 256 messages, 10 trigger"))
      << w.logger_cfg_page()->limits_line().toStdString();
}

TEST(LoggerCfgPage, ListsTurnRedBeyondTheFamilyLimit) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=0\r\n");
  for (uint32_t i = 0; i < 49; ++i) {
    T_CanLog_MsgDef m;
    m.id = 0x100 + i;
    ASSERT_TRUE(StoreMessageDefinition(w.config().cfg, m));
  }
  w.setup_page()->family_list()->setCurrentRow(0);  // refill
  w.NewConfiguration(true);                           // clears the tables again
  EXPECT_FALSE(w.logger_cfg_page()->lists_red());
  for (uint32_t i = 0; i < 49; ++i) {
    T_CanLog_MsgDef m;
    m.id = 0x100 + i;
    StoreMessageDefinition(w.config().cfg, m);
  }
  w.setup_page()->family_list()->setCurrentRow(1);
  w.setup_page()->family_list()->setCurrentRow(0);
  EXPECT_TRUE(w.logger_cfg_page()->lists_red());
  EXPECT_EQ(CountUsedMessages(w.config().cfg), 49);
  EXPECT_EQ(w.logger_cfg_page()->count_line(), "0 logged signals in 49 messages");
}

// ---- Converter options check ------------------------------------------------------------------

TEST(ConverterPage, OptionCheckColoursAndBoxes) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  ConverterPage* page = w.converter_page();
  auto* type = w.findChild<QComboBox*>(QStringLiteral("CB_OutputType"));
  auto* formats = w.findChild<QListWidget*>(QStringLiteral("LB_FileFormat"));
  auto* invalid = w.findChild<QLineEdit*>(QStringLiteral("Ed_InvalidSignal"));

  // ETAS needs a numeric no-value text.
  type->setCurrentIndex(1);
  EXPECT_EQ(formats->currentRow(), 0);  // choosing "Signals" jumps to "Text"
  invalid->setText("n/a");
  formats->setCurrentRow(OutputFormatListIndex(kFormatEtasAscii));
  EXPECT_TRUE(page->IsRed("Ed_InvalidSignal"));
  EXPECT_EQ(w.StatusText(), "Warning: ETAS 'AsciiItemFile' needs a NUMERIC 'No-Value'-dummy ! "
                            "Check the converter options.");
  invalid->setText("-1");
  Q_EMIT invalid->editingFinished();
  EXPECT_FALSE(page->IsRed("Ed_InvalidSignal"));

  // Messages cannot go to DIAdem: refused, red, with a box.
  f.AnswerWith({Answer::kOk});
  type->setCurrentIndex(0);
  formats->setCurrentRow(OutputFormatListIndex(kFormatDiademInt32));
  EXPECT_TRUE(page->IsRed("CB_OutputType"));
  ASSERT_FALSE(f.asked().empty());
  EXPECT_EQ(f.asked().back().text, "Cannot export a CAN MESSAGE FILE in DIAdem format yet");
  EXPECT_FALSE(page->CheckOptions(true).accepted);

  // Vector ASCII fixes the output type and empties the invalid value.
  formats->setCurrentRow(OutputFormatListIndex(kFormatVectorAscii));
  EXPECT_EQ(type->currentIndex(), 0);
  EXPECT_FALSE(type->isEnabled());
  EXPECT_EQ(invalid->text(), "");
  EXPECT_FALSE(page->IsRed("CB_OutputType"));
}

TEST(ConverterPage, SignalsMarksCombineRedAndEnablesPreview) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  auto* type = w.findChild<QComboBox*>(QStringLiteral("CB_OutputType"));
  type->setCurrentIndex(0);
  EXPECT_FALSE(w.converter_page()->graph_preview_box()->isEnabled());
  EXPECT_FALSE(w.converter_page()->IsRed("Chk_CombineOutput"));
  type->setCurrentIndex(1);
  EXPECT_TRUE(w.converter_page()->graph_preview_box()->isEnabled());
  EXPECT_TRUE(w.converter_page()->IsRed("Chk_CombineOutput"));
}

TEST(MainWindow, DroppedFilesOnlyCldJoinTheSources) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.AddDroppedFiles({"/x/a.cld", "/x/b.CLD", "/x/c.clc", "/x/d.cld.txt", "/x/noext"});
  EXPECT_EQ(w.converter_page()->sources(), QStringList({"/x/a.cld", "/x/b.CLD"}));
}

// ---- Asking to save -----------------------------------------------------------------------------

TEST(MainWindowClose, CancelKeepsTheWindowNoClosesWithoutSaving) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[Files]\r\nLoggerCfg=" + (f.dir() / "mine.clc").string() + "\r\n");
  w.config().modified = true;
  const std::string ini_before = ReadText(f.ini_path());
  f.AnswerWith({Answer::kCancel});
  EXPECT_FALSE(f.Close());
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_EQ(f.asked()[0].caption, "Warning");
  EXPECT_EQ(f.asked()[0].text,
            "The logger configuration has been modified but not saved yet.\r\n Save config as   \"" +
                (f.dir() / "mine.clc").string() + "\"   now ?");
  EXPECT_EQ(ReadText(f.ini_path()), ini_before);  // nothing written while the window stays
  f.AnswerWith({Answer::kNo});
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(std::filesystem::exists(f.dir() / "mine.clc"));
  EXPECT_NE(ReadText(f.ini_path()), ini_before);
}

TEST(MainWindowClose, BatchModeNeverAsks) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.config().modified = true;
  SetBatchMode(true);
  EXPECT_TRUE(w.AskToSave());
  EXPECT_TRUE(f.asked().empty());
}

}  // namespace
}  // namespace tessmar
