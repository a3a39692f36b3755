#pragma once
// The "Converter" page: sources, output type and format, the converter options with the colours
// and boxes of the option check, "&Go !" with progress and abort, and the result line.

#include <QStringList>
#include <QWidget>
#include <filesystem>

#include "convert/converter_options.h"

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

struct ConversionRequest;
class TGraphPreviewForm;
class TGpsPreviewForm;

class ConverterPage : public QWidget {
  Q_OBJECT
 public:
  ConverterPage(int& update_guard, QWidget* parent = nullptr);

  // Fills the controls from options (call under the update guard).
  void SetOptions(const ConverterOptions& options);
  // Reads the controls.
  ConverterOptions Options() const;

  // Runs the option check on the current controls, writes the normalised values back and shows
  // the colours; shows the check's message box unless quiet. Returns the check result.
  OptionCheckResult CheckOptions(bool quiet);

  QStringList sources() const { return sources_; }
  void SetSources(const QStringList& sources);
  void AddSources(const QStringList& sources);
  void SelectSource(int index);

  QLineEdit* input_dir() const { return Ed_InputDir; }
  QLineEdit* output_dir() const { return Ed_OutputDir; }
  QCheckBox* launch_viewer_box() const { return Chk_LaunchViewer; }
  QCheckBox* graph_preview_box() const { return Chk_GraphPreview; }
  QPushButton* go_button() const { return Btn_StartConv; }
  QPushButton* abort_button() const { return Btn_AbortConv; }
  QTabWidget* sub_pages() const { return sub_pages_; }

  // Conversion display.
  void SetRunning(bool running);
  void SetProgress(int percent, const QString& text);
  void SetResult(const QString& text, bool error);
  QString result_text() const;

  // Colours shown by the last check (for tests and the screenshots).
  bool IsRed(const char* object_name) const;

  // Previews: with "graphic preview" (Signals) and the GPS option "Preview" the conversion feeds
  // the graph preview and the GPS map through the request's preview hooks. The windows are made
  // on first use and keep their placement in the settings file ini_path.
  void AttachPreviews(ConversionRequest& request, const std::filesystem::path& ini_path);
  TGraphPreviewForm* graph_preview() const { return graph_preview_; }
  TGpsPreviewForm* gps_preview() const { return gps_preview_; }

 Q_SIGNALS:
  void goClicked();
  void abortClicked();
  void inputDirEdited(const QString& dir);
  void outputDirEdited(const QString& dir);

 protected:
  // Closes the previews when the main window closes.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnOptionChanged();
  void OnOutputTypeChanged();
  void OnSelectFiles();
  void ShowCheck(const OptionCheckResult& result);

  int& update_guard_;
  QStringList sources_;
  QTabWidget* sub_pages_;

  QListWidget* LB_SourceFiles;
  QPushButton* Btn_SelectFiles;
  QLineEdit* Ed_InputDir;
  QLineEdit* Ed_OutputDir;
  QComboBox* CB_OutputType;
  QListWidget* LB_FileFormat;
  QPushButton* Btn_StartConv;
  QPushButton* Btn_AbortConv;
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
  QLineEdit* Ed_InvalidSignal;
  QRadioButton* RB_RawValues;
  QRadioButton* RB_ScaledValues;
  QCheckBox* Chk_IgnoreLoggedSigDefs;
  QCheckBox* Chk_CombineOutput;
  QCheckBox* Chk_SkipUntilValid;
  QLineEdit* Ed_Breakpoint;

  TGraphPreviewForm* graph_preview_ = nullptr;
  TGpsPreviewForm* gps_preview_ = nullptr;
  bool graph_update_pending_ = false;
  bool map_redraw_pending_ = false;
  double last_gps_fix_time_ = -1;  // seconds since 1970 of the latest fix with date and time
};

}  // namespace tessmar
