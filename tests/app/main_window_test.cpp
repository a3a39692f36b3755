// The main window under the offscreen platform: pages, settings, messages, the option page,
// the converter options check, dropped files, asking to save and the partner protocol.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QThread>

#include "app/converter_page.h"
#include "app/logger_cfg_page.h"
#include "app/setup_page.h"
#include "app/simple_pages.h"
#include "config/clc_file.h"
#include "config/scramble.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::InfoContains;
using testing::ReadText;
using testing::WindowFixture;

// ---- Window and pages -------------------------------------------------------------------------

TEST(MainWindow, PagesInOrderAndSettingsFileReported) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nVerboseDisplay=0\r\n");
  const QStringList expected = {"CANdb",     "Aliases", "Messages, etc", "Logger Cfg", "Trigger",
                                "Converter", "GPS",     "Setup",         "Info"};
  QStringList captions;
  for (int i = 0; i < w.pages()->count(); ++i) captions << w.pages()->tabText(i);
  EXPECT_EQ(captions, expected);
  EXPECT_TRUE(InfoContains(w, QStringLiteral("Loaded converter config from \"%1\" .")
                                  .arg(QString::fromStdString(f.ini_path().string()))));
  auto* not_done = w.findChild<QWidget*>(QStringLiteral("Lab_AliasesNotImplemented"));
  ASSERT_NE(not_done, nullptr);
}

// The first start has no settings file and no "logger.clc": neither is an error.
TEST(MainWindow, FirstStartReportsNoMissingFiles) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.TimerTick();
  EXPECT_TRUE(InfoContains(w, QStringLiteral("No settings file \"%1\" yet")
                                  .arg(QString::fromStdString(f.ini_path().string()))));
  for (const QString& line : w.info_page()->Lines()) {
    EXPECT_FALSE(line.contains("Couldn't load")) << line.toStdString();
    EXPECT_FALSE(line.contains("Loaded converter config")) << line.toStdString();
  }
}

// Switching formats and output types on the converter page keeps what the user set.
TEST(MainWindow, ConverterOptionsSurviveSwitchingFormats) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  ConverterPage* page = w.converter_page();
  auto* formats = w.findChild<QListWidget*>(QStringLiteral("LB_FileFormat"));
  auto* headlines = w.findChild<QSpinBox*>(QStringLiteral("SE_Headlines"));
  auto* type = w.findChild<QComboBox*>(QStringLiteral("CB_OutputType"));
  type->setCurrentIndex(int(OutputType::kSignals));
  formats->setCurrentRow(OutputFormatListIndex(kFormatCsvInternational));
  headlines->setValue(1);
  page->graph_preview_box()->setChecked(true);
  formats->setCurrentRow(OutputFormatListIndex(kFormatVectorMdf));
  EXPECT_EQ(headlines->value(), 0);
  EXPECT_FALSE(headlines->isEnabled());
  formats->setCurrentRow(OutputFormatListIndex(kFormatCsvInternational));
  EXPECT_EQ(headlines->value(), 1);
  type->setCurrentIndex(int(OutputType::kMessages));
  EXPECT_EQ(formats->currentRow(), OutputFormatListIndex(kFormatCsvInternational));
  EXPECT_FALSE(page->graph_preview_box()->isChecked());
  EXPECT_FALSE(page->graph_preview_box()->isEnabled());
  type->setCurrentIndex(int(OutputType::kSignals));
  EXPECT_TRUE(page->graph_preview_box()->isChecked());
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
  // The printout ends with an empty line.
  const QStringList lines = w.info_page()->Lines();
  const int last = int(lines.indexOf(
      QStringLiteral("  sizeof(T_CanLog_SigTab) = %1").arg(long(sizeof(T_CanLog_SigTab)))));
  ASSERT_GE(last, 0) << lines.join('|').toStdString();
  ASSERT_LT(last + 1, lines.size());
  EXPECT_EQ(lines[last + 1], "");
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

TEST(MainWindow, PasswordMenuEntryNamesWhatItWouldDo) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  QMenu* file = w.menuBar()->actions().at(0)->menu();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->title(), "&File");
  auto* toggle = w.findChild<QAction*>(QStringLiteral("MI_PasswordToggle"));
  ASSERT_NE(toggle, nullptr);
  QAction* protection = nullptr;
  for (QAction* a : file->actions()) {
    if (a->text() == "Passw&ord protection") protection = a;
  }
  ASSERT_NE(protection, nullptr);
  Q_EMIT file->aboutToShow();
  EXPECT_EQ(toggle->text(), "Enable password");
  EXPECT_FALSE(protection->isChecked());
  SetText(w.config().cfg.Password1, "Sesam");
  Q_EMIT file->aboutToShow();
  EXPECT_EQ(toggle->text(), "Disable password");
  EXPECT_TRUE(protection->isChecked());
  EXPECT_TRUE(toggle->isEnabled());
  SetText(w.config().cfg.Password1, "");
  Q_EMIT file->aboutToShow();
  EXPECT_EQ(toggle->text(), "Enable password");
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
    // An unknown code selects nothing and is stored back unchanged, unless a format is chosen.
    WindowFixture f;
    TCanLogForm1& w = f.Start({}, "[Converter]\r\nOutputFileFormat=10\r\n");
    auto* list = w.findChild<QListWidget*>(QStringLiteral("LB_FileFormat"));
    EXPECT_EQ(list->currentRow(), -1);
    ASSERT_TRUE(w.WriteSettingsFile());
    EXPECT_NE(ReadText(f.ini_path()).find("OutputFileFormat=10\r\n"), std::string::npos);
    list->setCurrentRow(OutputFormatListIndex(kFormatEtasAscii));
    ASSERT_TRUE(f.Close());
    EXPECT_NE(ReadText(f.ini_path()).find("OutputFileFormat=9\r\n"), std::string::npos);
  }
}

TEST(MainWindowSettings, RoundTripKeepsEveryControl) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({},
                            "[MainWindow]\r\nLeft=10\r\nTop=20\r\nWidth=900\r\nHeight=650\r\n"
                            "LaunchExternalViewer=1\r\n[DeviceInfo]\r\nLoggerDeviceFamily=2\r\n"
                            "[Files]\r\nLogFileDir=/data/in\r\nExportDir=/data/out\r\n"
                            "LoggerCfg=/cfg/van.clc\r\n[Converter]\r\nOutputType=0\r\n"
                            "OutputFileFormat=5\r\nInvalidSignal=NaN\r\n"
                            "[MostRecentCANdbFiles]\r\nName0=/db/van.dbc\r\nBusNr0=2\r\n");
  EXPECT_EQ(w.candb_import().recent().entry(0).path, "/db/van.dbc");
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
  EXPECT_NE(ini.find("Name0=/db/van.dbc"), std::string::npos);
  EXPECT_NE(ini.find("BusNr0=2"), std::string::npos);
  EXPECT_EQ(ini.find("SplitX=-1"), std::string::npos);
}

TEST(MainWindowSettings, MaximisedCloseKeepsPlacementAndUnnamedIsNotRemembered) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({},
                            "[MainWindow]\r\nLeft=11\r\nTop=22\r\nWidth=801\r\nHeight=602\r\n"
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
  pre->setText("0.29");
  Q_EMIT pre->editingFinished();
  EXPECT_EQ(w.config().cfg.Pretrig10ms, 29);
  // Applying the page again (any other edit) leaves untouched values exactly as they are.
  w.config().cfg.InitTrigger = 5;
  w.config().cfg.Posttrig10ms = 12345;
  w.setup_page()->family_list()->setCurrentRow(2);  // refill
  w.findChild<QCheckBox*>(QStringLiteral("Chk_ReceiveGps"))->setChecked(true);
  EXPECT_EQ(w.config().cfg.InitTrigger, 5);
  EXPECT_EQ(w.config().cfg.Posttrig10ms, 12345);
  EXPECT_EQ(w.config().cfg.Pretrig10ms, 29);
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
  auto* status = w.findChild<QLabel*>(QStringLiteral("StatusLine"));
  EXPECT_TRUE(status->styleSheet().contains("color")) << status->styleSheet().toStdString();
  // Shown in red, but not as an error: information texts still reach the status line.
  EXPECT_LT(w.status().severity(), kMsgWarning);
  ShowMessage(kMsgInfo, "Information after the conflict");
  EXPECT_EQ(w.StatusText(), "Information after the conflict");
  EXPECT_TRUE(status->styleSheet().isEmpty());
  // Another edit that keeps the conflict shows it again; resolving it clears the line.
  rate->setText("20");
  Q_EMIT rate->editingFinished();
  EXPECT_EQ(w.StatusText(),
            "Options \"Limit write interval\" AND \"Receive All\" can't be used together.");
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

TEST(SetupPage, ClickingTheShownUnknownEntryAtTheFirstStartChoosesFamilyFour) {
  WindowFixture f;
  TCanLogForm1& w =
      f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=-1\r\n[Files]\r\nLoggerCfg=\r\n");
  w.show();
  w.pages()->setCurrentIndex(int(MainPage::kSetup));
  QListWidget* list = w.setup_page()->family_list();
  ASSERT_EQ(list->currentRow(), 4);  // " unknown / future device" shown for "none chosen yet"
  ASSERT_EQ(list->item(4)->text(), " unknown / future device");
  ASSERT_FALSE(w.config().modified);
  auto click = [list](int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
  };
  click(4);
  EXPECT_EQ(w.config().cfg.DeviceFamily, 4u);
  EXPECT_EQ(w.last_family(), 4);
  EXPECT_TRUE(w.config().modified);
  // Clicking another entry chooses it (once), and clicking it again after saving is a choice too.
  QSignalSpy chosen(w.setup_page(), &SetupPage::familyChosen);
  click(1);
  EXPECT_EQ(chosen.count(), 1);
  EXPECT_EQ(w.config().cfg.DeviceFamily, 1u);
  EXPECT_EQ(w.last_family(), 1);
  w.config().modified = false;
  click(1);
  EXPECT_TRUE(w.config().modified);
  EXPECT_EQ(list->currentRow(), 1);
}

TEST(NewConfiguration, DefaultValuesKeepTheRememberedFamilyEvenWithoutADialogButton) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=4\r\n");
  w.NewConfiguration(false);
  EXPECT_EQ(w.config().cfg.DeviceFamily, 4u);
  EXPECT_EQ(w.last_family(), 4);
  // The dialog gets the remembered family as it is; cancelling it changes nothing.
  std::vector<int> preselections;
  w.choose_family = [&](int preselect) {
    preselections.push_back(preselect);
    return -1;
  };
  SetText(w.config().cfg.InfoString, "kept");
  w.NewConfiguration(false);
  EXPECT_EQ(preselections, std::vector<int>({4}));
  EXPECT_STREQ(w.config().cfg.InfoString, "kept");
  w.choose_family = {};
  f.AnswerWith({Answer::kNo});
  ASSERT_TRUE(f.Close());
  EXPECT_NE(ReadText(f.ini_path()).find("LoggerDeviceFamily=4\r\n"), std::string::npos);

  // Nothing remembered: 0 for a configuration without a family, else the configuration's.
  WindowFixture g;
  TCanLogForm1& v = g.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=-1\r\n");
  preselections.clear();
  v.choose_family = [&](int preselect) {
    preselections.push_back(preselect);
    return -1;
  };
  v.NewConfiguration(false);
  ASSERT_TRUE(v.LoadConfiguration(QString::fromStdString(TESSMAR_EXAMPLES_DIR "/demo_logger.clc")));
  ASSERT_EQ(v.config().cfg.DeviceFamily, 3u);
  v.NewConfiguration(false);
  EXPECT_EQ(preselections, std::vector<int>({0, 3}));
  EXPECT_EQ(v.last_family(), -1);
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
  w.NewConfiguration(true);                         // clears the tables again
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
  EXPECT_EQ(w.StatusText(),
            "Warning: ETAS 'AsciiItemFile' needs a NUMERIC 'No-Value'-dummy ! "
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
  EXPECT_EQ(
      f.asked()[0].text,
      "The logger configuration has been modified but not saved yet.\r\n Save config as   \"" +
          (f.dir() / "mine.clc").string() + "\"   now ?");
  EXPECT_EQ(ReadText(f.ini_path()), ini_before);  // nothing written while the window stays
  f.AnswerWith({Answer::kNo});
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(std::filesystem::exists(f.dir() / "mine.clc"));
  EXPECT_NE(ReadText(f.ini_path()), ini_before);
}

TEST(MainWindow, CorruptSettingsAndConfigurationFilesAreSurvived) {
  WindowFixture f;
  std::string garbage;
  for (int i = 0; i < 4000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  TCanLogForm1& w = f.Start({}, "[Converter]\r\nOutputType=77\r\nTimeColumn1=-3\r\n" + garbage);
  auto* type = w.findChild<QComboBox*>(QStringLiteral("CB_OutputType"));
  EXPECT_EQ(type->currentIndex(), 0);  // out of range gives the first entry
  const std::string clc = (f.dir() / "broken.clc").string();
  testing::WriteText(clc, "[CanLoggerConfig]\r\nInfoString=\"ok\"\r\nFoo=1\r\n" + garbage);
  EXPECT_TRUE(w.LoadConfiguration(QString::fromStdString(clc)));
  EXPECT_TRUE(InfoContains(w, "Unknown: \"Foo=1\" ."));
  EXPECT_STREQ(w.config().cfg.InfoString, "ok");
  EXPECT_TRUE(f.Close());
}

TEST(MainWindowClose, TextStillBeingTypedCountsAsAChange) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.NewConfiguration(true);
  w.findChild<QLineEdit*>(QStringLiteral("Ed_InfoString"))->setText("typed, not left");
  f.AnswerWith({Answer::kCancel});
  EXPECT_FALSE(w.AskToSave());
  EXPECT_EQ(f.asked().size(), 1u);
  EXPECT_STREQ(w.config().cfg.InfoString, "typed, not left");
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

namespace tessmar {
namespace {

using testing::ReadText;
using testing::WindowFixture;
using testing::WriteText;

// ---- Loading and saving configurations ----------------------------------------------------------

TEST(ConfigFiles, SaveAndLoadRoundTripWithMessages) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  SetText(w.config().cfg.InfoString, "round trip");
  w.config().cfg.FileSizeLimit = 4096;
  w.config().modified = true;
  const QString name = QString::fromStdString((f.dir() / "trip.clc").string());
  ASSERT_TRUE(w.SaveConfiguration(name));
  EXPECT_FALSE(w.config().modified);
  EXPECT_EQ(w.StatusText(), "Saved logger config as \"" + name + "\"");
  w.NewConfiguration(true);
  SetText(w.config().cfg.InfoString, "other");
  ASSERT_TRUE(w.LoadConfiguration(name));
  EXPECT_STREQ(w.config().cfg.InfoString, "round trip");
  EXPECT_EQ(w.config().cfg.FileSizeLimit, 4096);
  // The status line still shows "Created new ..." (a status text outranks information), so
  // the list tells.
  EXPECT_TRUE(InfoContains(w, "Loaded logger config \"" + name + "\" ."));
  for (const QString& line : w.info_page()->Lines())
    EXPECT_FALSE(line.startsWith("Unknown:")) << line.toStdString();
  EXPECT_EQ(w.config_file_name(), name);
  EXPECT_EQ(w.findChild<QLineEdit*>(QStringLiteral("Ed_InfoString"))->text(), "round trip");
}

TEST(ConfigFiles, MissingOrUnwritableFilesAreReportedAndNothingIsLost) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  SetText(w.config().cfg.InfoString, "keep me");
  const std::string missing = (f.dir() / "missing.clc").string();
  EXPECT_FALSE(w.LoadConfiguration(QString::fromStdString(missing)));
  EXPECT_EQ(w.StatusText().toStdString(), "Warning: Couldn't load \"" + missing + "\" .");
  EXPECT_STREQ(w.config().cfg.InfoString, "keep me");
  const std::string bad = (f.dir() / "no" / "such" / "dir" / "x.clc").string();
  EXPECT_FALSE(w.SaveConfiguration(QString::fromStdString(bad)));
  EXPECT_EQ(w.StatusText().toStdString(), "Failed to save \"" + bad + "\"");
}

// The password rules themselves have unit tests; here the remembered password travels from the
// settings file into the window's loading and back.
TEST(ConfigFiles, ProtectedFileNeedsThePasswordOrTheRememberedOne) {
  WindowFixture g;
  const std::string name = (g.dir() / "secret.clc").string();
  {
    LoggerConfiguration c;
    NewConfigWithDefaults(c.cfg, c.sigs, 1);
    SetText(c.cfg.Password1, "Sesam");
    ASSERT_TRUE(WriteClcFile(name, c));
  }
  // Remembered in the settings (scrambled with the fixed key): accepted without asking.
  TCanLogForm1& v = g.Start({}, "[Passwords]\r\nLoggerCfg=" + Scrambled("Sesam", 6827) + "\r\n");
  EXPECT_EQ(v.remembered_password(), "Sesam");
  v.ask_password = [](const T_CanLog_Config&) { return false; };
  EXPECT_TRUE(v.LoadConfiguration(QString::fromStdString(name)));
  ASSERT_TRUE(g.Close());
  EXPECT_NE(ReadText(g.ini_path()).find("LoggerCfg=" + Scrambled("Sesam", 6827)),
            std::string::npos);
}

TEST(ConfigFiles, NamedDatabasesAreOfferedAndLoaded) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  f.AnswerWith({Answer::kYes});
  const std::string examples = TESSMAR_EXAMPLES_DIR;
  ASSERT_TRUE(w.LoadConfiguration(QString::fromStdString(examples + "/demo_logger.clc")));
  ASSERT_EQ(f.asked().size(), 1u);  // the question itself: NamedCanDatabases unit tests
  EXPECT_EQ(f.asked()[0].caption, "Loaded Logger Config");
  EXPECT_GT(w.candb_table().data_row_count(), 1);
  auto* view = w.findChild<QTableView*>(QStringLiteral("SG_CANdbTable"));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->model()->rowCount(), w.candb_table().data_row_count());
  EXPECT_EQ(view->model()->index(0, kColSigName).data().toString().toStdString(),
            w.candb_table().cell(1, kColSigName));
  EXPECT_EQ(w.config().cfg.DeviceFamily, 3u);
  EXPECT_TRUE(w.logger_cfg_page()->count_line().contains("logged signals in"));
  // The configuration keeps the names as written and is not changed by loading them.
  EXPECT_STREQ(w.config().cfg.DbFileBus1, "demo_vehicle.dbc");
  EXPECT_FALSE(w.config().modified);
  EXPECT_EQ(w.candb_import().recent().entry(0).path, examples + "/demo_vehicle.dbc");
}

TEST(ConfigFiles, AskToSaveYesSavesUnderTheShownName) {
  WindowFixture f;
  const std::string name = (f.dir() / "mine.clc").string();
  TCanLogForm1& w = f.Start({}, "[Files]\r\nLoggerCfg=" + name + "\r\n");
  w.config().modified = true;
  f.AnswerWith({Answer::kYes});
  EXPECT_TRUE(f.Close());
  EXPECT_TRUE(std::filesystem::exists(name));
}

}  // namespace
}  // namespace tessmar

// ---- Partner protocol against the test partner program -----------------------------------------

namespace tessmar {
namespace {

using testing::WindowFixture;

template <class Condition>
bool WaitFor(Condition condition, int timeout_ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

// Runs tessmar-test-partner and reads what it prints.
class TestPartner {
 public:
  explicit TestPartner(int64_t window) : window_(window) {
    process_.start(QStringLiteral(TESSMAR_PARTNER_PATH), {QString::number(window)});
    ready_ = process_.waitForStarted(5000) && NextLine() == "ready";
  }
  ~TestPartner() {
    process_.write("quit\n");
    if (!process_.waitForFinished(2000)) process_.kill();
  }
  bool ready() const { return ready_; }
  int64_t window() const { return window_; }
  // Next line printed by the partner, keeping the window's event loop running meanwhile.
  std::string NextLine(int timeout_ms = 5000) {
    WaitFor(
        [this] {
          return process_.canReadLine() || (process_.waitForReadyRead(5), process_.canReadLine());
        },
        timeout_ms);
    return process_.readLine().trimmed().toStdString();
  }
  void Send(int64_t to, uint32_t user_value, const std::string& text) {
    process_.write(
        ("send " + std::to_string(to) + " " + std::to_string(user_value) + " " + text + "\n")
            .c_str());
  }

 private:
  QProcess process_;
  int64_t window_;
  bool ready_ = false;
};

TEST(PartnerProtocol, HandshakeCommandsAndClosedNotification) {
  WindowFixture f;
  const int64_t partner_window = 1000000 + QCoreApplication::applicationPid();
  TCanLogForm1& w = f.Start({QStringLiteral("/cw%1").arg(partner_window)});
  TestPartner partner(partner_window);
  ASSERT_TRUE(partner.ready());
  // Until the command line is handled by the start-up tick, link the way "/cw" does.
  if (w.partner().handshake_state == 0) w.partner().Connect(partner_window, w.own_window());

  w.TimerTick();
  EXPECT_EQ(partner.NextLine(), "recv " + std::to_string(w.own_window()) +
                                    " 0 /mywnd=" + std::to_string(w.own_window()));
  EXPECT_EQ(w.partner().handshake_state, 2);
  EXPECT_EQ(w.partner().partner_window, partner_window);

  // "/load" is acknowledged and has no effect.
  partner.Send(w.own_window(), 0, "/load \"other.clc\"");
  EXPECT_EQ(partner.NextLine(), "answer 1");
  EXPECT_EQ(w.partner().command_code, kPartnerCmdLoad);
  EXPECT_EQ(w.partner().parameters, "\"other.clc\"");
  w.TimerTick();
  EXPECT_EQ(w.partner().command_code, kPartnerCmdNone);
  EXPECT_TRUE(w.isVisible() || !w.isVisible());  // still alive; no message
  EXPECT_FALSE(w.StatusText().startsWith("Cannot handle"));

  // Plain text with a user value.
  partner.Send(w.own_window(), 3, "speed=12");
  EXPECT_EQ(partner.NextLine(), "answer 1");
  EXPECT_TRUE(w.partner().text_received);
  EXPECT_EQ(w.partner().received_text, "speed=12");

  // "/closed" from the partner is not a command this program handles.
  partner.Send(w.own_window(), 0, "/closed");
  EXPECT_EQ(partner.NextLine(), "answer 1");
  w.TimerTick();
  EXPECT_EQ(w.StatusText(), "Cannot handle Message, Cmd=9, params=");

  // A configuration that was loaded and accepted is announced.
  const std::string clc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc";
  ASSERT_TRUE(w.LoadConfiguration(QString::fromStdString(clc)));
  EXPECT_EQ(partner.NextLine(),
            "recv " + std::to_string(w.own_window()) + " 0 /loaded \"" + clc + "\"");

  // "/close" closes the window as the user would; the partner hears "/closed".
  w.show();
  partner.Send(w.own_window(), 0, "/close");
  EXPECT_EQ(partner.NextLine(), "answer 1");
  w.TimerTick();
  EXPECT_TRUE(WaitFor([&] { return !w.isVisible(); }));
  EXPECT_EQ(partner.NextLine(), "recv " + std::to_string(w.own_window()) + " 0 /closed");
}

}  // namespace
}  // namespace tessmar
