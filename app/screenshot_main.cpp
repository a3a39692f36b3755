// tessmar-screenshots: opens the main window (normally under the offscreen platform), fills it
// with a configuration and its CAN database and saves a PNG of every page and sub-page.
//
//   tessmar-screenshots OUTPUT_DIR [CONFIG.clc] [SOURCE.cld ...]

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/converter_page.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "common/message_output.h"
#include "config/clc_file.h"
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

  // The previews: a fifteen-minute drive of the example configuration converted into Signals with
  // the graph preview, and its GPS track over synthetic full-size terrain tiles.
  if (!config.isEmpty()) {
    QTemporaryDir preview_dir;
    const std::filesystem::path work = tessmar::ToCore(preview_dir.path());
    tessmar::LoggerConfiguration drive_config;
    tessmar::SimulatorOptions drive;
    drive.duration_s = 900;
    const bool made =
        tessmar::ReadClcFile(tessmar::ToCore(config), drive_config) &&
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
    map->SetGtopo30Directory(work);
    map->topo_box()->setChecked(true);
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
  return 0;
}
