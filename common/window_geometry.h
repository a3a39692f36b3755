#pragma once
// Where a top-level window goes on the screen, decided on plain rectangles. A window is placed by
// its frame (title bar and borders included) and the whole frame stays inside the available area
// of the screen (the screen less panels and docks), so that its title bar can always be grabbed.
// Standard library only; the windows measure their frames and screens and apply the result.

namespace tessmar {

// A rectangle in screen pixels; right() and bottom() are one past the last pixel.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  bool Contains(const ScreenRect& r) const {
    return r.left >= left && r.top >= top && r.right() <= right() && r.bottom() <= bottom();
  }
  bool operator==(const ScreenRect&) const = default;
};

// The parts of a frame around the window's own area.
struct FrameMargins {
  int left = 0;
  int top = 0;  // title bar and upper border
  int right = 0;
  int bottom = 0;
};

// The frame of a window whose own area is width x height, with its frame's top-left corner at
// (left, top).
ScreenRect FrameAround(int left, int top, int width, int height, const FrameMargins& margins);
// The window's own size inside a frame (at least 1 x 1).
int ClientWidth(const ScreenRect& frame, const FrameMargins& margins);
int ClientHeight(const ScreenRect& frame, const FrameMargins& margins);

// Shrinks a frame that is larger than the area to the area's size, then moves it the least
// distance that brings it inside. An empty area leaves the frame as it is.
ScreenRect FitIntoArea(ScreenRect frame, const ScreenRect& area);

// Where a window without a remembered position opens.
enum class DefaultPlacement {
  kOverOwner,    // centred over the owner, shifted down and right by `cascade` steps
  kBesideOwner,  // right of the owner (left of it when there is no room), top edges aligned
};

// The frame of a window of the given frame size opened next to its owner's frame, inside area.
ScreenRect PlaceByOwner(int frame_width, int frame_height, const ScreenRect& owner,
                        const ScreenRect& area, DefaultPlacement how, int cascade = 0);

}  // namespace tessmar
