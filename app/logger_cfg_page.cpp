#include "app/logger_cfg_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/help_launcher.h"
#include "app/qt_text.h"
#include "common/help_address.h"
#include "common/translation.h"

namespace tessmar {
namespace {

int IntegerOrZero(const QLineEdit* edit) {
  bool ok = false;
  const int value = edit->text().trimmed().toInt(&ok);
  return ok ? value : 0;
}

void SetRed(QWidget* widget, bool red) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, red ? QColor(255, 128, 128)
                                       : widget->style()->standardPalette().color(QPalette::Base));
  widget->setPalette(palette);
}

}  // namespace

LoggerCfgPage::LoggerCfgPage(const LoggerConfiguration& config, const int& update_guard,
                             QWidget* parent)
    : QWidget(parent), config_(config), update_guard_(update_guard) {
  auto make_edit = [this](const char* name, int max_length) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    if (max_length > 0) edit->setMaxLength(max_length);
    connect(edit, &QLineEdit::editingFinished, this, &LoggerCfgPage::OnUserChange);
    return edit;
  };
  auto make_check = [this](const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(QString::fromLatin1(name));
    connect(box, &QCheckBox::toggled, this, &LoggerCfgPage::OnUserChange);
    return box;
  };

  // -- Description ---------------------------------------------------------------------------
  Ed_InfoString = make_edit("Ed_InfoString", int(kMaxNameChars));
  Ed_DbFileBus1 = make_edit("Ed_DbFileBus1", int(kMaxDbPathChars));
  Ed_DbFileBus2 = make_edit("Ed_DbFileBus2", int(kMaxDbPathChars));
  auto* info_box = new QGroupBox(tr("Info"), this);
  auto* info_form = new QFormLayout(info_box);
  info_form->addRow(tr("Info string (40 chars)"), Ed_InfoString);
  info_form->addRow(tr("Database Bus 1"), Ed_DbFileBus1);
  info_form->addRow(tr("Database Bus 2"), Ed_DbFileBus2);

  // -- What to receive -------------------------------------------------------------------------
  auto* receive_box = new QGroupBox(tr("What shall be logged ?"), this);
  RB_ReceiveAll = new QRadioButton(tr("ALL CAN message identifiers"), receive_box);
  RB_ReceiveAll->setObjectName(QStringLiteral("RB_ReceiveAll"));
  RB_ReceiveAppl = new QRadioButton(tr("All signals received by application"), receive_box);
  RB_ReceiveAppl->setObjectName(QStringLiteral("RB_ReceiveAppl"));
  RB_ReceiveSelected = new QRadioButton(tr("Only the selected signals"), receive_box);
  RB_ReceiveSelected->setObjectName(QStringLiteral("RB_ReceiveSelected"));
  for (QRadioButton* b : {RB_ReceiveAll, RB_ReceiveAppl, RB_ReceiveSelected}) {
    connect(b, &QRadioButton::toggled, this, [this](bool on) {
      if (on) OnUserChange();
    });
  }
  Chk_ReceiveErrFrames = make_check("Chk_ReceiveErrFrames", tr("+ CAN error frames"));
  Chk_ReceiveGps = make_check("Chk_ReceiveGps", tr("+ data from GPS receiver"));
  Chk_LogScriptVars =
      make_check("Chk_LogScriptVars", tr("+ script variables declared as 'logged'"));
  auto* receive_layout = new QVBoxLayout(receive_box);
  for (QWidget* w :
       std::initializer_list<QWidget*>{RB_ReceiveAll, RB_ReceiveAppl, RB_ReceiveSelected,
                                       Chk_ReceiveErrFrames, Chk_ReceiveGps, Chk_LogScriptVars}) {
    receive_layout->addWidget(w);
  }
  receive_layout->addStretch(1);

  // -- File options ----------------------------------------------------------------------------
  auto* file_box = new QGroupBox(tr("Options"), this);
  Chk_FifoMode = make_check("Chk_FifoMode", tr("Use logfile as circular FIFO, overwriting"));
  Chk_NewFileOnStartup =
      make_check("Chk_NewFileOnStartup", tr("Use a new log-file-name on startup"));
  Chk_NewFileOnTrigger =
      make_check("Chk_NewFileOnTrigger", tr("Use a new filename for each trigger"));
  Chk_KeepFileOpened =
      make_check("Chk_KeepFileOpened", tr("Keep file open while trigger is 'off'"));
  Ed_FileSizeLimit = make_edit("Ed_FileSizeLimit", 10);
  Ed_MsgRateLimit = make_edit("Ed_MsgRateLimit", 10);
  auto* file_layout = new QGridLayout(file_box);
  file_layout->addWidget(Chk_FifoMode, 0, 0, 1, 2);
  file_layout->addWidget(Chk_NewFileOnStartup, 1, 0, 1, 2);
  file_layout->addWidget(Chk_NewFileOnTrigger, 2, 0, 1, 2);
  file_layout->addWidget(Chk_KeepFileOpened, 3, 0, 1, 2);
  file_layout->addWidget(new QLabel(tr("Maximum size of a single logfile (KB):"), file_box), 4, 0);
  file_layout->addWidget(Ed_FileSizeLimit, 4, 1);
  file_layout->addWidget(new QLabel(tr("Limit write interval for messages (ms):"), file_box), 5, 0);
  file_layout->addWidget(Ed_MsgRateLimit, 5, 1);
  auto* hint =
      new QLabel(tr("Set to zero to record EVERY telegram (unlimited interval)"), file_box);
  hint->setEnabled(false);
  file_layout->addWidget(hint, 6, 0, 1, 2);
  file_layout->setColumnStretch(0, 1);
  file_layout->setRowStretch(7, 1);

  // -- Trigger timing --------------------------------------------------------------------------
  auto* trigger_box = new QGroupBox(tr("Trigger"), this);
  CB_InitTrigger = new QComboBox(trigger_box);
  CB_InitTrigger->setObjectName(QStringLiteral("CB_InitTrigger"));
  CB_InitTrigger->addItems({tr("stopped"), tr("engaged"), tr("triggered")});
  connect(CB_InitTrigger, &QComboBox::currentIndexChanged, this, &LoggerCfgPage::OnUserChange);
  Ed_Pretrigger = make_edit("Ed_Pretrigger", 12);
  Ed_Posttrigger = make_edit("Ed_Posttrigger", 12);
  for (QLineEdit* e : {Ed_Pretrigger, Ed_Posttrigger}) e->setMaximumWidth(120);
  Ed_FileSizeLimit->setMaximumWidth(120);
  Ed_MsgRateLimit->setMaximumWidth(120);
  auto* trigger_form = new QFormLayout(trigger_box);
  trigger_form->addRow(tr("Initial trigger state"), CB_InitTrigger);
  trigger_form->addRow(tr("Pretrigger (seconds) :"), Ed_Pretrigger);
  trigger_form->addRow(tr("Posttrigger (seconds) :"), Ed_Posttrigger);

  Chk_PasswordProtection = new QCheckBox(tr("Use password and encryption"), this);
  Chk_PasswordProtection->setObjectName(QStringLiteral("Chk_PasswordProtection"));
  // A click asks for the password (to set or to remove it); the box then shows the result, so
  // only a click by the user counts, never a refill.
  connect(Chk_PasswordProtection, &QCheckBox::clicked, this, [this] {
    if (update_guard_ == 0) Q_EMIT passwordBoxClicked();
  });
  Btn_ChangePassword = new QPushButton(tr("Change password"), this);
  Btn_ChangePassword->setObjectName(QStringLiteral("Btn_ChangePassword"));
  connect(Btn_ChangePassword, &QPushButton::clicked, this, &LoggerCfgPage::changePasswordClicked);

  // -- Limits and logged items -----------------------------------------------------------------
  auto* logged_box = new QGroupBox(tr("Logged signals and messages"), this);
  Lab_Limits = new QLabel(logged_box);
  Lab_Limits->setObjectName(QStringLiteral("Lab_Limits"));
  Lab_Count = new QLabel(logged_box);
  Lab_Count->setObjectName(QStringLiteral("Lab_Count"));
  LB_LoggedSignals = new QListWidget(logged_box);
  LB_LoggedSignals->setObjectName(QStringLiteral("LB_LoggedSignals"));
  SG_LoggedMessages = new QTableWidget(0, 4, logged_box);
  SG_LoggedMessages->setObjectName(QStringLiteral("SG_LoggedMessages"));
  SG_LoggedMessages->setHorizontalHeaderLabels(
      {tr("CAN-ID"), tr("Message"), tr("Node"), tr("Intv.-Limit/ms")});
  SG_LoggedMessages->verticalHeader()->setVisible(false);
  SG_LoggedMessages->horizontalHeader()->setStretchLastSection(true);
  SG_LoggedMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SG_LoggedMessages->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  SG_LoggedMessages->horizontalHeader()->setStretchLastSection(true);
  Lab_Limits->setWordWrap(true);
  auto* logged_layout = new QVBoxLayout(logged_box);
  logged_layout->addWidget(Lab_Limits);
  logged_layout->addWidget(Lab_Count);
  logged_layout->addWidget(LB_LoggedSignals, 1);
  logged_layout->addWidget(SG_LoggedMessages, 1);

  auto* left = new QVBoxLayout;
  left->addWidget(info_box);
  auto* middle_row = new QHBoxLayout;
  middle_row->addWidget(receive_box, 1);
  middle_row->addWidget(file_box, 1);
  left->addLayout(middle_row);
  auto* bottom_row = new QHBoxLayout;
  bottom_row->addWidget(trigger_box, 1);
  auto* password_column = new QVBoxLayout;
  password_column->addWidget(Chk_PasswordProtection);
  password_column->addWidget(Btn_ChangePassword, 0, Qt::AlignLeft);
  QAbstractButton* help = MakeHelpButton(kHelpLoggerConfigTab, this);
  help->setObjectName(QStringLiteral("Btn_LoggerCfgHelp"));
  password_column->addWidget(help, 0, Qt::AlignLeft);
  password_column->addStretch(1);
  bottom_row->addLayout(password_column, 1);
  left->addLayout(bottom_row);
  left->addStretch(1);

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 3);
  layout->addWidget(logged_box, 2);
}

void LoggerCfgPage::OnUserChange() {
  if (update_guard_ > 0) return;
  Q_EMIT edited();
}

void LoggerCfgPage::Refill() {
  const T_CanLog_Config& cfg = config_.cfg;
  Ed_InfoString->setText(FromCore(TextOf(cfg.InfoString)));
  Ed_DbFileBus1->setText(FromCore(TextOf(cfg.DbFileBus1)));
  Ed_DbFileBus2->setText(FromCore(TextOf(cfg.DbFileBus2)));
  if (cfg.ReceiveAll) {
    RB_ReceiveAll->setChecked(true);
  } else if (cfg.ReceiveAppl) {
    RB_ReceiveAppl->setChecked(true);
  } else {
    RB_ReceiveSelected->setChecked(true);
  }
  Chk_ReceiveErrFrames->setChecked(cfg.ReceiveErrFrames != 0);
  Chk_ReceiveGps->setChecked(cfg.ReceiveGps != 0);
  Chk_LogScriptVars->setChecked(cfg.LogScriptVars != 0);
  Chk_FifoMode->setChecked(cfg.FifoMode != 0);
  Chk_NewFileOnStartup->setChecked(cfg.NewFileOnStartup != 0);
  Chk_NewFileOnTrigger->setChecked(cfg.NewFileOnTrigger != 0);
  Chk_KeepFileOpened->setChecked(cfg.KeepFileOpened != 0);
  Ed_FileSizeLimit->setText(QString::number(cfg.FileSizeLimit));
  Ed_MsgRateLimit->setText(QString::number(cfg.MsgRateLimit));
  CB_InitTrigger->setCurrentIndex(((cfg.InitTrigger % 3) + 3) % 3);
  Ed_Pretrigger->setText(FromCore(Format10msAsSeconds(cfg.Pretrig10ms)));
  Ed_Posttrigger->setText(FromCore(Format10msAsSeconds(cfg.Posttrig10ms)));
  Chk_PasswordProtection->setChecked(cfg.Password1[0] != '\0');
  ShowReceiveAllState();

  const DeviceFamilyLimits& limits = FamilyLimits(cfg.DeviceFamily);
  Lab_Limits->setText(tr("%1: max. %2 signals, %3 messages, %4 trigger signals")
                          .arg(QString::fromLatin1(limits.name).trimmed())
                          .arg(limits.max_signals)
                          .arg(limits.max_messages)
                          .arg(limits.max_trigger_signals));

  LB_LoggedSignals->clear();
  int signals_used = 0;
  for (const T_CanLog_SigDef& sig : config_.sigs) {
    if (!sig.used()) continue;
    ++signals_used;
    LB_LoggedSignals->addItem(FromCore(TextOf(sig.sn)) + QStringLiteral("  (") +
                              FromCore(FormatCanId(sig.id)) + QLatin1Char(')'));
  }
  SG_LoggedMessages->setRowCount(0);
  for (const T_CanLog_MsgDef& msg : cfg.Msg) {
    if (!msg.used()) continue;
    const int row = SG_LoggedMessages->rowCount();
    SG_LoggedMessages->insertRow(row);
    SG_LoggedMessages->setItem(row, 0, new QTableWidgetItem(FromCore(FormatCanId(msg.id))));
    SG_LoggedMessages->setItem(row, 1, new QTableWidgetItem(FromCore(TextOf(msg.mn))));
    SG_LoggedMessages->setItem(row, 2, new QTableWidgetItem(FromCore(TextOf(msg.nn))));
    SG_LoggedMessages->setItem(
        row, 3, new QTableWidgetItem(QString::number(std::min<int>(msg.wi, 1000) * 10)));
  }
  Lab_Count->setText(FromCore(CountLineText(signals_used, CountUsedMessages(cfg), GermanUi())));
  lists_red_ = ExceedsFamilyLimits(cfg, config_.sigs);
  SetRed(LB_LoggedSignals, lists_red_);
  SetRed(SG_LoggedMessages, lists_red_);
}

void LoggerCfgPage::ShowReceiveAllState() {
  // While "ALL" is selected the rate limit has no use: its field shows the button-face colour.
  QPalette palette = Ed_MsgRateLimit->palette();
  palette.setColor(QPalette::Base, RB_ReceiveAll->isChecked()
                                       ? style()->standardPalette().color(QPalette::Button)
                                       : style()->standardPalette().color(QPalette::Base));
  Ed_MsgRateLimit->setPalette(palette);
}

void LoggerCfgPage::ApplyTo(T_CanLog_Config& edited) const {
  SetText(edited.InfoString, ToCore(Ed_InfoString->text()));
  SetText(edited.DbFileBus1, ToCore(Ed_DbFileBus1->text()));
  SetText(edited.DbFileBus2, ToCore(Ed_DbFileBus2->text()));
  edited.ReceiveAll = RB_ReceiveAll->isChecked() ? 1 : 0;
  edited.ReceiveAppl = RB_ReceiveAppl->isChecked() ? 1 : 0;
  edited.ReceiveErrFrames = Chk_ReceiveErrFrames->isChecked() ? 1 : 0;
  edited.ReceiveGps = Chk_ReceiveGps->isChecked() ? 1 : 0;
  edited.LogScriptVars = Chk_LogScriptVars->isChecked() ? 1 : 0;
  edited.FifoMode = Chk_FifoMode->isChecked() ? 1 : 0;
  edited.NewFileOnStartup = Chk_NewFileOnStartup->isChecked() ? 1 : 0;
  edited.NewFileOnTrigger = Chk_NewFileOnTrigger->isChecked() ? 1 : 0;
  edited.KeepFileOpened = Chk_KeepFileOpened->isChecked() ? 1 : 0;
  edited.FileSizeLimit = IntegerOrZero(Ed_FileSizeLimit);
  edited.MsgRateLimit = IntegerOrZero(Ed_MsgRateLimit);
  // Fields the user did not touch keep the stored value exactly: the display rounds (the trigger
  // state is shown modulo 3, times with "%g"), and reading the shown text back must not change
  // the record.
  const int shown_state = ((edited.InitTrigger % 3) + 3) % 3;
  if (CB_InitTrigger->currentIndex() != shown_state) {
    edited.InitTrigger = static_cast<int16_t>(std::max(0, CB_InitTrigger->currentIndex()));
  }
  auto apply_time = [](const QLineEdit* edit, uint16_t& field) {
    const QString text = edit->text().trimmed();
    if (text == FromCore(Format10msAsSeconds(field))) return;
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    field = TriggerSecondsTo10ms(ok ? seconds : 0.0);
  };
  apply_time(Ed_Pretrigger, edited.Pretrig10ms);
  apply_time(Ed_Posttrigger, edited.Posttrig10ms);
}

QString LoggerCfgPage::count_line() const { return Lab_Count->text(); }
QString LoggerCfgPage::limits_line() const { return Lab_Limits->text(); }

}  // namespace tessmar
