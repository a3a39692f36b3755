// Calendar conversion and the running clock's extension and repair rules.

#include "logfile/running_clock.h"

#include <gtest/gtest.h>

#include <random>

#include "common/message_output.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

using testing::Bytes;

constexpr double kF = 39065.5;
constexpr int64_t kOct2017 = 1508416496;  // 2017-10-19 12:34:56

// ---- Calendar ------------------------------------------------------------------------------

TEST(Calendar, KnownDates) {
  EXPECT_EQ(DateToSeconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(DateToSeconds(1969, 12, 31, 23, 59, 59), -1);
  EXPECT_EQ(DateToSeconds(1990, 1, 1, 0, 0, 0), 631152000);
  EXPECT_EQ(DateToSeconds(2000, 1, 1, 0, 0, 0), 946684800);
  EXPECT_EQ(DateToSeconds(2017, 10, 19, 12, 34, 56), kOct2017);
  EXPECT_EQ(DateToSeconds(2038, 1, 1, 0, 0, 0), 2145916800);
  EXPECT_EQ(DateToSeconds(2050, 1, 1, 0, 0, 0), 2524608000);
  EXPECT_EQ(DateToSeconds(2016, 3, 1, 0, 0, 0) - DateToSeconds(2016, 2, 28, 0, 0, 0), 2 * 86400);
  EXPECT_EQ(DateToSeconds(2100, 3, 1, 0, 0, 0) - DateToSeconds(2100, 2, 28, 0, 0, 0), 86400);
  EXPECT_EQ(DateToSeconds(2017, 13, 1, 0, 0, 0), DateToSeconds(2018, 1, 1, 0, 0, 0));
}

TEST(Calendar, RoundTripAndFormat) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const int64_t s = static_cast<int64_t>(rng() % 20000000000ull) - 5000000000LL;
    const CalendarTime t = SecondsToCalendar(static_cast<long double>(s));
    ASSERT_EQ(DateToSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second), s) << s;
  }
  EXPECT_EQ(FormatDateTime(kOct2017 + 0.78L), "2017-10-19 12:34:56.78");
  EXPECT_EQ(FormatDateTime(-0.5L), "1969-12-31 23:59:59.50");
  EXPECT_EQ(FormatDateTime(59.999L), "1970-01-01 00:00:59.99") << "hundredths are truncated";
  EXPECT_EQ(FormatDateTime(std::numeric_limits<long double>::quiet_NaN()),
            "1970-01-01 00:00:00.00");
  EXPECT_FALSE(FormatDateTime(1e300L).empty());
}

// ---- Clock fixture -------------------------------------------------------------------------

class ClockTest : public ::testing::Test {
 protected:
  void Start(uint32_t accepted_low, bool new_file_on_startup = false,
             ClockPass pass = ClockPass::kConversion) {
    clock.ResetForFile({kOct2017, accepted_low}, kF, new_file_on_startup, &msgs);
    clock.BeginPass(pass);
  }
  void Can(uint32_t stamp24, uint32_t id = 0x100, int64_t pos = 0x40) {
    const Bytes e = testing::CanEntry(stamp24, id, {1, 2, 3, 4, 5, 6, 7, 8});
    clock.ApplyCanFrame(e.data(), pos);
  }
  void Tim(uint32_t count, int64_t seconds_after, int hundredths = 0, int64_t pos = 0x80) {
    const CalendarTime t = SecondsToCalendar(static_cast<long double>(kOct2017 + seconds_after));
    const Bytes e = testing::TimeEntry(count, static_cast<int>(t.year), t.month, t.day, t.hour,
                                       t.minute, t.second, hundredths);
    clock.ApplyTimeEntry(e.data(), pos);
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const auto& e : capture.entries()) n += e.text.find(text) != std::string::npos;
    return n;
  }

  MessageCapture capture;
  DecodeMessages msgs;
  RunningClock clock;
};

// ---- 24-bit extension ----------------------------------------------------------------------

TEST_F(ClockTest, TwentyFourBitWrapIsExtended) {
  Start(0x00FFFFF0);
  Can(0x000010);
  EXPECT_EQ(clock.AcceptedLow(), 0x01000010u);
  EXPECT_EQ(msgs.error_count, 0);
  // Stamps moving forward within the 24 bits keep bits 24..31.
  Can(0x000100);
  EXPECT_EQ(clock.AcceptedLow(), 0x01000100u);
  EXPECT_NEAR(static_cast<double>(clock.SecondsSinceTick0()), 0x01000100 / kF, 1e-9);
}

TEST_F(ClockTest, LostCarryFromBit15IsRepairedAndReportedWhenVerbose) {
  msgs.verbose = true;
  Start(0x0012FF80);
  Can(0x120005, 0x100, 0x1234);
  EXPECT_EQ(clock.AcceptedLow(), 0x00130005u);
  ASSERT_EQ(Count("Fixed timestamp overflow (bit15 -> bit16) at fp=0x00001234, ts=0x00130005, "
                  "prev=0x0012FF80, ta="),
            1);
  EXPECT_EQ(msgs.error_count, 0);
}

TEST_F(ClockTest, SmallStepBackIsClamped) {
  Start(0x00001000);
  Can(0x000F00);  // 256 ticks back, about 6.6 ms
  EXPECT_EQ(clock.AcceptedLow(), 0x00001000u);
  EXPECT_TRUE(capture.entries().empty());
}

TEST_F(ClockTest, UnresolvableStepBackIsBridgedWithTenSeconds) {
  Start(0x00400000);
  const ExtTime before = clock.AbsoluteTime();
  Can(0x3FF000, 0x100, 0x50);
  EXPECT_EQ(msgs.error_count, 1);
  EXPECT_TRUE(clock.Unresolved());
  ASSERT_EQ(Count("UNRESOLVABLE 24-bit timestamp overflow at fp=0x00000050, ts=0x003FF000, "
                  "prev=0x00400000, ta="),
            1);
  EXPECT_EQ(Count("deltaT=-0.1 s"), 1);
  EXPECT_EQ(Count("Added TEN SECONDS to bridge \"gap\" in timestamp at fp=0x00000050, "
                  "ts=0x003FF000, ta="),
            1);
  EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime() - before), 10.0, 1e-6);
  EXPECT_EQ(clock.AcceptedLow(), 0x003FF000u);
  EXPECT_EQ(clock.High(), 0u);
  // Later frames continue from the bridged time.
  Can(0x400000);
  EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime() - before), 10.0 + 0x1000 / kF, 1e-6);
}

TEST_F(ClockTest, UnresolvableStepBackIsTakenWhenEachStartMakesANewFile) {
  Start(0x00400000, true);
  Can(0x3FF000);
  EXPECT_EQ(msgs.error_count, 1);
  EXPECT_EQ(Count("Added TEN SECONDS"), 0);
  EXPECT_EQ(clock.AcceptedLow(), 0x003FF000u);
}

TEST_F(ClockTest, DummyBlockIsSkippedAndReportedOncePerFile) {
  Start(0x1000);
  const Bytes zero(16, 0);
  clock.ApplyCanFrame(zero.data(), 0x220);
  clock.ApplyCanFrame(zero.data(), 0x230);
  EXPECT_EQ(clock.AcceptedLow(), 0x1000u);
  EXPECT_EQ(Count("Warning: Skipped an 'all-zero' dummy block at filepos=0x00000220"), 1);
  EXPECT_EQ(Count("dummy block"), 1);
  msgs.ResetForFile();
  clock.ApplyCanFrame(zero.data(), 0x240);
  EXPECT_EQ(Count("dummy block"), 2);
}

// ---- 32-bit step ---------------------------------------------------------------------------

TEST_F(ClockTest, ThirtyTwoBitWrapIncrementsTheHighPart) {
  Start(0xFFFFFF00, false, ClockPass::kPreScan);
  clock.ApplyMarkerCount(0x00000100, 0x400);
  EXPECT_EQ(clock.High(), 1u);
  EXPECT_EQ(clock.TickCount(), 0x100000100ull);
  EXPECT_EQ(Count("32-bit timestamp overflow at filepos=0x00000400 ."), 1);
  // A CAN frame whose 24 bits wrap into bit 32 lands in the next high part as well.
  Start(0xFFFFFFF0);
  Can(0x000010);
  EXPECT_EQ(clock.TickCount(), 0x100000010ull);
}

TEST_F(ClockTest, LeapForwardDoesNotCountAsWrap) {
  Start(0x00000010, false, ClockPass::kPreScan);
  clock.ApplyMarkerCount(0xF0000000, 0x400);
  EXPECT_EQ(clock.High(), 0u);
  EXPECT_EQ(clock.TickCount(), 0xF0000000ull);
}

TEST_F(ClockTest, BulkCountOnlyMovesForward) {
  Start(0x5000);
  clock.ApplyBulkCount(0x4000);
  EXPECT_EQ(clock.AcceptedLow(), 0x5000u);
  clock.ApplyBulkCount(0x6000);
  EXPECT_EQ(clock.AcceptedLow(), 0x6000u);
  // A filler block carries no count: a later, older block count still does not move the clock.
  Start(0x00500000);
  const Bytes zero(16, 0);
  clock.ApplyCanFrame(zero.data(), 0x20);
  clock.ApplyBulkCount(0x00400000);
  EXPECT_EQ(clock.AcceptedLow(), 0x00500000u);
}

// ---- Time entries --------------------------------------------------------------------------

TEST_F(ClockTest, TimeEntriesOneSecondApartKeepTheBase) {
  msgs.verbose = true;
  Start(0);
  Tim(0, 0);
  const ExtTime base = clock.TimeBase();
  Tim(39066, 1);
  EXPECT_EQ(clock.TimeBase(), base);
  EXPECT_EQ(clock.AcceptedLow(), 39066u);
  EXPECT_EQ(Count("TIME-warp"), 0);
  EXPECT_NEAR(static_cast<double>(clock.OldestTime()), kOct2017, 1e-6);
  EXPECT_NEAR(static_cast<double>(clock.LatestTime()), kOct2017 + 39066 / kF, 1e-6);
}

// The pre-scan's latest time follows the frames without computing each one's time: it must still
// be exactly the latest absolute time of them all, across time warps (new base, count kept or
// restarted), clamped steps back and steps back taken as they are (same base, lower count).
TEST_F(ClockTest, PreScanLatestTimeIsExactlyTheLatestFrameTime) {
  Start(0, true, ClockPass::kPreScan);
  Tim(0, 0);
  std::mt19937 rng(7);
  ExtTime expected = clock.LatestTime();
  int64_t seconds = 0;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t r = rng() % 100;
    if (r == 0) {
      seconds += 5 + static_cast<int64_t>(rng() % 60);  // a warp: count kept or restarted
      Tim(clock.AcceptedLow() + 100, seconds);
      if (clock.TimeBase() > 0) expected = std::max(expected, clock.TimeEntryTime());
      continue;
    }
    // Steps back of 2000 ticks are clamped; of 0x100000 ticks (27 s) unresolvable and taken.
    const uint32_t step = r < 5   ? 0x1000000u - 2000
                          : r < 8 ? 0x1000000u - 0x100000u
                                  : static_cast<uint32_t>(rng() % 800);
    Can((clock.AcceptedLow() + step) & 0xFFFFFFu);
    expected = std::max(expected, clock.AbsoluteTime());
    ASSERT_EQ(clock.LatestTime(), expected) << "after entry " << i;
  }
}

TEST_F(ClockTest, TimeWarpReplacesTheBaseAndRestartsTheCountBeyondThirtySeconds) {
  msgs.verbose = true;
  Start(0);
  Tim(1000, 0);
  const uint64_t ticks = clock.TickCount();
  // 5 s later by date, but only 1 s by count (the clock was set): the count is kept, the base
  // ties the entry's count to its date, so a frame 0.1 s later is 0.1 s after that date.
  Tim(1000 + 39066, 5, 0, 0x90);
  EXPECT_EQ(clock.TickCount(), ticks);
  EXPECT_EQ(Count("Conversion: TIME-warp at fpos=0x00000090, old="), 1);
  Can(1000 + 39066 + 3907);
  EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime()), kOct2017 + 5 + 3907 / kF, 1e-6);
  // 60 s later: the count restarts at the entry's count.
  Tim(5000000, 65, 0, 0xA0);
  EXPECT_EQ(clock.TickCount(), 5000000u);
  EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime()), kOct2017 + 65, 1e-6);
  EXPECT_EQ(Count("TIME-warp"), 2);
}

TEST_F(ClockTest, SuspiciousDateIsReportedOnceAndLaterEntriesOnlyMoveTheCount) {
  Start(0, false, ClockPass::kPreScan);
  const ExtTime base = clock.TimeBase();
  const int64_t y2040 = DateToSeconds(2040, 5, 1, 0, 0, 0) - kOct2017;
  Tim(100, y2040);
  Tim(200, y2040 + 1);
  EXPECT_EQ(Count("Pre-scan: Suspicious date (2040-05-01 00:00:00.00), please check battery and "
                  "SET CLOCK (in the logger) !"),
            1);
  EXPECT_EQ(Count("Suspicious"), 1);
  EXPECT_FALSE(clock.DatesTrusted());
  EXPECT_EQ(clock.TimeBase(), base);
  EXPECT_EQ(clock.AcceptedLow(), 200u);
  EXPECT_EQ(msgs.error_count, 0);
}

TEST_F(ClockTest, InvalidDateCountsAnErrorAndIsLimitedPerRun) {
  for (int file = 0; file < 12; ++file) {
    msgs.ResetForFile();
    Start(0);
    Bytes e = testing::TimeEntry(500, 2017, 13, 1, 0, 0, 0);  // month 13
    clock.ApplyTimeEntry(e.data(), 0x60);
    EXPECT_EQ(clock.AcceptedLow(), 0u) << "the invalid entry does not move the count";
    e = testing::TimeEntry(600, 2017, 10, 1, 0, 0, 0);
    clock.ApplyTimeEntry(e.data(), 0x70);
    EXPECT_EQ(clock.AcceptedLow(), 600u) << "later entries only move the count";
  }
  EXPECT_EQ(msgs.error_count, 12);
  EXPECT_EQ(Count("Invalid date"), 10);
  EXPECT_EQ(Count("Conversion: Invalid date in \"@tim\"-entry at filepos=0x00000060 : 07 E1 0D 01 "
                  "00 00 00 00"),
            10);
  // A clock reset to exactly 1990-01-01 00:00:00.00 is neither before nor after 1990: invalid.
  msgs.ResetForRun();
  Start(0);
  const Bytes reset = testing::TimeEntry(1, 1990, 1, 1, 0, 0, 0);
  clock.ApplyTimeEntry(reset.data(), 0x60);
  EXPECT_EQ(msgs.error_count, 1);
  EXPECT_EQ(Count("Suspicious"), 0);
}

TEST_F(ClockTest, BreakpointIsReportedOncePerPass) {
  Start(0);
  clock.SetBreakpoint(static_cast<double>(kOct2017) + 1.0);
  Tim(0, 0);
  EXPECT_FALSE(clock.CheckBreakpoint(0x10));
  Tim(39066, 1);
  EXPECT_TRUE(clock.CheckBreakpoint(0x20));
  Tim(78131, 2);
  EXPECT_FALSE(clock.CheckBreakpoint(0x30));
  EXPECT_EQ(Count("Reached test 'breakpoint' at filepos=0x00000020, ta=2017-10-19 12:34:57."), 1);
  clock.BeginPass(ClockPass::kConversion);
  EXPECT_TRUE(clock.CheckBreakpoint(0x40));
}

// ---- Expression and GPS counts (conversion pass) -------------------------------------------

TEST_F(ClockTest, ExpressionCountFarAwayIsTakenAndReportedAtMostFiveTimes) {
  Start(1000);
  clock.ApplyExpressionCount(1000 + 39065, 0x10);  // 1 s: within 2 s, count unchanged
  EXPECT_EQ(clock.AcceptedLow(), 1000u);
  uint32_t count = 1000;
  for (int i = 0; i < 7; ++i) {
    count += 3 * 39066;
    clock.ApplyExpressionCount(count, 0x20);
    EXPECT_EQ(clock.AcceptedLow(), count);
  }
  EXPECT_EQ(Count("Problem: Large timestamp difference in 'other data' entry"), 5);
  EXPECT_EQ(Count("at fpos=0x00000020 ."), 5);
}

TEST_F(ClockTest, GpsDrivesTheClockWhenCanStops) {
  Start(0);
  Tim(0, 0);
  Can(0x001000);
  EXPECT_EQ(clock.AcceptedLow(), 0x1000u);
  // GPS within tolerance while CAN arrives: the count stays with the CAN frames.
  clock.ApplyGps1Count(0x1000 + 20000, 0x30);
  EXPECT_EQ(clock.AcceptedLow(), 0x1000u);
  // 20 s later without CAN frames: the GPS count takes over and the stop is reported once.
  const uint32_t later = 0x1000 + static_cast<uint32_t>(20 * kF);
  clock.ApplyGps1Count(later, 0x40);
  EXPECT_EQ(clock.AcceptedLow(), later);
  EXPECT_EQ(Count("Problem: Large timestamp difference in 'GPS' entry"), 1);
  EXPECT_EQ(
      Count("Problem: CAN seems to have stopped, so using GPS timestamps at fpos=0x00000040 ."), 1);
  // While CAN stays silent, GPS entries within tolerance move the count.
  clock.ApplyGps1Count(later + 39066, 0x50);
  EXPECT_EQ(clock.AcceptedLow(), later + 39066);
  EXPECT_EQ(Count("CAN seems"), 1);
}

// ---- Dispatch by pass ----------------------------------------------------------------------

TEST_F(ClockTest, PassesApplyDifferentEntries) {
  const Bytes can = testing::CanEntry(0x2000, 0x100, {1});
  const Bytes eof = testing::MarkerEntry("eof", 0x3000);
  LogEntry e;
  e.position = 0x40;

  Start(0x1000, false, ClockPass::kPreScan);
  e.bytes = can.data();
  e.cls = EntryClass::kCanFrame;
  clock.ApplyEntry(e);
  EXPECT_EQ(clock.AcceptedLow(), 0x1000u) << "pre-scan: CAN frames wait for a time entry";
  e.bytes = eof.data();
  e.cls = EntryClass::kEofMarker;
  clock.ApplyEntry(e);
  EXPECT_EQ(clock.AcceptedLow(), 0x3000u) << "pre-scan: markers set the count";

  Start(0x1000, false, ClockPass::kConversion);
  clock.ApplyEntry(e);
  EXPECT_EQ(clock.AcceptedLow(), 0x1000u) << "conversion: markers leave the count";
  e.bytes = can.data();
  e.cls = EntryClass::kCanFrame;
  clock.ApplyEntry(e);
  EXPECT_EQ(clock.AcceptedLow(), 0x2000u);
}

// ---- Counter restarts and steps back (conversion pass) -----------------------------------------

// Entries go through ApplyEntry, as in the conversion pass.
class PassTest : public ClockTest {
 protected:
  void Apply(const Bytes& bytes, int64_t position) {
    LogEntry e;
    e.bytes = bytes.data();
    e.size = e.length = 16;
    e.position = position;
    e.cls = ClassifyEntry(bytes.data());
    clock.ApplyEntry(e);
  }
  Bytes TimAt(uint32_t count, int64_t seconds_after) {
    const CalendarTime t = SecondsToCalendar(static_cast<long double>(kOct2017 + seconds_after));
    return testing::TimeEntry(count, static_cast<int>(t.year), t.month, t.day, t.hour, t.minute,
                              t.second, 0);
  }
};

// A restart whose first stamp would pass for a 24-bit wrap (it lies less than half the 24-bit
// range ahead) is taken as the restart the pre-scan found: reported and bridged, or continued
// from GPS time where GPS time replaced the logger's clock.
TEST_F(PassTest, KnownCounterRestartIsNotTakenForAWrap) {
  const Bytes first = testing::CanEntry(0xD00000, 0x100, {1});
  const Bytes restarted = testing::CanEntry(0x001000, 0x100, {1});
  for (bool gps : {false, true}) {
    capture.Clear();
    msgs = DecodeMessages();
    Start(0xD00000);
    CounterRestart restart;
    restart.position = 0x60;
    restart.has_gps = gps;
    restart.gps_time = static_cast<double>(kOct2017) + 100;
    restart.gps_count = 0x1000 + 78131;  // 2 s after the restart
    clock.SetCounterRestarts({restart}, 0x40);
    Apply(first, 0x40);
    const ExtTime before = clock.AbsoluteTime();
    Apply(restarted, 0x60);
    EXPECT_EQ(clock.AcceptedLow(), 0x1000u);
    EXPECT_EQ(clock.High(), 0u);
    EXPECT_EQ(msgs.error_count, 1);
    EXPECT_EQ(Count("UNRESOLVABLE 24-bit timestamp overflow at fp=0x00000060, ts=0x00001000, "
                    "prev=0x00D00000"),
              1);
    if (gps) {
      EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime()), static_cast<double>(kOct2017) + 98,
                  1e-6);
      EXPECT_EQ(Count("Logger restart at fp=0x00000060: time continues from GPS time, "
                      "ta=2017-10-19 12:36:34.00 ."),
                1);
    } else {
      EXPECT_NEAR(static_cast<double>(clock.AbsoluteTime() - before), 10.0, 1e-6);
      EXPECT_EQ(Count("Added TEN SECONDS"), 1);
    }
  }
}

TEST_F(PassTest, StepBackOfTheAbsoluteTimeIsReported) {
  Start(0);
  Apply(TimAt(78131, 1), 0x40);  // within 2 s of the start date: the count moves to 2 s
  Apply(testing::CanEntry(78131 + 1000, 0x100, {1}), 0x50);
  EXPECT_EQ(capture.CountAtLeast(kMsgWarning), 0);
  // The clock was set back by 6 s: a time warp, and the times step back.
  Apply(TimAt(156262, -4), 0x60);
  EXPECT_EQ(Count("Absolute time steps back at filepos=0x00000060, "
                  "from 2017-10-19 12:34:58.02 to 2017-10-19 12:34:50.02 ."),
            1);
  Apply(testing::CanEntry(156262, 0x100, {1}), 0x70);
  EXPECT_EQ(Count("steps back"), 1) << "the time goes on from there";
}

}  // namespace
}  // namespace tessmar
