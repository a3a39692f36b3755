#include "app/help_launcher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWidget>

#include "app/language_scan.h"
#include "app/qt_text.h"
#include "common/desktop_registration.h"
#include "common/help_address.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "convert/settings_file.h"

namespace tessmar {
namespace {

constexpr const char* kBuildDate = __DATE__;

Answer Inform(const std::string& caption, const std::string& text) {
  Question q;
  q.caption = caption;
  q.text = text;
  q.buttons = Buttons::kOk;
  q.batch_answer = Answer::kOk;
  q.icon = Icon::kInformation;
  return Ask(q);
}

}  // namespace

// ---- Help pages ---------------------------------------------------------------------------------

HelpLauncher::HelpLauncher() {
  opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

HelpLauncher& HelpLauncher::Instance() {
  static HelpLauncher launcher;
  return launcher;
}

QString HelpLauncher::help_dir() const {
  if (!help_dir_.isEmpty()) return help_dir_;
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help"));
}

bool HelpLauncher::OpenTopic(int topic) {
  const HelpTopic* t = FindHelpTopic(topic);
  if (t == nullptr) {
    status_ = QStringLiteral("No help topic %1").arg(topic);
    ShowMessageF(kMsgWarning, "There is no help for topic %d .", topic);
    return false;
  }
  return OpenPage(QString::fromLatin1(t->page), QString::fromLatin1(t->anchor));
}

bool HelpLauncher::OpenContents() { return OpenTopic(kHelpContents); }

bool HelpLauncher::OpenKeyword(const QString& keyword) {
  const HelpTopic* t = FindHelpKeyword(ToCore(keyword));
  if (t == nullptr) {
    status_ = QStringLiteral("No help topic for \"%1\"").arg(keyword);
    ShowMessageF(kMsgWarning, "There is no help for \"%s\" .", ToCore(keyword).c_str());
    return false;
  }
  return OpenPage(QString::fromLatin1(t->page), QString::fromLatin1(t->anchor));
}

bool HelpLauncher::OpenPage(const QString& page, const QString& anchor) {
  const std::string dir = ToCore(QDir::cleanPath(QFileInfo(help_dir()).absoluteFilePath()));
  const std::string page_utf8 = ToCore(page);
  if (!page.startsWith(QStringLiteral("http://"))) {
    // A missing page would only show the browser's own error: say what is missing instead.
    const QString file = QDir(FromCore(dir)).filePath(FromCore(HelpPageName(page_utf8, language_)));
    if (!QFileInfo(file).isFile()) {
      status_ = QStringLiteral("Help page not found: ") + file;
      ShowMessageF(kMsgError, "Cannot find the help page \"%s\" .", ToCore(file).c_str());
      return false;
    }
  }
  const std::string address = HelpAddress(dir, page_utf8, ToCore(anchor), language_);
  const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(address), QUrl::TolerantMode);
  if (!opener || !opener(url)) {
    status_ = QStringLiteral("Couldn't find the HTML browser");
    ShowMessageF(kMsgError, "Could not open \"%s\" in the web browser .", address.c_str());
    return false;
  }
  return true;
}

bool ShowHelpTopic(int topic) { return HelpLauncher::Instance().OpenTopic(topic); }

QAbstractButton* MakeHelpButton(int topic, QWidget* parent, const QString& caption) {
  auto* button = new QPushButton(caption.isEmpty() ? FromCore(Tr("&Help")) : caption, parent);
  button->setProperty(kHelpTopicProperty, topic);
  if (caption.isEmpty()) MarkTranslated(button);
  QObject::connect(button, &QPushButton::clicked, button, [topic] { ShowHelpTopic(topic); });
  return button;
}

bool ShowContextHelp(QWidget* fallback) {
  for (QWidget* w : {QApplication::focusWidget(), fallback}) {
    for (; w != nullptr; w = w->parentWidget()) {
      const QVariant topic = w->property(kHelpTopicProperty);
      if (topic.isValid()) return ShowHelpTopic(topic.toInt());
    }
  }
  return HelpLauncher::Instance().OpenContents();
}

// ---- About and updates --------------------------------------------------------------------------

QString ProgramInfoText() {
  const QString version = QCoreApplication::applicationVersion();
  QString text =
      QStringLiteral("Tessmar ") + (version.isEmpty() ? QString() : version + ' ') + "- ";
  text += FromCore(Tr("CAN Logger Configuration Tool / File Conversion Utility"));
  text += QStringLiteral("\nby Quorbel, for the Kavrix CAN-bus data loggers\n");
  text += QStringLiteral("with GPS Track Preview on topographic maps (GTOPO30)\n\n");
  text += FromCore(StrPrintf("Compiled : %s .\n", kBuildDate));
  text += FromCore(
      StrPrintf("Location   : %s .\n", ToCore(QCoreApplication::applicationFilePath()).c_str()));
  text += QStringLiteral("64-bit signals supported") + QStringLiteral(" .\n");
  text +=
      QStringLiteral("Place names of the GPS map: GeoNames (www.geonames.org), CC BY 4.0 .\n\n");
  text += FromCore(GermanUi() ? StrPrintf("Updates gibt es unter %s", kUpdateSite)
                              : StrPrintf("Updates can be found at %s", kUpdateSite));
  return text;
}

void ShowProgramInfo() { Inform("Program Info", ToCore(ProgramInfoText())); }

bool CheckForUpdates() {
  const std::string address = UpdateCheckAddress(kUpdateSite, kBuildDate);
  HelpLauncher& launcher = HelpLauncher::Instance();
  if (launcher.opener && launcher.opener(QUrl(FromCore(address)))) return true;
  Inform("Tessmar",
         GermanUi()
             ? StrPrintf("Der Web-Browser konnte nicht geöffnet werden.\r\nBitte suchen Sie auf "
                         "unserer Web-Seite nach einem Update:\r\n  %s",
                         kUpdateSite)
             : StrPrintf("The web browser could not be opened.\r\nPlease look for an update on "
                         "our web site:\r\n  %s",
                         kUpdateSite));
  return false;
}

// ---- Registration -------------------------------------------------------------------------------

namespace {

bool AskAssociation(const char* extension, const char* explanation_en, const char* explanation_de) {
  Question q;
  const bool german = GermanUi();
  q.caption = german ? "Registrierung von Dateitypen für das Tessmar"
                     : "Registering file extensions for the Tessmar";
  q.text = german ? StrPrintf(
                        "Möchten Sie die Dateinamenserweiterung \"%s\" mit diesem Programm "
                        "verknüpfen ?\r\n  (%s)",
                        extension, explanation_de)
                  : StrPrintf(
                        "Do you want to associate the file extension \"%s\" with this "
                        "program ?\r\n  (%s)",
                        extension, explanation_en);
  q.buttons = Buttons::kYesNo;
  q.batch_answer = Answer::kNo;
  return Ask(q) == Answer::kYes;
}

// Refreshes a desktop database when its tool is installed (a missing tool is no error: the
// desktop reads the files at its next start).
void RunIfInstalled(const QString& tool, const std::filesystem::path& folder) {
  const QString program = QStandardPaths::findExecutable(tool);
  if (program.isEmpty()) return;
  const int code = QProcess::execute(program, {FromCore(folder.string())});
  if (code != 0)
    ShowMessageF(kMsgWarning, "\"%s\" ended with code %d .", ToCore(tool).c_str(), code);
}

}  // namespace

int RegisterFilesAndExtensions(const std::filesystem::path& settings_path,
                               const QString& program_path) {
  const std::string program = ToCore(program_path);
  // 1. Where the program lives, for other programs that want to start it.
  IniFile ini;
  ini.Load(settings_path);
  ini.Set("Registration", "Executable", program);
  std::string error;
  if (!ini.Save(settings_path, &error)) {
    ShowMessageF(kMsgError, "Could not write the settings file \"%s\" (%s) .",
                 settings_path.string().c_str(), error.c_str());
  }
  // 2., 3. The two file types, each after its question.
  const std::filesystem::path data_home = UserDataHome();
  if (data_home.empty()) {
    ShowMessage(kMsgError, "Cannot register file types: neither XDG_DATA_HOME nor HOME is set .");
    return -1;
  }
  int registered = 0;
  struct Type {
    const FileTypeAssociation& association;
    const char* explanation_en;
    const char* explanation_de;
  };
  const Type types[] = {
      {kClcAssociation,
       "CLC=Can-Logger Configuration, the configuration file of the Kavrix "
       "CAN logger",
       "CLC=Can-Logger Configuration, die Konfigurationsdatei des Kavrix-CAN-Loggers"},
      {kCldAssociation, "CLD=Can-Logger-Data, the data file produced by the Kavrix CAN logger",
       "CLD=Can-Logger-Data, die vom Kavrix-CAN-Logger erzeugte Datendatei"},
  };
  for (const Type& t : types) {
    if (!AskAssociation(t.association.extension, t.explanation_en, t.explanation_de)) continue;
    if (!RegisterMimeType(data_home, t.association, &error) ||
        !WriteDesktopEntry(data_home, program, &error)) {
      ShowMessageF(kMsgError, "Registering \"%s\" failed: %s", t.association.extension,
                   error.c_str());
      return -1;
    }
    ShowMessageF(kMsgInfo, "Registered \"%s\" files (%s) for \"%s\" .", t.association.extension,
                 t.association.mime_type, program.c_str());
    ++registered;
  }
  if (registered > 0) {
    RunIfInstalled(QStringLiteral("update-mime-database"), data_home / "mime");
    RunIfInstalled(QStringLiteral("update-desktop-database"), data_home / "applications");
  }
  return registered;
}

}  // namespace tessmar
