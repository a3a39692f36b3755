#pragma once
// The "Trigger" page: the four-line trigger editor (device family 0), the ten-line trigger grid
// (later families) and the trigger option boxes. The rules live in config/trigger_editor.h; this
// page only shows them and forwards the user's edits.

#include <QWidget>
#include <array>

#include "config/canlog_config.h"
#include "config/trigger_editor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace tessmar {

class TriggerPage : public QWidget {
  Q_OBJECT
 public:
  TriggerPage(LoggerConfiguration& config, const int& update_guard, QWidget* parent = nullptr);

  // Shows the editor of the configuration's device family and fills every control (call under
  // the update guard). The grid is checked as it is filled.
  void Refill();
  // Writes what the user changed into a copy of the record, as part of applying the option page:
  // the four-line controls when they were edited, the grid when it is shown and was edited, and
  // the option boxes.
  void ApplyTo(T_CanLog_Config& edited);
  // The grid's own apply step: writes the grid into the configuration when it was edited (marks
  // the configuration modified when that changed it) and checks the lines. False when there was
  // nothing to apply.
  bool ApplyGrid();

  // ---- For the main window, the tests and the screenshots ----
  QTabWidget* tabs() const { return TS_Trigger; }
  QWidget* four_line_page() const { return four_line_page_; }
  QWidget* grid_page() const { return grid_page_; }
  QTableWidget* grid() const { return SG_TriggerConds; }
  QComboBox* action_list() const { return CB_GridAction; }
  QComboBox* signal_list() const { return CB_GridSignal; }
  QComboBox* operator_list() const { return CB_GridOperator; }
  bool grid_changed() const { return grid_changed_; }
  uint32_t line_flags(int line) const { return grid_model_.flags(line); }
  QPushButton* start_stop_button() const { return Btn_StartStop; }
  QLabel* info_label(int i) const { return i == 0 ? Lab_TrigInfo1 : Lab_TrigInfo2; }
  QComboBox* four_line_signal(int line) const { return lines_[std::size_t(line)].signal; }
  QComboBox* four_line_operator(int line, int b) const {
    return b == 0 ? lines_[std::size_t(line)].op_a : lines_[std::size_t(line)].op_b;
  }
  QLineEdit* four_line_value(int line, int b) const {
    return b == 0 ? lines_[std::size_t(line)].val_a : lines_[std::size_t(line)].val_b;
  }
  QComboBox* inner_combination(int line) const { return lines_[std::size_t(line)].inner; }
  QComboBox* outer_combination(int i) const { return CB_OuterCombi[std::size_t(i)]; }
  QCheckBox* option_box(int i) const { return Chk_TrigOption[std::size_t(i)]; }
  // Places the three drop-down lists over the current line's cells (hidden without a line).
  void PlaceGridLists();

 Q_SIGNALS:
  // A four-line control, the STOP/START2 button or an option box was changed by the user: the
  // option page is to be applied.
  void optionsEdited();
  // Text of the trigger check for the status line; empty: the check has nothing to say.
  void statusText(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct FourLineControls {
    QComboBox* signal = nullptr;
    QComboBox* op_a = nullptr;
    QLineEdit* val_a = nullptr;
    QComboBox* inner = nullptr;
    QComboBox* op_b = nullptr;
    QLineEdit* val_b = nullptr;
  };

  QWidget* BuildFourLinePage();
  QWidget* BuildGridPage();
  QWidget* BuildOptionsPage();
  void ShowEditorsOfFamily();
  void RefillGrid();
  void RefillFourLine();
  void ReadGridCells();
  void ShowGridCheck(const TriggerGridCheck& check);
  void OnGridListChosen(QComboBox* list, int column);
  void OnGridItemChanged(int row, int column);
  void OnFourLineEdited();
  void WriteFourLine(T_CanLog_Config& cfg) const;

  LoggerConfiguration& config_;
  const int& update_guard_;
  TriggerGrid grid_model_;
  bool grid_changed_ = false;
  bool four_line_edited_ = false;
  int filling_ = 0;  // raised while the page fills its own controls

  QTabWidget* TS_Trigger;
  QWidget* four_line_page_;
  QWidget* grid_page_;
  QTableWidget* SG_TriggerConds = nullptr;
  QComboBox* CB_GridAction = nullptr;
  QComboBox* CB_GridSignal = nullptr;
  QComboBox* CB_GridOperator = nullptr;
  std::array<FourLineControls, kMaxFourLineTriggerLines> lines_{};
  std::array<QComboBox*, 2> CB_OuterCombi{};
  QPushButton* Btn_StartStop = nullptr;
  QLabel* Lab_TrigInfo1 = nullptr;
  QLabel* Lab_TrigInfo2 = nullptr;
  std::array<QCheckBox*, kTrigOptionBoxes> Chk_TrigOption{};
};

}  // namespace tessmar
