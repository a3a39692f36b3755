#pragma once
// The "Logger Cfg" page: the recording options of the logger configuration, the limits of the
// device family and the logged signals and messages (shown in red beyond the limits).

#include <QWidget>

#include "config/canlog_config.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tessmar {

class LoggerCfgPage : public QWidget {
  Q_OBJECT
 public:
  LoggerCfgPage(const LoggerConfiguration& config, const int& update_guard,
                QWidget* parent = nullptr);

  // Fills every control from the record (call under the update guard).
  void Refill();
  // Writes the fields this page edits into a copy of the record.
  void ApplyTo(T_CanLog_Config& edited) const;
  // Shows the option conflict (rate-limit field in button-face colour while "ALL" is selected).
  void ShowReceiveAllState();

  QCheckBox* password_box() const { return Chk_PasswordProtection; }
  bool lists_red() const { return lists_red_; }
  QString count_line() const;
  QString limits_line() const;

 Q_SIGNALS:
  void edited();                 // the user changed a control
  void passwordBoxClicked();     // "Use password and encryption" clicked by the user
  void changePasswordClicked();  // "Change password"

 private:
  void OnUserChange();

  const LoggerConfiguration& config_;
  const int& update_guard_;
  bool lists_red_ = false;

  QLineEdit* Ed_InfoString;
  QLineEdit* Ed_DbFileBus1;
  QLineEdit* Ed_DbFileBus2;
  QRadioButton* RB_ReceiveAll;
  QRadioButton* RB_ReceiveAppl;
  QRadioButton* RB_ReceiveSelected;
  QCheckBox* Chk_ReceiveErrFrames;
  QCheckBox* Chk_ReceiveGps;
  QCheckBox* Chk_LogScriptVars;
  QCheckBox* Chk_FifoMode;
  QCheckBox* Chk_NewFileOnStartup;
  QCheckBox* Chk_NewFileOnTrigger;
  QCheckBox* Chk_KeepFileOpened;
  QLineEdit* Ed_FileSizeLimit;
  QLineEdit* Ed_MsgRateLimit;
  QComboBox* CB_InitTrigger;
  QLineEdit* Ed_Pretrigger;
  QLineEdit* Ed_Posttrigger;
  QCheckBox* Chk_PasswordProtection;
  QPushButton* Btn_ChangePassword;
  QLabel* Lab_Limits;
  QLabel* Lab_Count;
  QListWidget* LB_LoggedSignals;
  QTableWidget* SG_LoggedMessages;
};

}  // namespace tessmar
