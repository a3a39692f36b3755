#include "app/target_hardware_dialog.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tessmar {
namespace {

// Device, processor and the article number of the firmware each configuration is made for.
constexpr const char* kFamilyCaptions[4] = {
    "Kavrix I with C167 CPU  (firmware art. no. KX1-FW-2701)",
    "Kavrix II with LPC2468  (firmware art. no. KX2-FW-2702)",
    "Kavrix III with LPC1788  (firmware art. no. KX3-FW-2703)",
    "Kavrix IV with LPC4357  (firmware art. no. KX4-FW-2704)",
};

}  // namespace

TSelectTargetHardwareForm::TSelectTargetHardwareForm(int preselect, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TSelectTargetHardwareForm"));
  setWindowTitle(tr("Select Target Hardware"));
  auto* layout = new QVBoxLayout(this);
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    auto* button = new QRadioButton(tr(kFamilyCaptions[i]), this);
    button->setObjectName(QStringLiteral("RB_Family%1").arg(i));
    group->addButton(button, i);
    layout->addWidget(button);
    RB_Family[std::size_t(i)] = button;
  }
  if (preselect >= 0 && preselect < 4) RB_Family[std::size_t(preselect)]->setChecked(true);

  Btn_OK = new QPushButton(tr("OK"), this);
  Btn_OK->setObjectName(QStringLiteral("Btn_OK"));
  Btn_OK->setDefault(true);
  Btn_Cancel = new QPushButton(tr("Cancel"), this);
  Btn_Cancel->setObjectName(QStringLiteral("Btn_Cancel"));
  Btn_Help = new QPushButton(tr("&Help"), this);
  Btn_Help->setObjectName(QStringLiteral("Btn_Help"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Btn_OK);
  buttons->addWidget(Btn_Cancel);
  buttons->addWidget(Btn_Help);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(group, &QButtonGroup::idToggled, this, [this](int, bool) { UpdateOk(); });
  connect(Btn_OK, &QPushButton::clicked, this, &QDialog::accept);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(Btn_Help, &QPushButton::clicked, this, &TSelectTargetHardwareForm::ShowHelp);
  UpdateOk();
}

int TSelectTargetHardwareForm::family() const {
  for (int i = 0; i < 4; ++i) {
    if (RB_Family[std::size_t(i)]->isChecked()) return i;
  }
  return -1;
}

void TSelectTargetHardwareForm::UpdateOk() { Btn_OK->setEnabled(family() >= 0); }

void TSelectTargetHardwareForm::ShowHelp() {
  QMessageBox::information(
      this, windowTitle(),
      tr("Choose the device the logger configuration is made for. The device family decides "
         "how many signals and messages can be logged and which trigger editor is used; it can "
         "be changed later on the \"Setup\" page."));
}

}  // namespace tessmar
