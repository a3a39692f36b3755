#include "config/table_editors.h"

#include <gtest/gtest.h>

#include <memory>

namespace tessmar {
namespace {

std::unique_ptr<T_CanLog_Config> Config(uint32_t family) {
  auto c = std::make_unique<T_CanLog_Config>();
  c->DeviceFamily = family;
  return c;
}

// ---- Own-message grid --------------------------------------------------------------------------

TEST(MessageGrid, ApplyReadsIdBusAndInterval) {
  auto c = Config(1);
  std::vector<MessageGridRow> rows(6);
  rows[0] = {"1", "0x123", "Std", "Node", "25"};
  rows[1] = {"2", "0x0123", "Ext", "", "20000"};
  rows[2] = {"3", "291", std::string(50, 'n'), "", "-30"};
  rows[3] = {"1", "0xFFFFFFFF", "", "", ""};
  rows[4] = {"x", "zz", "", "", "abc"};
  c->Msg[5].id = 0x55;  // freed by its empty CAN-ID cell
  ApplyMessageGrid(rows, *c);

  EXPECT_EQ(c->Msg[0].id, 0x123u);
  EXPECT_EQ(c->Msg[0].wi, 2);
  EXPECT_EQ(c->Msg[1].id, 0x123u | kCanIdExtended | kCanIdBus2);
  EXPECT_EQ(c->Msg[1].wi, 1000);
  EXPECT_EQ(c->Msg[2].id, 291u);  // bus 3 is stored as bus 1
  EXPECT_EQ(TextOf(c->Msg[2].mn).size(), kMaxNameChars);
  EXPECT_EQ(c->Msg[2].wi, 0);
  // Only identifier bits come from the cell: the slot stays used and on bus 1.
  EXPECT_EQ(c->Msg[3].id, kCanIdMask | kCanIdExtended);
  EXPECT_EQ(c->Msg[4].id, 0u);
  EXPECT_FALSE(c->Msg[5].used());

  const MessageGridFill fill = FillMessageGrid(*c);
  EXPECT_EQ(fill.rows[0], (MessageGridRow{"1", "0x123", "Std", "Node", "20"}));
  EXPECT_EQ(fill.rows[1], (MessageGridRow{"2", "0x00000123", "Ext", "", "10000"}));
  EXPECT_EQ(fill.rows[2].bus, "1");
  EXPECT_EQ(fill.rows[5], MessageGridRow{});
  EXPECT_FALSE(fill.red);
}

TEST(MessageGrid, CutAtFamilyLimitAndRedBeyondIt) {
  auto c = Config(0);  // 48 messages
  EXPECT_EQ(FillMessageGrid(*c).rows.size(), 49u);
  c = Config(4);  // 256 messages: never more rows than slots
  EXPECT_EQ(FillMessageGrid(*c).rows.size(), 256u);

  // A used slot right after the cut is shown, so applying the grid keeps it.
  c = Config(0);
  c->Msg[48].id = 0x48;
  MessageGridFill fill = FillMessageGrid(*c);
  ASSERT_EQ(fill.rows.size(), 49u);
  EXPECT_EQ(fill.rows[48].can_id, "0x048");
  ApplyMessageGrid(fill.rows, *c);
  EXPECT_EQ(c->Msg[48].id, 0x48u);

  for (int i = 0; i < 49; ++i) c->Msg[std::size_t(i)].id = uint32_t(i);
  fill = FillMessageGrid(*c);
  EXPECT_TRUE(fill.red);
  EXPECT_EQ(fill.rows.size(), 51u);
}

// ---- Expression grid ---------------------------------------------------------------------------

TEST(ExpressionGrid, RoundTripAndDroppedRows) {
  auto c = Config(1);
  std::vector<ExpressionGridRow> rows(3);
  rows[0] = {"Power", "-1.5", "1e3", "Torque*Speed/9549"};
  rows[1] = {"", "0", "1", "typed but nameless"};
  rows[2] = {"Odd", "abc", "0x10", ""};
  SetText(c->Exp[1].na, "old");
  SetText(c->Exp[1].ex, "old");
  ApplyExpressionGrid(rows, *c);
  EXPECT_EQ(TextOf(c->Exp[0].ex), "Torque*Speed/9549");
  EXPECT_EQ(c->Exp[0].mi, -1.5);
  EXPECT_EQ(c->Exp[0].ma, 1000.0);
  EXPECT_FALSE(c->Exp[1].used());
  EXPECT_EQ(TextOf(c->Exp[1].na), "");
  EXPECT_EQ(c->Exp[2].mi, 0.0);
  EXPECT_EQ(c->Exp[2].ma, 16.0);

  const auto shown = FillExpressionGrid(*c);
  EXPECT_EQ(shown[0], (ExpressionGridRow{"Power", "-1.5", "1000", "Torque*Speed/9549"}));
  EXPECT_EQ(shown[1], ExpressionGridRow{});
  EXPECT_EQ(shown[2].name, "Odd");
}

// ---- GPS column grid ---------------------------------------------------------------------------

TEST(GpsGrid, MoveRenumbersAndApplyPlacesByNumber) {
  std::vector<GpsGridRow> rows;
  for (int i = 0; i < kGpsGridRows; ++i) {
    rows.push_back({std::to_string(i + 1), "T" + std::to_string(i + 1), "u", "f", "e"});
  }
  rows[7].title.clear();
  EXPECT_FALSE(MoveGpsGridRow(rows, 0, 8));
  ASSERT_TRUE(MoveGpsGridRow(rows, 1, 5));  // column 2 moves to position 6
  for (int i = 0; i < kGpsGridRows; ++i) EXPECT_EQ(rows[std::size_t(i)].nr, std::to_string(i + 1));
  EXPECT_EQ(rows[5].title, "T2");
  EXPECT_EQ(rows[1].title, "T3");

  rows[0].title = std::string(60, 't');
  rows[2].nr = "0";  // no column of that number: ignored
  const auto columns = ApplyGpsGrid(rows);
  EXPECT_EQ(columns[0]->title.size(), kMaxNameChars);
  EXPECT_FALSE(columns[2].has_value());
  EXPECT_EQ(columns[5]->title, "T2");
  EXPECT_EQ(columns[7]->title, "");  // empty title clears the column
  EXPECT_EQ(columns[7]->expression, "");
}

}  // namespace
}  // namespace tessmar
