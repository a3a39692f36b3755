#include "candb_views/graph_msg_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace tessmar {
namespace {

QColor ToQColor(LayoutColor c) { return QColor(c.r, c.g, c.b); }

QRect ToQRect(const LayoutRect& r) {
  return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

void DrawLines(QPainter& p, const std::vector<LayoutLine>& lines) {
  for (const LayoutLine& l : lines) {
    p.setPen(QPen(Qt::black, l.width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(l.x1, l.y1, l.x2, l.y2);
  }
}

QFont Font(const char* family, int points, bool bold = false) {
  QFont f(QString::fromLatin1(family), points);
  f.setBold(bold);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

// Room a title bar takes besides its caption: the window buttons and the padding.
constexpr int kTitleBarExtras = 110;

}  // namespace

LayoutImage::LayoutImage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Image1"));
}

void LayoutImage::SetImage(QImage image) {
  image_ = std::move(image);
  update();
}

void LayoutImage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  if (!image_.isNull()) p.drawImage(0, 0, image_);
}

void LayoutImage::mousePressEvent(QMouseEvent* event) { Q_EMIT pressed(event->pos()); }

TGraphMsgView::TGraphMsgView(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("TGraphMsgView"));
  setWindowTitle(tr("CAN message layout"));
  Image1 = new LayoutImage(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Image1);
  const qreal scale = logicalDpiX() > 0 ? logicalDpiX() / 96.0 : 1.0;
  resize(int(kClientWidth * scale), int(kClientHeight * scale));
  connect(Image1, &LayoutImage::pressed, this, &TGraphMsgView::OnPressed);
}

void TGraphMsgView::Draw(const T_CanLog_MsgDef* message,
                         const std::vector<T_CanLog_SigDef>& signals, int selected) {
  QSize size = Image1->size();
  if (!isVisible() || size.width() < 12 || size.height() < 12) size = this->size();
  LayoutDrawing d = layout_.Draw(size.width(), size.height(), message, signals, selected);
  message_ = message ? *message : T_CanLog_MsgDef{};
  setWindowTitle(QString::fromStdString(d.caption));
  if (FitCaption() && isVisible()) {
    size = Image1->size();
    d = layout_.Draw(size.width(), size.height(), message, signals, selected);
  }

  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setPen(Qt::black);
  const int cw = layout_.column_width();
  const int rh = layout_.row_height();

  for (const LayoutMark& m : d.marks) {
    const QRect cell = ToQRect(m.rect);
    if (m.kind == LayoutMark::Kind::kBit) {
      p.fillRect(cell, ToQColor(m.color));
      DrawLines(p, m.lines);
    } else {
      p.fillRect(cell, Qt::white);
      p.fillRect(cell, QBrush(ToQColor(m.color).darker(115), Qt::DiagCrossPattern));
      p.setPen(Qt::black);
      p.setFont(Font("Small Fonts", 7, m.selected));
      const QRect label(cell.left(), cell.top(), cell.width(), cell.height() - 2);
      p.drawText(label, Qt::AlignHCenter | Qt::AlignBottom, QString::fromStdString(m.label));
    }
  }
  if (d.has_legend) {
    const QRect sample = ToQRect(d.legend.sample);
    p.fillRect(sample, ToQColor(d.legend.color));
    p.setPen(Qt::black);
    p.drawRect(sample);
    DrawLines(p, d.legend.lines);
    p.setFont(Font("Arial", 10));
    p.setPen(Qt::black);
    const QFontMetrics fm(p.font());
    p.drawText(d.legend.text_x, d.legend.text_y + fm.ascent(),
               QString::fromStdString(d.legend.text));
  }

  // Labels and grid.
  p.setPen(QPen(Qt::black, 1));
  p.setFont(Font("Arial", 10));
  const QFontMetrics fm(p.font());
  p.drawText(QRect(0, 4, size.width(), fm.height()), Qt::AlignHCenter | Qt::AlignTop,
             tr("Bit Position"));
  p.save();
  p.translate(4, size.height() / 2);
  p.rotate(-90);
  p.drawText(QRect(-size.height() / 2, 0, size.height(), fm.height()), Qt::AlignCenter,
             tr("Byte Index in CAN Frame"));
  p.restore();
  const int grid_right = layout_.ColumnLeft(10);
  for (int row = 2; row <= 10; ++row) {
    const int y = layout_.RowTop(row);
    p.drawLine(layout_.ColumnLeft(1), y, grid_right, y);
    if (row <= 9) {
      p.drawText(layout_.ColumnLeft(1) + 4, y + 2 + fm.ascent(), QString::number(row - 2));
    }
  }
  for (int col = 2; col <= 10; ++col) {
    const int x = layout_.ColumnLeft(col);
    p.drawLine(x, layout_.RowTop(1), x, layout_.RowTop(10));
    if (col <= 9) p.drawText(x + 4, layout_.RowTop(1) + 2 + fm.ascent(), QString::number(9 - col));
  }
  // The absolute bit number in the corner of every cell.
  p.setFont(Font("Small Fonts", 5));
  for (int byte = 0; byte < 8; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      const LayoutRect r = layout_.CellRect(byte, bit);
      p.drawText(QRect(r.left, r.top + 1, cw - 1, rh), Qt::AlignRight | Qt::AlignTop,
                 QString::number(byte * 8 + bit));
    }
  }
  p.end();
  Image1->SetImage(std::move(image));
}

bool TGraphMsgView::FitCaption() {
  QFont font = QApplication::font();
  font.setBold(true);
  const int needed = QFontMetrics(font).horizontalAdvance(windowTitle()) + kTitleBarExtras;
  if (needed <= width()) return false;
  const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  QRect inner = geometry();
  inner.setWidth(needed);
  // Within the screen: a window at the screen's right edge grows to the left.
  if (const QScreen* s = screen(); s != nullptr && isVisible()) {
    const QRect area = s->availableGeometry().marginsRemoved(frame);
    inner.setWidth(std::min(needed, area.width()));
    if (inner.right() > area.right()) inner.moveRight(area.right());
  }
  setGeometry(inner);
  layout()->activate();  // the picture takes the new width before it is drawn
  return true;
}

void TGraphMsgView::OnPressed(QPoint pos) {
  click_ = layout_.Click(pos.x(), pos.y());
  clicked_ = click_.signal >= 0;
}

std::optional<TGraphMsgView::ClickedSignal> TGraphMsgView::TakeClickedSignal() {
  if (!clicked_) return std::nullopt;
  clicked_ = false;
  const auto& sigs = layout_.remembered();
  if (click_.signal < 0 || click_.signal >= int(sigs.size())) return std::nullopt;
  return ClickedSignal{sigs[size_t(click_.signal)].sn, message_};
}

void TGraphMsgView::closeEvent(QCloseEvent* event) {
  closed_by_user_ = true;
  QWidget::closeEvent(event);
}

void TGraphMsgView::showEvent(QShowEvent* event) {
  closed_by_user_ = false;
  QWidget::showEvent(event);
}

}  // namespace tessmar
