#pragma once
// Help pages, the update check, the program information box and the registration of the file
// types with the desktop. The addresses and files are made by the Qt-free parts in common/; this
// file opens them and asks the questions.

#include <QString>
#include <QUrl>
#include <filesystem>
#include <functional>

class QAbstractButton;
class QWidget;

namespace tessmar {

// Dynamic property of a widget: the help topic F1 opens while the focus is in it (or in a widget
// inside it).
inline constexpr char kHelpTopicProperty[] = "helpTopic";

class HelpLauncher {
 public:
  static HelpLauncher& Instance();

  // The folder of the help pages (default: "help" beside the program).
  QString help_dir() const;
  void set_help_dir(const QString& dir) { help_dir_ = dir; }
  // The help language (a language code; 1 at start).
  int language() const { return language_; }
  void set_language(int code) { language_ = code; }
  // What went wrong last ("not initialized" before the first page was opened).
  const QString& status_text() const { return status_; }

  // Help requests; true when a page was opened.
  bool OpenTopic(int topic);
  bool OpenContents();
  bool OpenKeyword(const QString& keyword);
  // Opens a page of the help folder, or an "http://" page, at an anchor.
  bool OpenPage(const QString& page, const QString& anchor);

  // Hands an address to the desktop (QDesktopServices::openUrl, xdg-open on Linux); tests
  // replace it.
  std::function<bool(const QUrl& url)> opener;

 private:
  HelpLauncher();
  QString help_dir_;
  int language_ = 1;
  QString status_ = QStringLiteral("not initialized");
};

// Opens a help topic (for the help buttons of pages and dialogs).
bool ShowHelpTopic(int topic);
// A "&Help" button that opens a topic.
QAbstractButton* MakeHelpButton(int topic, QWidget* parent, const QString& caption = QString());
// F1: the topic of the focused widget or of a widget around it, else of `fallback`, else the
// contents.
bool ShowContextHelp(QWidget* fallback);

// The text of the "Program Info" box.
QString ProgramInfoText();
// "&About...": the information box.
void ShowProgramInfo();
// "Check for &Updates (via web browser)": opens the update page; the information box when the
// browser cannot be opened. True when the page was handed over.
bool CheckForUpdates();

// "Register files and &extensions": records the program path in the settings file, then asks
// for each of ".clc" and ".cld" and registers the types the user agrees to under the user's data
// folder. Returns the number of types registered, or -1 after a failure (reported).
int RegisterFilesAndExtensions(const std::filesystem::path& settings_path,
                               const QString& program_path);

}  // namespace tessmar
