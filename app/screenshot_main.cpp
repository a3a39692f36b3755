// tessmar-screenshots: opens the main window (normally under the offscreen platform), fills it
// with a configuration and its CAN database and saves a PNG of every page and sub-page.
//
//   tessmar-screenshots OUTPUT_DIR [CONFIG.clc] [SOURCE.cld ...]

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/converter_page.h"
#include "app/help_launcher.h"
#include "app/language_scan.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "common/message_output.h"
#include "common/translation.h"

namespace {

QString FileName(int index, const QString& caption) {
  QString name = caption;
  name.remove(QLatin1Char('&'));
  name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("_"));
  return QStringLiteral("%1_%2.png").arg(index, 2, 10, QLatin1Char('0')).arg(name.toLower());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = QApplication::arguments();
  args.removeFirst();
  if (args.isEmpty()) {
    std::fputs("usage: tessmar-screenshots OUTPUT_DIR [CONFIG.clc] [SOURCE.cld ...]\n", stderr);
    return 2;
  }
  const QDir out(args.takeFirst());
  QDir().mkpath(out.path());
  QTemporaryDir settings_dir;

  // Settings that name the configuration, so that the start-up loads it as a user's would.
  QString config;
  QStringList sources;
  for (const QString& a : args) {
    if (a.endsWith(QStringLiteral(".clc"), Qt::CaseInsensitive)) {
      config = QFileInfo(a).absoluteFilePath();
    } else {
      sources << QFileInfo(a).absoluteFilePath();
    }
  }
  const QString ini = settings_dir.filePath(QStringLiteral("Tessmar.ini"));
  {
    QFile file(ini);
    if (file.open(QIODevice::WriteOnly)) {
      file.write("[MainWindow]\r\nVerboseDisplay=1\r\n[DeviceInfo]\r\nLoggerDeviceFamily=3\r\n"
                 "[Files]\r\nLoggerCfg=");
      file.write(config.toUtf8());
      file.write("\r\nExportDir=");
      file.write(settings_dir.path().toUtf8());
      file.write("\r\n");
    }
  }
  tessmar::AppStart start;
  start.settings_path = tessmar::ToCore(ini);
  start.notify_wait_ms = 0;
  start.start_timer = false;
  tessmar::TCanLogForm1 window(start);
  window.resize(1100, 760);
  window.show();
  // The start-up's question (load the named databases) takes its batch answer.
  tessmar::SetBatchMode(true);
  window.TimerTick();
  tessmar::SetBatchMode(false);
  window.converter_page()->SetSources(sources);
  // A conversion fills the progress and result displays.
  if (!sources.isEmpty()) window.StartConversion();

  int n = 0;
  QTabWidget* pages = window.pages();
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    QWidget* page = pages->widget(i);
    QTabWidget* sub = page->findChild<QTabWidget*>();
    const int sub_count = sub ? sub->count() : 1;
    for (int k = 0; k < sub_count; ++k) {
      QString caption = pages->tabText(i);
      if (sub) {
        sub->setCurrentIndex(k);
        caption += QLatin1Char('_') + sub->tabText(k);
      }
      QApplication::processEvents();
      const QString file = out.filePath(FileName(++n, caption));
      if (!window.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
      }
      std::printf("%s\n", qPrintable(file));
    }
  }
  // The user interface in German, the translation test mode and the program information box.
  {
    auto save = [&out](QWidget* w, const char* name) {
      QApplication::processEvents();
      const QString file = out.filePath(QString::fromLatin1(name));
      if (!w->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
      }
      std::printf("%s\n", qPrintable(file));
      return true;
    };
    tessmar::LanguageController* language = window.language();
    language->SwitchLanguage(tessmar::kLangGerman);
    pages->setCurrentIndex(int(tessmar::MainPage::kLoggerCfg));
    if (!save(&window, "logger_cfg_de.png")) return 1;
    language->SwitchLanguage(tessmar::kLangEnglish);
    tessmar::Language().set_test_mode(true);
    language->SwitchLanguage(tessmar::kLangGerman);
    pages->setCurrentIndex(int(tessmar::MainPage::kSetup));
    const bool saved = save(&window, "setup_test_mode.png");
    tessmar::Language().set_test_mode(false);
    language->SwitchLanguage(tessmar::kLangEnglish);
    if (!saved) return 1;
    QMessageBox about(QMessageBox::Information, QStringLiteral("Program Info"),
                      tessmar::ProgramInfoText(), QMessageBox::Ok, &window);
    about.show();
    if (!save(&about, "about.png")) return 1;
  }
  return 0;
}
