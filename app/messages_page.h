#pragma once
// The "Messages, etc" page: the own-message grid and the expression grid, each written back to
// the configuration only by its "CLICK HERE TO APPLY EDITS !!!" button.

#include <QWidget>
#include <array>

#include "config/canlog_config.h"

class QPushButton;
class QTableWidget;

namespace tessmar {

class MessagesPage : public QWidget {
  Q_OBJECT
 public:
  MessagesPage(LoggerConfiguration& config, const int& update_guard, QWidget* parent = nullptr);

  // Fills both grids from the configuration and disables both apply buttons. A grid with
  // unapplied edits keeps them while the table under it is the one it was filled from, so that
  // only a change of the data (loading, "new", another page's edit) discards what was typed.
  void Refill();
  // The apply buttons' actions: write the grid into the configuration, mark it modified, refill.
  void ApplyMessages();
  void ApplyExpressions();

  QTableWidget* message_grid() const { return SG_OwnMessages; }
  QTableWidget* expression_grid() const { return SG_Expressions; }
  QPushButton* apply_messages_button() const { return Btn_ApplyMessages; }
  QPushButton* apply_expressions_button() const { return Btn_ApplyExpressions; }
  bool message_grid_red() const { return message_grid_red_; }

 Q_SIGNALS:
  // A grid was applied: the other pages show the new tables.
  void applied();

 private:
  void RefillMessages();
  void RefillExpressions();

  LoggerConfiguration& config_;
  const int& update_guard_;
  int filling_ = 0;
  bool message_grid_red_ = false;
  // The tables (and family) the grids were last filled from.
  std::array<T_CanLog_MsgDef, MAX_LOGGED_MESSAGES> shown_messages_{};
  std::array<T_CanLog_ExprDef, MAX_LOGGED_EXPRESSIONS> shown_expressions_{};
  uint32_t shown_family_ = kDeviceFamilyNone;

  QTableWidget* SG_OwnMessages;
  QTableWidget* SG_Expressions;
  QPushButton* Btn_ApplyMessages;
  QPushButton* Btn_ApplyExpressions;
  QPushButton* Btn_HelpMessages;
  QPushButton* Btn_HelpExpressions;
};

}  // namespace tessmar
