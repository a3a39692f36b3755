#include "preview/gps_preview_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "convert/settings_file.h"
#include "preview/window_placement.h"
#include "preview_model/map_grid.h"
#include "preview_model/place_list.h"

namespace tessmar {
namespace {

constexpr const char* kSection = "GpsPreviewWindow";
constexpr std::size_t kMaxDirectoryChars = 255;
constexpr int kMarkerSize = 16;

QColor Rgb(std::uint32_t rgb) { return QColor::fromRgb(QRgb(0xFF000000u | rgb)); }

// Shows the map picture; reports the mouse and size changes to the window.
class MapCanvas : public QWidget {
 public:
  MapCanvas(TGpsPreviewForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, form_->picture());
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    form_->MouseAt(int(e->position().x()), int(e->position().y()));
  }
  void resizeEvent(QResizeEvent*) override { form_->MapResized(); }

 private:
  TGpsPreviewForm* form_;
};

QPixmap MarkerPixmap() {
  QPixmap pixmap(kMarkerSize, kMarkerSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 0, 255), 2));
  p.drawEllipse(QRectF(2, 2, kMarkerSize - 4, kMarkerSize - 4));
  p.drawLine(QPointF(kMarkerSize / 2.0, 0), QPointF(kMarkerSize / 2.0, kMarkerSize));
  p.drawLine(QPointF(0, kMarkerSize / 2.0), QPointF(kMarkerSize, kMarkerSize / 2.0));
  return pixmap;
}

// The grid's lines, under everything else: light grey on white, a veil of white over the tiles.
void DrawGridLines(QPainter& p, const MapGrid& grid, bool topo, int width, int height) {
  p.setPen(QPen(topo ? QColor(255, 255, 255, 110) : Rgb(0xD8D8D8), 1));
  for (const MapGridLine& line : grid.meridians) p.drawLine(line.pixel, 0, line.pixel, height - 1);
  for (const MapGridLine& line : grid.parallels) p.drawLine(0, line.pixel, width - 1, line.pixel);
}

// A text on a pale box so that it reads over the track and the tiles; top_left of the box.
void DrawBoxedText(QPainter& p, QPoint top_left, const QString& text) {
  const QFontMetrics fm = p.fontMetrics();
  const QRect box(top_left, QSize(fm.horizontalAdvance(text) + 4, fm.height()));
  p.fillRect(box, QColor(255, 255, 255, 190));
  p.drawText(box, Qt::AlignCenter, text);
}

// Longitudes along the top edge, latitudes along the left edge above their lines; a label that
// would run into the previous one (a narrow window) is left out.
void DrawGridLabels(QPainter& p, const MapGrid& grid, int width) {
  const QFontMetrics fm = p.fontMetrics();
  const int top_row = fm.height() + 2;
  p.setPen(Rgb(0x505050));
  int free_from = 0;  // first x after the previous longitude label
  for (const MapGridLine& line : grid.meridians) {
    const QString text = QString::fromStdString(line.label);
    const int w = fm.horizontalAdvance(text) + 4;
    const int left = std::clamp(line.pixel - w / 2, 0, std::max(0, width - w));
    if (left < free_from) continue;
    DrawBoxedText(p, QPoint(left, 1), text);
    free_from = left + w + 4;
  }
  int free_above = std::numeric_limits<int>::max();  // top of the previous latitude label
  for (const MapGridLine& line : grid.parallels) {   // south to north
    const int top = line.pixel - fm.height();
    if (top < top_row) break;  // would cover the longitudes
    if (top + fm.height() > free_above) continue;
    DrawBoxedText(p, QPoint(1, top), QString::fromStdString(line.label));
    free_above = top;
  }
}

// The scale bar in the lower right corner: a line with end ticks, its length above it.
void DrawScaleBar(QPainter& p, const MapScaleBar& bar, int width, int height) {
  if (bar.pixels <= 0 || bar.pixels > width - 20) return;
  const QFontMetrics fm = p.fontMetrics();
  const int right = width - 12, left = right - bar.pixels, y = height - 10;
  const QString text = QString::fromStdString(bar.text);
  const int text_w = fm.horizontalAdvance(text);
  const int box_left = std::min(left, (left + right - text_w) / 2) - 4;
  p.fillRect(QRect(QPoint(box_left, y - fm.height() - 6), QPoint(right + 4, y + 4)),
             QColor(255, 255, 255, 190));
  p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(left, y, right, y);
  p.drawLine(left, y - 4, left, y);
  p.drawLine(right, y - 4, right, y);
  p.drawText(QRect(left, y - fm.height() - 5, bar.pixels, fm.height()), Qt::AlignCenter, text);
}

}  // namespace

std::filesystem::path TGpsPreviewForm::DefaultGtopo30Directory() {
  return DefaultTopographicMapData();
}

TGpsPreviewForm::TGpsPreviewForm(const std::filesystem::path& ini_path, QWidget* parent,
                                 double tile_cell_degrees)
    : QWidget(parent, Qt::Window), ini_path_(ini_path), cache_(tile_cell_degrees) {
  setObjectName(QStringLiteral("TGpsPreviewForm"));
  setWindowTitle(tr("GPS Track Preview"));
  Chk_Cities = new QCheckBox(tr("Cities"), this);
  Chk_Cities->setObjectName(QStringLiteral("Chk_Cities"));
  Chk_Cities->setChecked(true);
  Chk_Track = new QCheckBox(tr("Track"), this);
  Chk_Track->setObjectName(QStringLiteral("Chk_Track"));
  Chk_Track->setChecked(true);
  Chk_Topo = new QCheckBox(tr("Topo"), this);
  Chk_Topo->setObjectName(QStringLiteral("Chk_Topo"));
  Btn_ZoomIn = new QPushButton(tr("zoom in"), this);
  Btn_ZoomOut = new QPushButton(tr("zoom out"), this);
  Btn_West = new QPushButton(tr("go WEST"), this);
  Btn_East = new QPushButton(tr("go EAST"), this);
  Btn_North = new QPushButton(tr("go NORTH"), this);
  Btn_South = new QPushButton(tr("go SOUTH"), this);
  Lab_MousePos = new QLabel(this);
  Lab_MousePos->setObjectName(QStringLiteral("Lab_MousePos"));
  Lab_FixPos = new QLabel(this);
  Lab_FixPos->setObjectName(QStringLiteral("Lab_FixPos"));
  Lab_FixTime = new QLabel(this);
  Lab_FixTime->setObjectName(QStringLiteral("Lab_FixTime"));
  Lab_FixStatus = new QLabel(this);
  Lab_FixStatus->setObjectName(QStringLiteral("Lab_FixStatus"));
  map_view_ = new MapCanvas(this, this);
  auto* marker = new QLabel(map_view_);
  marker->setPixmap(MarkerPixmap());
  marker->setFixedSize(kMarkerSize, kMarkerSize);
  marker->setAttribute(Qt::WA_TransparentForMouseEvents);
  marker->hide();
  marker_ = marker;

  auto* controls = new QHBoxLayout;
  for (QWidget* w :
       std::initializer_list<QWidget*>{Chk_Cities, Chk_Track, Chk_Topo, Btn_ZoomIn, Btn_ZoomOut,
                                       Btn_West, Btn_East, Btn_North, Btn_South}) {
    controls->addWidget(w);
  }
  controls->addStretch(1);
  auto* labels = new QGridLayout;
  labels->addWidget(new QLabel(tr("Mouse:"), this), 0, 0);
  labels->addWidget(Lab_MousePos, 0, 1);
  labels->addWidget(new QLabel(tr("Nearest fix:"), this), 1, 0);
  labels->addWidget(Lab_FixPos, 1, 1);
  labels->addWidget(Lab_FixTime, 1, 2);
  labels->addWidget(Lab_FixStatus, 1, 3);
  labels->setColumnStretch(3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(controls);
  layout->addWidget(map_view_, 1);
  layout->addLayout(labels);

  resize(760, 560);
  ReadWindowPlacement(this, ini_path_, kSection, DefaultPlacement::kOverOwner, 1);
  topo_wanted_ = ReadIniInt(ini_path_, kSection, "ShowTopo", 1) != 0;
  Chk_Topo->setChecked(topo_wanted_);
  std::string dir =
      ReadIniString(ini_path_, kSection, "GTOPO30_Directory", DefaultGtopo30Directory().string());
  if (dir.size() > kMaxDirectoryChars) dir.resize(kMaxDirectoryChars);
  SetGtopo30Directory(dir);

  const auto redraw = [this] {
    if (!busy_) Redraw();
  };
  for (QCheckBox* box : {Chk_Cities, Chk_Track, Chk_Topo}) {
    connect(box, &QCheckBox::toggled, this, redraw);
  }
  // The user's choice, kept while a missing tile folder greys the box out.
  connect(Chk_Topo, &QCheckBox::toggled, this, [this](bool on) {
    if (!busy_) topo_wanted_ = on;
  });
  connect(Btn_ZoomIn, &QPushButton::clicked, this, [this] { Zoom(2); });
  connect(Btn_ZoomOut, &QPushButton::clicked, this, [this] { Zoom(0.5); });
  connect(Btn_West, &QPushButton::clicked, this, [this] { Pan(PanDirection::kWest); });
  connect(Btn_East, &QPushButton::clicked, this, [this] { Pan(PanDirection::kEast); });
  connect(Btn_North, &QPushButton::clicked, this, [this] { Pan(PanDirection::kNorth); });
  connect(Btn_South, &QPushButton::clicked, this, [this] { Pan(PanDirection::kSouth); });
  busy_ = false;
}

void TGpsPreviewForm::SetGtopo30Directory(const std::filesystem::path& dir) {
  gtopo30_dir_ = dir;
  std::error_code ec;
  const bool exists = std::filesystem::is_directory(dir, ec);
  const bool was_busy = busy_;
  busy_ = true;
  const bool was_on = Chk_Topo->isChecked();
  // A folder that appears brings back what the user chose before it went missing.
  Chk_Topo->setChecked(exists && topo_wanted_);
  Chk_Topo->setEnabled(exists);
  busy_ = was_busy;
  if (!busy_ && isVisible() && (was_on || Chk_Topo->isChecked())) Redraw();
}

void TGpsPreviewForm::SetTimeMarkCallback(std::function<void(double)> callback) {
  time_mark_ = std::move(callback);
}

void TGpsPreviewForm::ShowAndSetArea(double lat_min, double lat_max, double lon_min,
                                     double lon_max) {
  show();
  view_.width = map_view_->width();
  view_.height = map_view_->height();
  SetMapView(view_, lon_max, lon_min, lat_max, lat_min);
}

void TGpsPreviewForm::ClearTrack() {
  track_.Clear();
  marker_->hide();
}

void TGpsPreviewForm::AddFix(const GpsFix& fix) { track_.Add(fix); }

void TGpsPreviewForm::ShowFix(const GpsFix& fix) {
  PlaceMarker(GpsDegrees(fix.longitude), GpsDegrees(fix.latitude));
}

void TGpsPreviewForm::Zoom(double factor) {
  if (busy_) return;
  ZoomMap(view_, factor);
  Redraw();
}

void TGpsPreviewForm::Pan(PanDirection direction) {
  if (busy_) return;
  PanMap(view_, direction);
  Redraw();
}

void TGpsPreviewForm::MapResized() {
  if (busy_) return;
  view_.width = map_view_->width();
  view_.height = map_view_->height();
  SetMapView(view_, view_.lon_max, view_.lon_min, view_.lat_max, view_.lat_min);
  if (isVisible()) Redraw();
}

bool TGpsPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    escape_pressed_ = true;
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TGpsPreviewForm::Redraw() {
  if (busy_) {
    // Asked again while tiles are read (events run meanwhile): draw once more afterwards.
    redraw_again_ = true;
    return;
  }
  busy_ = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  view_.width = map_view_->width();
  view_.height = map_view_->height();
  picture_ = QImage(view_.width, view_.height, QImage::Format_RGB32);
  const bool topo = Chk_Topo->isChecked();
  if (topo && picture_.depth() == 32) {
    // Reading tiles can take a while: let the window see the Escape key now and then.
    escape_pressed_ = false;
    qApp->installEventFilter(this);
    QElapsedTimer since_events;
    since_events.start();
    cache_.Ensure(view_, gtopo30_dir_, [this, &since_events] {
      if (since_events.elapsed() > 50) {
        QCoreApplication::processEvents();
        since_events.restart();
      }
      return escape_pressed_;
    });
    qApp->removeEventFilter(this);
    RenderTopography(view_, cache_, reinterpret_cast<std::uint32_t*>(picture_.bits()),
                     int(picture_.bytesPerLine() / 4));
  } else {
    picture_.fill(Qt::white);
  }
  QPainter p(&picture_);
  if (topo && picture_.depth() != 32) p.drawText(QPoint(2, 14), tr("Unsupported bitmap format"));
  const MapGrid grid = MakeMapGrid(view_);
  DrawGridLines(p, grid, topo, view_.width, view_.height);
  if (Chk_Cities->isChecked()) {
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const int ascent = p.fontMetrics().ascent();
    const QColor text_colour = topo ? QColor(Qt::red) : Rgb(0x808080);
    const int count = PlaceListLength();
    for (int i = 0; i < count; ++i) {
      const Place& place = kPlaceList[i];
      const MapPoint pt = ProjectToMap(view_, place.longitude, place.latitude);
      if (!pt.inside) continue;
      p.setPen(Qt::red);
      p.drawEllipse(QPoint(pt.x, pt.y), 3, 3);
      p.setPen(text_colour);
      p.drawText(QPoint(pt.x + 5, pt.y - 6 + ascent), QString::fromUtf8(place.name));
    }
  }
  if (Chk_Track->isChecked()) {
    std::vector<QPoint> line;
    track_.ForEach([&](const GpsFix& fix) {
      const MapPoint pt = ProjectToMap(view_, GpsDegrees(fix.longitude), GpsDegrees(fix.latitude));
      if (!pt.inside) return;  // the line continues from the last inside point
      line.emplace_back(pt.x, line.empty() ? pt.y + 1 : pt.y);
    });
    p.setPen(QPen(Qt::black, 1));
    if (line.size() > 1) p.drawPolyline(line.data(), int(line.size()));
    if (line.size() == 1) p.drawPoint(line.front());
  }
  QFont small = p.font();
  small.setPixelSize(10);
  p.setFont(small);
  DrawGridLabels(p, grid, view_.width);
  DrawScaleBar(p, MakeMapScaleBar(view_), view_.width, view_.height);
  p.end();
  if (marker_->isVisible()) MouseAt(-1, -1);  // the marked fix may have moved or left the view
  QApplication::restoreOverrideCursor();
  map_view_->update();
  busy_ = false;
  if (redraw_again_) {
    redraw_again_ = false;
    QTimer::singleShot(0, this, &TGpsPreviewForm::Redraw);
  }
}

void TGpsPreviewForm::MouseAt(int x, int y) {
  if (x >= 0 && y >= 0) {
    double lon = 0, lat = 0;
    MapPixelToPosition(view_, x, y, &lon, &lat);
    std::string text = PositionText(lon, lat);
    int height = 0;
    if (cache_.Lookup(lat, lon, &height)) text += " " + std::to_string(height) + " m";
    Lab_MousePos->setText(QString::fromStdString(text));
    marked_lon_ = lon;
    marked_lat_ = lat;
  }
  const GpsFix* fix = track_.Nearest(marked_lon_, marked_lat_);
  const bool shown =
      fix != nullptr &&
      ProjectToMap(view_, GpsDegrees(fix->longitude), GpsDegrees(fix->latitude)).inside;
  if (!shown) {
    marker_->hide();
    Lab_FixPos->clear();
    Lab_FixTime->clear();
    Lab_FixStatus->clear();
    return;
  }
  Lab_FixPos->setText(QString::fromStdString(FixPositionText(*fix)));
  Lab_FixTime->setText(QString::fromStdString(FixDateTimeText(*fix)));
  Lab_FixStatus->setText(QString::fromStdString(FixStatusText(*fix)));
  PlaceMarker(GpsDegrees(fix->longitude), GpsDegrees(fix->latitude));
  const double t = FixMarkTime(*fix);
  if (t >= 0 && time_mark_ && !marking_ && x >= 0) {
    marking_ = true;  // a mark that makes the graph repaint must not start another one
    time_mark_(t);
    marking_ = false;
  }
}

void TGpsPreviewForm::PlaceMarker(double lon, double lat) {
  const MapPoint pt = ProjectToMap(view_, lon, lat);
  if (!pt.inside) {
    marker_->move(0, 0);
    marker_->hide();
    return;
  }
  marker_->move(pt.x - kMarkerSize / 2, pt.y - kMarkerSize / 2);
  marker_->show();
}

void TGpsPreviewForm::closeEvent(QCloseEvent* event) {
  WriteWindowPlacement(this, ini_path_, kSection);
  WriteIniInt(ini_path_, kSection, "ShowTopo", topo_wanted_ ? 1 : 0);
  ClearTrack();
  QWidget::closeEvent(event);
}

}  // namespace tessmar
