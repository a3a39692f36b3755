#pragma once
// TSelectTargetHardwareForm: chooses the device family (0..3) a new configuration is made for.

#include <QDialog>
#include <array>

class QPushButton;
class QRadioButton;

namespace tessmar {

class TSelectTargetHardwareForm : public QDialog {
  Q_OBJECT
 public:
  // preselect: the family whose button is checked; any other value checks none.
  explicit TSelectTargetHardwareForm(int preselect, QWidget* parent = nullptr);

  // The checked family 0..3, or -1 when none is checked.
  int family() const;

 private:
  void UpdateOk();
  void ShowHelp();

  std::array<QRadioButton*, 4> RB_Family{};
  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;
  QPushButton* Btn_Help;
};

}  // namespace tessmar
