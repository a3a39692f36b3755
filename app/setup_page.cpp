#include "app/setup_page.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/canlog_config.h"

namespace tessmar {

QString PickFolder(QWidget* parent, const QString& title, const QString& current) {
  const QString start = QFileInfo(current).isDir() ? current : QString();
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QString PickProgram(QWidget* parent, const QString& title, const QString& current) {
  // Programs here carry no extension: the dialog lists folders and the files that may be run.
  // Qt's own dialog is needed for that filter.
  const QFileInfo now(current);
  QFileDialog dialog(
      parent, title,
      now.isAbsolute() && now.dir().exists() ? now.absolutePath() : QStringLiteral("/usr/bin"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
  dialog.setNameFilter(QObject::tr("Executable files (*)"));
  if (now.isFile()) dialog.selectFile(now.absoluteFilePath());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

SetupPage::SetupPage(const int& update_guard, QWidget* parent)
    : QWidget(parent), update_guard_(update_guard) {
  auto* folders = new QGroupBox(tr("Directories"), this);
  auto* grid = new QGridLayout(folders);
  int row = 0;
  auto add_row = [&](const QString& caption, const char* name, QLineEdit*& edit) {
    edit = new QLineEdit(folders);
    edit->setObjectName(QString::fromLatin1(name));
    auto* button = new QPushButton(QStringLiteral("..."), folders);
    button->setObjectName(QStringLiteral("Btn_") + QString::fromLatin1(name).mid(3));
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    grid->addWidget(new QLabel(caption, folders), row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(button, row, 2);
    ++row;
    return button;
  };
  QPushButton* b_log = add_row(tr("CAN log files"), "Ed_LogFileDir", Ed_LogFileDir);
  QPushButton* b_candb = add_row(tr("CANdb files"), "Ed_CanDbDir", Ed_CanDbDir);
  QPushButton* b_export = add_row(tr("Exported"), "Ed_ExportDir", Ed_ExportDir);
  QPushButton* b_topo = add_row(tr("Topographic map data"), "Ed_TopoDir", Ed_TopoDir);
  QPushButton* b_cfg = add_row(tr("Logger cfg"), "Ed_LoggerCfg", Ed_LoggerCfg);
  QPushButton* b_viewer =
      add_row(tr("External data viewer"), "Ed_ExternalViewer", Ed_ExternalViewer);
  grid->setColumnStretch(1, 1);

  auto folder_picker = [this](QPushButton* button, QLineEdit* edit, const QString& title,
                              void (SetupPage::*signal)(const QString&)) {
    connect(button, &QPushButton::clicked, this, [this, edit, title, signal] {
      const QString dir = PickFolder(this, title, edit->text());
      if (dir.isEmpty()) return;
      edit->setText(QDir::toNativeSeparators(dir));
      if (signal) Q_EMIT(this->*signal)(edit->text());
    });
    if (signal) {
      connect(edit, &QLineEdit::textEdited, this, [this, signal](const QString& text) {
        if (update_guard_ == 0) Q_EMIT(this->*signal)(text);
      });
    }
  };
  folder_picker(b_log, Ed_LogFileDir, tr("Folder of logged data files"),
                &SetupPage::logFileDirEdited);
  folder_picker(b_candb, Ed_CanDbDir, tr("Folder of CAN databases"), nullptr);
  folder_picker(b_export, Ed_ExportDir, tr("Export folder"), &SetupPage::exportDirEdited);
  folder_picker(b_topo, Ed_TopoDir, tr("Folder of the topographic map data"),
                &SetupPage::topoDirEdited);

  connect(b_cfg, &QPushButton::clicked, this, [this] {
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Select Logger configuration directory / name"),
        QFileInfo(Ed_LoggerCfg->text()).absolutePath(), tr("Can Logger Configurations (*.clc)"));
    if (!name.isEmpty()) Ed_LoggerCfg->setText(QDir::toNativeSeparators(name));
  });
  connect(b_viewer, &QPushButton::clicked, this, [this] {
    const QString name =
        PickProgram(this, tr("Select external Data Viewer"), Ed_ExternalViewer->text());
    if (!name.isEmpty()) Ed_ExternalViewer->setText(name);
  });

  auto* family_box = new QGroupBox(tr("Logger device family"), this);
  LB_DeviceFamily = new QListWidget(family_box);
  LB_DeviceFamily->setObjectName(QStringLiteral("LB_DeviceFamily"));
  for (uint32_t f = 0; f <= uint32_t(kKnownDeviceFamilies); ++f) {
    LB_DeviceFamily->addItem(QString::fromLatin1(FamilyLimits(f).name));
  }
  LB_DeviceFamily->setMaximumHeight(LB_DeviceFamily->sizeHintForRow(0) * 5 +
                                    2 * LB_DeviceFamily->frameWidth() + 4);
  connect(LB_DeviceFamily, &QListWidget::currentRowChanged, this, &SetupPage::ChooseEntry);
  // A click on the entry that is shown already (" unknown / future device" at the first start)
  // changes no row but is a choice all the same.
  LB_DeviceFamily->viewport()->installEventFilter(this);
  connect(LB_DeviceFamily, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const int entry = LB_DeviceFamily->row(item);
    if (entry == row_at_press_) ChooseEntry(entry);
  });
  LB_DeviceFamily->setMaximumWidth(360);
  auto* family_layout = new QVBoxLayout(family_box);
  family_layout->addWidget(LB_DeviceFamily);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(folders);
  layout->addWidget(family_box);
  // Switched only with the Ctrl key held (see LanguageController).
  Chk_TranslationTestMode = new QCheckBox(tr("translation test mode"), this);
  Chk_TranslationTestMode->setObjectName(QStringLiteral("Chk_TranslationTestMode"));
  layout->addWidget(Chk_TranslationTestMode);
  layout->addStretch(1);
}

void SetupPage::ChooseEntry(int entry) {
  if (update_guard_ > 0 || entry < 0) return;
  Q_EMIT familyChosen(entry <= 3 ? entry : 4);
}

bool SetupPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LB_DeviceFamily->viewport() && event->type() == QEvent::MouseButtonPress) {
    row_at_press_ = LB_DeviceFamily->currentRow();
  }
  return QWidget::eventFilter(watched, event);
}

void SetupPage::ShowFamily(uint32_t family) {
  LB_DeviceFamily->setCurrentRow(family < uint32_t(kKnownDeviceFamilies) ? int(family)
                                                                         : kKnownDeviceFamilies);
}

}  // namespace tessmar
