#pragma once
// The "GPS" page: the converter's GPS output options. The check boxes and the two lists take
// effect at once; the column grid (rows can be dragged to another position) only with
// "apply edits"; a preset replaces everything.

#include <QWidget>

#include "writers/gps_settings.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QTableWidget;

namespace tessmar {

class GpsPage : public QWidget {
  Q_OBJECT
 public:
  GpsPage(const int& update_guard, QWidget* parent = nullptr);

  // Shows the options (the grid's unapplied edits are discarded).
  void Show(const GpsOutputSettings& gps);
  const GpsOutputSettings& settings() const { return gps_; }

  // Moves grid row from to position to (0-based) as a drag does.
  void MoveRow(int from, int to);
  // "apply edits": writes the grid into the column definitions and refills the page.
  void ApplyGrid();
  // Chooses preset 0..2 as the preset list does.
  void ChoosePreset(int preset);

  QTableWidget* grid() const { return SG_GpsColumns; }
  QPushButton* apply_button() const { return Btn_ApplyGps; }
  QComboBox* preset_list() const { return CB_GpsPreset; }

 Q_SIGNALS:
  // The options changed; the owner stores them.
  void settingsChanged();
  // A text for the status line.
  void status(const QString& text);

 private:
  void OnControlChanged();

  const int& update_guard_;
  GpsOutputSettings gps_;
  int filling_ = 0;

  QCheckBox* Chk_GpsSeparateTrackFile;
  QCheckBox* Chk_GpsMergeIntoMainFile;
  QCheckBox* Chk_GpsPreview;
  QComboBox* CB_GpsTrackFormat;
  QComboBox* CB_GpsColumnsWhere;
  QTableWidget* SG_GpsColumns;
  QPushButton* Btn_ApplyGps;
  QComboBox* CB_GpsPreset;
};

}  // namespace tessmar
