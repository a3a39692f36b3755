// The pre-scan: oldest entry of linear and circular recordings, start time, RTC check, listings.

#include "logfile/pre_scan.h"

#include <gtest/gtest.h>

#include "common/message_output.h"
#include "logfile/log_header.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

using testing::Bytes;

constexpr uint32_t kSecond = 39066;  // ticks per second, rounded
constexpr int64_t kOct2017 = 1508416496;

struct Scan {
  testing::TempFolder tmp;
  CldReader reader;
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  LogHeader header;
  ColumnLayout layout;
  SignalDecoder decoder;
  std::vector<ChannelValue> channels;
  RunningClock clock;
  DecodeMessages msgs;
  MessageCapture capture;
  PreScanResult result;
  std::vector<int> progress;

  void Run(const testing::Recording& rec, ProgressCallback callback = {}) {
    testing::WriteBytes(tmp.File("rec.cld"), rec.Build());
    ASSERT_TRUE(reader.Open(tmp.File("rec.cld")));
    header = ReadLogHeader(reader, cfg, sigs);
    ASSERT_NE(header.binary_position, 0);
    reader.ReadBinaryHeader(header.binary_position);
    layout = CountColumns(sigs, cfg, 0, false);
    decoder.Build(sigs, layout);
    channels.assign(static_cast<size_t>(layout.total), ChannelValue{});
    InitChannelRanges(channels, layout, sigs);
    PreScanSetup setup;
    setup.file_name = "rec.cld";
    setup.start = header.start;
    setup.frequency = header.frequency;
    setup.new_file_on_startup = cfg.NewFileOnStartup != 0;
    setup.layout = &layout;
    setup.signals = &decoder;
    setup.channels = channels;
    setup.progress = callback ? callback : [this](int done, int total) {
      EXPECT_EQ(total, 100);
      progress.push_back(done);
      return true;
    };
    result = RunPreScan(reader, clock, msgs, setup);
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const auto& e : capture.entries()) n += e.text.find(text) != std::string::npos;
    return n;
  }
  int64_t First() const { return reader.FirstEntryPosition(); }
};

Bytes Tim(uint32_t count, int64_t seconds) {
  const CalendarTime t = SecondsToCalendar(static_cast<long double>(seconds));
  return testing::TimeEntry(count, static_cast<int>(t.year), t.month, t.day, t.hour, t.minute,
                            t.second, 0);
}

Bytes Can(uint32_t count, uint8_t value = 0) {
  return testing::CanEntry(count & 0xFFFFFF, 0x100, {value, 0, 0, 0, 0, 0, 0, 0});
}

TEST(PreScan, LinearRecording) {
  Scan s;
  testing::Recording rec;
  rec.Config("Sig00: id=0x100,sn=\"Speed\",ty=U,fa=2,of=0,mi=0,ma=1,sb=0,nb=8,bo=I");
  rec.StandardHeader("2017-10-19 12:34:56", 1000).Marker();
  rec.Add(Tim(1000, kOct2017));
  for (int i = 1; i <= 5; ++i)
    rec.Add(Can(1000 + static_cast<uint32_t>(i) * 1000, static_cast<uint8_t>(i * 10)));
  rec.Add(Tim(1000 + kSecond, kOct2017 + 1));
  rec.Add(testing::MarkerEntry("eof", 1000 + kSecond + 10));
  s.Run(rec);
  const PreScanResult& r = s.result;
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.entry_count, 8u);
  EXPECT_TRUE(r.found_eof);
  EXPECT_EQ(r.oldest_index, 0) << "the eof marker is the last entry: corrected to 0";
  EXPECT_EQ(r.oldest_position, s.First());
  EXPECT_NEAR(static_cast<double>(r.oldest_time), kOct2017, 1e-6);
  EXPECT_NEAR(r.duration, kSecond / 39065.5, 1e-3);
  EXPECT_EQ(s.msgs.error_count, 0);
  EXPECT_EQ(r.start_tick_count, 1000u);
  EXPECT_NEAR(static_cast<double>(r.source_start_time), kOct2017, 1e-6);
  EXPECT_NEAR(static_cast<double>(s.clock.AbsoluteTime()), kOct2017, 1e-6)
      << "the clock is set up for the conversion pass";
  // Channel ranges: [mi, ma] widened by the values x factor.
  EXPECT_DOUBLE_EQ(s.channels[0].minimum, 0);
  EXPECT_DOUBLE_EQ(s.channels[0].maximum, 100);
  EXPECT_FALSE(s.channels[0].valid);
}

TEST(PreScan, CircularRecordingStartsAtTheOldestTimeEntry) {
  Scan s;
  testing::Recording rec;
  rec.StandardHeader("2017-10-19 12:34:56", 0).Marker();
  const uint32_t newer = 100 * kSecond;
  // Newest part of the ring, written last: from the start of the file up to "eof".
  rec.Add(Tim(newer, kOct2017 + 100));
  rec.Add(Can(newer + 100));
  rec.Add(testing::BulkBlock(0xD0, newer + 200, {0, 5, 1}, 100));  // seven slots
  rec.Add(Tim(newer + kSecond, kOct2017 + 101));
  rec.Add(Can(newer + kSecond + 100));
  rec.Add(testing::MarkerEntry("eof", newer + kSecond + 200));
  // Oldest surviving part, overwritten on the next round.
  const uint32_t older = 90 * kSecond;
  rec.Add(Can(older - 500));
  rec.Add(Tim(older, kOct2017 + 90));
  rec.Add(Can(older + 100));
  rec.Add(Tim(older + kSecond, kOct2017 + 91));
  rec.Add(Can(older + kSecond + 100));
  s.msgs.verbose = true;
  s.Run(rec);
  const PreScanResult& r = s.result;
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.entry_count, 11u);
  EXPECT_TRUE(r.found_eof);
  // The oldest time entry follows the eof marker: conversion starts right behind the marker, so
  // the frame before that time entry is read first and the marker last.
  EXPECT_EQ(r.oldest_index, 6);
  EXPECT_EQ(r.oldest_position, s.First() + 16 * 12)
      << "the block of seven slots makes position and index differ";
  EXPECT_EQ(r.start_tick_count, (older - 500) & 0xFFFFFFu)
      << "built from the first frame behind the marker";
  EXPECT_NEAR(static_cast<double>(r.oldest_time), kOct2017 + 90, 1e-6);
  EXPECT_EQ(s.msgs.error_count, 0) << "the jump back after eof is no counter defect";
  EXPECT_EQ(s.Count("UNRESOLVABLE"), 0);
  EXPECT_EQ(s.Count("Pre-scan: found EOF-entry at filepos="), 1);
  EXPECT_EQ(s.Count("Pre-scan: found the OLDEST TIM-entry at index=7, filepos="), 1);
  EXPECT_EQ(s.Count("Oldest entry at index=6, filepos="), 1);
  EXPECT_EQ(s.Count("found_eof=yes, ta=2017-10-19 12:36:26.00"), 1);
  EXPECT_NEAR(static_cast<double>(r.time_base + static_cast<ExtTime>(older) / 39065.5),
              kOct2017 + 90, 1e-6);
}

TEST(PreScan, VerboseListingsAreLimited) {
  Scan s;
  testing::Recording rec;
  rec.StandardHeader().Marker();
  const int64_t t0 = DateToSeconds(2017, 10, 19, 12, 0, 0);
  for (int i = 0; i < 6; ++i) rec.Add(Tim(static_cast<uint32_t>(i) * kSecond, t0 + i));
  for (int i = 0; i < 11; ++i) rec.Add(testing::MarkerEntry("tri", 6 * kSecond, 0xA5, 0x5A));
  for (int i = 0; i < 10; ++i) rec.Add(testing::MarkerEntry("pre", 6 * kSecond));
  rec.Add(testing::MarkerEntry("eof", 6 * kSecond));
  s.msgs.verbose = true;
  s.Run(rec);
  EXPECT_EQ(s.Count("Pre-scan: found TIM-entry at filepos="), 4);
  EXPECT_EQ(s.Count("Pre-scan: more TIM-entries, unable to list all"), 1);
  EXPECT_EQ(s.Count("Pre-scan: found TRI-entry at filepos="), 9);
  EXPECT_EQ(s.Count(", b0=0xA5, b1=0x5A"), 9);
  EXPECT_EQ(s.Count("Pre-scan: more TRI-entries, unable to list all"), 1);
  EXPECT_EQ(s.Count("Pre-scan: found PRE-trigger-entry at filepos="), 9);
  EXPECT_EQ(s.Count("Pre-scan: more PRE-entries, unable to list all"), 1);
  EXPECT_EQ(s.Count("to=2017-10-19 12:00:00.00"), 4);
  EXPECT_EQ(s.Count("Pre-scan: Winding to filepos="), 1);
  EXPECT_EQ(s.Count(" in rec.cld"), 1);
}

TEST(PreScan, BadClockIsReplacedByGpsTime) {
  Scan s;
  testing::Recording rec;
  rec.StandardHeader("1999-12-31 23:00:00", 0).Marker();
  const int64_t t0 = DateToSeconds(1999, 12, 31, 23, 0, 0);
  rec.Add(Tim(0, t0));
  // A fix dated 2017-10-19 12:00:00.00 at tick 2 s.
  const uint32_t tod = 12 * 360000;
  rec.Add(testing::Gps1Entry(1, false, 7, 2 * kSecond, tod, 19, 10, 2017, 500));
  rec.Add(testing::Gps2Entry(1234, 48 * 360000, 11 * 360000));
  rec.Add(Tim(10 * kSecond, t0 + 10));
  rec.Add(testing::MarkerEntry("eof", 10 * kSecond));
  s.Run(rec);
  const PreScanResult& r = s.result;
  EXPECT_TRUE(r.bad_rtc);
  EXPECT_TRUE(r.using_gps_time);
  EXPECT_TRUE(r.has_gps);
  EXPECT_EQ(s.Count("WARNING:    Bad date from RTC : 1999-12-31 23:00:00.00 (please check the "
                    "logger's battery !)"),
            1);
  EXPECT_EQ(s.Count("   Using GPS time instead of RTC : 2017-10-19 12:00:00.00 (date and time "
                    "from oldest GPS entry)"),
            1);
  const int64_t gps = DateToSeconds(2017, 10, 19, 12, 0, 0);
  EXPECT_NEAR(r.oldest_gps_time, static_cast<double>(gps), 1e-6);
  EXPECT_EQ(r.start.start_date, gps);
  EXPECT_EQ(r.start.start_timestamp, 0);
  // Tick 2 s is the fix's time, so tick 0 lies two seconds earlier.
  EXPECT_NEAR(static_cast<double>(r.time_base), static_cast<double>(gps) - 2 * kSecond / 39065.5,
              1e-3);
  EXPECT_FALSE(s.clock.DatesTrusted());
  EXPECT_EQ(r.gps.latitude_min, 48 * 360000);
  EXPECT_EQ(r.gps.longitude_max, 11 * 360000);
  EXPECT_DOUBLE_EQ(r.gps.height_min, 123.4);
  EXPECT_DOUBLE_EQ(r.gps.speed_max, 50);
}

TEST(PreScan, GpsFixWithImpossibleDateGivesNoGpsTime) {
  Scan s;
  testing::Recording rec;
  rec.StandardHeader("1999-12-31 23:00:00", 0).Marker();
  const int64_t t0 = DateToSeconds(1999, 12, 31, 23, 0, 0);
  rec.Add(Tim(0, t0));
  // Month 13 and day 0 are corrupted fields, not dates in the next year or month.
  rec.Add(testing::Gps1Entry(1, false, 7, 2 * kSecond, 12 * 360000, 19, 13, 2017, 500));
  rec.Add(testing::Gps2Entry(1234, 48 * 360000, 11 * 360000));
  rec.Add(testing::Gps1Entry(1, false, 7, 3 * kSecond, 12 * 360000, 0, 10, 2017, 500));
  rec.Add(testing::Gps2Entry(1234, 48 * 360000, 11 * 360000));
  rec.Add(Tim(10 * kSecond, t0 + 10));
  rec.Add(testing::MarkerEntry("eof", 10 * kSecond));
  s.Run(rec);
  EXPECT_TRUE(s.result.bad_rtc);
  EXPECT_FALSE(s.result.using_gps_time);
  EXPECT_LT(s.result.oldest_gps_time, 0);
}

TEST(PreScan, MissingEofSmallFilesAndAbort) {
  {
    Scan s;
    testing::Recording rec;
    rec.Line("[LogFileInfo]").Line("StartDate=2017-10-19 12:34:56").Marker();
    rec.Add(Tim(0, kOct2017));
    s.Run(rec);
    EXPECT_TRUE(s.result.completed);
    EXPECT_FALSE(s.result.found_eof);
    EXPECT_EQ(s.msgs.error_count, 1);
    EXPECT_EQ(s.Count("Problem: Did not find an END-OF-FILE marker in \"rec.cld\" ."), 1);
    // The file is shorter than 101 bytes: 0 % throughout.
    EXPECT_EQ(s.progress, std::vector<int>{0});
    EXPECT_EQ(s.Count("Searching oldest entry ... 0 % of 0 kByte"), 1);
  }
  {
    Scan s;
    testing::Recording rec;
    rec.StandardHeader().Marker();
    for (int i = 0; i < 2000; ++i) rec.Add(Can(static_cast<uint32_t>(i)));
    int calls = 0;
    s.Run(rec, [&](int, int) { return ++calls < 3; });
    EXPECT_FALSE(s.result.completed);
    EXPECT_EQ(calls, 3);
    // Without a time entry the oldest time is the start date.
  }
  {
    Scan s;
    testing::Recording rec;
    rec.StandardHeader("2017-10-19 12:34:56", 500).Marker();
    rec.Add(Can(400)).Add(Can(450)).Add(testing::MarkerEntry("eof", 450));
    s.Run(rec);
    EXPECT_NEAR(static_cast<double>(s.result.oldest_time), kOct2017, 1e-6);
    EXPECT_EQ(s.result.start_tick_count, 500u);
    EXPECT_TRUE(s.result.has_first_frame_stamp);
    EXPECT_EQ(s.result.first_frame_stamp, 400u);
  }
}

TEST(PreScan, ProgressOfASmallFileStopsAtOneHundredPercent) {
  // 65 header bytes and six entries: 161 bytes, so each entry adds 16 "percent" of 1 byte.
  Scan s;
  testing::Recording rec;
  rec.Line("[LogFileInfo]").Line("StartDate=2017-10-19 12:34:56").Marker();
  for (int i = 0; i < 5; ++i) rec.Add(Tim(static_cast<uint32_t>(i) * kSecond, kOct2017 + i));
  rec.Add(testing::MarkerEntry("eof", 5 * kSecond));
  s.Run(rec);
  EXPECT_EQ(s.progress, (std::vector<int>{81, 97, 100}));
  EXPECT_EQ(s.Count("Searching oldest entry ... 100 % of 0 kByte"), 1);
  EXPECT_EQ(s.Count("Searching oldest entry ... 1"), 1) << "nothing above 100 %";
}

TEST(PreScan, FramesBeforeTheFirstTimeEntrySetTheStartTickCount) {
  Scan s;
  testing::Recording rec;
  rec.StandardHeader("2017-10-19 12:34:56", 0x01000000).Marker();
  rec.Add(Can(0x01000100));
  rec.Add(Can(0x01000200));
  rec.Add(Tim(0x01000300, kOct2017));
  rec.Add(Can(0x01000400));
  rec.Add(testing::MarkerEntry("eof", 0x01000400));
  s.Run(rec);
  EXPECT_EQ(s.result.start_tick_count, 0x01000100u) << "the first frame's stamp, extended";
  EXPECT_EQ(s.msgs.error_count, 0);
}

TEST(PreScan, FirstFramesBeforeA24BitWrapLieBeforeTheTimeEntry) {
  // The frames were stamped just before the 24-bit counter wrapped, the time entry just after:
  // the frames' counts are 0x00FFFF80 and 0x00FFFFC0, not 2^24 ticks after the time entry.
  Scan s;
  testing::Recording rec;
  rec.StandardHeader("2017-10-19 12:34:56", 0x00FFFF00).Marker();
  rec.Add(Can(0x00FFFF80));
  rec.Add(Can(0x00FFFFC0));
  rec.Add(Tim(0x01000010, kOct2017));
  rec.Add(Can(0x01000100));
  rec.Add(testing::MarkerEntry("eof", 0x01000100));
  s.Run(rec);
  EXPECT_EQ(s.result.start_tick_count, 0x00FFFF80u);
  // The conversion pass reads the first frame 0x90 ticks before the time entry's date.
  s.clock.BeginPass(ClockPass::kConversion);
  s.clock.ApplyCanFrame(Can(0x00FFFF80).data(), 0);
  EXPECT_NEAR(static_cast<double>(s.clock.AbsoluteTime()), kOct2017 - 0x90 / 39065.5, 1e-6);
  EXPECT_EQ(s.msgs.error_count, 0);

  // A frame written before the time entry but stamped a few ticks after it is no wrap.
  Scan t;
  testing::Recording late;
  late.StandardHeader("2017-10-19 12:34:56", 0x00FFFF00).Marker();
  late.Add(Can(0x01000020));
  late.Add(Tim(0x01000010, kOct2017));
  late.Add(testing::MarkerEntry("eof", 0x01000100));
  t.Run(late);
  EXPECT_EQ(t.result.start_tick_count, 0x01000010u);
}

}  // namespace
}  // namespace tessmar
