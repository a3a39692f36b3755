#include "common/window_geometry.h"

#include <algorithm>

namespace tessmar {
namespace {

// One cascade step: far enough apart that each title bar stays visible.
constexpr int kCascadeStep = 32;

}  // namespace

ScreenRect FrameAround(int left, int top, int width, int height, const FrameMargins& margins) {
  return {left, top, width + margins.left + margins.right, height + margins.top + margins.bottom};
}

int ClientWidth(const ScreenRect& frame, const FrameMargins& margins) {
  return std::max(1, frame.width - margins.left - margins.right);
}

int ClientHeight(const ScreenRect& frame, const FrameMargins& margins) {
  return std::max(1, frame.height - margins.top - margins.bottom);
}

ScreenRect FitIntoArea(ScreenRect frame, const ScreenRect& area) {
  if (area.width <= 0 || area.height <= 0) return frame;
  frame.width = std::min(frame.width, area.width);
  frame.height = std::min(frame.height, area.height);
  frame.left = std::clamp(frame.left, area.left, area.right() - frame.width);
  frame.top = std::clamp(frame.top, area.top, area.bottom() - frame.height);
  return frame;
}

ScreenRect PlaceByOwner(int frame_width, int frame_height, const ScreenRect& owner,
                        const ScreenRect& area, DefaultPlacement how, int cascade) {
  ScreenRect frame{0, 0, frame_width, frame_height};
  if (how == DefaultPlacement::kBesideOwner) {
    frame.top = owner.top;
    frame.left = owner.right();
    // No room on the right: on the left when it fits there, else at the area's right edge.
    if (frame.right() > area.right() && owner.left - frame_width >= area.left) {
      frame.left = owner.left - frame_width;
    }
  } else {
    frame.left = owner.left + (owner.width - frame_width) / 2 + cascade * kCascadeStep;
    frame.top = owner.top + (owner.height - frame_height) / 2 + cascade * kCascadeStep;
  }
  return FitIntoArea(frame, area);
}

}  // namespace tessmar
