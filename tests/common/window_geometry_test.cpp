#include "common/window_geometry.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tessmar {

void PrintTo(const ScreenRect& r, std::ostream* out) {
  *out << r.left << ',' << r.top << ' ' << r.width << 'x' << r.height;
}

namespace {

// A second screen left of the primary one, with a panel of 30 pixels at its top.
constexpr ScreenRect kArea{-1280, 30, 1280, 994};

TEST(WindowGeometry, FramesOffAnEdgeComeBackWholeAndTooLargeOnesShrink) {
  // Off the top (title bar unreachable) and the right, off the right, off the bottom left.
  EXPECT_EQ(FitIntoArea({-300, -20, 400, 300}, kArea), (ScreenRect{-400, 30, 400, 300}));
  EXPECT_EQ(FitIntoArea({100, 200, 400, 300}, kArea), (ScreenRect{-400, 200, 400, 300}));
  EXPECT_EQ(FitIntoArea({-5000, 9000, 400, 300}, kArea), (ScreenRect{-1280, 724, 400, 300}));
  // Larger than the area: the area, whatever the position.
  EXPECT_EQ(FitIntoArea({3000, -60, 6000, 5000}, kArea), kArea);
  // Inside already: unchanged. No known area: unchanged.
  EXPECT_EQ(FitIntoArea({-900, 400, 400, 300}, kArea), (ScreenRect{-900, 400, 400, 300}));
  EXPECT_EQ(FitIntoArea({-900, -400, 400, 300}, {}), (ScreenRect{-900, -400, 400, 300}));
}

TEST(WindowGeometry, FrameAndClientSizesConvertBothWays) {
  const FrameMargins m{1, 20, 1, 5};
  const ScreenRect frame = FrameAround(10, 0, 306, 301, m);
  EXPECT_EQ(frame, (ScreenRect{10, 0, 308, 326}));
  EXPECT_EQ(ClientWidth(frame, m), 306);
  EXPECT_EQ(ClientHeight(frame, m), 301);
  EXPECT_EQ(ClientHeight({0, 0, 10, 10}, m), 1);  // never empty
}

TEST(WindowGeometry, NewWindowsOpenByTheirOwner) {
  const ScreenRect screen{0, 0, 1024, 768};
  const ScreenRect owner{100, 50, 600, 500};
  // Over the owner, centred; the next window one cascade step further.
  EXPECT_EQ(PlaceByOwner(200, 100, owner, screen, DefaultPlacement::kOverOwner),
            (ScreenRect{300, 250, 200, 100}));
  const ScreenRect second = PlaceByOwner(200, 100, owner, screen, DefaultPlacement::kOverOwner, 1);
  EXPECT_GT(second.left, 300);
  EXPECT_GT(second.top, 250);
  // Beside: right of the owner; with no room there, left of it; with room on neither side, at
  // the screen's right edge.
  EXPECT_EQ(PlaceByOwner(300, 320, owner, screen, DefaultPlacement::kBesideOwner),
            (ScreenRect{700, 50, 300, 320}));
  EXPECT_EQ(PlaceByOwner(300, 320, {400, 50, 600, 500}, screen, DefaultPlacement::kBesideOwner),
            (ScreenRect{100, 50, 300, 320}));
  EXPECT_EQ(PlaceByOwner(300, 320, {0, 0, 1018, 761}, screen, DefaultPlacement::kBesideOwner),
            (ScreenRect{724, 0, 300, 320}));
  // A large window over a small owner near the edge stays on the screen.
  EXPECT_TRUE(screen.Contains(
      PlaceByOwner(900, 700, {900, 700, 100, 60}, screen, DefaultPlacement::kOverOwner, 3)));
}

}  // namespace
}  // namespace tessmar
