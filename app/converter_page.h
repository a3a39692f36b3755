#pragma once
// The "Converter" page: sources, output type and format, the converter options with the colours
// and boxes of the option check, "&Go !" with progress and abort, and the result line.

#include <QStringList>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <span>

#include "app/converter_choices.h"
#include "convert/conversion_observer.h"
#include "convert/converter_options.h"
#include "writers/gps_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace tessmar {

class TGraphPreviewForm;
class TGpsPreviewForm;

class ConverterPage : public QWidget {
  Q_OBJECT
 public:
  ConverterPage(int& update_guard, QWidget* parent = nullptr);

  // Takes the options as the user's choice and shows them as the option check has them.
  void SetOptions(const ConverterOptions& options);
  // Reads the controls: the options a conversion uses.
  ConverterOptions Options() const;
  // The options as the user chose them, also those a format fixes for now (for the settings
  // file: switching back to a format that leaves them free shows them again).
  const ConverterOptions& ChosenOptions() const { return choices_.chosen(); }
  // The logger's message rate limit (ms), which the conversion puts in place of a write interval
  // below 0.1 ms for Messages output; the field shows the replacement.
  std::function<int()> message_rate_limit;

  // Takes the controls as the user's choice (a field still being edited too), shows the checked
  // values and the colours, and shows the check's message box unless quiet. Returns the check.
  OptionCheckResult CheckOptions(bool quiet);

  QStringList sources() const { return sources_; }
  void SetSources(const QStringList& sources);
  void AddSources(const QStringList& sources);
  void SelectSource(int index);
  // The sources the "View ..." button opens in the signal viewer: the selected ones, or all of
  // them when none is selected.
  QStringList SourcesToView() const;

  QLineEdit* input_dir() const { return Ed_InputDir; }
  QLineEdit* output_dir() const { return Ed_OutputDir; }
  QCheckBox* launch_viewer_box() const { return Chk_LaunchViewer; }
  QCheckBox* graph_preview_box() const { return Chk_GraphPreview; }
  QPushButton* go_button() const { return Btn_StartConv; }
  QPushButton* abort_button() const { return Btn_AbortConv; }
  // Opens the signal viewer on the recordings of the last conversion; enabled after a run that
  // converted something.
  QPushButton* view_button() const { return Btn_View; }
  // Opens the listed (or selected) sources in the signal viewer, any time.
  QPushButton* view_sources_button() const { return Btn_ViewSources; }
  QTabWidget* sub_pages() const { return sub_pages_; }

  // Conversion display.
  void SetRunning(bool running);
  void SetProgress(int percent, const QString& text);
  void SetResult(const QString& text, bool error);
  QString result_text() const;

  // Colours shown by the last check (for tests and the screenshots).
  bool IsRed(const char* object_name) const;

  // Previews: with "graphic preview" (Signals) and the GPS option "Preview" the conversion feeds
  // the graph preview and the GPS map through the hooks below. The windows are made on first use
  // and keep their placement in the settings file ini_path. Says which previews take part.
  struct Previews {
    bool graph = false;
    bool map = false;
  };
  Previews PreparePreviews(const ConverterOptions& options, const GpsOutputSettings& gps,
                           const std::filesystem::path& ini_path);
  void PreviewSourceStart(const SourceStart& start);
  void PreviewSignalsRow(double time, double time_base, std::span<const ChannelValue> values);
  void PreviewGpsFix(const GpsFix& fix);
  // Folder of the topography tiles (the "Setup" page's field): the GPS map uses it from its
  // creation on and follows every change at once.
  void SetTopographicMapDir(const std::filesystem::path& dir);
  TGraphPreviewForm* graph_preview() const { return graph_preview_; }
  TGpsPreviewForm* gps_preview() const { return gps_preview_; }

 Q_SIGNALS:
  void goClicked();
  void abortClicked();
  void viewClicked();
  void viewSourcesClicked();
  void inputDirEdited(const QString& dir);
  void outputDirEdited(const QString& dir);

 protected:
  // Closes the previews when the main window closes.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnOptionChanged();
  void ShowChoices();
  void FillControls(const ConverterOptions& options);
  void ShowBox(const OptionCheckResult& result);
  int RateLimit() const;
  void OnSelectFiles();
  void ShowCheck(const OptionCheckResult& result);

  int& update_guard_;
  ConverterChoices choices_;
  QStringList sources_;
  QTabWidget* sub_pages_;

  QListWidget* LB_SourceFiles;
  QPushButton* Btn_SelectFiles;
  QPushButton* Btn_ViewSources;
  QLineEdit* Ed_InputDir;
  QLineEdit* Ed_OutputDir;
  QComboBox* CB_OutputType;
  QListWidget* LB_FileFormat;
  QPushButton* Btn_StartConv;
  QPushButton* Btn_AbortConv;
  QPushButton* Btn_View;
  QProgressBar* PB_Progress;
  QLabel* Lab_Progress;
  QLabel* Lab_Result;
  QCheckBox* Chk_LaunchViewer;
  QCheckBox* Chk_GraphPreview;

  QSpinBox* SE_Headlines;
  QComboBox* CB_ColumnSeparator;
  QComboBox* CB_DecimalSeparator;
  QComboBox* CB_TimeColumn1;
  QComboBox* CB_TimeColumn2;
  QLineEdit* Ed_WriteInterval;
  QLabel* Lab_IntervalUsed;  // the interval in words: "= 10 ms per row"
  QLineEdit* Ed_InvalidSignal;
  QRadioButton* RB_RawValues;
  QRadioButton* RB_ScaledValues;
  QCheckBox* Chk_IgnoreLoggedSigDefs;
  QCheckBox* Chk_CombineOutput;
  QCheckBox* Chk_SkipUntilValid;
  QLineEdit* Ed_Breakpoint;
  // Converting part of a recording: channel patterns, start and stop time.
  QLineEdit* Ed_Channels;
  QLineEdit* Ed_StartTime;
  QLineEdit* Ed_StopTime;

  TGraphPreviewForm* graph_preview_ = nullptr;
  TGpsPreviewForm* gps_preview_ = nullptr;
  bool graph_update_pending_ = false;
  bool map_redraw_pending_ = false;
  double last_gps_fix_time_ = -1;
  Previews previews_;               // of the running conversion
  std::filesystem::path topo_dir_;  // seconds since 1970 of the latest fix with date and time
};

}  // namespace tessmar
