#pragma once
// The "Setup" page: folders with their "..." pickers, the logger configuration file name, the
// external data viewer and the device family list.

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace tessmar {

class SetupPage : public QWidget {
  Q_OBJECT
 public:
  SetupPage(const int& update_guard, QWidget* parent = nullptr);

  QLineEdit* log_file_dir() const { return Ed_LogFileDir; }
  QLineEdit* can_db_dir() const { return Ed_CanDbDir; }
  QLineEdit* export_dir() const { return Ed_ExportDir; }
  QLineEdit* topo_dir() const { return Ed_TopoDir; }
  QLineEdit* logger_cfg() const { return Ed_LoggerCfg; }
  QLineEdit* external_viewer() const { return Ed_ExternalViewer; }
  QListWidget* family_list() const { return LB_DeviceFamily; }
  QCheckBox* translation_test_box() const { return Chk_TranslationTestMode; }

  // Shows the entry of a family (4 and above, and -1, show " unknown / future device").
  void ShowFamily(uint32_t family);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 Q_SIGNALS:
  void logFileDirEdited(const QString& dir);
  void exportDirEdited(const QString& dir);
  void topoDirEdited(const QString& dir);
  void familyChosen(int family);

 private:
  // The user chose an entry of the family list: 0..3 are those families, any other entry 4.
  void ChooseEntry(int entry);

  QLineEdit* Ed_LogFileDir;
  QLineEdit* Ed_CanDbDir;
  QLineEdit* Ed_ExportDir;
  QLineEdit* Ed_TopoDir;
  QLineEdit* Ed_LoggerCfg;
  QLineEdit* Ed_ExternalViewer;
  QListWidget* LB_DeviceFamily;
  QCheckBox* Chk_TranslationTestMode;
  const int& update_guard_;
  int row_at_press_ = -1;  // current row of the family list when the mouse was pressed
};

// The folder picker of the "..." buttons: starts at the current folder when it exists; returns
// the chosen folder or an empty text when cancelled.
QString PickFolder(QWidget* parent, const QString& title, const QString& current);
// A program picker: folders and the files that may be run; "" when cancelled.
QString PickProgram(QWidget* parent, const QString& title, const QString& current);

}  // namespace tessmar
