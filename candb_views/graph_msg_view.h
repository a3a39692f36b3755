#pragma once
// TGraphMsgView: the small always-on-top tool window that draws the bit layout of one CAN message
// (geometry from MessageLayout) and records which signal the user clicks. The main window polls
// the recorded click and selects that signal on the CANdb page.

#include <QImage>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "candb/message_layout.h"
#include "config/canlog_config.h"

namespace tessmar {

// The image control of the window: shows the drawing and reports mouse presses.
class LayoutImage : public QWidget {
  Q_OBJECT
 public:
  explicit LayoutImage(QWidget* parent = nullptr);
  void SetImage(QImage image);
  const QImage& image() const { return image_; }

 Q_SIGNALS:
  void pressed(QPoint pos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QImage image_;
};

class TGraphMsgView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 306;
  static constexpr int kClientHeight = 301;

  explicit TGraphMsgView(QWidget* parent = nullptr);

  // Draws the message (may be null) with its signals (at most 64 are used) and the selected one
  // (-1 for none), and remembers them for clicks.
  void Draw(const T_CanLog_MsgDef* message, const std::vector<T_CanLog_SigDef>& signals,
            int selected);

  // The last click: cell and signal (index among the drawn signals).
  const LayoutClick& last_click() const { return click_; }
  // The signal clicked since the last call, with the message it was drawn for; forgets it.
  struct ClickedSignal {
    std::string name;
    T_CanLog_MsgDef message;
  };
  std::optional<ClickedSignal> TakeClickedSignal();

  // True once the user closed the window (cleared when it is shown again).
  bool closed_by_user() const { return closed_by_user_; }
  LayoutImage* image() const { return Image1; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void OnPressed(QPoint pos);
  // Widens the window when its title bar would cut the caption off; true when it did.
  bool FitCaption();

  LayoutImage* Image1;
  MessageLayout layout_;
  T_CanLog_MsgDef message_;
  LayoutClick click_;
  bool clicked_ = false;
  bool closed_by_user_ = false;
};

}  // namespace tessmar
