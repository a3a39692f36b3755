#pragma once
// "Signal Viewer": recordings opened directly (decoded by the core, no output file), a channel
// list filtered as you type, plots stacked on one shared time axis, and two cursors with their
// values and differences. Samples, decimation, ticks and look-ups live in preview_model/ (no Qt);
// the plots draw what those give with QPainter.

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "preview/gps_preview_form.h"
#include "preview_model/plot_model.h"
#include "preview_model/recording_samples.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QVBoxLayout;

namespace tessmar {

class TSignalPlotView;
class TTimeAxisView;

// Asks for recordings (.cld) and opens them in a new viewer window that deletes itself when
// closed. Returns the window, or null when nothing was chosen or read.
class TSignalViewerForm;
TSignalViewerForm* OpenSignalViewer(QWidget* parent,
                                    const LoggerConfiguration* user_config = nullptr);
// Opens the given recordings in a new viewer window (no dialog); null when none could be read.
// With `user_config` the recordings are decoded with its signal definitions (the loaded CAN
// databases) instead of their own, and exports use them too; it must outlive the window.
TSignalViewerForm* OpenSignalViewer(QWidget* parent,
                                    const std::vector<std::filesystem::path>& files,
                                    const LoggerConfiguration* user_config = nullptr);

// A channel of one of the open recordings.
struct ViewerChannelRef {
  int recording = 0;
  int channel = 0;
};

// A channel drawn in a plot, with its colour.
struct PlottedChannel {
  ViewerChannelRef ref;
  std::uint32_t colour = 0;
};

class TSignalViewerForm : public QWidget {
  Q_OBJECT
 public:
  explicit TSignalViewerForm(QWidget* parent = nullptr);
  ~TSignalViewerForm() override;

  // Reads the recordings (with their own signal definitions, or the user configuration's when
  // one is set) and lists their channels. False when none could be read (the reasons went to
  // the message output).
  bool OpenRecordings(const std::vector<std::filesystem::path>& files);
  // Decodes the recordings (and later exports) with this configuration's signal definitions
  // instead of the recordings' own; null returns to the recordings' own. Set before opening.
  void SetUserConfiguration(const LoggerConfiguration* config) { user_config_ = config; }

  // Converts what the plots show, the plotted channels over the visible span, through the
  // conversion driver into `output` in the format `format_code` (Signals output). A recording
  // outside the span is left out; with plotted channels of several recordings each gets its own
  // output, named `output` with "_" and the recording's name added. Returns the result line,
  // which is also shown beside the "Export ..." button.
  QString ExportVisible(const std::filesystem::path& output, int format_code);
  // The "Export ..." button: asks for a format and a file, then exports.
  void OnExport();
  QString export_result() const;

  // ---- what the controls do (also used by tests) ----
  void SetFilter(const QString& text);
  // Channels the list shows (after the filter), as indices into channels().
  std::vector<int> ListedChannels() const;
  int AddPlot();
  // Removes a plot (the current one for -1); at least one plot stays.
  void RemovePlot(int plot = -1);
  // Adds channel `index` (into channels()) to a plot (the current one for -1).
  void AddChannelToPlot(int index, int plot = -1);
  void SetCurrentPlot(int plot);
  // Removes the index-th channel of a plot (also: Delete or the context menu on the value table).
  void RemoveChannelFromPlot(int plot, int index);
  // The whole recording, or the visible span's values (y axes only).
  void FitAll();
  void FitVisible();
  void SetSpan(const TimeSpan& span);
  void ZoomAt(double factor, double anchor);
  void Pan(double dt);
  // Cursor 1 or 2 at time t (seconds since the first recording's start); nullopt removes it.
  void SetCursor(int which, std::optional<double> t);
  void SetTimeMode(TimeAxisMode mode);
  // Opens the GPS map with the track of the first recording that has one; the map shows the
  // position at cursor 1, and the fix under the mouse on the map moves cursor 1 there. Null when
  // no recording has GPS fixes.
  TGpsPreviewForm* OpenMap();
  TGpsPreviewForm* map() const { return map_; }
  // Index of the fix of the map's recording in effect at cursor 1 (-1: none).
  int CursorFix() const;

  // ---- state ----
  const std::vector<ViewerChannelRef>& channels() const { return channels_; }
  const ViewerChannel& Channel(const ViewerChannelRef& ref) const;
  // Offset of a recording's times on the shared axis (its start minus the first one's start).
  double Offset(int recording) const;
  double Duration(int recording) const;
  int IndexOf(const TSignalPlotView* view) const;
  int plot_count() const { return static_cast<int>(plots_.size()); }
  int current_plot() const { return current_plot_; }
  TSignalPlotView* plot(int i) const { return plots_[static_cast<std::size_t>(i)]; }
  const TimeSpan& span() const { return span_; }
  std::optional<double> cursor(int which) const { return which == 1 ? cursor1_ : cursor2_; }
  TimeAxisMode time_mode() const { return time_mode_; }
  double start_time() const { return recordings_.empty() ? 0 : recordings_.front().start; }
  int axis_margin() const { return axis_margin_; }
  QTreeWidget* channel_list() const { return LB_Channels; }
  QTreeWidget* value_table() const { return TV_Values; }
  QWidget* time_axis() const;
  // Text of a time for the cursor table ("12.345678 s" or the time of day; the axis shows the
  // date).
  QString TimeText(double t) const;
  // Value of a channel at a time on the shared axis (sample and hold).
  std::optional<double> ValueOf(const ViewerChannelRef& ref, double t) const;

  void RefreshAll();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillChannelList();
  void UpdateValueTable();
  void UpdateAxisMargin();
  double TotalEnd() const;

  void FollowCursorOnMap();

  std::vector<Recording> recordings_;
  const LoggerConfiguration* user_config_ = nullptr;
  int map_recording_ = -1;
  QPointer<TGpsPreviewForm> map_;
  std::vector<ViewerChannelRef> channels_;
  std::vector<TSignalPlotView*> plots_;
  int current_plot_ = 0;
  int colours_used_ = 0;
  int axis_margin_ = 60;
  TimeSpan span_;
  std::optional<double> cursor1_;
  std::optional<double> cursor2_;
  TimeAxisMode time_mode_ = TimeAxisMode::kSeconds;

  QLabel* Lab_Files;
  QLineEdit* Ed_Filter;
  QTreeWidget* LB_Channels;
  QTreeWidget* TV_Values;
  QAction* remove_channel_ = nullptr;
  QComboBox* CB_TimeMode;
  QLabel* Lab_ExportResult;
  QVBoxLayout* plot_layout_;
  TTimeAxisView* time_axis_;
};

// One plot: its channels with a y axis per unit, drawn on the shared time span.
class TSignalPlotView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kAxisWidth = 58;

  TSignalPlotView(TSignalViewerForm* form, QWidget* parent);

  struct AxisGroup {
    std::string unit;
    std::vector<int> members;  // indices into channels()
    double low = 0;
    double high = 1;
  };

  void AddChannel(const PlottedChannel& channel);
  void RemoveChannel(int index);
  const std::vector<PlottedChannel>& plotted() const { return plotted_; }
  const std::vector<AxisGroup>& groups() const { return groups_; }
  void FitGroups(bool visible_only);
  QRect DataRect() const;
  // The value table an axis shows texts of: the one all its channels share; null when they have
  // none or different ones.
  const std::vector<StateText>* StatesOf(const AxisGroup& g) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  double TimeAtX(double x) const;
  void DrawChannel(QPainter& p, const PlottedChannel& c, const AxisGroup& g, const QRect& r) const;

  TSignalViewerForm* form_;
  std::vector<PlottedChannel> plotted_;
  std::vector<AxisGroup> groups_;
  // Mouse: a drag pans; with Ctrl it selects a time box to zoom into; a click sets cursor 1,
  // a right click cursor 2.
  bool pressed_ = false;
  bool moved_ = false;
  bool box_ = false;
  double press_x_ = 0;
  double last_x_ = 0;
};

// The shared time axis under the plots.
class TTimeAxisView : public QWidget {
  Q_OBJECT
 public:
  explicit TTimeAxisView(TSignalViewerForm* form, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TSignalViewerForm* form_;
};

}  // namespace tessmar
