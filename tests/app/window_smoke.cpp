// tessmar-window-smoke: opens the main window and every tool window on a real X server with a
// window manager (scripts/window-smoke starts both) and checks that each window's frame, title
// bar included, lies inside the available area of its screen: once with no stored placement and
// once with placements that lie off the screen. Prints one line per window and a closing count;
// exits 1 when a frame is off the screen.
//
//   tessmar-window-smoke [SCREENSHOT_DIR]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/converter_page.h"
#include "app/main_window.h"
#include "candb_views/candb_page.h"
#include "candb_views/graph_msg_view.h"
#include "common/message_output.h"
#include "preview/gps_preview_form.h"
#include "preview/graph_preview_form.h"
#include "preview/signal_viewer_form.h"
#include "preview/window_placement.h"

namespace {

int passed = 0;
int failed = 0;

// Waits until the window manager has framed the window and the frame stopped moving.
void WaitForFrame(QWidget* w) {
  if (!QTest::qWaitForWindowExposed(w, 5000)) return;
  QElapsedTimer clock;
  clock.start();
  QRect last;
  int stable = 0;
  while (clock.elapsed() < 3000 && stable < 4) {
    QTest::qWait(50);
    const QRect frame = tessmar::FrameGeometryOf(w);
    stable = frame == last && frame != w->geometry() ? stable + 1 : 0;
    last = frame;
  }
}

void Check(QWidget* w, const char* round) {
  WaitForFrame(w);
  const QRect frame = tessmar::FrameGeometryOf(w);
  const QScreen* screen = w->screen();
  const QRect area = screen ? screen->availableGeometry() : QRect();
  const bool framed = frame != w->geometry();
  const bool inside = area.contains(frame);
  const bool ok = framed && inside;
  std::printf("%s %-9s %-28s frame %d,%d %dx%d  area %d,%d %dx%d%s\n", ok ? "ok  " : "FAIL", round,
              qPrintable(w->objectName()), frame.x(), frame.y(), frame.width(), frame.height(),
              area.x(), area.y(), area.width(), area.height(),
              framed ? "" : "  (no window frame: is a window manager running?)");
  ++(ok ? passed : failed);
}

void Shot(const QString& dir, const QString& name) {
  if (dir.isEmpty()) return;
  QTest::qWait(200);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    screen->grabWindow(0).save(QDir(dir).filePath(name));
  }
}

// One round: the main window, then the graph preview, the GPS preview and the message layout,
// on the settings file `ini`; closing them stores their placement there. Returns the frames.
std::vector<QRect> Round(const char* round, const std::filesystem::path& ini,
                         const QString& shots) {
  tessmar::AppStart start;
  start.settings_path = ini;
  start.notify_wait_ms = 0;
  start.start_timer = false;
  auto* window = new tessmar::TCanLogForm1(start);
  tessmar::SetBatchMode(true);  // no questions on the way
  window->show();
  window->TimerTick();
  auto* graph = new tessmar::TGraphPreviewForm(ini, window->converter_page());
  auto* map = new tessmar::TGpsPreviewForm(ini, window->converter_page());
  QWidget* layout = window->candb_page()->layout_view();
  auto* viewer = new tessmar::TSignalViewerForm(window);
  std::vector<QRect> frames;
  for (QWidget* w : {static_cast<QWidget*>(window), static_cast<QWidget*>(graph),
                     static_cast<QWidget*>(map), layout, static_cast<QWidget*>(viewer)}) {
    if (w == layout) {
      // A logged signal selected: the layout shows its message, with the message in the caption.
      window->candb_page()->SetGraphicDisplay(true);
      window->candb_page()->logged_list()->setCurrentRow(0);
    } else {
      w->show();
    }
    Check(w, round);
    frames.push_back(tessmar::FrameGeometryOf(w));
  }
  Shot(shots, QStringLiteral("windows_%1.png").arg(QString::fromLatin1(round)));
  viewer->close();
  graph->close();
  map->close();
  window->close();
  delete window;
  tessmar::SetBatchMode(false);
  return frames;
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString shots = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  QTemporaryDir dir;
  const std::filesystem::path ini = std::filesystem::path(dir.path().toStdString()) / "Tessmar.ini";
  // The example configuration: the message layout shows one of its messages.
  const std::string common = "[DeviceInfo]\r\nLoggerDeviceFamily=3\r\n[Files]\r\nLoggerCfg=" +
                             std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc\r\n";
  Write(ini, common);
  const std::vector<QRect> first = Round("default", ini, shots);
  // Started again, the windows with a stored placement come back where they were (the stored
  // corner is the frame's). The message layout opens beside the main window.
  const std::vector<QRect> again = Round("reopened", ini, shots);
  for (std::size_t i = 0; i < 3 && i < first.size() && i < again.size(); ++i) {
    const bool same = first[i] == again[i];
    std::printf("%s reopened  window %zu at the same place\n", same ? "ok  " : "FAIL", i + 1);
    ++(same ? passed : failed);
  }
  // Placements left by a larger screen: off every edge, larger than the screen.
  Write(ini, common +
                 "[MainWindow]\r\nLeft=3000\r\nTop=-60\r\nWidth=1100\r\nHeight=760\r\n"
                 "[GraphPreviewWindow]\r\nLeft=-500\r\nTop=-400\r\nWidth=820\r\nHeight=420\r\n"
                 "[GpsPreviewWindow]\r\nLeft=5000\r\nTop=4000\r\nWidth=6000\r\nHeight=5000\r\n");
  Round("off-screen", ini, shots);
  std::printf("window-smoke: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
