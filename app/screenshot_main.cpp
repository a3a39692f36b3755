// tessmar-screenshots: opens the main window (normally under the offscreen platform), fills it
// with a configuration and its CAN database and saves a PNG of every page and sub-page.
//
//   tessmar-screenshots OUTPUT_DIR [CONFIG.clc] [SOURCE.cld ...]

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/converter_page.h"
#include "app/gps_page.h"
#include "app/help_launcher.h"
#include "app/language_scan.h"
#include "app/main_window.h"
#include "app/password_dialog.h"
#include "app/qt_text.h"
#include "app/setup_page.h"
#include "app/target_hardware_dialog.h"
#include "app/trigger_page.h"
#include "candb_views/candb_page.h"
#include "candb_views/candb_table_view.h"
#include "candb_views/graph_msg_view.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "config/clc_file.h"
#include "config/trigger_editor.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/gps_preview_form.h"
#include "preview/graph_preview_form.h"

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
  // The toolkit has switched the C library to the user's locale; numbers in files, settings and
  // outputs always use the period, so the numeric part goes back to "C".
  std::setlocale(LC_NUMERIC, "C");
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
      file.write(
          "[MainWindow]\r\nVerboseDisplay=1\r\n[DeviceInfo]\r\nLoggerDeviceFamily=3\r\n"
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
  // TESSMAR_SHOT_LANGUAGE=49 or 33: the pages in German or French.
  if (const char* language = std::getenv("TESSMAR_SHOT_LANGUAGE")) {
    window.language()->SwitchLanguage(std::atoi(language));
  }
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
      if (sub && !sub->isTabVisible(k)) continue;  // e.g. the other family's trigger editor
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

  // ---- The editors with typical findings, and the two dialogs ----
  {
    auto save = [&out](QWidget& widget, const char* name) {
      QApplication::processEvents();
      const QString file = out.filePath(QString::fromLatin1(name));
      if (!widget.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
      }
      std::printf("%s\n", qPrintable(file));
      return true;
    };
    tessmar::T_CanLog_Config& cfg = window.config().cfg;
    const tessmar::T_CanLog_SigTab& sigs = window.config().sigs;
    std::vector<std::string> names = tessmar::TriggerSignalChoices(sigs);
    auto name = [&names](std::size_t i) { return i + 1 < names.size() ? names[i] : names.back(); };
    tessmar::TriggerPage* trigger = window.trigger_page();
    pages->setCurrentIndex(int(tessmar::MainPage::kTrigger));

    // Family 1: a second START line is flagged (the lists lie over the first line).
    const int32_t grid_actions[4] = {0, 0, 1, 2};
    const int32_t grid_ops[4] = {3, 2, 0, 4};
    const double grid_values[4] = {3000, 50, 90, 1};
    for (int i = 0; i < 4; ++i) {
      cfg.ActionOrCombi[i] = grid_actions[i];
      tessmar::SetText(cfg.SigName[i], name(std::size_t(i)));
      cfg.CompOp[i] = grid_ops[i];
      cfg.CompVal[i] = grid_values[i];
    }
    Q_EMIT window.setup_page()->familyChosen(1);
    trigger->tabs()->setCurrentWidget(trigger->grid_page());
    QApplication::processEvents();
    trigger->grid()->setCurrentCell(0, tessmar::kTrigColValue);
    if (!save(window, "trigger_grid.png")) return 1;

    // Family 0: comparisons that can never be true, and one that adds nothing.
    tessmar::SetText(cfg.SigName[0], name(0));
    cfg.ActionOrCombi[0] = 1;
    cfg.CompOp[0] = 0;
    cfg.CompVal[0] = 10;
    cfg.CompOp[1] = 2;
    cfg.CompVal[1] = 10;
    tessmar::SetText(cfg.SigName[1], name(1));
    cfg.ActionOrCombi[1] = 2;
    cfg.CompOp[2] = 0;
    cfg.CompVal[2] = 20;
    cfg.CompOp[3] = 1;
    cfg.CompVal[3] = 40;
    tessmar::SetText(cfg.SigName[2], "");
    tessmar::SetText(cfg.SigName[3], "");
    // Written in the four-line form already: the family change has nothing to rewrite.
    cfg.DeviceFamily = 0;
    Q_EMIT window.setup_page()->familyChosen(0);
    trigger->tabs()->setCurrentWidget(trigger->four_line_page());
    if (!save(window, "trigger_four_line.png")) return 1;
    // Back to the grid: the question about rewriting the trigger takes its answer (Yes).
    tessmar::SetBatchMode(true);
    Q_EMIT window.setup_page()->familyChosen(3);
    tessmar::SetBatchMode(false);

    pages->setCurrentIndex(int(tessmar::MainPage::kMessages));
    if (!save(window, "messages_etc.png")) return 1;
    window.gps_page()->ChoosePreset(0);
    pages->setCurrentIndex(int(tessmar::MainPage::kGps));
    if (!save(window, "gps.png")) return 1;

    tessmar::TSelectTargetHardwareForm target(1, &window);
    target.show();
    if (!save(target, "target_hardware.png")) return 1;
    tessmar::TPasswordDialog password(true, QStringLiteral("Enter new password (two times)"), 1,
                                      &window);
    password.SetPassword(QStringLiteral("Kavrix"));
    password.SetHint(QStringLiteral("the device name"));
    password.SetRemember(false);
    password.show();
    if (!save(password, "password.png")) return 1;
  }
  // ---- The CANdb page in the states a user meets: the tree opened to a signal, the lists with a
  // selection, the table with the logged rows marked, a search hit, and the layout of a
  // multiplexed message.
  {
    using tessmar::CANdbPage;
    CANdbPage* candb = window.candb_page();
    pages->setCurrentIndex(int(tessmar::MainPage::kCANdb));
    const auto shot = [&out](QWidget* widget, const char* name) {
      QApplication::processEvents();
      const QString file = out.filePath(QString::fromLatin1(name));
      if (!widget->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
      }
      std::printf("%s\n", qPrintable(file));
      return true;
    };
    const auto pick = [](QListWidget* list, const char* text) {
      const QList<QListWidgetItem*> found =
          list->findItems(QString::fromLatin1(text), Qt::MatchExactly);
      if (!found.isEmpty()) list->setCurrentItem(found.first());
    };
    candb->views()->setCurrentIndex(CANdbPage::kTreePage);
    if (QTreeWidgetItem* item =
            candb->TreeItemOf({"Bus1", "BMS", "BMS_CellStats", "CellTempMin"})) {
      candb->tree()->scrollToItem(item);
      candb->tree()->setCurrentItem(item);
      Q_EMIT candb->tree()->nodePressed(item, Qt::LeftButton);
    }
    pick(candb->logged_list(), "CellTempMin");
    if (!shot(&window, "candb_tree.png")) return 1;
    candb->views()->setCurrentIndex(CANdbPage::kListsPage);
    pick(candb->node_list(), "MCU");
    pick(candb->message_list(), "MCU_Motor");
    pick(candb->signal_list(), "MotorTemp");
    pick(candb->logged_list(), "MotorTemp");
    if (!shot(&window, "candb_lists.png")) return 1;
    candb->views()->setCurrentIndex(CANdbPage::kTablePage);
    candb->table_view()->SetCurrentTableRow(window.candb_table().FindRow(1, "", "", "PackVoltage"));
    if (!shot(&window, "candb_table.png")) return 1;
    candb->search_field()->setText(QStringLiteral("*Temp*"));
    Q_EMIT candb->search_field()->textEdited(candb->search_field()->text());  // as if typed
    candb->Search();
    candb->Search();
    if (!shot(&window, "candb_search.png")) return 1;
    pick(candb->logged_list(), "CellTempMin");
    candb->SetGraphicDisplay(true);
    QApplication::processEvents();
    pick(candb->logged_list(), "CellVoltMin");
    pick(candb->logged_list(), "CellTempMin");  // drawn again at the shown size
    if (!shot(candb->layout_view(), "message_layout.png")) return 1;
    candb->SetGraphicDisplay(false);
  }

  // The previews: a fifteen-minute drive of the example configuration converted into Signals with
  // the graph preview, and its GPS track over synthetic full-size terrain tiles.
  if (!config.isEmpty()) {
    QTemporaryDir preview_dir;
    const std::filesystem::path work = tessmar::ToCore(preview_dir.path());
    tessmar::LoggerConfiguration drive_config;
    tessmar::SimulatorOptions drive;
    drive.duration_s = 900;
    const bool made = tessmar::ReadClcFile(tessmar::ToCore(config), drive_config) &&
                      tessmar::SimulateRecording(drive_config, drive, work / "demo_drive.cld").ok;
    for (const tessmar::Gtopo30Tile& tile : tessmar::Gtopo30Tiles()) {
      if (made && tile.file_name == "W020N90.DEM") {
        tessmar::WriteSyntheticTile(work, tile, tessmar::SyntheticTerrain);
      }
    }
    tessmar::ConverterPage* converter = window.converter_page();
    converter->graph_preview_box()->setChecked(true);
    converter->SetSources({tessmar::FromCore((work / "demo_drive.cld").string())});
    if (made) window.StartConversion();
    QApplication::processEvents();
    tessmar::TGraphPreviewForm* graph = converter->graph_preview();
    tessmar::TGpsPreviewForm* map = converter->gps_preview();
    if (graph == nullptr || map == nullptr) {
      std::fputs("the conversion showed no previews\n", stderr);
      return 1;
    }
    graph->resize(1000, 520);
    graph->LegendClick(tessmar::kGraphLegendRowHeight * 3 + 4);  // hides channel 3
    map->resize(900, 680);
    // The tile folder as a user enters it on the "Setup" page: the open map takes it at once.
    window.setup_page()->topo_dir()->setText(tessmar::FromCore(work.string()));
    Q_EMIT window.setup_page()->topoDirEdited(window.setup_page()->topo_dir()->text());
    for (int i = 0; i < 3; ++i) map->Zoom(0.5);
    // The mouse over the middle of the track: the fix texts and the marker.
    std::size_t index = 0;
    map->track().ForEach([&](const tessmar::GpsFix& fix) {
      if (index++ != map->track().size() / 2) return;
      const tessmar::MapPoint pt = tessmar::ProjectToMap(
          map->view(), tessmar::GpsDegrees(fix.longitude), tessmar::GpsDegrees(fix.latitude));
      map->MouseAt(pt.x, pt.y);
    });
    QApplication::processEvents();
    // The hover marked its moment in the graph at the left edge; a mark further right shows the
    // marker line better.
    const tessmar::GraphPreviewModel& model = graph->model();
    graph->MarkTime(model.AbsoluteTime(model.SlotOfColumn(500)));
    graph->TimerTick();  // the info line of the shown position
    QApplication::processEvents();
    for (const auto& [widget, name] :
         {std::pair<QWidget*, const char*>{graph, "graph_preview.png"}, {map, "gps_map.png"}}) {
      const QString file = out.filePath(QString::fromLatin1(name));
      if (!widget->grab().save(file)) {
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
                      tessmar::ProgramInfoText(true), QMessageBox::Ok, &window);
    about.setTextFormat(Qt::RichText);
    about.show();
    if (!save(&about, "about.png")) return 1;
  }
  return 0;
}
