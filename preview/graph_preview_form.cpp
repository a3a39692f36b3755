#include "preview/graph_preview_form.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <vector>

#include "preview/window_placement.h"

namespace tessmar {
namespace {

constexpr const char* kSection = "GraphPreviewWindow";
constexpr int kLegendWidth = 170;

QColor Rgb(std::uint32_t rgb) { return QColor::fromRgb(QRgb(0xFF000000u | rgb)); }

// Shows the preview picture and tells the window when its size changes.
class ImageView : public QWidget {
 public:
  ImageView(TGraphPreviewForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(120, 60);
    setMouseTracking(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, form_->picture());
    form_->PaintOverlay(p, size());
  }
  void resizeEvent(QResizeEvent*) override { form_->ImageResized(); }
  void mouseMoveEvent(QMouseEvent* e) override { form_->ImageHover(int(e->position().x())); }
  void leaveEvent(QEvent*) override { form_->ImageHover(-1); }

 private:
  TGraphPreviewForm* form_;
};

// The legend: one row of 16 pixels per channel; a click toggles the channel, hovering shows its
// range.
class LegendView : public QWidget {
 public:
  LegendView(TGraphPreviewForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setFixedWidth(kLegendWidth);
  }

 protected:
  void paintEvent(QPaintEvent*) override { form_->PaintLegend(this); }
  void mousePressEvent(QMouseEvent* e) override { form_->LegendClick(int(e->position().y())); }
  void mouseMoveEvent(QMouseEvent* e) override { form_->LegendHover(int(e->position().y())); }

 private:
  TGraphPreviewForm* form_;
};

}  // namespace

TGraphPreviewForm::TGraphPreviewForm(const std::filesystem::path& ini_path, QWidget* parent)
    : QWidget(parent, Qt::Window), ini_path_(ini_path) {
  setObjectName(QStringLiteral("TGraphPreviewForm"));
  setWindowTitle(tr("Logfile Conversion Preview"));
  Btn_Oldest = new QPushButton(QStringLiteral("<<"), this);
  Btn_Oldest->setObjectName(QStringLiteral("Btn_Oldest"));
  Btn_Newest = new QPushButton(QStringLiteral(">>"), this);
  Btn_Newest->setObjectName(QStringLiteral("Btn_Newest"));
  Btn_Next = new QPushButton(QStringLiteral(">"), this);
  Btn_Next->setObjectName(QStringLiteral("Btn_Next"));
  for (QPushButton* b : {Btn_Oldest, Btn_Newest, Btn_Next}) b->setFixedWidth(40);
  Lab_SampleIndex = new QLabel(this);
  Lab_SampleIndex->setObjectName(QStringLiteral("Lab_SampleIndex"));
  Lab_SampleIndex->setMinimumWidth(70);
  Lab_Info = new QLabel(this);
  Lab_Info->setObjectName(QStringLiteral("Lab_Info"));
  SB_Position = new QScrollBar(Qt::Horizontal, this);
  SB_Position->setObjectName(QStringLiteral("SB_Position"));
  SB_Position->hide();
  image_view_ = new ImageView(this, this);
  legend_view_ = new LegendView(this, this);

  auto* top = new QHBoxLayout;
  top->addWidget(Btn_Oldest);
  top->addWidget(Btn_Next);
  top->addWidget(Btn_Newest);
  top->addWidget(Lab_SampleIndex);
  top->addWidget(Lab_Info, 1);
  auto* middle = new QHBoxLayout;
  middle->setSpacing(2);
  middle->addWidget(legend_view_);
  middle->addWidget(image_view_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(top);
  layout->addLayout(middle, 1);
  layout->addWidget(SB_Position);

  resize(820, 420);
  ReadWindowPlacement(this, ini_path_, kSection);

  const auto navigate = [this](auto step) {
    step(image_view_->width());
    ConfigureScrollBar();
    Draw(model_.Update(false, image_view_->width()));
  };
  connect(Btn_Oldest, &QPushButton::clicked, this, [this, navigate] {
    navigate([this](int) { model_.GoOldest(); });
    Lab_Info->setText(QString::fromStdString(model_.OldestText()));
  });
  connect(Btn_Newest, &QPushButton::clicked, this,
          [this, navigate] { navigate([this](int w) { model_.GoNewest(w); }); });
  connect(Btn_Next, &QPushButton::clicked, this,
          [this, navigate] { navigate([this](int w) { model_.GoNext(w); }); });
  connect(SB_Position, &QScrollBar::valueChanged, this, [this](int value) {
    if (scroll_guard_ > 0) return;
    model_.ScrollTo(value, image_view_->width());
    Draw(model_.Update(false, image_view_->width()));
  });

  timer_ = new QTimer(this);
  timer_->setInterval(200);
  connect(timer_, &QTimer::timeout, this, &TGraphPreviewForm::TimerTick);
  timer_->start();
}

bool TGraphPreviewForm::Reset(int channel_count, std::int64_t capacity) {
  const bool ok = model_.Reset(channel_count, capacity);
  const QSize size = image_view_->size();
  picture_ = QImage(size.width(), size.height(), QImage::Format_RGB32);
  picture_.fill(Qt::white);
  ConfigureScrollBar();
  shown_start_ = -1;
  legend_view_->update();
  image_view_->update();
  return ok;
}

void TGraphPreviewForm::SetChannelName(int channel, std::string_view name) {
  model_.SetChannelName(channel, name);
}

void TGraphPreviewForm::SetChannelUnit(int channel, std::string_view unit) {
  model_.SetChannelUnit(channel, unit);
  image_view_->update();
}

void TGraphPreviewForm::SetChannelRange(int channel, double minimum, double maximum) {
  model_.SetChannelRange(channel, minimum, maximum);
}

bool TGraphPreviewForm::AddSample(double t, double absolute_time,
                                  std::span<const ChannelValue> values) {
  return model_.AddSample(t, absolute_time, values);
}

void TGraphPreviewForm::UpdatePreview(bool follow) {
  Draw(model_.Update(follow, image_view_->width()));
  if (follow) {
    ++scroll_guard_;
    SB_Position->setValue(model_.scroll_position());
    --scroll_guard_;
  }
}

void TGraphPreviewForm::MarkTime(double absolute_time) {
  Draw(model_.MarkTime(absolute_time, image_view_->width()));
  ++scroll_guard_;
  SB_Position->setValue(model_.scroll_position());
  --scroll_guard_;
}

void TGraphPreviewForm::ConfigureScrollBar() {
  const int maximum = model_.ScrollMaximum(image_view_->width());
  ++scroll_guard_;
  if (maximum > 0) {
    SB_Position->setRange(0, maximum);
    SB_Position->setPageStep(image_view_->width());
    SB_Position->setValue(model_.scroll_position());
    SB_Position->show();
  } else {
    SB_Position->hide();
  }
  --scroll_guard_;
}

void TGraphPreviewForm::ImageResized() {
  const QSize size = image_view_->size();
  if (size.height() > 20 && size.width() > 100 && model_.capacity() > 0) {
    picture_ = QImage(size.width(), size.height(), QImage::Format_RGB32);
    picture_.fill(Qt::white);
    ConfigureScrollBar();
    model_.RequestFullRedraw();
    Draw(model_.Update(false, size.width()));
  }
}

void TGraphPreviewForm::Draw(const GraphDrawPlan& plan) {
  if (!picture_.isNull() && picture_.width() == image_view_->width()) {
    if (plan.shift > 0 && plan.shift < picture_.width()) {
      // Move the picture left; the uncovered columns are part of the plan's range.
      const int keep = picture_.width() - plan.shift;
      for (int y = 0; y < picture_.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        std::memmove(row, row + plan.shift, sizeof(QRgb) * std::size_t(keep));
      }
    }
    if (plan.x1 >= plan.x0) DrawColumns(plan.x0, plan.x1);
    image_view_->update();
  }
  if (plan.legend) legend_view_->update();
}

void TGraphPreviewForm::DrawColumns(int x0, int x1) {
  x1 = std::min(x1, picture_.width() - 1);
  if (x0 < 0 || x1 < x0) return;
  const int w = x1 - x0 + 1;
  const int h = picture_.height();
  QImage strip(w, h, QImage::Format_RGB32);
  strip.fill(Qt::white);
  {
    QPainter p(&strip);
    const int marker = model_.marker();
    if (marker >= 0) {
      p.setPen(Rgb(kGraphMarkerColour));
      for (int x = 0; x < w; ++x) {
        if (model_.SlotOfColumn(x0 + x) == marker) p.drawLine(x, 0, x, h - 1);
      }
    }
    std::vector<QPoint> line;
    line.reserve(std::size_t(w) + 1);
    for (int c = model_.channel_count(); c >= 0; --c) {
      if (!model_.visible(c)) continue;
      p.setPen(Rgb(kGraphChannelColours[std::size_t(c)]));
      line.clear();
      const auto flush = [&] {
        if (line.size() > 1) p.drawPolyline(line.data(), int(line.size()));
        if (line.size() == 1) p.drawPoint(line.front());
        line.clear();
      };
      if (x0 > 0) {
        const int before = model_.SlotOfColumn(x0 - 1);
        if (model_.SlotFilled(before))
          line.emplace_back(-1, model_.Y(c, model_.Value(before, c), h));
      }
      for (int x = 0; x < w; ++x) {
        const int slot = model_.SlotOfColumn(x0 + x);
        if (!model_.SlotFilled(slot)) {
          flush();
          continue;
        }
        line.emplace_back(x, model_.Y(c, model_.Value(slot, c), h));
      }
      flush();
    }
  }
  QPainter p(&picture_);
  p.drawImage(x0, 0, strip);
}

void TGraphPreviewForm::PaintLegend(QWidget* target) {
  QPainter p(target);
  p.fillRect(target->rect(), Qt::white);
  const int n = model_.channel_count();
  if (target->height() <= 100 || target->width() <= 80 || n <= 0) return;
  QFont font = p.font();
  font.setPixelSize(12);
  p.setFont(font);
  for (int c = 0; c <= n; ++c) {
    p.setPen(Rgb(kGraphChannelColours[std::size_t(c)]));
    p.drawText(QRect(2, kGraphLegendRowHeight * c, target->width() - 4, kGraphLegendRowHeight),
               Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(model_.LegendText(c)));
  }
}

void TGraphPreviewForm::PaintOverlay(QPainter& p, const QSize& size) const {
  const int c = model_.selected_channel();
  const AxisTicks ticks = model_.SelectedTicks(size.height());
  if (ticks.values.empty()) return;
  const QColor colour = Rgb(kGraphChannelColours[std::size_t(c)]);
  QFont font = p.font();
  font.setPixelSize(11);
  p.setFont(font);
  const QFontMetrics metrics(font);
  // The unit at the top, then the ticks on the left edge with their values on a light backing
  // so that lines stay readable (a value under the unit is left out).
  QString title = QString::fromStdString(model_.unit(c));
  if (title.isEmpty()) title = QString::fromStdString(model_.name(c));
  title = QStringLiteral("[%1]").arg(title);
  const QRect title_box(2, 2, metrics.horizontalAdvance(title) + 4, metrics.height());
  p.fillRect(title_box, QColor(255, 255, 255, 200));
  p.setPen(colour);
  p.drawText(title_box, Qt::AlignCenter, title);
  for (const double v : ticks.values) {
    const int y = model_.Y(c, v, size.height());
    const QString text = QString::fromStdString(TickText(v, ticks.step));
    const QRect box(7, y - metrics.height() / 2, metrics.horizontalAdvance(text) + 4,
                    metrics.height());
    p.drawLine(0, y, 5, y);
    if (box.intersects(title_box)) continue;
    p.fillRect(box, QColor(255, 255, 255, 200));
    p.drawText(box, Qt::AlignCenter, text);
  }
  // The readout and a thin line in the column under the mouse.
  const QString readout = QString::fromStdString(model_.ReadoutText(hover_x_));
  if (hover_x_ < 0 || readout.isEmpty()) return;
  p.setPen(Rgb(kGraphMarkerColour));
  p.drawLine(hover_x_, 0, hover_x_, size.height() - 1);
  const int width = metrics.horizontalAdvance(readout) + 8;
  const QRect readout_box(std::max(0, size.width() - width - 2), 2, width, metrics.height() + 2);
  p.fillRect(readout_box, QColor(255, 255, 255, 230));
  p.setPen(colour);
  p.drawText(readout_box, Qt::AlignCenter, readout);
}

void TGraphPreviewForm::ImageHover(int x) {
  hover_x_ = x;
  image_view_->update();
}

void TGraphPreviewForm::LegendClick(int y) {
  if (y < 0 || y >= kGraphLegendRowHeight * (kGraphMaxChannels + 1)) return;
  const int row = y / kGraphLegendRowHeight;
  if (row > model_.channel_count()) return;
  model_.ToggleVisible(row);
  if (row > 0) model_.set_selected_channel(row);
  shown_start_ = -1;
  Draw(model_.Update(false, image_view_->width()));
  image_view_->update();
}

void TGraphPreviewForm::LegendHover(int y) {
  if (y < 0) return;
  const int row = y / kGraphLegendRowHeight;
  if (row > model_.channel_count()) return;
  Lab_Info->setText(QString::fromStdString(model_.RangeText(row)));
}

void TGraphPreviewForm::TimerTick() {
  if (model_.display_start() == shown_start_ || model_.capacity() <= 0) return;
  shown_start_ = model_.display_start();
  Lab_SampleIndex->setText(QString::fromStdString(model_.SampleIndexText()));
  Lab_Info->setText(QString::fromStdString(model_.InfoText()));
}

void TGraphPreviewForm::closeEvent(QCloseEvent* event) {
  WriteWindowPlacement(this, ini_path_, kSection);
  QWidget::closeEvent(event);
}

}  // namespace tessmar
