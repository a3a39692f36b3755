#include "writers/gps_output.h"

#include <gtest/gtest.h>

#include <array>

#include "common/message_output.h"
#include "tests/writers/gps_entries.h"
#include "tests/writers/writer_fixture.h"

namespace tessmar {
namespace {

using test::Entry1;
using test::Entry2;
using test::ReadText;
using test::TempFolder;

struct GpsRun {
  GpsOutput out;
  ColumnLayout layout;
  std::vector<ChannelValue> channels;

  explicit GpsRun(const GpsOutputSettings& s, int signals = 1) {
    out.Start(s);
    layout = MakeColumnLayout(signals, 0, out.DefinedColumnCount(), false);
    channels.assign(static_cast<std::size_t>(layout.total), ChannelValue{});
    out.BindChannels(channels.data(), layout);
  }
  bool Feed(const std::array<std::uint8_t, 16>& e) { return out.OnGpsEntry(e, channels, layout); }
  const ChannelValue& Gps(int k) const {
    return channels[static_cast<std::size_t>(layout.gps_first + k)];
  }
  std::string Cell(int k) {
    char buf[64];
    GpsOutput::FormatCell(&out, k, buf, sizeof buf);
    return buf;
  }
};

GpsOutputSettings Preset(int n) {
  GpsOutputSettings s;
  LoadGpsPreset(n, s);
  return s;
}

TEST(GpsOutput, CompleteFixesFillTheGpsColumns) {
  GpsRun run(Preset(0));
  ASSERT_EQ(run.out.DefinedColumnCount(), 8);
  EXPECT_EQ(run.out.ColumnTitles()[7], "GpsNrSats");
  EXPECT_EQ(run.out.ColumnUnits()[2], "deg");
  EXPECT_FALSE(run.Feed(Entry1()));
  EXPECT_FALSE(run.Gps(0).valid);
  EXPECT_TRUE(run.Feed(Entry2(17463000, -4000000, 5123)));  // either order completes
  EXPECT_TRUE(run.out.FixIsDrawable());
  EXPECT_TRUE(run.Gps(0).valid);
  EXPECT_TRUE(run.Gps(0).is_float);
  EXPECT_EQ(run.Gps(0).value_type, 17);
  EXPECT_DOUBLE_EQ(run.Gps(0).scaled, 1508416496.78);
  EXPECT_DOUBLE_EQ(run.Gps(2).scaled, -4000000 / 360000.0);
  EXPECT_DOUBLE_EQ(run.Gps(3).raw_float, 48.5083333333333333);
  EXPECT_DOUBLE_EQ(run.Gps(7).scaled, 8);
  EXPECT_DOUBLE_EQ(run.Gps(7).maximum, 8);
  EXPECT_EQ(run.Cell(0), "2017-10-19");
  EXPECT_EQ(run.Cell(1), "12:34:56");
  EXPECT_EQ(run.Cell(2), "-11.11111");
  EXPECT_EQ(run.Cell(4), "100.0");
  EXPECT_EQ(run.Cell(7), "8");
  EXPECT_EQ(run.Cell(8), "");           // beyond the group
  EXPECT_FALSE(run.channels[0].valid);  // the signal column is not touched

  // The next fix needs both entries again.
  EXPECT_FALSE(run.Feed(Entry2(17463100, -4000000, 5123)));
  EXPECT_DOUBLE_EQ(run.Gps(3).raw_float, 48.5083333333333333);
  EXPECT_TRUE(run.Feed(Entry1()));
  EXPECT_DOUBLE_EQ(run.Gps(3).scaled, 17463100 / 360000.0);
}

TEST(GpsOutput, InvalidTimeTextsAndGapsInTheDefinitions) {
  GpsOutputSettings s;
  SetGpsText(s.columns[0].title, "T");
  SetGpsText(s.columns[0].source, "gps.time");
  SetGpsText(s.columns[3].title, "P");  // columns 1 and 2 undefined
  SetGpsText(s.columns[3].source, "gps.pos");
  SetGpsText(s.columns[5].title, "H");
  SetGpsText(s.columns[5].source, "gps.hasl");
  GpsRun run(s);
  ASSERT_EQ(run.layout.gps_count, 3);
  EXPECT_EQ(run.out.DefinitionOfGroupColumn(2), &run.out.settings().columns[5]);
  run.channels[static_cast<std::size_t>(run.layout.gps_first + 1)].scaled = 42;
  run.Feed(Entry1(0x48, 0));  // no date
  EXPECT_TRUE(run.Feed(Entry2(0, 0, 100)));
  EXPECT_FALSE(run.Gps(0).valid);
  EXPECT_EQ(run.Gps(0).value_type, 17);
  EXPECT_GT(run.Gps(0).scaled, 0);   // the time is carried even though not valid
  EXPECT_EQ(run.Gps(1).scaled, 42);  // a text leaves the record unchanged
  EXPECT_DOUBLE_EQ(run.Gps(2).scaled, 10.0);
}

// Without a position solution the receiver reports 0 for the position: such values never reach
// a column as measured ones; the satellite count and the time do.
TEST(GpsOutput, FixWithoutPositionLeavesPositionColumnsInvalid) {
  GpsRun run(Preset(0));
  run.Feed(Entry1(0x12, 0x2353, 4529678, 0, 99));  // quality 0, warning, 2 satellites
  ASSERT_TRUE(run.Feed(Entry2(0, 0, 0)));
  const bool expected[8] = {true, true, false, false, false, false, false, true};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(run.Gps(k).valid, expected[k]) << k;
  run.Feed(Entry1());
  ASSERT_TRUE(run.Feed(Entry2(17463000, -4000000, 5123)));
  EXPECT_TRUE(run.Gps(3).valid);
}

TEST(GpsOutput, ExpressionErrorsAreReportedAtMostTwentyTimes) {
  GpsOutputSettings s;
  SetGpsText(s.columns[0].title, "A");
  SetGpsText(s.columns[0].source, "gps.speed");
  SetGpsText(s.columns[2].title, "B");
  SetGpsText(s.columns[2].source, "gps.hasl / 0");
  GpsRun run(s);
  MessageCapture messages;
  for (int i = 0; i < 25; ++i) {
    run.Feed(Entry1());
    run.Feed(Entry2(0, 0, 0));
  }
  ASSERT_EQ(messages.entries().size(), 20u);
  EXPECT_EQ(messages.entries()[0].text, "Error #1 in GPS-expressions, line 2 .");
  EXPECT_EQ(messages.entries()[0].severity, kMsgError);
  EXPECT_FALSE(run.Gps(1).valid);
  EXPECT_TRUE(run.Gps(0).valid);

  run.out.Start(s);  // a new conversion counts again
  messages.Clear();
  run.Feed(Entry1());
  run.Feed(Entry2(0, 0, 0));
  EXPECT_EQ(messages.entries().size(), 1u);
}

TEST(GpsOutput, TrackFilesInBothFormats) {
  TempFolder dir;
  MessageCapture messages;
  {
    GpsRun run(Preset(0));
    ASSERT_TRUE(run.out.OpenTrack(dir / "drive.csv"));
    EXPECT_EQ(run.out.track_path(), dir / "drive.nmea");
    run.Feed(Entry1());
    run.Feed(Entry2(17463000, -4000000, 5123));
    run.Feed(Entry2(17463000, -4000000, 5123));
    run.Feed(Entry1());
    EXPECT_TRUE(run.out.FinishTrack());
    EXPECT_FALSE(run.out.track_open());
  }
  std::string nmea = ReadText(dir / "drive.nmea");
  GpsFix fix;
  DecodeGpsEntry(Entry1(), fix);
  DecodeGpsEntry(Entry2(17463000, -4000000, 5123), fix);
  const std::string pair = NmeaGpgga(fix) + NmeaGprmc(fix);
  EXPECT_EQ(nmea, pair + pair);
  EXPECT_TRUE(
      messages.Contains("GPS track written to file \"" + (dir / "drive.nmea").string() + "\" ."));

  GpsOutputSettings text = Preset(0);
  text.track_file_format = kGpsTrackText;
  {
    GpsRun run(text);
    ASSERT_TRUE(run.out.OpenTrack(dir / "drive.v1.dat"));
    EXPECT_EQ(run.out.track_path(), dir / "drive.v1.gps");
    run.Feed(Entry1());
    run.Feed(Entry2(17463000, -4000000, 5123));
    EXPECT_TRUE(run.out.FinishTrack());
  }
  EXPECT_EQ(ReadText(dir / "drive.v1.gps"), TextTrackHeader() + TextTrackLine(fix));

  messages.Clear();
  {
    GpsRun run(Preset(0));
    ASSERT_TRUE(run.out.OpenTrack(dir / "empty.csv"));
    EXPECT_TRUE(run.out.FinishTrack());
  }
  EXPECT_TRUE(messages.Contains("GPS track file (" + (dir / "empty.nmea").string() +
                                ") may be useless because logfile contains no GPS data !"));
  EXPECT_EQ(ReadText(dir / "empty.nmea"), "");

  GpsRun none(Preset(0));
  EXPECT_FALSE(none.out.OpenTrack(dir / "nodot"));
  EXPECT_TRUE(GpsOutput::TrackPath(dir / "nodot", kGpsTrackNmea).empty());
  EXPECT_FALSE(none.out.OpenTrack("/nonexistent-folder/x.csv"));
  EXPECT_TRUE(messages.Contains("Error: Could not create \"/nonexistent-folder/x.nmea\" ("));
}

}  // namespace
}  // namespace tessmar
