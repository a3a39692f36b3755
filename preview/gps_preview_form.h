#pragma once
// "GPS Track Preview": the recorded track on a latitude/longitude map, optionally coloured by
// terrain height from GTOPO30 tiles, with place names, a labelled latitude/longitude grid and a
// scale bar; under the mouse the position, the terrain height and the nearest fix, whose time the
// graph preview marks. View, projection, track, texts, grid, scale and the elevation cache are
// window-free (preview_model/); this window draws them.

#include <QImage>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "preview_model/elevation_cache.h"
#include "preview_model/gps_map.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tessmar {

class TGpsPreviewForm : public QWidget {
  Q_OBJECT
 public:
  // ini_path: the settings file with the section "GpsPreviewWindow" (may be empty).
  explicit TGpsPreviewForm(const std::filesystem::path& ini_path, QWidget* parent = nullptr,
                           double tile_cell_degrees = kGtopo30CellDegrees);

  // Operations of the converter. Degrees, north and east positive.
  void ShowAndSetArea(double lat_min, double lat_max, double lon_min, double lon_max);
  void ClearTrack();
  void AddFix(const GpsFix& fix);
  void Redraw();

  // Called with the time (seconds since 1970) of the fix under the mouse.
  void SetTimeMarkCallback(std::function<void(double absolute_time)> callback);

  // Puts the position marker on a fix (hidden when the fix lies outside the map).
  void ShowFix(const GpsFix& fix);

  // Map controls, as the buttons do.
  void Zoom(double factor);
  void Pan(PanDirection direction);
  // The mouse at a pixel of the map.
  void MouseAt(int x, int y);

  const MapView& view() const { return view_; }
  const QImage& picture() const { return picture_; }
  const GpsTrack& track() const { return track_; }
  const ElevationCache& cache() const { return cache_; }
  QWidget* map_view() const { return map_view_; }
  QWidget* marker() const { return marker_; }
  QCheckBox* topo_box() const { return Chk_Topo; }
  QCheckBox* cities_box() const { return Chk_Cities; }
  QCheckBox* track_box() const { return Chk_Track; }
  QLabel* mouse_label() const { return Lab_MousePos; }
  QLabel* fix_position_label() const { return Lab_FixPos; }
  QLabel* fix_time_label() const { return Lab_FixTime; }
  QLabel* fix_status_label() const { return Lab_FixStatus; }
  std::filesystem::path gtopo30_directory() const { return gtopo30_dir_; }
  // Points the map at another tile folder: "Topo" is enabled when it exists and then shows the
  // user's choice again; a shown map is redrawn.
  void SetGtopo30Directory(const std::filesystem::path& dir);

  // Where the tiles are looked for unless the settings name a folder:
  // $XDG_DATA_HOME/tessmar/gtopo30 (~/.local/share/tessmar/gtopo30).
  static std::filesystem::path DefaultGtopo30Directory();

  // The map keeps its picture the size of its view.
  void MapResized();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceMarker(double lon, double lat);

  std::filesystem::path ini_path_;
  std::filesystem::path gtopo30_dir_;
  MapView view_;
  GpsTrack track_;
  ElevationCache cache_;
  QImage picture_;
  std::function<void(double)> time_mark_;
  bool busy_ = true;         // creating or drawing: control events are ignored
  bool topo_wanted_ = true;  // "Topo" as the user set it (stored as ShowTopo)
  bool marking_ = false;
  bool redraw_again_ = false;
  bool escape_pressed_ = false;
  double marked_lon_ = 0, marked_lat_ = 0;  // the last mouse position on the map

  QWidget* map_view_;
  QWidget* marker_;
  QCheckBox* Chk_Cities;
  QCheckBox* Chk_Track;
  QCheckBox* Chk_Topo;
  QPushButton* Btn_ZoomIn;
  QPushButton* Btn_ZoomOut;
  QPushButton* Btn_West;
  QPushButton* Btn_East;
  QPushButton* Btn_North;
  QPushButton* Btn_South;
  QLabel* Lab_MousePos;
  QLabel* Lab_FixPos;
  QLabel* Lab_FixTime;
  QLabel* Lab_FixStatus;
};

}  // namespace tessmar
