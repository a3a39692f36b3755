#pragma once
// TPasswordDialog: asks for a password, in one-entry mode (load a protected file, disable the
// password) or two-entry mode (set a new password, typed twice), with a hint and an optional
// "remember the password on this PC (scrambled)" box.

#include <QDialog>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessmar {

class TPasswordDialog : public QDialog {
  Q_OBJECT
 public:
  // caption empty: "Enter AND REPEAT password" (two entries) or "Enter password" (one entry).
  // language: the user-interface language code that chooses the mismatch caption.
  TPasswordDialog(bool two_entries, const QString& caption, int language,
                  QWidget* parent = nullptr);

  // Both entry fields show the password.
  void SetPassword(const QString& password);
  // The hint; read-only in one-entry mode.
  void SetHint(const QString& hint);
  // Shows the remember box preset to the value; without a call the box stays hidden.
  void SetRemember(bool remember);

  QString password() const;
  // Two-entry mode: cut to 40 characters with double quotes replaced by single quotes.
  QString hint() const;
  bool remember() const;

  // OK: in two-entry mode with different entries the caption asks again, both fields are emptied
  // and the dialog stays open.
  void accept() override;

 private:
  void ShowHelp();

  bool two_entries_;
  int language_;
  QLabel* Lab_Prompt;  // the caption, repeated inside the dialog where it cannot be missed
  QLineEdit* Ed_Password1;
  QLineEdit* Ed_Password2;
  QLabel* Lab_Password2;
  QLineEdit* Ed_Hint;
  QCheckBox* Chk_Remember;
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;
  QPushButton* Btn_Help;
};

}  // namespace tessmar
