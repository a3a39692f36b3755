#include "app/simple_pages.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tessmar {

InfoPage::InfoPage(QWidget* parent) : QWidget(parent) {
  LB_Messages = new QPlainTextEdit(this);
  LB_Messages->setObjectName(QStringLiteral("LB_Messages"));
  LB_Messages->setReadOnly(true);
  LB_Messages->setLineWrapMode(QPlainTextEdit::NoWrap);
  LB_Messages->setMaximumBlockCount(20000);  // long runs must not eat the memory
  QFont mono(QStringLiteral("Monospace"));
  mono.setStyleHint(QFont::TypeWriter);
  LB_Messages->setFont(mono);

  Btn_ClearMessages = new QPushButton(tr("Clear"), this);
  Btn_ClearMessages->setObjectName(QStringLiteral("Btn_ClearMessages"));
  Chk_VerboseDisplay = new QCheckBox(tr("Verbose display"), this);
  Chk_VerboseDisplay->setObjectName(QStringLiteral("Chk_VerboseDisplay"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Btn_ClearMessages);
  buttons->addWidget(Chk_VerboseDisplay);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(LB_Messages, 1);
  layout->addLayout(buttons);

  connect(Btn_ClearMessages, &QPushButton::clicked, LB_Messages, &QPlainTextEdit::clear);
  connect(Chk_VerboseDisplay, &QCheckBox::toggled, this, &InfoPage::verboseChanged);
}

void InfoPage::AppendLine(const QString& text) {
  // Every message is a line of its own. Line breaks inside it (CR LF, as the messages write them)
  // start further lines, and a break at its end leaves an empty line after it.
  QString line = text;
  line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\r'), QLatin1Char('\n'));
  LB_Messages->appendPlainText(line);
}

QStringList InfoPage::Lines() const {
  const QString all = LB_Messages->toPlainText();
  return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
}

AliasesPage::AliasesPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      tr("On this page you can define some ALIASES for names of signals in the CAN database."),
      this));
  layout->addWidget(new QLabel(
      tr("The signal names will then be replaced by the alias names in the logger configuration."),
      this));
  layout->addWidget(
      new QLabel(tr("Signal names for which no alias is found will remain unchanged ."), this));
  auto* not_done = new QLabel(tr("NOT IMPLEMENTED YET !"), this);
  not_done->setObjectName(QStringLiteral("Lab_AliasesNotImplemented"));
  not_done->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
  layout->addWidget(not_done);
  auto* grid = new QTableWidget(20, 3, this);
  grid->setObjectName(QStringLiteral("SG_Aliases"));
  grid->setHorizontalHeaderLabels({tr("Signal name"), tr("Alias"), tr("Comment")});
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->setColumnWidth(0, 260);
  grid->setColumnWidth(1, 260);
  layout->addWidget(grid, 1);
}

}  // namespace tessmar
