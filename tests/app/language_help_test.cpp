// Languages, help pages, the update check and file-type registration of the desktop program,
// under the offscreen platform.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <functional>

#include "app/converter_page.h"
#include "app/help_launcher.h"
#include "app/language_scan.h"
#include "app/logger_cfg_page.h"
#include "app/password_dialog.h"
#include "app/setup_page.h"
#include "app/simple_pages.h"
#include "app/target_hardware_dialog.h"
#include "common/help_address.h"
#include "common/translation.h"
#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/signal_viewer_form.h"
#include "tests/app/gui_test_util.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

using testing::InfoContains;
using testing::ReadText;
using testing::WindowFixture;

// Every text of the window that the scan may touch, in a fixed order.
QStringList AllTexts(QWidget* window) {
  QStringList texts;
  {
    texts << window->windowTitle();
    for (QWidget* w : window->findChildren<QWidget*>()) {
      if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
      if (auto* g = qobject_cast<QGroupBox*>(w)) texts << g->title();
      if (auto* t = qobject_cast<QTabWidget*>(w)) {
        for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
      }
    }
    for (QAction* a : window->findChildren<QAction*>()) texts << a->text();
  }
  return texts;
}

QAction* FindAction(QWidget* window, const QString& text) {
  for (QAction* a : window->findChildren<QAction*>()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

// ---- Switching languages ----------------------------------------------------------------------

TEST(Languages, GermanAndBackLeavesEveryTextAsItWas) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  auto* unknown = new QPushButton("Not in the table", w.info_page());
  w.TimerTick();
  const QStringList english = AllTexts(&w);
  ASSERT_NE(FindAction(&w, "&File"), nullptr);  // English start: nothing looked up

  ASSERT_TRUE(w.language()->SwitchLanguage(kLangGerman));
  EXPECT_NE(FindAction(&w, "&Datei"), nullptr);
  EXPECT_NE(FindAction(&w, "&Deutsch"), nullptr);  // language names are never translated
  EXPECT_EQ(w.pages()->tabText(int(MainPage::kLoggerCfg)), "Logger-Konfig");
  EXPECT_EQ(w.setup_page()->translation_test_box()->text(),
            QString::fromUtf8("Übersetzungs-Testmodus"));
  // A caption the table lacks is marked; texts of the program's own are left alone.
  auto* folders = w.setup_page()->findChild<QGroupBox*>();
  ASSERT_NE(folders, nullptr);
  EXPECT_EQ(folders->title(), "Verzeichnisse");
  EXPECT_EQ(w.findChild<QPushButton*>("Btn_AbortConv")->text(), "Abbrechen (Esc)");
  EXPECT_EQ(unknown->text(), "_Not in the table");
  EXPECT_FALSE(w.findChild<QLabel*>("StatusLine")->text().startsWith('_'));
  // Unknown codes are refused and change nothing.
  EXPECT_FALSE(w.language()->SwitchLanguage(44));
  EXPECT_EQ(Language().code(), kLangGerman);

  // A window made after the switch takes the language when it is shown.
  QDialog dialog;
  dialog.setWindowTitle("Select Target Hardware");
  auto* ok = new QPushButton("Cancel", &dialog);
  auto* help = MakeHelpButton(15, &dialog);
  new QVBoxLayout(&dialog);
  dialog.layout()->addWidget(ok);
  dialog.layout()->addWidget(help);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Ziel-Hardware auswählen"));
  EXPECT_EQ(ok->text(), "Abbrechen");
  EXPECT_EQ(help->text(), "&Hilfe");  // made in German, not translated twice
  dialog.hide();

  ASSERT_TRUE(w.language()->SwitchLanguage(kLangEnglish));
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Select Target Hardware");
  EXPECT_EQ(help->text(), "&Help");
  dialog.hide();
  EXPECT_EQ(AllTexts(&w).join("\n").toStdString(), english.join("\n").toStdString());
  // Back and forth again: the same German texts.
  ASSERT_TRUE(w.language()->SwitchLanguage(kLangGerman));
  EXPECT_NE(FindAction(&w, "&Datei"), nullptr);
  ASSERT_TRUE(w.language()->SwitchLanguage(kLangEnglish));
  EXPECT_EQ(AllTexts(&w).join("\n").toStdString(), english.join("\n").toStdString());
}

TEST(Languages, SettingsChooseTheLanguageForTheFirstTickAndKeepIt) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nLanguage=49\r\n");
  EXPECT_NE(FindAction(&w, "&File"), nullptr);  // applied on the first tick
  w.TimerTick();
  EXPECT_NE(FindAction(&w, "&Datei"), nullptr);
  EXPECT_EQ(HelpLauncher::Instance().language(), kLangGerman);
  // The menu checks the current language.
  QAction* deutsch = FindAction(&w, "&Deutsch");
  ASSERT_NE(deutsch, nullptr);
  QMenu* menu = w.findChild<QMenu*>("MI_SelectLanguage");
  ASSERT_NE(menu, nullptr);
  Q_EMIT menu->aboutToShow();
  EXPECT_TRUE(deutsch->isChecked());
  EXPECT_FALSE(FindAction(&w, "&English")->isChecked());
  // The question whether to save has its own German text.
  w.config().modified = true;
  f.AnswerWith({Answer::kCancel});
  EXPECT_FALSE(w.AskToSave());
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_EQ(f.asked()[0].text.rfind("Die Logger-Konfiguration wurde geändert", 0), 0u);
  w.config().modified = false;
  FindAction(&w, "&English")->trigger();
  EXPECT_NE(FindAction(&w, "&File"), nullptr);
  ASSERT_TRUE(f.Close());
  EXPECT_NE(ReadText(f.ini_path()).find("Language=1\r\n"), std::string::npos);
}

// Every window of the program, the dialogs and previews included, in German and in French: the
// test mode's report lists no text.
TEST(Languages, EveryWindowIsCompleteInGermanAndFrench) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nLanguageTestMode=1\r\n");
  w.TimerTick();
  ConverterOptions options;
  options.graph_preview = true;
  options.output_type = OutputType::kSignals;
  GpsOutputSettings gps;
  gps.show_preview = 1;
  (void)w.converter_page()->PreparePreviews(options, gps, f.ini_path());
  TSelectTargetHardwareForm target(1, &w);
  TPasswordDialog password(true, "Enter new password (two times)", 1, &w);
  password.SetRemember(true);
  HelpWindow help;
  // The signal viewer on a recording, with an export's result line (the program's own text).
  QTemporaryDir tmp;
  const std::filesystem::path recording = tmp.filePath("drive.cld").toStdString();
  LoggerConfiguration demo;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", demo));
  SimulatorOptions drive;
  drive.duration_s = 2;
  ASSERT_TRUE(SimulateRecording(demo, drive, recording).ok);
  TSignalViewerForm* viewer = OpenSignalViewer(&w, {recording});
  ASSERT_NE(viewer, nullptr);
  viewer->ExportVisible(tmp.filePath("none.csv").toStdString(), kFormatCsvInternational);
  for (const int language : {kLangGerman, kLangFrench, kLangEnglish, kLangFrench}) {
    w.findChild<QPushButton*>("Btn_ClearMessages")->click();
    ASSERT_TRUE(w.language()->SwitchLanguage(language));
    const QStringList lines = w.info_page()->Lines();
    EXPECT_FALSE(lines.join('\n').contains("UNTRANSLATED")) << language << "\n"
                                                            << lines.join('\n').toStdString();
  }
  EXPECT_EQ(viewer->windowTitle(), QString::fromUtf8("Visualiseur de signaux"));
  EXPECT_EQ(viewer->value_table()->headerItem()->text(3), QString::fromUtf8("Différence"));
}

TEST(Languages, FirstStartFollowsTheDesktopUntilTheUserChose) {
  for (const char* ini :
       {"", "[MainWindow]\r\nVerboseDisplay=0\r\n", "[MainWindow]\r\nLanguage=1\r\n"}) {
    WindowFixture f;
    f.desktop_language = kLangFrench;
    TCanLogForm1& w = f.Start({}, ini);
    w.TimerTick();
    const bool chosen = std::string(ini).find("Language=") != std::string::npos;
    EXPECT_NE(FindAction(&w, chosen ? "&File" : "&Fichier"), nullptr) << ini;
    ASSERT_TRUE(f.Close());
    // The language shown is remembered as chosen.
    EXPECT_NE(ReadText(f.ini_path()).find(chosen ? "Language=1\r\n" : "Language=33\r\n"),
              std::string::npos);
  }
}

TEST(Languages, TestModeReportsUntranslatedTextsAsTableEntries) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[MainWindow]\r\nLanguage=49\r\nLanguageTestMode=1\r\n");
  auto* extra = new QPushButton("Not in the table", w.info_page());
  extra->setObjectName("Btn_Extra");
  w.TimerTick();
  EXPECT_TRUE(InfoContains(w, "------ UNTRANSLATED STRINGS FOUND (FromLang=0, ToLang=1) ------"));
  EXPECT_TRUE(InfoContains(w, "  \"Not in the table\",  // in TCanLogForm1.Btn_Extra"));
  const QStringList lines = w.info_page()->Lines();
  const auto total = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
    return l.startsWith("Found ") && l.endsWith(" untranslated strings in all forms.");
  });
  ASSERT_NE(total, lines.end());
  // Labels show the result in colour instead of a mark; buttons in italics.
  auto* verbose = w.findChild<QCheckBox*>("Chk_VerboseDisplay");
  EXPECT_EQ(verbose->text(), QString::fromUtf8("Ausführliche Anzeige"));
  EXPECT_EQ(verbose->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
  EXPECT_EQ(extra->text(), "Not in the table");
  EXPECT_TRUE(extra->font().italic());
}

// The real program in French with the test mode: what the log held before the batch switch was
// read goes to the error output too, and the test mode found nothing to report.
TEST(Languages, BatchRunWritesTheEarlierLogToStandardErrorAndFrenchIsComplete) {
  WindowFixture f;  // only for its temporary folder
  testing::WriteText(
      f.ini_path(),
      "[MainWindow]\r\nLanguage=33\r\nLanguageTestMode=1\r\n[Files]\r\nLoggerCfg=\r\n");
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TESSMAR_INI", QString::fromStdString(f.ini_path().string()));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(f.dir().string()));  // its own lock
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(TESSMAR_APP_PATH), {"/bm"});
  ASSERT_TRUE(p.waitForFinished(30000));
  const QByteArray err = p.readAllStandardError();
  EXPECT_TRUE(err.contains("Loaded converter config from \"" + f.ini_path().string() + "\" .\n"))
      << err.toStdString();
  EXPECT_FALSE(err.contains("UNTRANSLATED")) << err.toStdString();
}

TEST(Languages, TestModeBoxNeedsTheCtrlKey) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.TimerTick();
  QCheckBox* box = w.setup_page()->translation_test_box();
  bool ctrl = false;
  w.language()->ctrl_held = [&ctrl] { return ctrl; };
  f.AnswerWith({Answer::kOk, Answer::kOk});
  box->click();
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(Language().test_mode());
  ctrl = true;
  box->click();
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(Language().test_mode());
  ASSERT_EQ(f.asked().size(), 2u);
  EXPECT_EQ(f.asked()[0].caption, "Info");
  EXPECT_EQ(f.asked()[0].text, "Sorry, you don't have permission to turn this function on");
  EXPECT_EQ(f.asked()[1].text, "Restart program to make changes effective");
  ASSERT_TRUE(f.Close());
  EXPECT_NE(ReadText(f.ini_path()).find("LanguageTestMode=1\r\n"), std::string::npos);
}

// ---- Help pages -------------------------------------------------------------------------------

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureApp();
    launcher_.set_help_dir(QString());
    launcher_.opener = [this](const QUrl& url) {
      opened_ << url.toString(QUrl::FullyEncoded);
      return open_result_;
    };
  }
  void TearDown() override { launcher_.set_help_dir(QString()); }
  // A copy of the help pages in a folder whose name has a blank.
  QString CopyHelp(const QString& base) {
    const QString dir = QDir(base).filePath("help pages");
    std::filesystem::copy(TESSMAR_SOURCE_DIR "/help", dir.toStdString(),
                          std::filesystem::copy_options::recursive);
    return dir;
  }
  // The help window shows the page scrolled to the anchor; closed afterwards.
  void ExpectHelpWindowAt(const QString& anchor) {
    auto* window = qobject_cast<HelpWindow*>(launcher_.help_window());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->browser()->source().fragment().toStdString(), anchor.toStdString());
    EXPECT_GT(window->browser()->verticalScrollBar()->value(), 0);
    window->close();
  }
  HelpLauncher& launcher_ = HelpLauncher::Instance();
  QStringList opened_;
  bool open_result_ = true;
};

TEST_F(HelpTest, F1AndMenuOpenTheTopicInTheHelpLanguage) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  w.TimerTick();
  const QString dir = CopyHelp(QString::fromStdString(f.dir().string()));
  launcher_.set_help_dir(dir);
  const QString base = QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded);
  ASSERT_TRUE(base.contains("help%20pages"));
  ASSERT_TRUE(w.language()->SwitchLanguage(kLangGerman));
  // F1 on a page opens the page's topic, in a field with its own topic that one.
  w.show();
  QApplication::setActiveWindow(&w);
  w.pages()->setCurrentIndex(int(MainPage::kLoggerCfg));
  w.pages()->setFocus();
  QTest::keyClick(&w, Qt::Key_F1);
  w.pages()->setCurrentIndex(int(MainPage::kSetup));
  w.setup_page()->topo_dir()->setFocus();
  QTest::keyClick(w.setup_page()->topo_dir(), Qt::Key_F1);
  FindAction(&w, "&Inhalt")->trigger();
  EXPECT_TRUE(launcher_.OpenKeyword("search_signals"));
  ASSERT_EQ(opened_.size(), 4);
  EXPECT_EQ(opened_[0], base + "/tessmar49.htm#logger_config_tab");
  EXPECT_EQ(opened_[1], base + "/gpspre49.htm");
  EXPECT_EQ(opened_[2], base + "/tessmar49.htm#contents");
  EXPECT_EQ(opened_[3], base + "/tessmar49.htm#search_signals");
  ASSERT_TRUE(w.language()->SwitchLanguage(kLangEnglish));
  w.findChild<QAbstractButton*>("Btn_LoggerCfgHelp")->click();
  EXPECT_EQ(opened_.back(), base + "/tessmar01.htm#logger_config_tab");
}

TEST_F(HelpTest, MissingPagesAndBrowserGiveStatusTextAndMessage) {
  WindowFixture f;
  TCanLogForm1& w = f.Start();
  launcher_.set_help_dir(QString::fromStdString((f.dir() / "no help here").string()));
  EXPECT_FALSE(ShowHelpTopic(1));
  EXPECT_TRUE(launcher_.status_text().startsWith("Help page not found: "));
  EXPECT_TRUE(InfoContains(w, "Cannot find the help page"));
  EXPECT_TRUE(opened_.isEmpty());
  EXPECT_FALSE(ShowHelpTopic(77));

  launcher_.set_help_dir(CopyHelp(QString::fromStdString(f.dir().string())));
  open_result_ = false;
  // Without a browser the page opens in the help window, at its anchor.
  EXPECT_TRUE(ShowHelpTopic(kHelpTriggerTab));
  EXPECT_EQ(launcher_.status_text(), "Couldn't find the HTML browser");
  ExpectHelpWindowAt("trigger_condition_tab");
  // French has no pages of its own: the English ones.
  Language().SetLanguage(kLangFrench);
  launcher_.set_language(kLangFrench);
  open_result_ = true;
  EXPECT_TRUE(ShowHelpTopic(kHelpConverter));
  EXPECT_TRUE(opened_.back().endsWith("/tessmar01.htm#usage_logfile_converter"));
  launcher_.set_language(kLangEnglish);
  Language().Reset();
}

// The desktop's opener: a page at an anchor goes through a page that goes on to the anchor; when
// the opener finds no browser, or there is none, the help window shows the page.
TEST_F(HelpTest, DesktopOpenerKeepsTheAnchorAndFallsBackToTheHelpWindow) {
  WindowFixture f;
  f.Start();
  launcher_.opener = OpenInBrowser;
  launcher_.set_help_dir(CopyHelp(QString::fromStdString(f.dir().string())));
  const std::filesystem::path bin = f.dir() / "bin";
  std::filesystem::create_directory(bin);
  testing::WriteText(
      bin / "xdg-open",
      "#!/bin/sh\ncode=$(/bin/cat \"$0.code\")\nprintf '%s' \"$1\" > \"$0.arg\"\nexit $code\n");
  std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
  testing::WriteText(bin / "xdg-open.code", "0");
  const QByteArray path = qgetenv("PATH");
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("PATH", QByteArray::fromStdString(bin.string()));
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(f.dir().string()));

  EXPECT_TRUE(ShowHelpTopic(kHelpLoggerConfigTab));
  const auto wait_for = [](const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) QTest::qWait(25);
  };
  wait_for([&] { return std::filesystem::exists(bin / "xdg-open.arg"); });
  EXPECT_EQ(ReadText(bin / "xdg-open.arg"),
            QUrl::fromLocalFile(QString::fromStdString((f.dir() / "tessmar-help.htm").string()))
                .toString(QUrl::FullyEncoded)
                .toStdString());
  EXPECT_NE(ReadText(f.dir() / "tessmar-help.htm").find("/tessmar01.htm#logger_config_tab\""),
            std::string::npos);

  testing::WriteText(bin / "xdg-open.code", "3");  // "a required tool could not be found"
  EXPECT_TRUE(ShowHelpTopic(kHelpConverter));
  wait_for([&] { return launcher_.help_window() && launcher_.help_window()->isVisible(); });
  ExpectHelpWindowAt("usage_logfile_converter");

  std::filesystem::remove(bin / "xdg-open");
  EXPECT_TRUE(ShowHelpTopic(kHelpCommandLine));
  ExpectHelpWindowAt("cmd_line_arguments");
  qputenv("PATH", path);
  qputenv("XDG_RUNTIME_DIR", runtime);
}

TEST_F(HelpTest, UpdateCheckOpensOurSiteOrSaysWhereToLook) {
  WindowFixture f;
  f.Start();
  EXPECT_TRUE(CheckForUpdates());
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_TRUE(
      opened_[0].startsWith("https://www.tessmar.example/check4update/tessmar.htm?CompDate="));
  open_result_ = false;
  f.AnswerWith({Answer::kOk});
  EXPECT_FALSE(CheckForUpdates());
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_EQ(f.asked()[0].caption, "Tessmar");
  EXPECT_NE(f.asked()[0].text.find("https://www.tessmar.example/"), std::string::npos);
  EXPECT_TRUE(ProgramInfoText().contains("Compiled : "));
  EXPECT_TRUE(ProgramInfoText().contains("64-bit signals supported ."));
}

// ---- Registration -----------------------------------------------------------------------------

TEST(Registration, AskedTypesAreWrittenUnderTheUsersDataFolder) {
  WindowFixture f;
  f.Start({}, "[MainWindow]\r\nLanguage=49\r\n");
  const std::filesystem::path data = f.dir() / "data home";
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.string()));
  f.AnswerWith({Answer::kNo, Answer::kYes});
  EXPECT_EQ(RegisterFilesAndExtensions(f.ini_path(), "/opt/tessmar/tessmar"), 1);
  ASSERT_EQ(f.asked().size(), 2u);
  EXPECT_EQ(f.asked()[0].caption, "Registrierung von Dateitypen für das Tessmar");
  EXPECT_EQ(f.asked()[0].text.rfind("Möchten Sie die Dateinamenserweiterung \".clc\" mit diesem "
                                    "Programm verknüpfen ?\r\n  (CLC=Can-Logger Configuration",
                                    0),
            0u);
  EXPECT_EQ(f.asked()[1].batch_answer, Answer::kNo);
  EXPECT_FALSE(std::filesystem::exists(data / "mime/packages/tessmar-clc.xml"));
  EXPECT_NE(ReadText(data / "mime/packages/tessmar-cld.xml").find("*.cld"), std::string::npos);
  EXPECT_NE(
      ReadText(data / "applications/tessmar.desktop").find("MimeType=application/x-tessmar-cld;"),
      std::string::npos);
  EXPECT_NE(ReadText(f.ini_path()).find("[Registration]\r\nExecutable=/opt/tessmar/tessmar\r\n"),
            std::string::npos);
  // Where the shared-mime-info tools are installed, the new type resolves.
  if (std::filesystem::exists(data / "mime/mime.cache")) {
    EXPECT_NE(ReadText(data / "mime/globs2").find("application/x-tessmar-cld:*.cld"),
              std::string::npos);
  }
  qunsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace tessmar
