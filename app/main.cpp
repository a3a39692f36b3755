// tessmar: the desktop program.

#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/language_scan.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/single_instance.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "common/version.h"
#include "convert/settings_file.h"
#include "preview/signal_viewer_form.h"

namespace {

// Whatever escapes an event handler is shown in a box instead of ending the program.
class TessmarApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      QMessageBox::critical(nullptr, QStringLiteral("Tessmar"), QString::fromUtf8(e.what()));
    } catch (...) {
      QMessageBox::critical(nullptr, QStringLiteral("Tessmar"),
                            QStringLiteral("Unexpected internal error."));
    }
    return false;
  }
};

// True when the arguments switch batch mode on ("/bm" or "\\bm").
bool BatchRequested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "/bm") == 0 || std::strcmp(argv[i], "\\bm") == 0) return true;
  }
  return false;
}

// "--help" and "--version" are answered on standard output before the application object exists,
// so that they need no display and open no window. True when one of them was answered.
bool AnsweredInformationRequest(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("tessmar %s\n", tessmar::kVersion);
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(
          "Usage: tessmar [CONFIG.clc] [RECORDING.cld...] [DATABASE.dbc[,BUS]...]\n"
          "               [OUTPUT.dat|.asc|.txt|.csv...] [COMMANDS.cmd] [/bm] [/cw<WINDOW>]\n"
          "               [/firstrun]\n"
          "\n"
          "Configures Kavrix CAN loggers and converts their recordings.\n"
          "\n"
          "Arguments are classified by the text after their last dot: a logger configuration\n"
          "to load, recordings to convert ('*' and '?' select several), CAN databases to load\n"
          "for bus 1 or BUS, output names of the recordings in batch mode, a command file with\n"
          "one argument per line.\n"
          "  /bm           batch mode: load, convert the recordings and close\n"
          "  /cw<WINDOW>   window handle of a controlling program\n"
          "  /firstrun     ask for the target device again\n"
          "  --view RECORDING.cld...\n"
          "                open the recordings in the signal viewer only\n"
          "  -h, --help    this text\n"
          "  -V, --version print the program version\n"
          "\n"
          "The environment variable TESSMAR_INI names another settings file.\n"
          "For conversions without a window see 'tessmar-cli --help'.\n",
          stdout);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnsweredInformationRequest(argc, argv)) return std::fflush(stdout) == 0 ? 0 : 1;
  // A batch run needs no screen: without a display it runs on the offscreen platform.
  const bool batch = BatchRequested(argc, argv);
  if (batch && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
      qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  TessmarApplication app(argc, argv);
  // The toolkit has switched the C library to the user's locale; numbers in files, settings and
  // outputs always use the period, so the numeric part goes back to "C".
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("Tessmar"));
  QApplication::setApplicationDisplayName(QStringLiteral("Tessmar"));
  QApplication::setApplicationVersion(QString::fromLatin1(tessmar::kVersion));

  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();

  // TESSMAR_INI names another settings file (used by tests and scripts); by default
  // "Tessmar.ini" lives beside the program.
  const QString ini = qEnvironmentVariable("TESSMAR_INI");
  const std::filesystem::path settings_path =
      ini.isEmpty()
          ? tessmar::DefaultSettingsPath(tessmar::ToCore(QApplication::applicationDirPath()))
          : std::filesystem::path(tessmar::ToCore(ini));
  const int desktop_language = tessmar::LanguageFromLocale(
      std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));

  // "--view FILE.cld ...": only the signal viewer, no main window (and no single-instance lock:
  // several viewers may be open beside the program).
  if (const qsizetype view = arguments.indexOf(QStringLiteral("--view")); view >= 0) {
    std::vector<std::filesystem::path> files;
    for (qsizetype i = view + 1; i < arguments.size(); ++i) {
      files.emplace_back(tessmar::ToCore(arguments[i]));
    }
    // Without the main window's message list, warnings and errors go to standard error.
    tessmar::SetMessageHandler([](int severity, std::string_view text) {
      if (severity >= tessmar::kMsgWarning) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
      }
    });
    // The viewer speaks the program's language: the one chosen in the settings, else the
    // desktop's, as the main window does.
    tessmar::IniFile settings_ini;
    const bool language_chosen =
        settings_ini.Load(settings_path) && settings_ini.Get("MainWindow", "Language").has_value();
    tessmar::Language().SetLanguage(language_chosen ? tessmar::ReadSettings(settings_ini).language
                                                    : desktop_language);
    tessmar::LanguageController language;
    tessmar::TSignalViewerForm viewer;
    if (files.empty() || !viewer.OpenRecordings(files)) {
      std::fputs("tessmar: --view needs at least one readable recording (.cld)\n", stderr);
      return 1;
    }
    viewer.show();
    language.ApplyAtStart();
    return app.exec();
  }

  tessmar::SingleInstance instance;
  if (!instance.Acquire()) {
    // Files opened from the file manager start the program once per file: they go to the
    // running program, which opens them. A batch run stays a run of its own.
    if (!batch) {
      std::vector<std::string> files;
      for (const QString& a : arguments) files.push_back(tessmar::ToCore(a));
      const tessmar::HandedFiles handed =
          tessmar::FilesToHandOver(files, std::filesystem::current_path());
      if (!handed.empty() && instance.HandOver(handed)) return 0;
    }
    // An unattended batch run must not wait for a click: it only reports on stderr.
    if (batch) {
      std::fprintf(stderr, "%s\n", tessmar::kInstanceCaption);
    } else {
      QMessageBox::warning(nullptr, QString::fromLatin1(tessmar::kInstanceCaption),
                           QString::fromLatin1(tessmar::kInstanceText)
                               .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    return -1;
  }

  tessmar::AppStart start;
  start.arguments = arguments;
  start.desktop_language = desktop_language;
  start.settings_path = settings_path;

  tessmar::TCanLogForm1 window(start);
  instance.SetHandoffHandler(
      [&window](const tessmar::HandedFiles& files) { return window.TakeHandedFiles(files); });
  window.show();
  const int code = app.exec();
  // A batch run that failed must not report success to the script that started it.
  return code != 0 ? code : window.BatchExitCode();
}
