// Hostile values through every writer: infinities, NaN, numbers far beyond every field's range,
// absurd times and start dates. Nothing may crash or overrun, and record sizes stay exact.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/writers/gps_entries.h"
#include "tests/writers/writer_fixture.h"
#include "writers/format_writers.h"
#include "writers/gps_output.h"
#include "writers/gps_text.h"

namespace tessmar {
namespace {

using test::TempFolder;
using test::WriterFixture;

const double kHostile[] = {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           1e300,
                           -1e300,
                           std::numeric_limits<double>::denorm_min(),
                           9.3e18,
                           -9.3e18,
                           0.0};

TEST(WritersRobustness, HostileValuesInEveryFormat) {
  TempFolder dir;
  GpsOutputSettings gps;
  SetGpsText(gps.columns[0].title, "T");
  SetGpsText(gps.columns[0].source, "gps.time");
  SetGpsText(gps.columns[1].title, "L");
  SetGpsText(gps.columns[1].source, "gps.lat");
  SetGpsText(gps.columns[2].title, "S");
  SetGpsText(gps.columns[2].format, "##0.000");
  SetGpsText(gps.columns[2].source, "gps.speed");
  GpsOutput out;
  out.Start(gps);

  for (int code : {kFormatDiademAscii, kFormatDiademInt32, kFormatDiademReal64, kFormatVectorMdf,
                   kFormatStiegeleMdf, kFormatEtasAscii}) {
    const bool diadem =
        code == kFormatDiademAscii || code == kFormatDiademInt32 || code == kFormatDiademReal64;
    WriterFixture fx;
    fx.Signal(0, "A", "", 8);
    fx.Signal(1, "B", "", 40, 'S', -1e300, 1e300);
    fx.Expression(0, "e", "");
    fx.Finish(dir / ("h" + std::to_string(code) + ".dat"), diadem ? 0 : out.DefinedColumnCount());
    out.BindChannels(fx.channels.data(), fx.setup.layout);
    fx.setup.gps_formatter = &GpsOutput::FormatCell;
    fx.setup.gps_formatter_context = &out;
    fx.setup.gps_settings = &out.settings();
    fx.setup.time_column1 = TimeColumnKind::kMilliseconds;
    fx.setup.time_column2 = TimeColumnKind::kDateTimeFraction;
    fx.setup.start_date = 1e300;
    fx.setup.invalid_value = code == kFormatEtasAscii ? "-1" : "junk";
    std::unique_ptr<Writer> w = CreateFormatWriter(code);
    ASSERT_EQ(w->Create(fx.setup), 1) << code << " " << w->error_text();
    for (double v : kHostile) {
      for (ChannelValue& c : fx.channels) {
        c.valid = true;
        c.scaled = v;
        c.raw_float = v;
        c.is_float = true;
      }
      WriterRow row;
      row.time = v;
      row.time_base = -v;
      row.elapsed = v;
      row.pretrigger = true;
      EXPECT_EQ(w->WriteRow(row), kRowWritten) << code;
      char cell[64];
      for (int k = 0; k < 3; ++k) {
        EXPECT_LT(GpsOutput::FormatCell(&out, k, cell, sizeof cell), 64);
      }
    }
    EXPECT_EQ(w->Finish(WriterFinish{}), 1) << code << " " << w->error_text();
  }
}

TEST(WritersRobustness, GpsEntriesWithAbsurdFields) {
  GpsOutputSettings s;
  LoadGpsPreset(0, s);
  GpsOutput out;
  out.Start(s);
  ColumnLayout layout = MakeColumnLayout(0, 0, out.DefinedColumnCount(), false);
  std::vector<ChannelValue> channels(static_cast<std::size_t>(layout.total));
  // Every packed date, the largest time of day, extreme positions, heights and speeds.
  for (std::uint32_t date = 0; date < 65536; date += 97) {
    auto e1 = test::Entry1(0xFF, static_cast<std::uint16_t>(date), 0xFFFFFFFFu, -32768, 255);
    auto e2 = test::Entry2(std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max(), -32768);
    out.OnGpsEntry(e1, channels, layout);
    ASSERT_TRUE(out.OnGpsEntry(e2, channels, layout));
    std::string rmc = NmeaGprmc(out.fix());
    std::string gga = NmeaGpgga(out.fix());
    EXPECT_LT(rmc.size(), 100u);
    EXPECT_LT(gga.size(), 100u);
    std::string line = TextTrackLine(out.fix());
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    for (int k = 0; k < out.DefinedColumnCount(); ++k) {
      char cell[32];
      EXPECT_LT(GpsOutput::FormatCell(&out, k, cell, sizeof cell), 32);
    }
  }
}

}  // namespace
}  // namespace tessmar
