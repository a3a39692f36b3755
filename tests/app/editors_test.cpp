// The trigger, "Messages, etc" and GPS pages and the target-hardware and password dialogs under
// the offscreen platform, through to the saved configuration file and the settings file.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <cstdlib>

#include "app/gps_page.h"
#include "app/logger_cfg_page.h"
#include "app/messages_page.h"
#include "app/password_dialog.h"
#include "app/setup_page.h"
#include "app/target_hardware_dialog.h"
#include "app/trigger_page.h"
#include "config/clc_file.h"
#include "config/scramble.h"
#include "tests/app/gui_test_util.h"

namespace tessmar {
namespace {

using testing::InfoContains;
using testing::ReadText;
using testing::WindowFixture;

// A configuration of the family with two logged signals, written to path.
void WriteConfig(const std::filesystem::path& path, uint32_t family, const char* password = "") {
  auto c = std::make_unique<LoggerConfiguration>();
  NewConfigWithDefaults(c->cfg, c->sigs, family);
  for (int i = 0; i < 2; ++i) {
    c->sigs[std::size_t(i)].id = 0x100;
    c->sigs[std::size_t(i)].nb = 16;
  }
  SetText(c->sigs[0].sn, "EngineSpeed");
  SetText(c->sigs[1].sn, "VehicleSpeed");
  SetText(c->cfg.Password1, password);
  SetText(c->cfg.PwdHint1, "the usual");
  ASSERT_TRUE(WriteClcFile(path, *c));
}

std::unique_ptr<LoggerConfiguration> ReadBack(const std::filesystem::path& path) {
  auto c = std::make_unique<LoggerConfiguration>();
  EXPECT_TRUE(ReadClcFile(path, *c));
  return c;
}

// Chooses the entry with the given text as the user does.
void Choose(QComboBox* list, const QString& text) {
  const int index = list->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  list->setCurrentIndex(index);
  Q_EMIT list->activated(index);
}

// Answers the next password dialog with the entries (and the remember box), then OK.
std::function<int(QDialog&)> PasswordAnswer(const QString& entry, const QString& repeat,
                                            bool remember, const QString& hint = {},
                                            std::vector<QString>* captions = nullptr) {
  return [=](QDialog& dialog) {
    auto* d = qobject_cast<TPasswordDialog*>(&dialog);
    if (d == nullptr) return int(QDialog::Rejected);
    if (captions) captions->push_back(d->windowTitle());
    d->findChild<QLineEdit*>(QStringLiteral("Ed_Password1"))->setText(entry);
    d->findChild<QLineEdit*>(QStringLiteral("Ed_Password2"))->setText(repeat);
    if (!hint.isNull()) d->findChild<QLineEdit*>(QStringLiteral("Ed_Hint"))->setText(hint);
    d->findChild<QCheckBox*>(QStringLiteral("Chk_Remember"))->setChecked(remember);
    d->findChild<QPushButton*>(QStringLiteral("Btn_OK"))->click();
    return d->result();
  };
}

// A window with the signals' configuration of the family loaded (family remembered too).
TCanLogForm1& StartLoaded(WindowFixture& f, uint32_t family) {
  const auto path = f.dir() / "in.clc";
  WriteConfig(path, family);
  TCanLogForm1& w =
      f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=" + std::to_string(family) + "\r\n");
  EXPECT_TRUE(w.LoadConfiguration(QString::fromStdString(path.string())));
  return w;
}

// The same, showing the trigger grid.
TriggerPage* ShowTriggerGrid(WindowFixture& f, uint32_t family) {
  TCanLogForm1& w = StartLoaded(f, family);
  w.show();
  w.pages()->setCurrentIndex(int(MainPage::kTrigger));
  TriggerPage* page = w.trigger_page();
  page->tabs()->setCurrentWidget(page->grid_page());
  return page;
}

// Enters one grid line as the user does: the line's cell, then the three lists and the value.
// An empty action keeps the line's action.
void EnterGridLine(TriggerPage* page, int line, const QString& action, const QString& signal,
                   const QString& op, const QString& value) {
  page->grid()->setCurrentCell(line, kTrigColValue);
  if (!action.isEmpty()) Choose(page->action_list(), action);
  Choose(page->signal_list(), signal);
  Choose(page->operator_list(), op);
  page->grid()->item(line, kTrigColValue)->setText(value);
}

// ---- Trigger page ------------------------------------------------------------------------------

TEST(TriggerPage, GridEditThroughTheListsLandsInTheSavedFile) {
  WindowFixture f;
  TriggerPage* page = ShowTriggerGrid(f, 1);
  TCanLogForm1& w = f.window();
  QTableWidget* grid = page->grid();

  // Each list lies exactly over its cell of the current line, also after scrolling.
  grid->setCurrentCell(1, kTrigColValue);
  for (auto [list, column] : {std::pair{page->action_list(), int(kTrigColAction)},
                              std::pair{page->signal_list(), int(kTrigColSignal)},
                              std::pair{page->operator_list(), int(kTrigColComp)}}) {
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->geometry(), grid->visualRect(grid->model()->index(1, column)));
  }
  EXPECT_EQ(page->action_list()->count(), 5);
  EXPECT_EQ(page->action_list()->currentText(), "OR");
  w.resize(900, 300);
  QApplication::processEvents();
  grid->scrollToBottom();
  QApplication::processEvents();
  EXPECT_EQ(page->signal_list()->geometry(),
            grid->visualRect(grid->model()->index(1, kTrigColSignal)));

  EnterGridLine(page, 0, {}, "EngineSpeed", ">", "1500");
  EXPECT_EQ(page->action_list()->count(), 3);  // the first line: START, STOP, --unused--
  EnterGridLine(page, 1, "AND", "VehicleSpeed", "<", "0x10");
  EXPECT_TRUE(page->grid_changed());
  grid->setCurrentCell(2, kTrigColValue);  // another cell applies
  EXPECT_FALSE(page->grid_changed());
  EXPECT_TRUE(w.config().modified);

  const auto saved = f.dir() / "out.clc";
  ASSERT_TRUE(w.SaveConfiguration(QString::fromStdString(saved.string())));
  const auto c = ReadBack(saved);
  EXPECT_EQ(c->cfg.ActionOrCombi[0], 0);
  EXPECT_STREQ(c->cfg.SigName[0], "EngineSpeed");
  EXPECT_EQ(c->cfg.CompOp[0], 2);
  EXPECT_EQ(c->cfg.CompVal[0], 1500.0);
  EXPECT_EQ(c->cfg.ActionOrCombi[1], 1);
  EXPECT_STREQ(c->cfg.SigName[1], "VehicleSpeed");
  EXPECT_EQ(c->cfg.CompOp[1], 0);
  EXPECT_EQ(c->cfg.CompVal[1], 16.0);
}

TEST(TriggerPage, SecondStartLineIsFlaggedAndOwnsTheStatusLine) {
  WindowFixture f;
  TriggerPage* page = ShowTriggerGrid(f, 2);
  TCanLogForm1& w = f.window();
  page->grid()->setCurrentCell(2, kTrigColLine);
  Choose(page->action_list(), "START");
  // Leaving the page applies the grid.
  w.pages()->setCurrentIndex(int(MainPage::kInfo));
  EXPECT_FALSE(page->grid_changed());
  EXPECT_EQ(page->line_flags(2), kTrigFlagTooManyStarts);
  EXPECT_TRUE(InfoContains(w, "Too many 'START' conditions (2) !"));
  EXPECT_EQ(w.StatusText(), QString::fromLatin1(kTrigMsgMaxOneStart));
  EXPECT_EQ(w.status().owner(), StatusOwner::kTriggerCheck);

  // Back to one START line: the check clears the status line it owns.
  w.pages()->setCurrentIndex(int(MainPage::kTrigger));
  page->grid()->setCurrentCell(2, kTrigColLine);
  Choose(page->action_list(), "OR");
  page->grid()->setCurrentCell(3, kTrigColLine);
  EXPECT_EQ(page->line_flags(2), 0u);
  EXPECT_EQ(w.StatusText(), "");
}

TEST(TriggerPage, FamilySwitchesTheEditorAndFourLineFindingsShow) {
  WindowFixture f;
  TCanLogForm1& w = StartLoaded(f, 1);
  TriggerPage* page = w.trigger_page();
  QTabWidget* tabs = page->tabs();
  const int four = tabs->indexOf(page->four_line_page());
  const int grid = tabs->indexOf(page->grid_page());
  tabs->setCurrentIndex(grid);
  EXPECT_FALSE(tabs->isTabVisible(four));

  Q_EMIT w.setup_page()->familyChosen(0);
  EXPECT_TRUE(tabs->isTabVisible(four));
  EXPECT_FALSE(tabs->isTabVisible(grid));
  EXPECT_EQ(tabs->currentIndex(), four);
  EXPECT_EQ(tabs->tabText(four), "Trigger Conditions");

  // Line 1: EngineSpeed < 10 AND > 10 can never be true.
  Choose(page->four_line_signal(0), "EngineSpeed");
  Choose(page->four_line_operator(0, 0), "<");
  page->four_line_value(0, 0)->setText("10");
  page->four_line_value(0, 0)->setModified(true);
  Q_EMIT page->four_line_value(0, 0)->editingFinished();
  Choose(page->inner_combination(0), "AND");
  Choose(page->four_line_operator(0, 1), ">");
  page->four_line_value(0, 1)->setText("10");
  page->four_line_value(0, 1)->setModified(true);
  Q_EMIT page->four_line_value(0, 1)->editingFinished();
  EXPECT_EQ(page->info_label(0)->text(), "Condition in lines 1 and 2 is NEVER true");
  EXPECT_STREQ(w.config().cfg.SigName[0], "EngineSpeed");
  EXPECT_EQ(w.config().cfg.ActionOrCombi[0], 1);

  w.config().modified = false;
  EXPECT_EQ(page->start_stop_button()->text(), "STOP");
  page->start_stop_button()->click();
  EXPECT_EQ(page->start_stop_button()->text(), "START2");
  EXPECT_EQ(w.config().cfg.Use2Starts, 1);
  EXPECT_TRUE(w.config().modified);

  // The inverted option: ticking the box clears bit 5.
  QCheckBox* stop_when_false = page->option_box(5);
  EXPECT_TRUE(stop_when_false->isChecked());
  stop_when_false->setChecked(false);
  EXPECT_EQ(w.config().cfg.TrigOptions & 0x20, 0x20);
  stop_when_false->setChecked(true);
  EXPECT_EQ(w.config().cfg.TrigOptions & 0x20, 0);

  Q_EMIT w.setup_page()->familyChosen(4);  // unknown device: both editors
  EXPECT_TRUE(tabs->isTabVisible(four));
  EXPECT_TRUE(tabs->isTabVisible(grid));
}

// ---- "Messages, etc" and GPS pages --------------------------------------------------------------

TEST(MessagesPage, GridsApplyAndSurviveSaveAndLoad) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=1\r\n");
  w.NewConfiguration(true);
  MessagesPage* page = w.messages_page();
  QTableWidget* messages = page->message_grid();
  EXPECT_EQ(messages->rowCount(), 129);  // family 1: 128 messages and one row more
  EXPECT_FALSE(page->apply_messages_button()->isEnabled());
  const QString cells[] = {"2", "0x18FEF100", "EngineTemp", "ECU", "250"};
  for (int c = 0; c < 5; ++c) messages->setItem(0, c + 1, new QTableWidgetItem(cells[c]));
  EXPECT_TRUE(page->apply_messages_button()->isEnabled());
  QTableWidget* expressions = page->expression_grid();
  expressions->setItem(0, 1, new QTableWidgetItem("Power"));
  expressions->setItem(0, 2, new QTableWidgetItem("0"));
  expressions->setItem(0, 3, new QTableWidgetItem("500"));
  expressions->setItem(0, 4, new QTableWidgetItem("EngineSpeed*2"));
  // Saving (which takes the option page first) keeps what was typed but not applied yet.
  EXPECT_TRUE(w.AskToSave());
  EXPECT_EQ(messages->item(0, 2)->text(), "0x18FEF100");
  EXPECT_TRUE(page->apply_messages_button()->isEnabled());
  // Applying one grid keeps what was typed into the other.
  page->apply_messages_button()->click();
  EXPECT_FALSE(page->apply_messages_button()->isEnabled());
  EXPECT_EQ(expressions->item(0, 1)->text(), "Power");
  page->apply_expressions_button()->click();
  EXPECT_TRUE(w.config().modified);

  const auto saved = f.dir() / "own.clc";
  ASSERT_TRUE(w.SaveConfiguration(QString::fromStdString(saved.string())));
  w.NewConfiguration(true);
  EXPECT_EQ(messages->item(0, 2)->text(), "");
  ASSERT_TRUE(w.LoadConfiguration(QString::fromStdString(saved.string())));
  EXPECT_EQ(messages->item(0, 1)->text(), "2");
  EXPECT_EQ(messages->item(0, 2)->text(), "0x18FEF100");
  EXPECT_EQ(messages->item(0, 5)->text(), "250");
  EXPECT_EQ(expressions->item(0, 4)->text(), "EngineSpeed*2");
  EXPECT_EQ(expressions->item(0, 3)->text(), "500");
  EXPECT_EQ(w.config().cfg.Msg[0].id, 0x18FEF100u | kCanIdExtended | kCanIdBus2);
}

TEST(GpsPage, RowMovePresetAndSettingsFile) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=1\r\n");
  GpsPage* page = w.gps_page();
  page->ChoosePreset(0);
  QTableWidget* grid = page->grid();
  EXPECT_EQ(grid->item(1, 1)->text(), "GpsTime");
  // Dragging row 2 to position 6 by its header.
  grid->verticalHeader()->moveSection(1, 5);
  EXPECT_EQ(w.StatusText(), "moved GPS col 2 to 6");
  EXPECT_EQ(grid->item(5, 1)->text(), "GpsTime");
  for (int r = 0; r < 8; ++r) EXPECT_EQ(grid->item(r, 0)->text(), QString::number(r + 1));
  EXPECT_TRUE(page->apply_button()->isEnabled());
  page->apply_button()->click();
  EXPECT_FALSE(page->apply_button()->isEnabled());
  EXPECT_STREQ(page->settings().columns[5].title, "GpsTime");
  EXPECT_STREQ(page->settings().columns[1].title, "GpsLon");

  Choose(page->preset_list(), page->preset_list()->itemText(2));
  EXPECT_EQ(page->settings().separate_track_file, 0);
  EXPECT_EQ(CountDefinedGpsColumns(page->settings()), 7);
  ASSERT_TRUE(f.Close());
  const std::string ini = ReadText(f.ini_path());
  EXPECT_NE(ini.find("ColTitle0=GpsDateAndTime"), std::string::npos) << ini;
  EXPECT_NE(ini.find("SeparateTrackFile=0"), std::string::npos);
}

// ---- Dialogs -----------------------------------------------------------------------------------

TEST(Dialogs, TargetHardwareOkNeedsAChoice) {
  testing::EnsureApp();
  TSelectTargetHardwareForm unknown(4);
  auto* ok = unknown.findChild<QPushButton*>(QStringLiteral("Btn_OK"));
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_EQ(unknown.family(), -1);
  unknown.findChild<QRadioButton*>(QStringLiteral("RB_Family2"))->click();
  EXPECT_TRUE(ok->isEnabled());
  ok->click();
  EXPECT_EQ(unknown.result(), QDialog::Accepted);
  EXPECT_EQ(unknown.family(), 2);

  TSelectTargetHardwareForm preset(1);
  EXPECT_TRUE(preset.findChild<QRadioButton*>(QStringLiteral("RB_Family1"))->isChecked());
  preset.findChild<QPushButton*>(QStringLiteral("Btn_Cancel"))->click();
  EXPECT_EQ(preset.result(), QDialog::Rejected);
}

TEST(Dialogs, FirstStartAsksForTheFamily) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  std::vector<int> preselections;
  w.exec_dialog = [&](QDialog& d) {
    auto* form = qobject_cast<TSelectTargetHardwareForm*>(&d);
    if (form == nullptr) return int(QDialog::Rejected);
    preselections.push_back(form->family());
    form->findChild<QRadioButton*>(QStringLiteral("RB_Family0"))->click();
    form->findChild<QPushButton*>(QStringLiteral("Btn_OK"))->click();
    return form->result();
  };
  w.TimerTick();
  EXPECT_EQ(preselections, std::vector<int>{-1});
  EXPECT_EQ(w.config().cfg.DeviceFamily, 0u);
  EXPECT_EQ(w.last_family(), 0);
  EXPECT_TRUE(w.trigger_page()->tabs()->isTabVisible(
      w.trigger_page()->tabs()->indexOf(w.trigger_page()->four_line_page())));
}

TEST(Dialogs, PasswordEntriesMustMatch) {
  testing::EnsureApp();
  TPasswordDialog german(true, QString(), 49);
  EXPECT_EQ(german.windowTitle(), "Enter AND REPEAT password");
  EXPECT_FALSE(german.findChild<QCheckBox*>(QStringLiteral("Chk_Remember"))->isVisibleTo(&german));
  EXPECT_EQ(PasswordAnswer("abc", "abd", false)(german), QDialog::Rejected);
  EXPECT_EQ(german.windowTitle(), "Falsche Passwort-Eingabe. Bitte wiederholen !");
  EXPECT_EQ(german.password(), "");
  EXPECT_EQ(german.findChild<QLineEdit*>(QStringLiteral("Ed_Password1"))->maxLength(), 40);

  TPasswordDialog english(true, QString(), 1);
  EXPECT_EQ(PasswordAnswer("abc", "abd", false)(english), QDialog::Rejected);
  EXPECT_EQ(english.windowTitle(), "Sorry, typo in passwords. Please repeat input !");
  EXPECT_EQ(PasswordAnswer("abc", "abc", false, "a \"b\"")(english), QDialog::Accepted);
  EXPECT_EQ(english.hint(), "a 'b'");

  TPasswordDialog one(false, QString(), 1);
  EXPECT_EQ(one.windowTitle(), "Enter password");
  EXPECT_TRUE(one.findChild<QLineEdit*>(QStringLiteral("Ed_Hint"))->isReadOnly());
}

TEST(Password, SetRememberRemoveAndLoadProtectedFiles) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[DeviceInfo]\r\nLoggerDeviceFamily=1\r\n");
  QCheckBox* box = w.logger_cfg_page()->password_box();
  EXPECT_TRUE(box->isEnabled());
  std::vector<QString> captions;
  w.exec_dialog = PasswordAnswer("Sesam", "Sesam", true, "open \"it\"", &captions);
  box->click();
  EXPECT_EQ(captions, std::vector<QString>{"Enter new password (two times)"});
  EXPECT_STREQ(w.config().cfg.Password1, "Sesam");
  EXPECT_STREQ(w.config().cfg.PwdHint1, "open 'it'");
  EXPECT_EQ(w.remembered_password(), "Sesam");
  EXPECT_TRUE(box->isChecked());
  const auto secret = f.dir() / "secret.clc";
  ASSERT_TRUE(w.SaveConfiguration(QString::fromStdString(secret.string())));
  EXPECT_EQ(ReadText(secret).find("Sesam"), std::string::npos);  // scrambled

  // Remembered: loading asks nothing.
  int asked = 0;
  w.exec_dialog = [&](QDialog&) { return ++asked, int(QDialog::Rejected); };
  EXPECT_TRUE(w.LoadConfiguration(QString::fromStdString(secret.string())));
  EXPECT_EQ(asked, 0);

  // Forgotten: a wrong password leaves the previous configuration and its name in place.
  w.NewConfiguration(true);
  SetText(w.config().cfg.InfoString, "previous");
  const QString previous_name = w.config_file_name();
  const QString menu_entry = "Clear saved passwords on this PC";
  for (QAction* a : w.findChildren<QAction*>()) {
    if (a->text() == menu_entry) a->trigger();
  }
  EXPECT_EQ(w.remembered_password(), "");
  captions.clear();
  w.exec_dialog = PasswordAnswer("sesam", "", false, QString(), &captions);
  EXPECT_FALSE(w.LoadConfiguration(QString::fromStdString(secret.string())));
  EXPECT_EQ(captions, std::vector<QString>{"Enter password to load encrypted file"});
  EXPECT_STREQ(w.config().cfg.InfoString, "previous");
  EXPECT_EQ(w.config_file_name(), previous_name);
  w.exec_dialog = PasswordAnswer("Sesam", "", true);
  EXPECT_TRUE(w.LoadConfiguration(QString::fromStdString(secret.string())));
  EXPECT_EQ(w.remembered_password(), "Sesam");

  // Removing needs the old password exactly; the remembered copy goes with it.
  w.exec_dialog = PasswordAnswer("wrong", "", false);
  box->click();
  EXPECT_STREQ(w.config().cfg.Password1, "Sesam");
  EXPECT_TRUE(box->isChecked());
  w.exec_dialog = PasswordAnswer("Sesam", "", false);
  auto* toggle = w.findChild<QAction*>(QStringLiteral("MI_PasswordToggle"));
  toggle->trigger();
  EXPECT_STREQ(w.config().cfg.Password1, "");
  EXPECT_EQ(w.remembered_password(), "");
  EXPECT_FALSE(box->isChecked());
  EXPECT_TRUE(InfoContains(w, "Password accepted, encryption now OFF."));
}

// ---- The whole walk of a new user --------------------------------------------------------------

TEST(Walkthrough, Family1LoggerWithEverythingSurvivesARestart) {
  WindowFixture f;
  TriggerPage* trigger = ShowTriggerGrid(f, 1);
  TCanLogForm1& w = f.window();
  EnterGridLine(trigger, 0, {}, "EngineSpeed", ">=", "3000");
  EnterGridLine(trigger, 1, "AND", "VehicleSpeed", ">", "50");
  w.pages()->setCurrentIndex(int(MainPage::kMessages));
  MessagesPage* messages = w.messages_page();
  const QString cells[] = {"1", "0x7E8", "DiagReply", "Tester", "100"};
  for (int c = 0; c < 5; ++c)
    messages->message_grid()->setItem(0, c + 1, new QTableWidgetItem(cells[c]));
  messages->apply_messages_button()->click();
  const QString expr[] = {"SpeedRatio", "0", "100", "EngineSpeed/VehicleSpeed"};
  for (int c = 0; c < 4; ++c)
    messages->expression_grid()->setItem(0, c + 1, new QTableWidgetItem(expr[c]));
  messages->apply_expressions_button()->click();
  w.gps_page()->ChoosePreset(2);
  w.exec_dialog = PasswordAnswer("Kavrix", "Kavrix", false, "device name");
  w.ChangePassword();
  const auto saved = f.dir() / "walkthrough.clc";
  ASSERT_TRUE(w.SaveConfiguration(QString::fromStdString(saved.string())));
  if (const char* keep = std::getenv("TESSMAR_KEEP_WALKTHROUGH")) {
    std::filesystem::copy_file(saved, keep, std::filesystem::copy_options::overwrite_existing);
  }
  ASSERT_TRUE(f.Close());

  // Restart on the same settings: the file is loaded at start and asks for its password.
  WindowFixture g;
  TCanLogForm1& v = g.Start({}, ReadText(f.ini_path()));
  std::vector<QString> captions;
  v.exec_dialog = PasswordAnswer("Kavrix", "", false, QString(), &captions);
  v.TimerTick();
  EXPECT_EQ(captions, std::vector<QString>{"Enter password to load encrypted file"});
  const T_CanLog_Config& c = v.config().cfg;
  EXPECT_STREQ(c.Password1, "Kavrix");
  EXPECT_STREQ(c.SigName[0], "EngineSpeed");
  EXPECT_EQ(c.CompOp[0], 3);
  EXPECT_EQ(c.CompVal[0], 3000.0);
  EXPECT_EQ(c.ActionOrCombi[1], 1);
  EXPECT_STREQ(c.SigName[1], "VehicleSpeed");
  EXPECT_EQ(c.Msg[0].id, 0x7E8u);
  EXPECT_EQ(c.Msg[0].wi, 10);
  EXPECT_STREQ(c.Exp[0].ex, "EngineSpeed/VehicleSpeed");
  EXPECT_STREQ(v.gps_page()->settings().columns[0].title, "GpsDateAndTime");
  EXPECT_EQ(v.trigger_page()->grid()->item(1, kTrigColSignal)->text(), "VehicleSpeed");
}

}  // namespace
}  // namespace tessmar
