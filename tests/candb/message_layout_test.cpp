// The message layout geometry: bit walks, the marks of the end bits, switch labels, colours,
// legend and clicks. A 306 x 301 image gives columns of 25 and rows of 25 pixels.

#include "candb/message_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

namespace tessmar {
namespace {

T_CanLog_SigDef Sig(const char* name, int sb, int nb, char bo) {
  T_CanLog_SigDef s;
  std::strncpy(s.sn, name, kMaxNameChars);
  s.sb = static_cast<int16_t>(sb);
  s.nb = static_cast<int16_t>(nb);
  s.bo = bo;
  s.id = 0x123;
  return s;
}

std::set<std::pair<int, int>> CellsOf(const LayoutDrawing& d, int signal, LayoutMark::Kind kind) {
  std::set<std::pair<int, int>> cells;
  for (const LayoutMark& m : d.marks) {
    if (m.signal == signal && m.kind == kind) cells.insert({m.byte, m.bit});
  }
  return cells;
}

// The bit marks in walking order (least significant first).
std::vector<const LayoutMark*> BitMarks(const LayoutDrawing& d, int signal) {
  std::vector<const LayoutMark*> marks;
  for (const LayoutMark& m : d.marks) {
    if (m.signal == signal && m.kind == LayoutMark::Kind::kBit) marks.push_back(&m);
  }
  return marks;
}

// An end bar is a vertical line; an arrow head two slanted ones.
bool HasBar(const LayoutMark& m) {
  for (const LayoutLine& l : m.lines) {
    if (l.x1 == l.x2) return true;
  }
  return false;
}
bool HasArrow(const LayoutMark& m) {
  for (const LayoutLine& l : m.lines) {
    if (l.y1 != l.y2 && l.x1 != l.x2) return true;
  }
  return false;
}

// ---- Bit walk -----------------------------------------------------------------------------------

TEST(MessageLayout, IntelSignalFillsBytesUpwardsWithBarAtStartAndArrowAtEnd) {
  MessageLayout layout;
  const LayoutDrawing d = layout.Draw(306, 301, nullptr, {Sig("Speed", 8, 16, 'I')}, -1);
  std::set<std::pair<int, int>> expected;
  for (int bit = 0; bit < 8; ++bit) expected.insert({1, bit}), expected.insert({2, bit});
  EXPECT_EQ(CellsOf(d, 0, LayoutMark::Kind::kBit), expected);
  const auto marks = BitMarks(d, 0);
  ASSERT_EQ(marks.size(), 16u);
  EXPECT_EQ(std::make_pair(marks.front()->byte, marks.front()->bit), std::make_pair(1, 0));
  EXPECT_TRUE(HasBar(*marks.front()));
  EXPECT_EQ(std::make_pair(marks.back()->byte, marks.back()->bit), std::make_pair(2, 7));
  EXPECT_TRUE(HasArrow(*marks.back()));
  for (std::size_t i = 1; i + 1 < marks.size(); ++i) {
    EXPECT_FALSE(HasBar(*marks[i]) || HasArrow(*marks[i])) << i;
  }
}

TEST(MessageLayout, MotorolaSignalContinuesIntoTheLowerByte) {
  MessageLayout layout;
  const LayoutDrawing d = layout.Draw(306, 301, nullptr, {Sig("Rpm", 8, 16, 'M')}, -1);
  const auto marks = BitMarks(d, 0);
  ASSERT_EQ(marks.size(), 16u);
  std::set<int> bytes;
  for (const LayoutMark* m : marks) bytes.insert(m->byte);
  EXPECT_EQ(bytes, (std::set<int>{0, 1}));
  EXPECT_EQ(std::make_pair(marks.front()->byte, marks.front()->bit), std::make_pair(1, 0));
  EXPECT_TRUE(HasBar(*marks.front()));
  EXPECT_EQ(std::make_pair(marks.back()->byte, marks.back()->bit), std::make_pair(0, 7));
  EXPECT_TRUE(HasArrow(*marks.back()));
  // c is its own inverse inside the frame.
  for (int x = 0; x < 64; ++x) EXPECT_EQ(MotorolaFlip(MotorolaFlip(x)), x) << x;
}

TEST(MessageLayout, BitsBeyondTheFrameLieOutsideTheGrid) {
  MessageLayout layout;
  const LayoutDrawing d = layout.Draw(306, 301, nullptr, {Sig("Long", 60, 8, 'I')}, -1);
  const auto marks = BitMarks(d, 0);
  ASSERT_EQ(marks.size(), 8u);
  EXPECT_EQ(marks.back()->byte, 8);
  EXPECT_GT(marks.back()->rect.top, layout.RowTop(10) - 1);
  EXPECT_TRUE(layout.Draw(306, 301, nullptr, {Sig("None", 0, 0, 'I')}, -1).marks.empty());
}

// ---- Multiplexer switch, colours, legend --------------------------------------------------------

TEST(MessageLayout, SwitchCellsCarryTheBitsOfTheSwitchValue) {
  T_CanLog_SigDef s = Sig("CellTemp", 8, 8, 'I');
  s.mu.MuxBitCount = 4;
  s.mu.MuxStartBit = 0;
  s.mu.MuxByteOrder = 'I';
  s.mu.MuxVal = 5;
  MessageLayout layout;
  const LayoutDrawing d = layout.Draw(306, 301, nullptr, {s}, 0);
  std::vector<std::string> labels;
  for (const LayoutMark& m : d.marks) {
    if (m.kind == LayoutMark::Kind::kSwitch) {
      labels.push_back(m.label);
      EXPECT_EQ(m.byte, 0);
      EXPECT_TRUE(m.selected);
    }
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"m=1", "m=0", "m=1", "m=0"}));
}

TEST(MessageLayout, ColoursRepeatEverySixteenSignalsAndTheSelectedOneIsDrawnLast) {
  std::vector<T_CanLog_SigDef> sigs;
  for (int i = 0; i < 17; ++i) sigs.push_back(Sig("S", i, 1, 'I'));
  MessageLayout layout;
  const LayoutDrawing d = layout.Draw(306, 301, nullptr, sigs, 3);
  EXPECT_EQ(LayoutSignalColor(16), LayoutSignalColor(0));
  EXPECT_EQ(LayoutSignalColor(0), (LayoutColor{207, 255, 207}));
  EXPECT_EQ(d.marks.back().signal, 3);
  EXPECT_TRUE(d.marks.back().selected);
  EXPECT_EQ(d.marks[15].signal, 16);
  EXPECT_EQ(d.marks[15].color, LayoutSignalColor(0));
  ASSERT_TRUE(d.has_legend);
  EXPECT_EQ(d.legend.sample.top, layout.RowTop(10) + layout.row_height() / 2);
  EXPECT_EQ(d.legend.color, LayoutSignalColor(3));
}

TEST(MessageLayout, CaptionAndLegendFollowMessageAndSelection) {
  T_CanLog_MsgDef msg;
  std::strcpy(msg.mn, "BMS_Temps");
  MessageLayout layout;
  const LayoutDrawing with = layout.Draw(306, 301, &msg, {Sig("A", 0, 4, 'I')}, 0);
  EXPECT_EQ(with.caption, "Layout of CAN message \"BMS_Temps\"");
  EXPECT_EQ(with.legend.text, "A");
  const LayoutDrawing without = layout.Draw(306, 301, nullptr, {Sig("A", 0, 4, 'I')}, -1);
  EXPECT_EQ(without.caption, "CAN message layout");
  EXPECT_FALSE(without.has_legend);
}

// ---- Clicks -------------------------------------------------------------------------------------

TEST(MessageLayout, ClickFindsTheCellAndTheFirstSignalCoveringIt) {
  MessageLayout layout;
  layout.Draw(306, 301, nullptr, {Sig("Intel", 8, 16, 'I'), Sig("Moto", 8, 16, 'M')}, -1);
  const LayoutRect byte0bit7 = layout.CellRect(0, 7);
  LayoutClick c = layout.Click(byte0bit7.left + 2, byte0bit7.top + 2);
  EXPECT_EQ(c.byte, 0);
  EXPECT_EQ(c.bit, 7);
  EXPECT_EQ(c.signal, 1);  // only the Motorola signal reaches byte 0
  const LayoutRect byte1bit0 = layout.CellRect(1, 0);
  c = layout.Click(byte1bit0.right, byte1bit0.bottom - 1);  // the right edge belongs to the cell
  EXPECT_EQ(c.byte, 1);
  EXPECT_EQ(c.bit, 0);
  EXPECT_EQ(c.signal, 0);  // both cover it: the first one wins
  const LayoutRect byte5 = layout.CellRect(5, 3);
  c = layout.Click(byte5.left + 1, byte5.top + 1);
  EXPECT_EQ(c.byte, 5);
  EXPECT_EQ(c.signal, -1);
  c = layout.Click(2, 2);  // the label corner
  EXPECT_EQ(c.byte, -1);
  EXPECT_EQ(c.signal, -1);
}

}  // namespace
}  // namespace tessmar
