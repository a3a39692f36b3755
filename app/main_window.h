#pragma once
// TCanLogForm1: the main window of the desktop program. It owns the logger configuration, the
// converter options (held in the controls of the converter page), the settings and the partner
// link; its 200 ms timer runs the start-up sequence, the partner commands and the batch steps.

#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/instance_rules.h"
#include "app/partner_link.h"
#include "app/status_line.h"
#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "common/batch_run.h"
#include "config/canlog_config.h"
#include "convert/conversion_driver.h"
#include "convert/settings_file.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;

namespace tessmar {

class CANdbPage;
class ConverterPage;
class DesktopConversion;
class InfoPage;
class LanguageController;
class LoggerCfgPage;
class PartnerChannel;
class SetupPage;
class TriggerPage;
class MessagesPage;
class GpsPage;

// How the window is started.
struct AppStart {
  QStringList arguments;                // command-line arguments without the program name
  std::filesystem::path settings_path;  // "Tessmar.ini"
  int notify_wait_ms = 500;             // pause after "/loaded" and "/closed"
  bool start_timer = true;              // tests drive TimerTick() themselves when false
  int64_t own_window = 0;               // window number of this program; 0 = process id
  bool log_batch_to_stderr = true;      // batch mode also writes the message list to stderr
  int desktop_language = 1;             // the desktop's language: used while the settings name none
};

// Page indices, in tab order.
enum class MainPage : int {
  kCANdb = 0,
  kAliases,
  kMessages,
  kLoggerCfg,
  kTrigger,
  kConverter,
  kGps,
  kSetup,
  kInfo,
};

class TCanLogForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TCanLogForm1(AppStart start, QWidget* parent = nullptr);
  ~TCanLogForm1() override;

  // One tick of the 200 ms timer (public so that tests can drive it).
  void TimerTick();

  // Before "new", opening another file and at exit: true when the caller may go on.
  bool AskToSave();
  // Loading steps 3 to 9 for the given file name (also sets the name field).
  bool LoadConfiguration(const QString& file_name);
  // Writes the configuration to file_name and makes it the configuration file name.
  bool SaveConfiguration(const QString& file_name);
  // The two "new" entries of the menu.
  void NewConfiguration(bool keep_options);
  // "&Go !": converts the sources of the converter page.
  ConversionSummary StartConversion();
  // Exit status of a batch run: 0 when its conversion (if any) went without error, else 1.
  int BatchExitCode() const { return batch_.ExitCode(); }
  // Asks a running conversion to stop (as the abort button and the Escape key do).
  void RequestAbort();
  bool converting() const;
  // Loads a CAN database for bus 1 or 2 as the import menu does (recent list, database field).
  void LoadCanDatabase(const std::string& path, int bus);
  // Adds dropped or listed files: those ending in ".cld" join the converter's sources.
  void AddDroppedFiles(const QStringList& files);
  // Files handed over by a second start: taken (the count is returned) and opened on the next
  // timer tick that finds no conversion or dialog running; a batch run takes none.
  int TakeHandedFiles(const HandedFiles& files);

  // The two questions of the configuration, set to the target-hardware and password dialogs by
  // the window (tests may replace them). Family chooser: gets the preselection, returns the
  // chosen family or -1 when cancelled (none set: the start-up asks nothing and "new with
  // default values" takes the preselection). Password check: true when the entry equals
  // Password1.
  std::function<int(int preselect)> choose_family;
  std::function<bool(const T_CanLog_Config& cfg)> ask_password;

  // ---- State, for the pages, the tests and the screenshots ----
  LoggerConfiguration& config() { return config_; }
  QTabWidget* pages() const { return pages_; }
  InfoPage* info_page() const { return info_page_; }
  LoggerCfgPage* logger_cfg_page() const { return logger_cfg_page_; }
  ConverterPage* converter_page() const { return converter_page_; }
  SetupPage* setup_page() const { return setup_page_; }
  CANdbPage* candb_page() const { return candb_page_; }
  LanguageController* language() const { return language_; }
  const StatusLine& status() const { return status_; }
  QString StatusText() const;
  PartnerLink& partner() { return partner_; }
  int64_t own_window() const { return own_window_; }
  bool batch() const { return batch_.active(); }
  int batch_step() const { return batch_.step(); }
  bool started() const { return started_; }
  bool verbose() const { return verbose_; }
  int last_family() const { return last_family_; }
  QString config_file_name() const;
  const std::vector<std::string>& output_names() const { return output_names_; }
  const TessmarSettings& settings() const { return settings_; }
  SignalTable& candb_table() { return candb_table_; }
  CandbImport& candb_import() { return candb_import_; }
  const std::string& remembered_password() const { return remembered_password_; }
  // Shows the status text of a check (the option conflict, the trigger check) with its owner,
  // in red when asked, without changing the shown severity.
  void ShowOwnedStatus(const std::string& text, StatusOwner owner, bool red);
  void ClearOwnedStatus(StatusOwner owner);
  // Before an action that may succeed without a word (opening help): the text of an earlier
  // action leaves the status line, and the shown severity starts from 0 again.
  void ClearStaleStatus();
  // Writes the settings file from the current controls.
  bool WriteSettingsFile();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  // Translation tags of the controls that show the program's own texts, help topics, F1.
  void SetUpTranslationAndHelp();
  void BuildPages();
  void ReadSettingsIntoControls();
  void OnMessage(int severity, std::string_view text);
  void ShowStatusLine();
  void RunStartup();
  void ProcessArguments(const QStringList& arguments);
  void ProcessArgument(const std::string& argument);
  void ProcessCommandFile();
  void RunBatchStep();
  void SendToPartner(const std::string& text, bool notification);
  void RefillPages();
  void ApplyEditPages();
  void OnFamilyChosen(int family);
  // Before saving: trigger signals that are not logged are named, and the user decides.
  bool ConfirmUnloggedTriggerSignals();
  void OnMenuLoad();
  void OnMenuSave();
  void OnMenuNew(bool keep_options);
  void LoadNamedCanDatabases();
  void OnMenuImport(int bus);
  void UpdateRecentMenu();
  // When the "&File" menu opens: the password entries follow the configuration's protection.
  void UpdatePasswordMenu();
  // Opens the handed files: the window comes to the front, the (last) configuration is loaded
  // after the question whether to save, the recordings join the converter's list.
  void OpenHandedFiles();
  // The signal viewer on these recordings (a file dialog when empty), decoded with the loaded
  // CAN databases when the converter ignores the recordings' own signal definitions.
  void ViewRecordings(const std::vector<std::filesystem::path>& files);

  AppStart start_;
  TessmarSettings settings_;
  LoggerConfiguration config_;
  SignalTable candb_table_;   // the imported signals of both buses
  CandbImport candb_import_;  // last CANdb path and the recent list
  StatusLine status_;
  PartnerLink partner_;
  int64_t own_window_ = 0;
  PartnerChannel* channel_ = nullptr;

  int update_guard_ = 0;
  bool verbose_ = false;
  int last_family_ = -1;
  BatchRun batch_;
  bool started_ = false;
  bool settings_found_ = false;  // the settings file existed at start
  bool in_tick_ = false;
  bool closing_done_ = false;
  std::vector<std::string> output_names_;
  std::vector<std::filesystem::path> converted_sources_;  // of the last conversion, for "view"
  std::string command_file_;
  std::string remembered_password_;
  HandedFiles handed_;  // waiting for the next timer tick

  QTimer* timer_ = nullptr;
  DesktopConversion* conversion_ = nullptr;
  LanguageController* language_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QLabel* status_label_ = nullptr;
  InfoPage* info_page_ = nullptr;
  LoggerCfgPage* logger_cfg_page_ = nullptr;
  ConverterPage* converter_page_ = nullptr;
  SetupPage* setup_page_ = nullptr;
  QTabWidget* candb_sub_pages_ = nullptr;
  CANdbPage* candb_page_ = nullptr;
  QMenu* file_menu_ = nullptr;
  std::vector<QAction*> recent_actions_;
  QAction* password_menu_ = nullptr;    // "Passw&ord protection", checked when protected
  QAction* password_toggle_ = nullptr;  // "Enable password" / "Disable password"

  // ---- Trigger, "Messages, etc" and GPS pages; target-hardware and password dialogs ----
 public:
  // Runs a modal dialog and returns its result (QDialog::Accepted or Rejected); tests answer
  // the dialogs through it.
  std::function<int(QDialog& dialog)> exec_dialog;
  TriggerPage* trigger_page() const { return trigger_page_; }
  MessagesPage* messages_page() const { return messages_page_; }
  GpsPage* gps_page() const { return gps_page_; }
  // "Use password and encryption" and the menu toggle: sets a password, or removes the one set.
  void TogglePassword();
  // "Change password".
  void ChangePassword();

 private:
  void InstallEditors();
  void RefillEditors();
  void ApplyEditors(T_CanLog_Config& edited);
  void ShowGpsSettings();
  TriggerPage* trigger_page_ = nullptr;
  MessagesPage* messages_page_ = nullptr;
  GpsPage* gps_page_ = nullptr;
};

}  // namespace tessmar
