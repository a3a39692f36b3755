#include "app/help_launcher.h"

#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/instance_rules.h"
#include "app/language_scan.h"
#include "app/qt_text.h"
#include "common/desktop_registration.h"
#include "common/help_address.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "convert/settings_file.h"
#include "preview/window_placement.h"

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

HelpLauncher::HelpLauncher() { opener = OpenInBrowser; }

HelpLauncher& HelpLauncher::Instance() {
  static HelpLauncher launcher;
  return launcher;
}

QString HelpLauncher::help_dir() const {
  if (!help_dir_.isEmpty()) return help_dir_;
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help"));
}

int HelpLauncher::PageLanguage(const std::string& page) const {
  const QDir dir(help_dir());
  // A language without pages of its own (French) reads the English ones.
  if (!dir.exists(FromCore(HelpPageName(page, language_))) &&
      dir.exists(FromCore(HelpPageName(page, kLangEnglish)))) {
    return kLangEnglish;
  }
  return language_;
}

QUrl HelpLauncher::PageUrl(const char* page, const char* anchor) const {
  const std::string dir = ToCore(QDir::cleanPath(QFileInfo(help_dir()).absoluteFilePath()));
  return QUrl::fromEncoded(
      QByteArray::fromStdString(HelpAddress(dir, page, anchor, PageLanguage(page))),
      QUrl::TolerantMode);
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
  const int language = PageLanguage(page_utf8);
  if (!page.startsWith(QStringLiteral("http://"))) {
    // A missing page would only show the browser's own error: say what is missing instead.
    const QString file = QDir(FromCore(dir)).filePath(FromCore(HelpPageName(page_utf8, language)));
    if (!QFileInfo(file).isFile()) {
      status_ = QStringLiteral("Help page not found: ") + file;
      ShowMessageF(kMsgError, "Cannot find the help page \"%s\" .", ToCore(file).c_str());
      return false;
    }
  }
  const std::string address = HelpAddress(dir, page_utf8, ToCore(anchor), language);
  const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(address), QUrl::TolerantMode);
  if (opener && opener(url)) return true;
  status_ = QStringLiteral("Couldn't find the HTML browser");
  if (!url.isLocalFile()) {
    ShowMessageF(kMsgError, "Could not open \"%s\" in the web browser .", address.c_str());
    return false;
  }
  // Without a browser the help window of our own shows the page.
  ShowMessageF(kMsgInfo, "No web browser could be started: the help is shown in the help window.");
  ShowInHelpWindow(url);
  return true;
}

void HelpLauncher::ShowInHelpWindow(const QUrl& url) {
  if (help_window_ == nullptr) {
    auto* window = new HelpWindow(nullptr);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    help_window_ = window;
  }
  static_cast<HelpWindow*>(help_window_.data())->Show(url);
}

// ---- The browser and the help window ------------------------------------------------------------

namespace {

// Writes the page that goes on to `url` into the user's runtime folder; its address, or an empty
// one when it cannot be written.
QUrl RedirectPageFor(const QUrl& url) {
  std::string error;
  const std::filesystem::path folder = UserRuntimeFolder(
      std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"), unsigned(::getuid()), &error);
  if (folder.empty()) return {};
  const QString path = FromCore((folder / "tessmar-help.htm").string());
  const std::string page = HelpRedirectPage(ToCore(url.toString(QUrl::FullyEncoded)));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(page.data(), qint64(page.size())) != qint64(page.size()) || !file.flush()) {
    return {};
  }
  return QUrl::fromLocalFile(path);
}

}  // namespace

bool OpenInBrowser(const QUrl& url) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (program.isEmpty()) return false;
  QUrl target = url;
  if (url.isLocalFile() && url.hasFragment()) {
    const QUrl redirect = RedirectPageFor(url);
    if (!redirect.isEmpty()) target = redirect;
  }
  // xdg-open ends with an error when it finds no browser; it may also run as long as the browser
  // it started, so the process object has no parent: a browser still open when the program ends
  // stays open.
  auto* process = new QProcess;
  QObject::connect(process, &QProcess::finished, process,
                   [process, url](int code, QProcess::ExitStatus status) {
                     process->deleteLater();
                     if (status == QProcess::NormalExit && code == 0) return;
                     ShowMessageF(kMsgInfo,
                                  "The web browser could not be opened (xdg-open: %d): the help "
                                  "is shown in the help window.",
                                  code);
                     if (url.isLocalFile()) HelpLauncher::Instance().ShowInHelpWindow(url);
                   });
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  process->start(program, {target.toString(QUrl::FullyEncoded)});
  if (!process->waitForStarted(5000)) {
    delete process;
    return false;
  }
  return true;
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Help"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setOpenExternalLinks(true);  // addresses on the web go to the desktop
  auto* back = new QPushButton(QStringLiteral("Back"), this);
  auto* forward = new QPushButton(QStringLiteral("Forward"), this);
  auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);
  connect(contents, &QPushButton::clicked, this, [this] {
    const HelpTopic* t = FindHelpTopic(kHelpContents);
    browser_->setSource(HelpLauncher::Instance().PageUrl(t->page, t->anchor));
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back);
  buttons->addWidget(forward);
  buttons->addWidget(contents);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_, 1);
  PlaceWindow(this, std::nullopt, QSize(760, 620), DefaultPlacement::kOverOwner, 2);
}

void HelpWindow::Show(const QUrl& url) {
  browser_->setSource(url);
  show();
  raise();
  activateWindow();
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

QUrl DocumentationUrl() { return HelpLauncher::Instance().PageUrl("tessmarNN.htm", ""); }

QString ProgramInfoText(bool rich_text) {
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
  // The documentation shipped with the program, and where updates are looked for.
  const int code = Language().code();
  text += FromCore(code == kLangGerman   ? "Dokumentation: "
                   : code == kLangFrench ? "Documentation : "
                                         : "Documentation: ");
  const QUrl docs = DocumentationUrl();
  const QString updates = FromCore(
      code == kLangGerman   ? "\nUpdates: Hilfe / Nach Updates suchen (per Web-Browser)"
      : code == kLangFrench ? "\nMises à jour : Aide / Rechercher des mises à jour (via le "
                              "navigateur Web)"
                            : "\nUpdates: Help / Check for Updates (via web browser)");
  if (!rich_text) return text + docs.toLocalFile() + updates;
  QString html = text.toHtmlEscaped();
  html += QStringLiteral("<a href=\"%1\">%2</a>")
              .arg(docs.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                   docs.toLocalFile().toHtmlEscaped());
  html += updates.toHtmlEscaped();
  return html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
}

void ShowProgramInfo(QWidget* parent) {
  if (BatchMode()) return;
  QMessageBox box(QMessageBox::Information, FromCore(Tr("Program Info")), ProgramInfoText(true),
                  QMessageBox::Ok, parent);
  box.setTextFormat(Qt::RichText);
  // The link opens as the help does: in the browser, else in the help window.
  for (QLabel* label : box.findChildren<QLabel*>()) {
    label->setOpenExternalLinks(false);
    QObject::connect(label, &QLabel::linkActivated, &box, [](const QString& link) {
      HelpLauncher& launcher = HelpLauncher::Instance();
      const QUrl url(link);
      if (!launcher.opener || !launcher.opener(url)) launcher.ShowInHelpWindow(url);
    });
  }
  box.exec();
}

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
