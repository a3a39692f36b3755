#pragma once
// Help pages, the update check, the program information box and the registration of the file
// types with the desktop. The addresses and files are made by the Qt-free parts in common/; this
// file opens them and asks the questions.

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

class QAbstractButton;
class QTextBrowser;

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

  // The language whose version of a help page ("...NN.htm") exists: the help language, else
  // English.
  int PageLanguage(const std::string& page) const;
  // The address of a page of the help folder at an anchor (empty: the top), in that language.
  QUrl PageUrl(const char* page, const char* anchor) const;

  // Help requests; true when a page was opened (in the browser or in the help window).
  bool OpenTopic(int topic);
  bool OpenContents();
  bool OpenKeyword(const QString& keyword);
  // Opens a page of the help folder, or an "http://" page, at an anchor.
  bool OpenPage(const QString& page, const QString& anchor);

  // Hands an address to the web browser; false when no browser could be started. The default
  // (OpenInBrowser) runs xdg-open; tests replace it.
  std::function<bool(const QUrl& url)> opener;

  // The help window of our own, which shows a page when no browser opens it.
  void ShowInHelpWindow(const QUrl& url);
  QWidget* help_window() const { return help_window_; }

 private:
  HelpLauncher();
  QString help_dir_;
  QPointer<QWidget> help_window_;
  int language_ = 1;
  QString status_ = QStringLiteral("not initialized");
};

// Hands an address to the web browser through xdg-open. A local page at an anchor is opened
// through a small page in the user's runtime folder that goes on to the anchor (the desktop's
// opener would lose it). False when xdg-open cannot be started; when it starts but finds no
// browser, the page opens in the help window instead.
bool OpenInBrowser(const QUrl& url);

// The help window: a browser of its own for the help pages, with "Back", "Forward" and
// "Contents".
class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  void Show(const QUrl& url);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

// Opens a help topic (for the help buttons of pages and dialogs).
bool ShowHelpTopic(int topic);
// A "&Help" button that opens a topic.
QAbstractButton* MakeHelpButton(int topic, QWidget* parent, const QString& caption = QString());
// F1: the topic of the focused widget or of a widget around it, else of `fallback`, else the
// contents.
bool ShowContextHelp(QWidget* fallback);

// The text of the "Program Info" box; with rich text, the documentation is a link.
QString ProgramInfoText(bool rich_text = false);
// The address of the documentation shipped with the program (the help's contents page).
QUrl DocumentationUrl();
// "&About...": the information box; its link opens the documentation as the help does.
void ShowProgramInfo(QWidget* parent = nullptr);
// "Check for &Updates (via web browser)": opens the update page; the information box when the
// browser cannot be opened. True when the page was handed over.
bool CheckForUpdates();

// "Register files and &extensions": records the program path in the settings file, then asks
// for each of ".clc" and ".cld" and registers the types the user agrees to under the user's data
// folder. Returns the number of types registered, or -1 after a failure (reported).
int RegisterFilesAndExtensions(const std::filesystem::path& settings_path,
                               const QString& program_path);

}  // namespace tessmar
