#include "preview/window_placement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "convert/settings_file.h"

namespace tessmar {
namespace {

// How long a shown window is watched for the window manager's frame: 40 x 50 ms.
constexpr int kFrameCheckMs = 50;
constexpr int kFrameChecks = 40;
// The frame counts as settled when it was in place at this many checks in a row.
constexpr int kSettledChecks = 3;

// A title bar and a thin border, for windows that no window manager has framed yet.
constexpr FrameMargins kTypicalFrame{4, 28, 4, 4};

// The window system's own record of the frame: QWidget's copy of the frame is refreshed only when
// the window moves, and one taken before the window manager framed the window would stay empty.
QMargins MarginsNow(const QWidget* w) {
  const QWindow* handle = w->windowHandle();
  return handle != nullptr ? handle->frameMargins() : QMargins();
}

FrameMargins MarginsOfFramed(const QWidget* w) {
  const QMargins m = MarginsNow(w);
  return {m.left(), m.top(), m.right(), m.bottom()};
}

bool IsFramed(const QWidget* w) { return w->isVisible() && !MarginsNow(w).isNull(); }

ScreenRect ToScreenRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

// Moves and resizes a top-level window so that its frame is `frame`.
void ApplyFrame(QWidget* window, const ScreenRect& frame, const FrameMargins& margins) {
  window->setGeometry(frame.left + margins.left, frame.top + margins.top,
                      ClientWidth(frame, margins), ClientHeight(frame, margins));
}

// The frame of a window: the real one once the window manager has framed it, else the estimate
// around its own area.
ScreenRect FrameOf(const QWidget* w) {
  if (IsFramed(w)) return ToScreenRect(FrameGeometryOf(w));
  const FrameMargins m = FrameMarginsOf(w);
  const QRect inner = w->geometry();
  return FrameAround(inner.x() - m.left, inner.y() - m.top, inner.width(), inner.height(), m);
}

ScreenRect AreaAround(const ScreenRect& frame) {
  return AvailableAreaAt(QPoint(frame.left + frame.width / 2, frame.top + frame.height / 2));
}

// Places its window each time it is shown (see PlaceWindow). Positions are set as those of the
// window's own area (its frame's corner plus the frame margins): the window system takes those
// exactly, where a frame position would be taken as the frame's or the window's corner depending
// on the window manager.
class WindowPlacer : public QObject {
 public:
  WindowPlacer(QWidget* window, std::optional<ScreenRect> frame, DefaultPlacement how, int cascade)
      : QObject(window), window_(window), how_(how), cascade_(cascade) {
    if (frame) intended_ = *frame;
    window->installEventFilter(this);
    frame_check_.setInterval(kFrameCheckMs);
    connect(&frame_check_, &QTimer::timeout, this, &WindowPlacer::CheckFrame);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      Place();
      // The frame was estimated until the window manager framed the window; once its real
      // frame is known the window moves to where the frame was meant to go.
      checks_left_ = kFrameChecks;
      settled_ = 0;
      frame_check_.start();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Place() {
    if (window_->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
      return;
    ScreenRect frame = FrameOf(window_);
    if (!intended_) {
      // The first showing without a stored placement: next to the owner.
      const QWidget* owner = window_->parentWidget() ? window_->parentWidget()->window() : nullptr;
      const ScreenRect area = AvailableAreaAt(owner != nullptr ? owner->geometry().center()
                                                               : window_->geometry().center());
      frame = PlaceByOwner(frame.width, frame.height,
                           owner != nullptr && owner->isVisible() ? FrameOf(owner) : area, area,
                           how_, cascade_);
    } else if (!IsFramed(window_)) {
      // Shown the first time at a stored placement: the margins may be known better now.
      frame.left = intended_->left;
      frame.top = intended_->top;
    }
    intended_ = FitIntoArea(frame, AreaAround(frame));
    ApplyFrame(window_, *intended_, FrameMarginsOf(window_));
  }

  // Watches the frame for a while after showing: the window manager frames the window (and may
  // answer a move late), so the frame is put back where it was meant to go until it stays there.
  void CheckFrame() {
    if (--checks_left_ <= 0) frame_check_.stop();
    if (!IsFramed(window_)) return;
    const ScreenRect shown = ToScreenRect(FrameGeometryOf(window_));
    const ScreenRect wanted{intended_->left, intended_->top, shown.width, shown.height};
    const ScreenRect fitted = FitIntoArea(wanted, AreaAround(wanted));
    if (fitted == shown) {
      if (++settled_ >= kSettledChecks) frame_check_.stop();
      return;
    }
    settled_ = 0;
    ApplyFrame(window_, fitted, MarginsOfFramed(window_));
  }

  QWidget* window_;
  DefaultPlacement how_;
  int cascade_;
  std::optional<ScreenRect> intended_;  // where the frame goes; none before the first placing
  QTimer frame_check_;
  int checks_left_ = 0;
  int settled_ = 0;
};

}  // namespace

QRect FrameGeometryOf(const QWidget* window) {
  return window->geometry().marginsAdded(MarginsNow(window));
}

FrameMargins FrameMarginsOf(const QWidget* window) {
  if (IsFramed(window)) return MarginsOfFramed(window);
  for (const QWidget* w : QApplication::topLevelWidgets()) {
    if (w != window && IsFramed(w) && !(w->windowFlags() & Qt::FramelessWindowHint)) {
      return MarginsOfFramed(w);
    }
  }
  return kTypicalFrame;
}

ScreenRect AvailableAreaAt(const QPoint& point) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? ToScreenRect(screen->availableGeometry()) : ScreenRect{};
}

void PlaceWindow(QWidget* window, std::optional<QPoint> frame_position, QSize size,
                 DefaultPlacement how, int cascade) {
  window->resize(size);
  std::optional<ScreenRect> frame;
  if (frame_position) {
    const FrameMargins margins = FrameMarginsOf(window);
    frame =
        FrameAround(frame_position->x(), frame_position->y(), size.width(), size.height(), margins);
    frame = FitIntoArea(*frame, AreaAround(*frame));
    ApplyFrame(window, *frame, margins);
  }
  new WindowPlacer(window, frame, how, cascade);
}

void ReadWindowPlacement(QWidget* window, const std::filesystem::path& ini_path,
                         const char* section, DefaultPlacement how, int cascade) {
  IniFile ini;
  std::optional<QPoint> position;
  if (!ini_path.empty() && ini.Load(ini_path) && ini.Get(section, "Left") &&
      ini.Get(section, "Top")) {
    position = QPoint(int(ini.GetInt(section, "Left", 0)), int(ini.GetInt(section, "Top", 0)));
  }
  const QSize size(std::max(100, int(ini.GetInt(section, "Width", window->width()))),
                   std::max(100, int(ini.GetInt(section, "Height", window->height()))));
  PlaceWindow(window, position, size, how, cascade);
}

void WriteWindowPlacement(const QWidget* window, const std::filesystem::path& ini_path,
                          const char* section) {
  if (ini_path.empty()) return;
  if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
    return;
  }
  IniFile ini;
  ini.Load(ini_path);
  // The frame's position and the window's own size, as they are read back.
  const QRect frame = FrameGeometryOf(window);
  ini.SetInt(section, "Left", frame.x());
  ini.SetInt(section, "Top", frame.y());
  ini.SetInt(section, "Width", window->width());
  ini.SetInt(section, "Height", window->height());
  ini.Save(ini_path);
}

long long ReadIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                     long long def) {
  IniFile ini;
  if (ini_path.empty() || !ini.Load(ini_path)) return def;
  return ini.GetInt(section, key, def);
}

std::string ReadIniString(const std::filesystem::path& ini_path, const char* section,
                          const char* key, const std::string& def) {
  IniFile ini;
  if (ini_path.empty() || !ini.Load(ini_path)) return def;
  return ini.GetString(section, key, def);
}

void WriteIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                 long long value) {
  if (ini_path.empty()) return;
  IniFile ini;
  ini.Load(ini_path);
  ini.SetInt(section, key, value);
  ini.Save(ini_path);
}

}  // namespace tessmar
