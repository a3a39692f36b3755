#include "app/password_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/language_scan.h"
#include "app/qt_text.h"
#include "common/message_output.h"
#include "config/password_rules.h"

namespace tessmar {

TPasswordDialog::TPasswordDialog(bool two_entries, const QString& caption, int language,
                                 QWidget* parent)
    : QDialog(parent), two_entries_(two_entries), language_(language) {
  setObjectName(QStringLiteral("TPasswordDialog"));
  if (!caption.isEmpty()) {
    setWindowTitle(caption);
  } else {
    setWindowTitle(
        FromCore(Tr(two_entries ? kPasswordCaptionTwoEntries : kPasswordCaptionOneEntry)));
  }
  auto make_edit = [this](const char* name, bool masked) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(int(kMaxNameChars));
    if (masked) edit->setEchoMode(QLineEdit::Password);
    edit->setMinimumWidth(300);
    return edit;
  };
  Ed_Password1 = make_edit("Ed_Password1", true);
  Ed_Password2 = make_edit("Ed_Password2", true);
  Ed_Hint = make_edit("Ed_Hint", false);
  Ed_Hint->setReadOnly(!two_entries);
  Lab_Password2 = new QLabel(tr("Repeat password"), this);
  Lab_Password2->setVisible(two_entries);
  Ed_Password2->setVisible(two_entries);
  Chk_Remember = new QCheckBox(tr("remember the password on this PC (scrambled)"), this);
  Chk_Remember->setObjectName(QStringLiteral("Chk_Remember"));
  Chk_Remember->setVisible(false);

  Btn_OK = new QPushButton(tr("OK"), this);
  Btn_OK->setObjectName(QStringLiteral("Btn_OK"));
  Btn_OK->setDefault(true);
  Btn_Cancel = new QPushButton(tr("Cancel"), this);
  Btn_Cancel->setObjectName(QStringLiteral("Btn_Cancel"));
  Btn_Help = new QPushButton(tr("Help"), this);
  Btn_Help->setObjectName(QStringLiteral("Btn_Help"));
  connect(Btn_OK, &QPushButton::clicked, this, &TPasswordDialog::accept);
  connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(Btn_Help, &QPushButton::clicked, this, &TPasswordDialog::ShowHelp);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr("Enter password"), this), 0, 0);
  grid->addWidget(Ed_Password1, 0, 1);
  grid->addWidget(Lab_Password2, 1, 0);
  grid->addWidget(Ed_Password2, 1, 1);
  grid->addWidget(new QLabel(tr("Hint (optional)"), this), 2, 0);
  grid->addWidget(Ed_Hint, 2, 1);
  grid->addWidget(Chk_Remember, 3, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Btn_OK);
  buttons->addWidget(Btn_Cancel);
  buttons->addWidget(Btn_Help);
  Lab_Prompt = new QLabel(windowTitle(), this);
  Lab_Prompt->setObjectName(QStringLiteral("Lab_Prompt"));
  Lab_Prompt->setStyleSheet(QStringLiteral("font-weight: bold;"));
  connect(this, &QWidget::windowTitleChanged, Lab_Prompt, &QLabel::setText);
  SetTranslationTag(Lab_Prompt, kTagNoTranslate);  // it shows the caption, translated with it
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Lab_Prompt);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  Ed_Password1->setFocus();
}

void TPasswordDialog::SetPassword(const QString& password) {
  Ed_Password1->setText(password);
  Ed_Password2->setText(password);
}

void TPasswordDialog::SetHint(const QString& hint) { Ed_Hint->setText(hint); }

void TPasswordDialog::SetRemember(bool remember) {
  Chk_Remember->setVisible(true);
  Chk_Remember->setChecked(remember);
}

QString TPasswordDialog::password() const { return Ed_Password1->text(); }

QString TPasswordDialog::hint() const {
  if (!two_entries_) return Ed_Hint->text();
  return FromCore(CleanPasswordHint(ToCore(Ed_Hint->text())));
}

bool TPasswordDialog::remember() const { return Chk_Remember->isChecked(); }

void TPasswordDialog::accept() {
  if (two_entries_ && Ed_Password1->text() != Ed_Password2->text()) {
    setWindowTitle(FromCore(PasswordMismatchCaption(language_)));
    Ed_Password1->clear();
    Ed_Password2->clear();
    Ed_Password1->setFocus();
    return;
  }
  QDialog::accept();
}

void TPasswordDialog::ShowHelp() {
  QMessageBox::information(
      this, windowTitle(),
      tr("A logger configuration with a password is saved with its lines scrambled, and the "
         "program asks for the password before it loads such a file.\n\n"
         "The scrambling only hides the file from casual reading: it is NOT encryption and "
         "does not protect the configuration against a determined reader.\n\n"
         "With \"remember the password on this PC (scrambled)\" the password is kept in the "
         "program's settings file (scrambled the same way), so that this computer does not ask "
         "for it again."));
}

}  // namespace tessmar
