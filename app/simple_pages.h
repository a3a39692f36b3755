#pragma once
// The simpler pages of the main window: "Info" and "Aliases".

#include <QWidget>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace tessmar {

// The message list with "Clear" and "Verbose display".
class InfoPage : public QWidget {
  Q_OBJECT
 public:
  explicit InfoPage(QWidget* parent = nullptr);

  void AppendLine(const QString& text);
  QStringList Lines() const;
  QCheckBox* verbose_box() const { return Chk_VerboseDisplay; }

 Q_SIGNALS:
  void verboseChanged(bool on);

 private:
  QPlainTextEdit* LB_Messages;
  QPushButton* Btn_ClearMessages;
  QCheckBox* Chk_VerboseDisplay;
};

// Fixed texts and an empty three-column grid; nothing reads the grid.
class AliasesPage : public QWidget {
  Q_OBJECT
 public:
  explicit AliasesPage(QWidget* parent = nullptr);
};

}  // namespace tessmar
