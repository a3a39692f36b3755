// The main window's part for the trigger, "Messages, etc" and GPS pages and for the target-
// hardware and password dialogs.

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QTabWidget>

#include "app/gps_page.h"
#include "app/logger_cfg_page.h"
#include "app/main_window.h"
#include "app/messages_page.h"
#include "app/password_dialog.h"
#include "app/qt_text.h"
#include "app/target_hardware_dialog.h"
#include "app/trigger_page.h"
#include "app/update_guard.h"
#include "common/message_output.h"
#include "config/password_rules.h"

namespace tessmar {

void TCanLogForm1::InstallEditors() {
  exec_dialog = [](QDialog& dialog) { return dialog.exec(); };

  connect(messages_page_, &MessagesPage::applied, this, [this] {
    UpdateGuard guard(update_guard_);
    logger_cfg_page_->Refill();
  });
  connect(trigger_page_, &TriggerPage::optionsEdited, this, &TCanLogForm1::ApplyEditPages);
  connect(trigger_page_, &TriggerPage::statusText, this, [this](const QString& text) {
    if (text.isEmpty()) {
      ClearOwnedStatus(StatusOwner::kTriggerCheck);
    } else {
      ShowOwnedStatus(ToCore(text), StatusOwner::kTriggerCheck, true);
    }
  });
  connect(gps_page_, &GpsPage::settingsChanged, this,
          [this] { SetGpsSettings(gps_page_->settings(), settings_); });
  connect(gps_page_, &GpsPage::status, this,
          [this](const QString& text) { ShowMessage(kMsgStatus, ToCore(text)); });

  // The target hardware: at the first start and before "new with default values".
  choose_family = [this](int preselect) {
    if (BatchMode()) return -1;  // a batch run asks nothing and keeps the family
    TSelectTargetHardwareForm dialog(preselect, this);
    return exec_dialog(dialog) == QDialog::Accepted ? dialog.family() : -1;
  };
  // A protected file asks for its password; the user may have it remembered on this computer.
  ask_password = [this](const T_CanLog_Config& cfg) {
    TPasswordDialog dialog(false, FromCore(Tr(kPasswordCaptionLoad)), settings_.language, this);
    dialog.SetHint(FromCore(TextOf(cfg.PwdHint1)));
    dialog.SetRemember(false);
    if (exec_dialog(dialog) != QDialog::Accepted) return false;
    const std::string entry = ToCore(dialog.password());
    if (entry != TextOf(cfg.Password1)) return false;
    if (dialog.remember()) remembered_password_ = entry;
    return true;
  };

  connect(logger_cfg_page_, &LoggerCfgPage::passwordBoxClicked, this,
          &TCanLogForm1::TogglePassword);
  connect(logger_cfg_page_, &LoggerCfgPage::changePasswordClicked, this,
          &TCanLogForm1::ChangePassword);
  connect(password_toggle_, &QAction::triggered, this, &TCanLogForm1::TogglePassword);
}

void TCanLogForm1::RefillEditors() {
  trigger_page_->Refill();
  messages_page_->Refill();
}

void TCanLogForm1::ApplyEditors(T_CanLog_Config& edited) { trigger_page_->ApplyTo(edited); }

void TCanLogForm1::ShowGpsSettings() { gps_page_->Show(GpsSettingsOf(settings_)); }

void TCanLogForm1::ChangePassword() {
  TPasswordDialog dialog(true, FromCore(Tr(kPasswordCaptionNew)), settings_.language, this);
  dialog.SetPassword(FromCore(TextOf(config_.cfg.Password1)));
  dialog.SetHint(FromCore(TextOf(config_.cfg.PwdHint1)));
  dialog.SetRemember(IsRememberedPassword(config_.cfg, remembered_password_));
  if (exec_dialog(dialog) == QDialog::Accepted) {
    SetNewPassword(config_, remembered_password_, ToCore(dialog.password()), ToCore(dialog.hint()),
                   dialog.remember());
  }
  RefillPages();
}

void TCanLogForm1::TogglePassword() {
  if (config_.cfg.Password1[0] == '\0') {
    ChangePassword();
    return;
  }
  TPasswordDialog dialog(false, FromCore(Tr(kPasswordCaptionDisable)), settings_.language, this);
  dialog.SetHint(FromCore(TextOf(config_.cfg.PwdHint1)));
  dialog.SetRemember(IsRememberedPassword(config_.cfg, remembered_password_));
  if (exec_dialog(dialog) == QDialog::Accepted) {
    RemovePassword(config_, remembered_password_, ToCore(dialog.password()), dialog.remember());
  }
  // The box shows whether a password is set, whatever the click made of it.
  RefillPages();
}

}  // namespace tessmar
