#include "candb/message_layout.h"

#include <algorithm>

namespace tessmar {
namespace {

constexpr std::array<LayoutColor, 16> kPalette = {{
    {207, 255, 207},
    {207, 207, 255},
    {255, 207, 207},
    {255, 207, 255},
    {207, 207, 207},
    {255, 207, 127},
    {207, 255, 255},
    {255, 255, 207},
    {255, 127, 127},
    {127, 255, 127},
    {127, 127, 255},
    {207, 127, 255},
    {255, 207, 127},
    {127, 207, 207},
    {239, 239, 255},
    {255, 239, 239},
}};

// Bit i of the switch value; the value is widened with its sign, so bits beyond 63 repeat the
// sign bit.
int SwitchBit(int64_t value, int i) {
  if (i >= 63) return value < 0 ? 1 : 0;
  return static_cast<int>((static_cast<uint64_t>(value) >> i) & 1u);
}

}  // namespace

LayoutColor LayoutSignalColor(int index) {
  const int k = ((index % 16) + 16) % 16;
  return kPalette[static_cast<std::size_t>(k)];
}

int MotorolaFlip(int x) { return 56 - 8 * (x / 8) + (x % 8); }

std::vector<int> SignalBitPositions(int sb, int nb, char bo) {
  std::vector<int> positions;
  if (nb <= 0) return positions;
  positions.reserve(static_cast<std::size_t>(nb));
  const bool motorola = bo == 'M';
  const int base = motorola ? MotorolaFlip(sb) : sb;
  for (int i = 0; i < nb; ++i) positions.push_back(motorola ? MotorolaFlip(base + i) : sb + i);
  return positions;
}

std::vector<LayoutLine> BitCellLines(const LayoutRect& r, bool lsb, bool msb, bool selected) {
  std::vector<LayoutLine> lines;
  const int y = (2 * r.bottom + r.top) / 3;
  const int width = selected ? 3 : 1;
  const int x1 = msb ? r.left + 3 : r.left;
  const int x2 = lsb ? r.right - 4 : r.right;
  lines.push_back({x1, y, x2, y, width});
  if (lsb) lines.push_back({x2, y - 2, x2, y + 3, selected ? 2 : 1});
  if (msb) {
    const int head = selected ? 2 : 1;
    lines.push_back({r.left + 3, y, r.left + 7, y - 4, head});
    lines.push_back({r.left + 3, y, r.left + 7, y + 4, head});
  }
  return lines;
}

LayoutRect MessageLayout::CellRect(int byte, int bit) const {
  LayoutRect r;
  r.left = ColumnLeft(9 - bit);
  r.right = ColumnLeft(10 - bit);
  r.top = RowTop(byte + 2);
  r.bottom = RowTop(byte + 3);
  return r;
}

void MessageLayout::AddSignal(LayoutDrawing& d, const T_CanLog_SigDef& sig, int index,
                              bool selected) const {
  // One mark per walked bit; the switch cells follow the signal's own cells.
  const auto add = [&](LayoutMark::Kind kind, int position) -> LayoutMark& {
    LayoutMark& m = d.marks.emplace_back();
    m.kind = kind;
    m.signal = index;
    m.byte = position / 8;
    m.bit = position % 8;
    m.rect = CellRect(m.byte, m.bit);
    m.color = LayoutSignalColor(index);
    m.selected = selected;
    return m;
  };
  const std::vector<int> bits = SignalBitPositions(sig.sb, sig.nb, sig.bo);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    LayoutMark& m = add(LayoutMark::Kind::kBit, bits[i]);
    m.lines = BitCellLines(m.rect, i == 0, i + 1 == bits.size(), selected);
  }
  if (sig.mu.MuxBitCount < 1) return;
  const std::vector<int> sw =
      SignalBitPositions(sig.mu.MuxStartBit, sig.mu.MuxBitCount, sig.mu.MuxByteOrder);
  for (std::size_t i = 0; i < sw.size(); ++i) {
    add(LayoutMark::Kind::kSwitch, sw[i]).label =
        SwitchBit(sig.mu.MuxVal, static_cast<int>(i)) ? "m=1" : "m=0";
  }
}

LayoutDrawing MessageLayout::Draw(int width, int height, const T_CanLog_MsgDef* message,
                                  const std::vector<T_CanLog_SigDef>& signals, int selected) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  LayoutDrawing d;
  d.caption =
      message ? "Layout of CAN message \"" + std::string(message->mn) + "\"" : "CAN message layout";
  const int n = static_cast<int>(std::min<std::size_t>(signals.size(), kMaxSignals));
  for (int i = 0; i < n; ++i) {
    if (i != selected) AddSignal(d, signals[static_cast<std::size_t>(i)], i, false);
  }
  if (selected >= 0 && selected < n) {
    const T_CanLog_SigDef& sig = signals[static_cast<std::size_t>(selected)];
    AddSignal(d, sig, selected, true);
    d.has_legend = true;
    LayoutLegend& l = d.legend;
    l.sample.left = ColumnLeft(1);
    l.sample.top = RowTop(10) + row_height() / 2;
    l.sample.right = l.sample.left + column_width();
    l.sample.bottom = l.sample.top + row_height();
    l.lines = BitCellLines(l.sample, true, true, true);
    l.color = LayoutSignalColor(selected);
    l.text = sig.sn;
    l.text_x = l.sample.right + 8;
    l.text_y = l.sample.top + 4;
  }
  remembered_.assign(signals.begin(), signals.begin() + n);
  return d;
}

LayoutClick MessageLayout::Click(int x, int y) const {
  LayoutClick click;
  for (int byte = 0; byte < 8 && click.byte < 0; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      if (CellRect(byte, bit).Contains(x, y)) {
        click.byte = byte;
        click.bit = bit;
        break;
      }
    }
  }
  if (click.byte < 0) return click;
  const int p = click.byte * 8 + click.bit;
  for (std::size_t i = 0; i < remembered_.size(); ++i) {
    const T_CanLog_SigDef& s = remembered_[i];
    const bool covered = s.bo == 'M' ? MotorolaFlip(s.sb) <= MotorolaFlip(p) &&
                                           MotorolaFlip(p) <= MotorolaFlip(s.sb) + s.nb - 1
                                     : s.sb <= p && p <= s.sb + s.nb - 1;
    if (covered) {
      click.signal = static_cast<int>(i);
      break;
    }
  }
  return click;
}

}  // namespace tessmar
