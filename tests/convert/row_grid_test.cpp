#include "convert/row_grid.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessmar {
namespace {

// Feeds entry times through the grid as the conversion pass does and collects the row times.
struct GridRun {
  RowGrid grid{0.01};
  std::vector<double> rows;
  RowGrid::Jump jump;
  bool Entry(double now) {
    jump = {};
    const bool ok = grid.BeforeEntry(
        now, [&](double t) { return rows.push_back(t), true; }, &jump);
    grid.AfterEntry(now);
    if (!grid.running()) grid.StartAfter(now);
    return ok;
  }
  void Finish() {
    (void)grid.Finish([&](double t) { return rows.push_back(t), true; });
  }
};

void ExpectRows(const std::vector<double>& rows, const std::vector<double>& expected) {
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_NEAR(rows[i], expected[i], 1e-9) << i;
}

// A row is written once a later entry arrives (before that entry's values), never earlier; an
// entry on a row's tick still reaches that row; the end writes the rows up to the last entry.
TEST(RowGrid, SampleAndHoldWithoutLookAhead) {
  GridRun r;
  r.Entry(0.005);  // grid starts at 0.01
  EXPECT_TRUE(r.rows.empty());
  r.Entry(0.012);
  ExpectRows(r.rows, {0.01});
  r.Entry(0.03);  // on the tick of row 0.03: rows before it only
  r.Entry(0.03);
  ExpectRows(r.rows, {0.01, 0.02});
  r.Entry(0.0415);
  ExpectRows(r.rows, {0.01, 0.02, 0.03, 0.04});
  r.Finish();  // nothing up to 0.0415 is left
  ExpectRows(r.rows, {0.01, 0.02, 0.03, 0.04});
  r.Entry(0.06);
  r.Finish();
  ExpectRows(r.rows, {0.01, 0.02, 0.03, 0.04, 0.05, 0.06});
}

// Time going back more than 3 s restarts the grid after the entry; a gap of more than 100
// intervals moves it to the entry. Both first write the rows up to the previous entry.
TEST(RowGrid, StepBackAndGapMoveTheGrid) {
  GridRun r;
  r.Entry(10.005);
  r.Entry(10.025);
  ExpectRows(r.rows, {10.01, 10.02});
  r.Entry(2.004);  // back: rows up to 10.025 are not due yet, the grid restarts at 2.01
  ExpectRows(r.rows, {10.01, 10.02});
  EXPECT_FALSE(r.jump.gap);
  r.Entry(2.015);
  ExpectRows(r.rows, {10.01, 10.02, 2.01});

  r.Entry(5.0);  // a gap of about 300 intervals after 2.02
  EXPECT_TRUE(r.jump.gap);
  EXPECT_NEAR(r.jump.last_written, 2.01, 1e-9);
  EXPECT_EQ(r.jump.skipped, 298);
  ExpectRows(r.rows, {10.01, 10.02, 2.01});  // 2.02 lies after the entry at 2.015
  r.Entry(5.021);
  ExpectRows(r.rows, {10.01, 10.02, 2.01, 5.0, 5.01, 5.02});

  // A clock thrown years ahead: the count of skipped grid times needs more than 32 bits.
  r.Entry(1.1e9);
  EXPECT_TRUE(r.jump.gap);
  EXPECT_GT(r.jump.skipped, int64_t{100'000'000'000});
}

TEST(RowGrid, FailedWriteStopsAndStoppedGridWritesNothing) {
  RowGrid grid(0.01);
  int calls = 0;
  auto fail_second = [&](double) { return ++calls < 2; };
  EXPECT_TRUE(grid.BeforeEntry(1.0, fail_second, nullptr));  // not running yet
  grid.AfterEntry(1.0);
  grid.StartAfter(1.0);
  EXPECT_FALSE(grid.BeforeEntry(1.1, fail_second, nullptr));
  EXPECT_EQ(calls, 2);
  grid.Stop();
  EXPECT_TRUE(grid.Finish(fail_second));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace tessmar
