#pragma once
// Geometry of the CAN message layout view: the 8 data bytes of a message as a grid of 8 x 8 bit
// cells (bit 7 at the left, byte 0 at the top), the cells each signal occupies with the marks of
// its least and most significant bits, the cross-hatched cells of a multiplexer switch with their
// "m=" labels, the legend of the selected signal, and the click hit test. The window only paints
// what this class computes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/canlog_config.h"

namespace tessmar {

struct LayoutColor {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const LayoutColor&, const LayoutColor&) = default;
};

// Colour of the signal at this position of the passed list (the palette repeats every 16).
LayoutColor LayoutSignalColor(int index);

// The Motorola position conversion c(x) = 56 - 8 * (x / 8) + (x mod 8) with truncating division;
// c is its own inverse. It maps a position to the bit order of the frame read as one 64-bit
// big-endian number.
int MotorolaFlip(int x);

// Frame positions (byte * 8 + bit) of bits 0 (least significant) to nb - 1 of a signal. Intel
// signals run upwards from sb; Motorola ('M') signals run through the big-endian order. Positions
// outside 0..63 are kept (they lie outside the grid).
std::vector<int> SignalBitPositions(int sb, int nb, char bo);

// Rectangle in pixels; right and bottom are the edges of the next cell (both included in clicks).
struct LayoutRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

struct LayoutLine {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int width = 1;
};

// One cell of a drawn signal: a bit of the signal itself, or a bit of its multiplexer switch.
struct LayoutMark {
  enum class Kind { kBit, kSwitch };
  Kind kind = Kind::kBit;
  int signal = 0;  // index in the passed list
  int byte = 0;    // may lie outside 0..7
  int bit = 0;
  LayoutRect rect;
  LayoutColor color;
  bool selected = false;
  std::vector<LayoutLine> lines;  // bit cells: the underline, arrow head and end bar
  std::string label;              // switch cells: "m=0" or "m=1"
};

struct LayoutLegend {
  LayoutRect sample;  // the sample cell, drawn as a one-bit signal
  std::vector<LayoutLine> lines;
  LayoutColor color;
  std::string text;  // the selected signal's name
  int text_x = 0, text_y = 0;
};

struct LayoutDrawing {
  std::string caption;
  std::vector<LayoutMark> marks;  // in painting order: the selected signal comes last
  bool has_legend = false;
  LayoutLegend legend;
};

// Result of a click: the clicked cell (-1 when none) and the first remembered signal covering it.
struct LayoutClick {
  int byte = -1;
  int bit = -1;
  int signal = -1;  // index among the remembered signals, -1 when none
};

class MessageLayout {
 public:
  static constexpr int kMaxSignals = 64;

  // Lays out the message for an image of width x height pixels and remembers the signals (at
  // most 64) for clicks. `message` may be null; `selected` is -1 when no signal is selected.
  LayoutDrawing Draw(int width, int height, const T_CanLog_MsgDef* message,
                     const std::vector<T_CanLog_SigDef>& signals, int selected);

  // The cell and the first remembered signal under the point.
  LayoutClick Click(int x, int y) const;

  const std::vector<T_CanLog_SigDef>& remembered() const { return remembered_; }

  // The grid: 12 columns and 12 rows over the image.
  int column_width() const { return width_ / 12; }
  int row_height() const { return height_ / 12; }
  int ColumnLeft(int column) const { return column * column_width(); }
  int RowTop(int row) const { return row * row_height(); }
  LayoutRect CellRect(int byte, int bit) const;

 private:
  void AddSignal(LayoutDrawing& d, const T_CanLog_SigDef& sig, int index, bool selected) const;

  int width_ = 0;
  int height_ = 0;
  std::vector<T_CanLog_SigDef> remembered_;
};

// The underline of a bit cell with the arrow head (most significant bit) and the end bar (least
// significant bit); thick lines for the selected signal.
std::vector<LayoutLine> BitCellLines(const LayoutRect& r, bool lsb, bool msb, bool selected);

}  // namespace tessmar
