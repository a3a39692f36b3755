#pragma once
// "Logfile Conversion Preview": the converted Signals rows as line graphs, one pixel column per
// row, with a legend that shows and hides channels, "<<", ">>", ">" and a scroll bar, and an info
// line. The ring buffer, ranges and drawing plans live in GraphPreviewModel; this window draws the
// columns a plan names into one picture through one off-screen image per drawing.

#include <QImage>
#include <QWidget>
#include <filesystem>
#include <span>
#include <string_view>

#include "preview_model/graph_model.h"

class QLabel;
class QPainter;
class QPushButton;
class QScrollBar;
class QTimer;

namespace tessmar {

class TGraphPreviewForm : public QWidget {
  Q_OBJECT
 public:
  // ini_path: the settings file with the section "GraphPreviewWindow" (may be empty).
  explicit TGraphPreviewForm(const std::filesystem::path& ini_path, QWidget* parent = nullptr);

  // Operations of the converter.
  bool Reset(int channel_count, std::int64_t capacity);
  void SetChannelName(int channel, std::string_view name);
  void SetChannelRange(int channel, double minimum, double maximum);
  void SetChannelUnit(int channel, std::string_view unit);
  bool AddSample(double t, double absolute_time, std::span<const ChannelValue> values);
  void UpdatePreview(bool follow);
  // Marks the sample nearest to an absolute time (seconds since 1970).
  void MarkTime(double absolute_time);

  const GraphPreviewModel& model() const { return model_; }
  const QImage& picture() const { return picture_; }
  QWidget* image_view() const { return image_view_; }
  QWidget* legend_view() const { return legend_view_; }
  QLabel* info_label() const { return Lab_Info; }
  QScrollBar* scroll_bar() const { return SB_Position; }
  // Clicks of the legend (row = channel), as the mouse does.
  void LegendClick(int y);
  void LegendHover(int y);

  // The legend draws itself from the model.
  void PaintLegend(QWidget* target);
  // Over the picture: the selected channel's y axis with its unit, and the readout of its value
  // in the column under the mouse (-1: none).
  void PaintOverlay(QPainter& p, const QSize& size) const;
  void ImageHover(int x);
  int hover_x() const { return hover_x_; }
  // The picture follows the size of its view.
  void ImageResized();
  // The info timer's work (every 200 ms).
  void TimerTick();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Draw(const GraphDrawPlan& plan);
  void DrawColumns(int x0, int x1);
  void ConfigureScrollBar();

  std::filesystem::path ini_path_;
  GraphPreviewModel model_;
  QImage picture_;
  QWidget* image_view_;
  QWidget* legend_view_;
  QPushButton* Btn_Oldest;
  QPushButton* Btn_Newest;
  QPushButton* Btn_Next;
  QScrollBar* SB_Position;
  QLabel* Lab_SampleIndex;
  QLabel* Lab_Info;
  QTimer* timer_;
  int shown_start_ = -1;
  int hover_x_ = -1;
  int scroll_guard_ = 0;
};

}  // namespace tessmar
