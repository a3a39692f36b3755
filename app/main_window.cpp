#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/converter_page.h"
#include "app/desktop_conversion.h"
#include "app/external_viewer.h"
#include "app/gps_page.h"
#include "app/help_launcher.h"
#include "app/language_scan.h"
#include "app/logger_cfg_page.h"
#include "app/messages_page.h"
#include "app/partner_channel.h"
#include "app/qt_text.h"
#include "app/setup_page.h"
#include "app/simple_pages.h"
#include "app/trigger_page.h"
#include "app/update_guard.h"
#include "candb/named_databases.h"
#include "candb/signal_selection.h"
#include "candb_views/candb_page.h"
#include "candb_views/graph_msg_view.h"
#include "common/help_address.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "config/clc_file.h"
#include "config/password_rules.h"
#include "config/trigger_conversion.h"
#include "convert/command_line.h"
#include "convert/conversion_driver.h"
#include "preview/signal_viewer_form.h"
#include "preview/window_placement.h"

namespace tessmar {
namespace {

constexpr int kTimerPeriodMs = 200;
constexpr int kDesignWidth = 1100;
constexpr int kDesignHeight = 760;

QMessageBox::StandardButtons ToQtButtons(Buttons buttons) {
  switch (buttons) {
    case Buttons::kOk:
      return QMessageBox::Ok;
    case Buttons::kYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case Buttons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::kOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

Answer FromQtButton(int button) {
  switch (button) {
    case QMessageBox::Yes:
      return Answer::kYes;
    case QMessageBox::No:
      return Answer::kNo;
    case QMessageBox::Ok:
      return Answer::kOk;
    default:
      return Answer::kCancel;
  }
}

// Message boxes show CR LF line ends of the core texts as plain line breaks.
QString BoxText(const std::string& text) {
  QString t = FromCore(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

}  // namespace

TCanLogForm1::TCanLogForm1(AppStart start, QWidget* parent)
    : QMainWindow(parent), start_(std::move(start)) {
  setObjectName(QStringLiteral("TCanLogForm1"));
  setWindowTitle(QStringLiteral("Tessmar"));
  setAcceptDrops(true);
  resize(kDesignWidth, kDesignHeight);

  // Messages of the core go to the "Info" list and the status line; questions become boxes.
  SetMessageHandler([this](int severity, std::string_view text) { OnMessage(severity, text); });
  SetQuestionHandler([this](const Question& q) {
    QMessageBox box(q.icon == Icon::kWarning       ? QMessageBox::Warning
                    : q.icon == Icon::kInformation ? QMessageBox::Information
                                                   : QMessageBox::Question,
                    FromCore(Tr(q.caption.c_str())), BoxText(q.text), ToQtButtons(q.buttons), this);
    // The buttons speak the user's language too.
    for (const auto& [button, english] : {std::pair{QMessageBox::Yes, "Yes"},
                                          {QMessageBox::No, "No"},
                                          {QMessageBox::Cancel, "Cancel"}}) {
      if (QAbstractButton* b = box.button(button)) {
        b->setText(FromCore(RowText(english, Language().target_column())));
      }
    }
    return FromQtButton(box.exec());
  });

  language_ = new LanguageController(this);
  // The help follows the language, and the texts the pages make themselves are made again.
  language_->language_applied = [this](int code) {
    HelpLauncher::Instance().set_language(code);
    if (started_) RefillPages();
  };
  HelpLauncher::Instance().set_language(kLangEnglish);
  BuildPages();
  BuildMenus();
  InstallEditors();
  SetUpTranslationAndHelp();
  // The message layout view opens beside the main window, never over the CANdb page's lists.
  PlaceWindow(candb_page_->layout_view(), std::nullopt, candb_page_->layout_view()->size(),
              DefaultPlacement::kBesideOwner);

  // 1. Clear the batch state and the converter's sources.
  batch_ = BatchRun();
  SetBatchMode(false);
  output_names_.clear();
  converter_page_->SetSources({});

  // 2., 3. The settings file.
  settings_ = LoadSettingsFile(start_.settings_path, &settings_found_);
  if (settings_found_) {
    ShowMessageF(kMsgInfo, "Loaded converter config from \"%s\" .",
                 start_.settings_path.string().c_str());
  } else {
    ShowMessageF(kMsgInfo, "No settings file \"%s\" yet: starting with the default settings.",
                 start_.settings_path.string().c_str());
  }
  ReadSettingsIntoControls();
  language_->AttachTestModeBox(setup_page_->translation_test_box());

  // 4. A fresh configuration for the remembered family.
  NewConfigWithDefaults(config_.cfg, config_.sigs,
                        last_family_ < 0 ? kDeviceFamilyNone : uint32_t(last_family_));
  config_.modified = false;
  RefillPages();

  // 6. The partner messages and the timer; the first tick runs the start-up sequence.
  own_window_ = start_.own_window != 0 ? start_.own_window : QCoreApplication::applicationPid();
  channel_ = new PartnerChannel(this);
  if (!channel_->Listen(
          own_window_, [this](int64_t sender, uint32_t user_value, const QByteArray& text) {
            return ReceivePartnerMessage(partner_, sender, user_value,
                                         std::string_view(text.constData(), size_t(text.size())));
          })) {
    ShowMessageF(kMsgWarning, "Cannot receive partner messages as window %lld .",
                 static_cast<long long>(own_window_));
  }
  timer_ = new QTimer(this);
  timer_->setInterval(kTimerPeriodMs);
  connect(timer_, &QTimer::timeout, this, &TCanLogForm1::TimerTick);
  if (start_.start_timer) timer_->start();
}

TCanLogForm1::~TCanLogForm1() {
  SetMessageHandler({});
  SetQuestionHandler({});
  SetBatchMode(false);
}

// ---- Building the window -------------------------------------------------------------------

void TCanLogForm1::BuildPages() {
  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("PC_MainPages"));
  pages_->setDocumentMode(false);

  candb_page_ = new CANdbPage(config_, candb_table_, pages_);
  candb_sub_pages_ = candb_page_->views();
  pages_->addTab(candb_page_, tr("CANdb"));
  connect(candb_page_, &CANdbPage::importRequested, this, &TCanLogForm1::OnMenuImport);
  connect(candb_page_, &CANdbPage::loggedSignalsChanged, this, &TCanLogForm1::RefillPages);
  connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
    if (page == int(MainPage::kCANdb)) candb_page_->PageActivated();
  });
  pages_->addTab(new AliasesPage(pages_), tr("Aliases"));
  messages_page_ = new MessagesPage(config_, update_guard_, pages_);
  pages_->addTab(messages_page_, tr("Messages, etc"));
  logger_cfg_page_ = new LoggerCfgPage(config_, update_guard_, pages_);
  pages_->addTab(logger_cfg_page_, tr("Logger Cfg"));
  trigger_page_ = new TriggerPage(config_, update_guard_, pages_);
  pages_->addTab(trigger_page_, tr("Trigger"));
  converter_page_ = new ConverterPage(update_guard_, pages_);
  conversion_ = new DesktopConversion(converter_page_, start_.settings_path, this);
  converter_page_->message_rate_limit = [this] { return config_.cfg.MsgRateLimit; };
  pages_->addTab(converter_page_, tr("Converter"));
  gps_page_ = new GpsPage(update_guard_, pages_);
  pages_->addTab(gps_page_, tr("GPS"));
  setup_page_ = new SetupPage(update_guard_, pages_);
  pages_->addTab(setup_page_, tr("Setup"));
  info_page_ = new InfoPage(pages_);
  pages_->addTab(info_page_, tr("Info"));
  setCentralWidget(pages_);

  status_label_ = new QLabel(this);
  status_label_->setObjectName(QStringLiteral("StatusLine"));
  status_label_->setTextInteractionFlags(Qt::NoTextInteraction);
  status_label_->setCursor(Qt::PointingHandCursor);
  status_label_->installEventFilter(this);
  statusBar()->addWidget(status_label_, 1);

  connect(logger_cfg_page_, &LoggerCfgPage::edited, this, &TCanLogForm1::ApplyEditPages);
  connect(info_page_, &InfoPage::verboseChanged, this, [this](bool on) { verbose_ = on; });
  connect(setup_page_, &SetupPage::familyChosen, this, &TCanLogForm1::OnFamilyChosen);
  // Linked folders: the log file folder is the converter's input folder, the export folder its
  // output folder.
  connect(setup_page_, &SetupPage::logFileDirEdited, this, [this](const QString& dir) {
    UpdateGuard guard(update_guard_);
    converter_page_->input_dir()->setText(dir);
  });
  connect(converter_page_, &ConverterPage::inputDirEdited, this, [this](const QString& dir) {
    UpdateGuard guard(update_guard_);
    setup_page_->log_file_dir()->setText(dir);
  });
  connect(setup_page_, &SetupPage::exportDirEdited, this, [this](const QString& dir) {
    UpdateGuard guard(update_guard_);
    converter_page_->output_dir()->setText(dir);
  });
  connect(converter_page_, &ConverterPage::outputDirEdited, this, [this](const QString& dir) {
    UpdateGuard guard(update_guard_);
    setup_page_->export_dir()->setText(dir);
  });
  // The map preview takes a new topography folder at once.
  connect(setup_page_, &SetupPage::topoDirEdited, this, [this](const QString& dir) {
    converter_page_->SetTopographicMapDir(ToCore(dir.trimmed()));
  });
  connect(converter_page_, &ConverterPage::goClicked, this, &TCanLogForm1::StartConversion);
  connect(converter_page_, &ConverterPage::viewClicked, this,
          [this] { ViewRecordings(converted_sources_); });
  // "View ..." beside the sources: the signal viewer on the chosen recordings (a file dialog
  // when the list is empty).
  connect(converter_page_, &ConverterPage::viewSourcesClicked, this, [this] {
    std::vector<std::filesystem::path> files;
    for (const QString& f : converter_page_->SourcesToView()) files.emplace_back(ToCore(f));
    ViewRecordings(files);
  });
  connect(converter_page_, &ConverterPage::abortClicked, this,
          [this] { conversion_->RequestAbort(); });
}

void TCanLogForm1::BuildMenus() {
  file_menu_ = menuBar()->addMenu(tr("&File"));
  QMenu* new_menu = file_menu_->addMenu(tr("Create &new logger config"));
  new_menu->addAction(tr(".. with the &current logger options"), this, [this] { OnMenuNew(true); });
  new_menu->addAction(tr(".. with everything reset to &default values"), this,
                      [this] { OnMenuNew(false); });
  file_menu_->addSeparator();
  file_menu_->addAction(tr("Import CANdb file for bus #&1"), this, [this] { OnMenuImport(1); });
  file_menu_->addAction(tr("Import CANdb file for bus #&2"), this, [this] { OnMenuImport(2); });
  QMenu* recent = file_menu_->addMenu(tr("&Most recent CANdb files ..."));
  for (int i = 0; i < RecentCandbFiles::kEntries; ++i) {
    QAction* a = recent->addAction(QString());
    connect(a, &QAction::triggered, this, [this, i] {
      const RecentCandbFile entry = candb_import_.recent().entry(i);
      if (entry.path.empty()) return;
      pages_->setCurrentIndex(int(MainPage::kCANdb));
      LoadCanDatabase(entry.path, entry.bus);
    });
    recent_actions_.push_back(a);
  }
  recent->addSeparator();
  recent->addAction(tr("&Clear list"), this, [this] {
    candb_import_.recent().Clear();
    UpdateRecentMenu();
  });
  file_menu_->addSeparator();
  file_menu_->addAction(tr("&Load Logger configuration file"), this, &TCanLogForm1::OnMenuLoad);
  file_menu_->addAction(tr("&Save Logger configuration file"), this, &TCanLogForm1::OnMenuSave);
  QMenu* password = file_menu_->addMenu(tr("Passw&ord protection"));
  password_menu_ = password->menuAction();
  password_menu_->setCheckable(true);
  // The first entry switches the protection and names what it will do (see UpdatePasswordMenu).
  password_toggle_ = password->addAction(tr("Enable password"));
  password_toggle_->setObjectName(QStringLiteral("MI_PasswordToggle"));
  connect(file_menu_, &QMenu::aboutToShow, this, &TCanLogForm1::UpdatePasswordMenu);
  password->addAction(tr("Clear saved passwords on this PC"), this,
                      [this] { remembered_password_.clear(); });
  file_menu_->addSeparator();
  file_menu_->addAction(tr("&Convert Logfile"), this,
                        [this] { pages_->setCurrentIndex(int(MainPage::kConverter)); });
  file_menu_->addAction(tr("&View recordings ..."), this, [this] { ViewRecordings({}); });
  file_menu_->addAction(tr("Register files and &extensions"), this, [this] {
    RegisterFilesAndExtensions(start_.settings_path, QCoreApplication::applicationFilePath());
  });
  file_menu_->addSeparator();
  file_menu_->addAction(tr("&Exit"), this, &QWidget::close);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  struct HelpEntry {
    const char* caption;
    int topic;
  };
  for (const HelpEntry& e :
       {HelpEntry{"&Contents", kHelpContents}, HelpEntry{"&Introduction", kHelpIntroduction},
        HelpEntry{"&Usage of the CAN Logger", kHelpCanLoggerUsage},
        HelpEntry{"&Logger Configuration", kHelpLoggerConfigUsage},
        HelpEntry{"&Trigger Conditions", kHelpTriggerTab},
        HelpEntry{"&File Converter", kHelpConverter},
        HelpEntry{"C&ommand Line Operation / Batch Mode", kHelpCommandLine},
        HelpEntry{"&GPS settings", kHelpGpsOutput}}) {
    const int topic = e.topic;
    help->addAction(tr(e.caption), this, [this, topic] {
      ClearStaleStatus();
      ShowHelpTopic(topic);
    });
  }
  help->addSeparator();
  language_->AddLanguageMenu(help);
  help->addAction(tr("&About..."), this, [this] { ShowProgramInfo(this); });
  help->addAction(tr("Check for &Updates (via web browser)"), this, [] { CheckForUpdates(); });
}

void TCanLogForm1::SetUpTranslationAndHelp() {
  // Texts that the program writes itself (names, counts, results) are never looked up.
  for (const char* name :
       {"StatusLine", "Lab_Limits", "Lab_Count", "Lab_LoggedCount", "Lab_Progress", "Lab_Result",
        "LB_FileFormat", "Btn_StartStop", "Lab_IntervalUsed"}) {
    SetTranslationTag(findChild<QObject*>(QString::fromLatin1(name)), kTagNoTranslate);
  }
  for (QAction* a : recent_actions_) SetTranslationTag(a, kTagNoTranslate);
  // Lists and grids whose entries or column titles are the program's words.
  for (const char* name :
       {"CB_GpsTrackFormat", "CB_GpsColumnsWhere", "SG_GpsColumns", "SG_TriggerConds",
        "SG_OwnMessages", "SG_Expressions", "SG_LoggedMessages", "SG_Aliases"}) {
    SetTranslationTag(findChild<QObject*>(QString::fromLatin1(name)), kTagEntries);
  }
  // F1 opens the topic of the focused field, else of the page shown (topics in MainPage order).
  const int page_topics[] = {kHelpLoggerConfigUsage, kHelpLoggerConfigUsage, kHelpLoggedMessagesTab,
                             kHelpLoggerConfigTab,   kHelpTriggerTab,        kHelpConverter,
                             kHelpGpsOutput,         kHelpLogfileDir,        kHelpContents};
  for (int i = 0; i < pages_->count() && i < int(std::size(page_topics)); ++i) {
    pages_->widget(i)->setProperty(kHelpTopicProperty, page_topics[i]);
  }
  setup_page_->log_file_dir()->setProperty(kHelpTopicProperty, kHelpLogfileDir);
  setup_page_->logger_cfg()->setProperty(kHelpTopicProperty, kHelpLoggerCfgDir);
  setup_page_->can_db_dir()->setProperty(kHelpTopicProperty, kHelpCandbDir);
  setup_page_->export_dir()->setProperty(kHelpTopicProperty, kHelpExportDir);
  setup_page_->topo_dir()->setProperty(kHelpTopicProperty, kHelpTopography);
  converter_page_->input_dir()->setProperty(kHelpTopicProperty, kHelpExportDir);
  converter_page_->output_dir()->setProperty(kHelpTopicProperty, kHelpExportDir);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::ApplicationShortcut);
  connect(f1, &QShortcut::activated, this, [this] {
    ClearStaleStatus();
    ShowContextHelp(pages_->currentWidget());
  });
}

void TCanLogForm1::UpdatePasswordMenu() {
  const bool protected_cfg = config_.cfg.Password1[0] != '\0';
  password_menu_->setChecked(protected_cfg);
  password_toggle_->setText(FromCore(Tr(protected_cfg ? "Disable password" : "Enable password")));
}

void TCanLogForm1::ReadSettingsIntoControls() {
  UpdateGuard guard(update_guard_);
  const TessmarSettings& s = settings_;
  // The frame's position and the window's own size; the whole frame stays on a screen.
  std::optional<QPoint> position;
  if (s.left >= 0 && s.top >= 0) position = QPoint(s.left, s.top);
  PlaceWindow(this, position, s.width > 0 && s.height > 0 ? QSize(s.width, s.height) : size());
  if (candb_sub_pages_ && s.candb_page_index >= 0 &&
      s.candb_page_index < candb_sub_pages_->count()) {
    candb_sub_pages_->setCurrentIndex(s.candb_page_index);
  }
  if (s.split_x > 0) candb_page_->SetSplitX(s.split_x);
  {
    const QSignalBlocker quiet(candb_page_->graphic_display_box());  // shown with the page
    candb_page_->graphic_display_box()->setChecked(s.show_message_layout);
  }
  converter_page_->launch_viewer_box()->setChecked(s.launch_external_viewer);
  info_page_->verbose_box()->setChecked(s.verbose_display);
  // The language is applied to the windows on the first timer tick.
  Language().Reset();
  // Until the user chose a language (the settings name none) the program speaks the desktop's.
  IniFile ini;
  const bool language_chosen =
      ini.Load(start_.settings_path) && ini.Get("MainWindow", "Language").has_value();
  Language().SetLanguage(language_chosen ? s.language : start_.desktop_language);
  Language().set_test_mode(s.language_test_mode != 0);
  verbose_ = s.verbose_display;
  last_family_ = s.logger_device_family;
  for (int i = 0; i < RecentCandbFiles::kEntries && i < kRecentCanDbCount; ++i) {
    candb_import_.recent().Set(i, s.recent_candb_names[size_t(i)], s.recent_candb_buses[size_t(i)]);
  }
  UpdateRecentMenu();
  remembered_password_ = RememberedPasswordFromSettings(s.scrambled_password);
  setup_page_->log_file_dir()->setText(FromCore(s.log_file_dir));
  converter_page_->input_dir()->setText(FromCore(s.log_file_dir));
  setup_page_->logger_cfg()->setText(FromCore(s.logger_cfg));
  setup_page_->can_db_dir()->setText(FromCore(s.can_db_dir));
  setup_page_->export_dir()->setText(FromCore(s.export_dir));
  converter_page_->output_dir()->setText(FromCore(s.export_dir));
  setup_page_->external_viewer()->setText(FromCore(s.external_data_viewer));
  setup_page_->topo_dir()->setText(FromCore(s.topographic_map_data));
  converter_page_->SetTopographicMapDir(s.topographic_map_data);
  converter_page_->SetOptions(s.converter);
  ShowGpsSettings();
}

bool TCanLogForm1::WriteSettingsFile() {
  TessmarSettings& s = settings_;
  const Qt::WindowStates state = windowState();
  s.write_placement = !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
  if (s.write_placement) {
    const QRect frame = FrameGeometryOf(this);  // the frame's corner, as it is read back
    s.left = frame.x();
    s.top = frame.y();
    s.width = width();
    s.height = height();
  }
  if (candb_sub_pages_) s.candb_page_index = candb_sub_pages_->currentIndex();
  if (s.write_placement) s.split_x = candb_page_->split_x();
  s.show_message_layout = candb_page_->graphic_display_box()->isChecked();
  s.launch_external_viewer = converter_page_->launch_viewer_box()->isChecked();
  s.verbose_display = verbose_;
  s.language = Language().code();
  s.language_test_mode = Language().test_mode() ? 1 : 0;
  s.logger_device_family = last_family_;
  for (int i = 0; i < RecentCandbFiles::kEntries && i < kRecentCanDbCount; ++i) {
    s.recent_candb_names[size_t(i)] = candb_import_.recent().entry(i).path;
    s.recent_candb_buses[size_t(i)] = candb_import_.recent().entry(i).bus;
  }
  s.scrambled_password = RememberedPasswordForSettings(remembered_password_);
  s.log_file_dir = ToCore(setup_page_->log_file_dir()->text());
  s.logger_cfg = ToCore(setup_page_->logger_cfg()->text());
  s.can_db_dir = ToCore(setup_page_->can_db_dir()->text());
  s.export_dir = ToCore(setup_page_->export_dir()->text());
  s.external_data_viewer = ToCore(setup_page_->external_viewer()->text());
  s.topographic_map_data = ToCore(setup_page_->topo_dir()->text());
  // With no entry of the format list selected the user chose no format: a stored code that this
  // version does not list stays as it was stored.
  const int stored_format = s.converter.output_file_format;
  s.converter = converter_page_->ChosenOptions();
  if (s.converter.output_file_format < 0) s.converter.output_file_format = stored_format;
  std::string error;
  if (!SaveSettingsFile(s, start_.settings_path, &error)) {
    ShowMessageF(kMsgError, "Could not write the settings file \"%s\" (%s) .",
                 start_.settings_path.string().c_str(), error.c_str());
    return false;
  }
  return true;
}

// ---- Messages and the status line ----------------------------------------------------------

void TCanLogForm1::OnMessage(int severity, std::string_view text) {
  if (severity != kMsgStatus) {
    info_page_->AppendLine(FromCore(text));
    // Nobody watches the window of a batch run: its log also goes to the error output.
    if (batch_.active() && start_.log_batch_to_stderr) {
      std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
  }
  if (status_.Offer(severity, text)) ShowStatusLine();
}

void TCanLogForm1::ShowStatusLine() {
  QString text = FromCore(status_.text());
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  status_label_->setText(text.trimmed());
  const bool red = status_.severity() >= kMsgError || status_.red();
  status_label_->setStyleSheet(red ? QStringLiteral("color: rgb(200, 0, 0);") : QString());
  // During a conversion the window is repainted whenever the progress changes.
  if (converting()) status_label_->repaint();
}

QString TCanLogForm1::StatusText() const { return status_label_->text(); }

void TCanLogForm1::ShowOwnedStatus(const std::string& text, StatusOwner owner, bool red) {
  status_.Place(text, owner, red);
  ShowStatusLine();
}

void TCanLogForm1::ClearOwnedStatus(StatusOwner owner) {
  if (status_.ClearIfOwner(owner)) ShowStatusLine();
}

void TCanLogForm1::ClearStaleStatus() {
  status_.ResetSeverity();
  ClearOwnedStatus(StatusOwner::kGeneral);
}

bool TCanLogForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == status_label_ && event->type() == QEvent::MouseButtonPress) {
    pages_->setCurrentIndex(int(MainPage::kInfo));
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Timer, start-up and batch -------------------------------------------------------------

void TCanLogForm1::TimerTick() {
  if (in_tick_) return;  // a tick that comes while the previous one runs does nothing
  in_tick_ = true;
  if (!started_) {
    started_ = true;
    RunStartup();
  }
  // 1. The partner handshake and pending commands.
  if (partner_.handshake_state == 1 && partner_.own_window != 0) {
    if (SendPartnerMessage(partner_.partner_window, own_window_, 0,
                           QByteArray::fromStdString(PartnerMyWndText(partner_.own_window)),
                           1000) == 1) {
      partner_.handshake_state = 2;
    }
  }
  const int code = partner_.command_code;
  partner_.command_code = kPartnerCmdNone;
  if (code == kPartnerCmdClose) {
    QTimer::singleShot(0, this, &QWidget::close);
  } else if (code != kPartnerCmdNone && (code < kPartnerCmdLoad || code > kPartnerCmdSaved)) {
    ShowMessageF(kMsgError, "Cannot handle Message, Cmd=%d, params=%s", code,
                 partner_.parameters.c_str());
  }
  // Files handed over by a second start, once nothing else holds the window.
  if (!handed_.empty() && !converting() && QApplication::activeModalWidget() == nullptr) {
    OpenHandedFiles();
  }
  // 2. Batch steps.
  if (batch_.active()) RunBatchStep();
  // 3. The message layout view follows the CANdb page.
  if (pages_->currentIndex() == int(MainPage::kCANdb)) candb_page_->PollLayoutView();
  in_tick_ = false;
}

void TCanLogForm1::RunBatchStep() {
  switch (batch_.Step()) {
    case BatchRun::Action::kConvert:
      if (!converter_page_->sources().isEmpty()) {
        pages_->setCurrentIndex(int(MainPage::kConverter));
        const ConversionSummary summary = StartConversion();
        batch_.RecordConversion(summary.refused, summary.aborted, summary.errors);
      }
      break;
    case BatchRun::Action::kClose:
      QTimer::singleShot(0, this, &QWidget::close);
      break;
    case BatchRun::Action::kNone:
      break;
  }
}

void TCanLogForm1::RunStartup() {
  // 1. The user-interface language.
  language_->ApplyAtStart();
  // 2. Debug printout.
  if (verbose_) {
    ShowMessage(kMsgInfo, "Debugging info ...");
    ShowMessageF(kMsgInfo, "  MAX_LOGGED_MESSAGES = %ld", long(MAX_LOGGED_MESSAGES));
    ShowMessageF(kMsgInfo, "  MAX_LOGGED_SIGNALS  = %ld", long(MAX_LOGGED_SIGNALS));
    ShowMessageF(kMsgInfo, "  MAX_LOGGED_EXPRESSIONS = %ld", long(MAX_LOGGED_EXPRESSIONS));
    ShowMessageF(kMsgInfo, "  sizeof(T_CanLog_MsgDef) = %ld", long(sizeof(T_CanLog_MsgDef)));
    ShowMessageF(kMsgInfo, "  sizeof(T_CanLog_SigDef) = %ld", long(sizeof(T_CanLog_SigDef)));
    ShowMessageF(kMsgInfo, "  sizeof(T_CanLog_ExprDef)= %ld", long(sizeof(T_CanLog_ExprDef)));
    ShowMessageF(kMsgInfo, "  sizeof(T_CanLog_Config) = %ld", long(sizeof(T_CanLog_Config)));
    ShowMessageF(kMsgInfo, "  sizeof(T_CanLog_SigTab) = %ld\r\n", long(sizeof(T_CanLog_SigTab)));
  }
  // 3., 4. Command line and command file.
  command_file_.clear();
  if (!start_.arguments.isEmpty()) {
    status_.ResetSeverity();
    ShowMessage(kMsgInfo, "Parsing command line ...");
    ProcessArguments(start_.arguments);
  }
  ProcessCommandFile();
  // 5. No remembered family: ask for it.
  if (last_family_ < 0 && choose_family) {
    const int family = choose_family(-1);
    if (family >= 0) {
      last_family_ = family;
      config_.cfg.DeviceFamily = uint32_t(family);
    }
  }
  // 6. The configuration named in the file name field. At the first start (no settings file)
  // the default name usually names no file yet: that is no error.
  const QString name = setup_page_->logger_cfg()->text().trimmed();
  const bool default_name_missing =
      !settings_found_ && ToCore(name) == settings_.logger_cfg && !QFileInfo::exists(name);
  if (!name.isEmpty() && !default_name_missing) LoadConfiguration(name);
  // 7. Refill the pages.
  RefillPages();
  // 8. The active page.
  pages_->setCurrentIndex(converter_page_->sources().isEmpty() ? int(MainPage::kCANdb)
                                                               : int(MainPage::kConverter));
}

void TCanLogForm1::ProcessArguments(const QStringList& arguments) {
  for (const QString& a : arguments) ProcessArgument(ToCore(a));
}

void TCanLogForm1::ProcessArgument(const std::string& argument) {
  const ParsedArgument p = ClassifyArgument(argument);
  switch (p.kind) {
    case ArgumentKind::kSwitch:
      if (p.switch_name == "firstrun") {
        last_family_ = -1;  // the start-up asks for the device family again
      } else if (p.switch_name == "bm") {
        // What the log holds already (the settings file, the language's test-mode report)
        // belongs to the batch run's error output too.
        if (!batch_.active() && start_.log_batch_to_stderr) {
          for (const QString& line : info_page_->Lines()) {
            std::fprintf(stderr, "%s\n", ToCore(line).c_str());
          }
        }
        batch_.Begin();
      } else if (p.switch_name == "cw") {
        partner_.Connect(p.switch_value, own_window_);
      }
      break;
    case ArgumentKind::kConfig: {
      UpdateGuard guard(update_guard_);
      setup_page_->logger_cfg()->setText(FromCore(p.text));
      break;
    }
    case ArgumentKind::kSources: {
      QStringList sources;
      for (const std::string& source : p.sources) sources << FromCore(source);
      converter_page_->AddSources(sources);
      break;
    }
    case ArgumentKind::kDatabase:
      LoadCanDatabase(p.database, p.bus);
      break;
    case ArgumentKind::kOutput:
      if (output_names_.size() < kMaxOutputNames) output_names_.push_back(p.text);
      break;
    case ArgumentKind::kCommandFile:
      command_file_ = p.text;
      break;
    case ArgumentKind::kUnknown:
      ReportUnknownArgument(p);
      break;
  }
}

void TCanLogForm1::ProcessCommandFile() {
  if (command_file_.empty() || static_cast<unsigned char>(command_file_[0]) <= ' ') return;
  // A "cmd" line inside the file names another command file, which is not read in turn.
  const std::string name = command_file_;
  std::vector<std::string> lines;
  if (!ReadCommandFileLines(name, lines)) return;
  for (const std::string& line : lines) ProcessArgument(line);
}

// ---- Partner ---------------------------------------------------------------------------------

void TCanLogForm1::SendToPartner(const std::string& text, bool notification) {
  if (partner_.partner_window != 0) {
    SendPartnerMessage(partner_.partner_window, own_window_, 0, QByteArray::fromStdString(text));
  }
  // The partner gets time to react to a notification before the next one.
  if (notification && start_.notify_wait_ms > 0) QThread::msleep(ulong(start_.notify_wait_ms));
}

// ---- Pages -----------------------------------------------------------------------------------

void TCanLogForm1::RefillPages() {
  UpdateGuard guard(update_guard_);
  logger_cfg_page_->Refill();
  setup_page_->ShowFamily(config_.cfg.DeviceFamily);
  RefillEditors();
  candb_page_->RefillLogged();
}

void TCanLogForm1::ApplyEditPages() {
  if (update_guard_ > 0) return;
  T_CanLog_Config edited = config_.cfg;
  logger_cfg_page_->ApplyTo(edited);
  ApplyEditors(edited);
  ApplyEditedConfig(config_, edited);
  if (const char* conflict = OptionConflictText(config_.cfg)) {
    ShowOwnedStatus(Tr(conflict), StatusOwner::kOptionConflict, true);
  } else {
    ClearOwnedStatus(StatusOwner::kOptionConflict);
  }
  RefillPages();
}

void TCanLogForm1::OnFamilyChosen(int family) {
  // The other trigger editor reads the trigger fields differently: the trigger is rewritten for
  // it, after the user has seen what is kept and what is dropped.
  const TriggerConversion conversion = ConvertTriggerForFamily(config_.cfg, uint32_t(family));
  if (conversion.needed) {
    Question q;
    q.caption = "Warning";
    q.icon = Icon::kWarning;
    q.text = TriggerConversionQuestion(conversion, FamilyLimits(uint32_t(family)).name);
    q.buttons = Buttons::kYesNo;
    q.batch_answer = Answer::kYes;
    if (Ask(q) != Answer::kYes) {
      RefillPages();  // the list shows the family kept
      return;
    }
  }
  // A choice in the list is an edit of the configuration, also when it names the family shown.
  last_family_ = family;
  config_.cfg = conversion.converted;
  config_.modified = true;
  RefillPages();
}

QString TCanLogForm1::config_file_name() const { return setup_page_->logger_cfg()->text(); }

// ---- Configuration files ---------------------------------------------------------------------

bool TCanLogForm1::AskToSave() {
  // A field still being edited has not reported its change yet: take it now.
  ApplyEditPages();
  if (!config_.modified) return true;
  Question q;
  q.caption = "Warning";
  q.icon = Icon::kWarning;
  // One text per table column: German for German, English for the others.
  q.text =
      StrPrintf(Language().target_column() == kColGerman
                    ? "Die Logger-Konfiguration wurde geändert aber noch nicht gespeichert.\r\n "
                      "Konfiguration jetzt unter \"%s\" speichern ?"
                    : "The logger configuration has been modified but not saved yet.\r\n Save "
                      "config as   \"%s\"   now ?",
                ToCore(config_file_name()).c_str());
  q.buttons = Buttons::kYesNoCancel;
  q.batch_answer = Answer::kNo;  // batch mode discards the changes
  switch (Ask(q)) {
    case Answer::kYes:
      return SaveConfiguration(config_file_name());
    case Answer::kNo:
      return true;
    default:
      return false;
  }
}

bool TCanLogForm1::LoadConfiguration(const QString& file_name) {
  // A new load: an error of an earlier action must not hide what this one reports.
  status_.ResetSeverity();
  const QString previous_name = config_file_name();
  {
    UpdateGuard guard(update_guard_);
    setup_page_->logger_cfg()->setText(file_name);
  }
  const std::string name = ToCore(file_name);
  // 3.-5. Read; a protected file needs its password (or the one remembered on this computer).
  const ConfigLoad load = LoadConfigurationFile(name, config_, remembered_password_, ask_password);
  const bool accepted = load == ConfigLoad::kAccepted;
  if (load == ConfigLoad::kRefused) {
    // The name goes back too, so that saving cannot write the old configuration over the
    // protected file.
    UpdateGuard guard(update_guard_);
    setup_page_->logger_cfg()->setText(previous_name);
  }
  // 6. Refill.
  RefillPages();
  // 7. The CAN databases the configuration was made from (only for a configuration that was
  // accepted: otherwise the names are those of the previous configuration).
  if (accepted) LoadNamedCanDatabases();
  // 8. Tell the partner.
  if (accepted) SendToPartner(PartnerLoadedText(name), true);
  return accepted;
}

bool TCanLogForm1::SaveConfiguration(const QString& file_name) {
  {
    UpdateGuard guard(update_guard_);
    setup_page_->logger_cfg()->setText(file_name);
  }
  const std::string name = ToCore(file_name);
  status_.ResetSeverity();
  if (!ConfirmUnloggedTriggerSignals()) return false;
  std::string error;
  if (WriteClcFile(name, config_, &error)) {
    ShowMessageF(kMsgInfo, "Saved logger config as \"%s\"", name.c_str());
    return true;
  }
  ShowMessageF(kMsgError, "Failed to save \"%s\"", name.c_str());
  if (!error.empty()) ShowMessage(kMsgInfo, error);
  return false;
}

bool TCanLogForm1::ConfirmUnloggedTriggerSignals() {
  const std::vector<std::string> names = UnloggedTriggerSignals(config_.cfg, config_.sigs);
  if (names.empty()) return true;
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
  Question q;
  q.caption = "Warning";
  q.icon = Icon::kWarning;
  q.text = StrPrintf(Tr("The trigger uses signals that are not in the logger list: %s.\r\nThe "
                        "logger cannot evaluate these trigger conditions.\r\n\r\nSave the "
                        "configuration all the same ?"),
                     list.c_str());
  q.buttons = Buttons::kYesNo;
  q.batch_answer = Answer::kYes;
  if (Ask(q) != Answer::kYes) {
    ShowMessage(kMsgStatus, Tr("Not saved: the trigger uses signals that are not logged."));
    return false;
  }
  ShowMessageF(kMsgWarning, "Warning: trigger signals not in the logger list: %s", list.c_str());
  return true;
}

void TCanLogForm1::NewConfiguration(bool keep_options) {
  uint32_t family = config_.cfg.DeviceFamily;
  if (!keep_options) {
    // The last chosen family, else the configuration's, else 0. A family the dialog has no
    // button for (4, an unknown or future device) stays preselected: the dialog then checks
    // nothing, and without a dialog the family is kept as it is.
    int preselect = last_family_;
    if (preselect < 0 && config_.cfg.DeviceFamily != kDeviceFamilyNone) {
      preselect = int(std::min<uint32_t>(config_.cfg.DeviceFamily, kKnownDeviceFamilies));
    }
    if (preselect < 0) preselect = 0;
    const int chosen = choose_family ? choose_family(preselect) : preselect;
    if (chosen < 0) return;
    last_family_ = chosen;
    family = uint32_t(chosen);
    NewConfigWithDefaults(config_.cfg, config_.sigs, family);
  } else {
    NewConfigKeepingOptions(config_.cfg, config_.sigs, family);
  }
  const QFileInfo previous(config_file_name());
  const QString name = QDir(previous.path()).filePath(QStringLiteral("unnamed.clc"));
  {
    UpdateGuard guard(update_guard_);
    setup_page_->logger_cfg()->setText(QDir::toNativeSeparators(name));
  }
  RefillPages();
  config_.modified = false;
  ShowMessageF(kMsgStatus, "Created new logger config \"%s\" (not saved yet).",
               ToCore(QFileInfo(name).absoluteFilePath()).c_str());
  if (!keep_options) pages_->setCurrentIndex(int(MainPage::kLoggerCfg));
}

void TCanLogForm1::OnMenuNew(bool keep_options) {
  if (!AskToSave()) return;
  NewConfiguration(keep_options);
}

void TCanLogForm1::OnMenuLoad() {
  if (!AskToSave()) return;
  const QString name =
      QFileDialog::getOpenFileName(this, tr("Load Can Logger Configuration File"),
                                   config_file_name(), tr("Can Logger Configurations (*.clc)"));
  if (name.isEmpty()) return;
  LoadConfiguration(name);
}

void TCanLogForm1::OnMenuSave() {
  ApplyEditPages();
  QString title = tr("Save Can Logger Configuration");
  if (config_.cfg.Password1[0] != '\0') title += QStringLiteral(" (ENCRYPTED)");
  QFileDialog dialog(this, title, config_file_name(), tr("Can Logger Configuration files (*.clc)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("clc"));
  dialog.selectFile(config_file_name());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveConfiguration(dialog.selectedFiles().first());
}

void TCanLogForm1::LoadNamedCanDatabases() {
  const auto load = [this](const std::string& path, int bus) { LoadCanDatabase(path, bus); };
  if (OfferNamedCanDatabases(config_, ToCore(config_file_name()), load)) RefillPages();
}

void TCanLogForm1::LoadCanDatabase(const std::string& path, int bus) {
  candb_import_.LoadFile(config_, candb_table_, path, bus);
  UpdateRecentMenu();
  RefillPages();
  candb_page_->RebuildViews();
}

void TCanLogForm1::OnMenuImport(int bus) {
  pages_->setCurrentIndex(int(MainPage::kCANdb));
  QFileDialog dialog(this, FromCore(CandbImport::DialogTitle(bus)),
                     setup_page_->can_db_dir()->text(), tr("CAN database files (*.dbc)"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("DBC"));
  dialog.selectFile(FromCore(candb_import_.DialogPreset(config_.cfg, bus)));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  repaint();
  LoadCanDatabase(ToCore(dialog.selectedFiles().first()), bus);
}

void TCanLogForm1::UpdateRecentMenu() {
  for (int i = 0; i < int(recent_actions_.size()); ++i) {
    QAction* a = recent_actions_[size_t(i)];
    a->setText(FromCore(candb_import_.recent().Caption(i)));
    a->setVisible(candb_import_.recent().Visible(i));
  }
}

// ---- Conversion ------------------------------------------------------------------------------

ConversionSummary TCanLogForm1::StartConversion() {
  if (conversion_->running()) return {};
  ConverterPage* page = converter_page_;
  // The option check with its colours, and its boxes only when a user is there: a refusal then
  // does not repeat the box's text in the message list.
  page->CheckOptions(batch_.active());
  ConversionRequest request;
  request.options = page->Options();
  request.option_box_shown = !batch_.active();
  const QStringList sources = page->sources();
  for (const QString& source : sources) request.sources.emplace_back(ToCore(source));
  for (const std::string& name : output_names_) request.output_names.emplace_back(name);
  request.output_dir = ToCore(page->output_dir()->text().trimmed());
  request.gps = GpsSettingsOf(settings_);
  request.user_config = &config_;
  request.verbose = verbose_;
  request.launch_viewer = page->launch_viewer_box()->isChecked();
  request.viewer_program = ToCore(setup_page_->external_viewer()->text().trimmed());
  const ConversionPlan plan = PlanConversion(request);
  if (plan.graph_preview_dropped) {
    {
      UpdateGuard guard(update_guard_);
      page->graph_preview_box()->setChecked(false);
    }
    Question q;
    q.caption = "Logfile Converter Warning (info level)";
    q.icon = Icon::kWarning;
    q.text = Tr(kGraphPreviewDroppedText);
    q.buttons = Buttons::kOk;
    q.batch_answer = Answer::kOk;
    Ask(q);
  }
  const ConversionSummary summary = conversion_->Run(plan);
  if (plan.accepted) converted_sources_ = request.sources;
  return summary;
}

void TCanLogForm1::RequestAbort() { conversion_->RequestAbort(); }

bool TCanLogForm1::converting() const { return conversion_->running(); }

void TCanLogForm1::ViewRecordings(const std::vector<std::filesystem::path>& files) {
  const LoggerConfiguration* signals =
      converter_page_->Options().ignore_logged_sigdefs ? &config_ : nullptr;
  if (files.empty()) {
    OpenSignalViewer(this, signals);
  } else {
    OpenSignalViewer(this, files, signals);
  }
}

// ---- Dropped files and closing ---------------------------------------------------------------

void TCanLogForm1::AddDroppedFiles(const QStringList& files) {
  QStringList sources;
  for (const QString& f : files) {
    const int dot = f.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && f.mid(dot).compare(QStringLiteral(".cld"), Qt::CaseInsensitive) == 0) {
      sources << f;
    }
  }
  if (!sources.isEmpty()) converter_page_->AddSources(sources);
}

int TCanLogForm1::TakeHandedFiles(const HandedFiles& files) {
  if (batch_.active() || closing_done_) return 0;
  handed_.configs.insert(handed_.configs.end(), files.configs.begin(), files.configs.end());
  handed_.recordings.insert(handed_.recordings.end(), files.recordings.begin(),
                            files.recordings.end());
  return int(files.configs.size() + files.recordings.size());
}

void TCanLogForm1::OpenHandedFiles() {
  const HandedFiles files = std::exchange(handed_, {});
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  if (!files.configs.empty() && AskToSave()) LoadConfiguration(FromCore(files.configs.back()));
  if (!files.recordings.empty()) {
    QStringList sources;
    for (const std::string& r : files.recordings) sources << FromCore(r);
    converter_page_->AddSources(sources);
    pages_->setCurrentIndex(int(MainPage::kConverter));
  }
}

void TCanLogForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TCanLogForm1::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  AddDroppedFiles(files);
  event->acceptProposedAction();
}

void TCanLogForm1::closeEvent(QCloseEvent* event) {
  // A conversion runs inside this window's handlers: it stops first, then the window closes.
  if (conversion_->DeferClose(this)) {
    event->ignore();
    return;
  }
  if (closing_done_) {
    event->accept();
    return;
  }
  if (!batch_.active() && !AskToSave()) {
    event->ignore();
    return;
  }
  closing_done_ = true;
  timer_->stop();
  WriteSettingsFile();
  SendToPartner(kPartnerClosedText, true);
  event->accept();
}

}  // namespace tessmar
