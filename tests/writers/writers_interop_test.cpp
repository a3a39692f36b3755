// Output files checked by means that do not share code with the writers: GPSBabel reads the NMEA
// track file, and every format of one simulated recording is read back by simple readers in this
// file and compared value by value with the CSV output of the same recording.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tests/interop_util.h"
#include "tests/locale_test_util.h"
#include "tests/writers/gps_entries.h"
#include "tests/writers/mdf4_reader.h"
#include "tests/writers/mdf_reader.h"
#include "tests/writers/writer_fixture.h"
#include "writers/gps_output.h"

namespace tessmar {
namespace {

using test::LeF32;
using test::LeF64;
using test::LeI32;
using test::ReadBytes;
using test::ReadText;
using test::TempFolder;
using testing_util::CStod;

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// ---- GPSBabel reads the NMEA track
// ---------------------------------------------------------------

struct TruthFix {
  std::int32_t lat, lon;
  std::int16_t height;  // 0.1 m
  std::int16_t speed;   // 0.1 km/h
  std::uint32_t tod;    // hundredths since midnight
};

TEST(GpsBabel, ReadsTheNmeaTrack) {
  if (Shell("command -v gpsbabel >/dev/null 2>&1") != 0) {
    TESSMAR_MISSING_TOOL("gpsbabel not installed");
  }
  TempFolder dir;
  std::vector<TruthFix> truth;
  for (int i = 0; i < 30; ++i) {
    // A drive across the equator and the prime meridian, one fix every 1.25 s.
    truth.push_back({-360000 + i * 24001, 180000 - i * 12345,
                     static_cast<std::int16_t>(-20 + i * 37), static_cast<std::int16_t>(i * 41),
                     4529678u + static_cast<std::uint32_t>(i) * 125u});
  }
  GpsOutputSettings settings;
  LoadGpsPreset(0, settings);
  GpsOutput out;
  out.Start(settings);
  ColumnLayout layout = MakeColumnLayout(0, 0, out.DefinedColumnCount(), false);
  std::vector<ChannelValue> channels(static_cast<std::size_t>(layout.total));
  ASSERT_TRUE(out.OpenTrack(dir / "track.csv"));
  for (const TruthFix& f : truth) {
    out.OnGpsEntry(test::Entry1(0x48, 0x2353, f.tod, f.speed), channels, layout);
    ASSERT_TRUE(out.OnGpsEntry(test::Entry2(f.lat, f.lon, f.height), channels, layout));
  }
  ASSERT_TRUE(out.FinishTrack());

  ASSERT_EQ(Shell("gpsbabel -i nmea -f " + Quote(dir / "track.nmea") + " -o gpx -F " +
                  Quote(dir / "out.gpx") + " 2>" + Quote(dir / "err.txt")),
            0);
  EXPECT_EQ(ReadText(dir / "err.txt"), "");  // no checksum or syntax complaints
  std::string gpx = ReadText(dir / "out.gpx");
  std::regex point(
      "<trkpt lat=\"([-0-9.]+)\" lon=\"([-0-9.]+)\">\\s*<ele>([-0-9.]+)</ele>\\s*"
      "<time>([^<]+)</time>\\s*(?:<course>[^<]*</course>\\s*)?<speed>([-0-9.]+)</speed>");
  std::size_t n = 0;
  for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), point); it != std::sregex_iterator();
       ++it, ++n) {
    ASSERT_LT(n, truth.size());
    const TruthFix& f = truth[n];
    const std::smatch& m = *it;
    // Positions go through whole tenths of an arc second (2.8e-5 degrees).
    EXPECT_NEAR(CStod(m[1]), f.lat / 360000.0, 3e-5) << n;
    EXPECT_NEAR(CStod(m[2]), f.lon / 360000.0, 3e-5) << n;
    EXPECT_NEAR(CStod(m[3]), f.height * 0.1, 0.051) << n;
    const std::uint32_t t = f.tod;
    char time[40];
    std::snprintf(time, sizeof time, "2017-10-19T%02u:%02u:%02u.%02u0Z", t / 360000u,
                  t / 6000u % 60u, t / 100u % 60u, t % 100u);
    EXPECT_EQ(m[4].str(), time) << n;
    EXPECT_NEAR(CStod(m[5]), f.speed * 0.1 / 3.6, 0.03) << n;  // m/s, via 0.1 knots
  }
  EXPECT_EQ(n, truth.size()) << gpx.substr(0, 2000);
}

// ---- Every format against the CSV output of the same recording ---------------------------------

using Table = std::map<std::string, std::vector<double>>;  // column name -> values per row
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) fields.push_back(field);
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

double Number(const std::string& text, const std::string& missing) {
  return text == missing ? kMissing : CStod(text);
}

Table ReadCsv(const std::filesystem::path& path) {
  std::vector<std::string> lines = Lines(ReadText(path));
  Table t;
  std::vector<std::string> names = Split(lines.at(0), ',');
  for (std::size_t r = 1; r < lines.size(); ++r) {
    std::vector<std::string> f = Split(lines[r], ',');
    for (std::size_t c = 0; c < names.size(); ++c)
      t[names[c]].push_back(Number(f.at(c), "-99999999"));
  }
  return t;
}

Table ReadEtas(const std::filesystem::path& path) {
  std::vector<std::string> lines = Lines(ReadText(path));
  Table t;
  std::vector<std::string> names = Split(lines.at(2), '\t');
  for (std::size_t r = 4; r < lines.size(); ++r) {
    std::vector<std::string> f = Split(lines[r], '\t');
    for (std::size_t c = 1; c < names.size(); ++c)
      t[names[c]].push_back(Number(f.at(c), "-99999999"));
  }
  EXPECT_EQ(lines.at(1), "sampleCount\t" + std::to_string(lines.size() - 4) +
                             std::string(15 - std::to_string(lines.size() - 4).size(), ' '));
  return t;
}

struct DiademChannel {
  std::string name;
  int position = 0;
  double offset = 0, factor = 1;
  long rows = 0;
};

Table ReadDiadem(const std::filesystem::path& header_path, const std::filesystem::path& data_path,
                 const std::string& type) {
  std::vector<DiademChannel> channels;
  for (const std::string& line : Lines(ReadText(header_path))) {
    if (line == "#BEGINCHANNELHEADER") channels.emplace_back();
    if (channels.empty()) continue;
    std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const std::string key = line.substr(0, comma), value = line.substr(comma + 1);
    if (key == "200") channels.back().name = value;
    if (key == "220") channels.back().rows = std::stol(value);
    if (key == "221" || key == "223") channels.back().position = std::stoi(value);
    if (key == "240") channels.back().offset = CStod(value);
    if (key == "241") channels.back().factor = CStod(value);
  }
  Table t;
  const std::size_t w = channels.size();
  if (type == "asc") {
    std::vector<std::string> lines = Lines(ReadText(data_path));
    for (const std::string& line : lines) {
      std::vector<std::string> f = Split(line, ',');
      EXPECT_EQ(f.size(), w);
      for (const DiademChannel& c : channels) {
        t[c.name].push_back(Number(f.at(static_cast<std::size_t>(c.position - 1)), "9.9E+34"));
      }
    }
  } else {
    std::vector<std::uint8_t> b = ReadBytes(data_path);
    const std::size_t size = type == "i32" ? 4 : 8;
    const std::size_t rows = b.size() / (size * w);
    EXPECT_EQ(b.size(), rows * size * w);
    for (std::size_t r = 0; r < rows; ++r) {
      for (const DiademChannel& c : channels) {
        const std::size_t at = (r * w + static_cast<std::size_t>(c.position - 1)) * size;
        double v;
        if (type == "i32") {
          std::int32_t raw = LeI32(b, at);
          v = raw == 2147483646 ? kMissing : raw * c.factor + c.offset;
        } else {
          v = LeF64(b, at);
          if (v == 9.9e34) v = kMissing;
        }
        t[c.name].push_back(v);
      }
    }
  }
  for (const DiademChannel& c : channels) {
    EXPECT_EQ(static_cast<std::size_t>(c.rows), t[c.name].size()) << c.name;
  }
  return t;
}

Table ReadVectorMdf(const std::filesystem::path& path) {
  test::MdfFile f = test::ReadMdf(ReadBytes(path));
  Table t;
  for (const auto& record : f.records) {
    for (std::size_t c = 1; c < f.channels.size(); ++c) {
      double v = record[c];
      if (v == static_cast<float>(-99999999.0) || v == -99999999.0) v = kMissing;
      t[f.channels[c].name].push_back(v);
    }
  }
  return t;
}

// The MDF4 channels with the rows where a channel has no value as missing.
Table ReadMdf4Signals(const std::filesystem::path& path) {
  test::Mdf4File f = test::ReadMdf4(ReadBytes(path));
  EXPECT_EQ(f.id, "MDF     ");
  EXPECT_EQ(f.cycle_count, f.records());
  Table t;
  for (std::size_t r = 0; r < f.records(); ++r) {
    for (std::size_t c = 1; c < f.channels.size(); ++c) {
      const test::Mdf4Channel& channel = f.channels[c];
      t[channel.name].push_back(f.Invalid(r, channel) ? kMissing : f.Value(r, channel));
    }
  }
  return t;
}

Table ReadStiegele(const std::filesystem::path& header, const std::filesystem::path& data) {
  std::vector<std::uint8_t> h = ReadBytes(header);
  std::vector<std::uint8_t> d = ReadBytes(data);
  const int record_size = LeI32(h, 40);
  const int count = LeI32(h, 44);
  Table t;
  for (std::size_t at = 0; at + static_cast<std::size_t>(record_size) <= d.size();
       at += static_cast<std::size_t>(record_size)) {
    for (int c = 0; c < count; ++c) {
      const std::size_t ch = 72 + 208 * static_cast<std::size_t>(c);
      const std::string name = test::FieldText(h, ch + 16, 64);
      const int type = LeI32(h, ch + 176);
      const std::size_t offset = at + static_cast<std::size_t>(LeI32(h, ch + 200));
      double v = type == 10 ? LeF64(d, offset) : LeF32(d, offset);
      if (v == static_cast<float>(-99999999.0) || v == -99999999.0) v = kMissing;
      t[name].push_back(v);
    }
  }
  return t;
}

// Compares every column of got with the CSV column of the same name.
void ExpectSameValues(const Table& csv, const Table& got, const char* format, double tolerance) {
  ASSERT_FALSE(got.empty()) << format;
  std::size_t compared = 0;
  for (const auto& [name, values] : got) {
    auto it = csv.find(name);
    ASSERT_NE(it, csv.end()) << format << ": no CSV column " << name;
    ASSERT_EQ(values.size(), it->second.size()) << format << " " << name;
    for (std::size_t r = 0; r < values.size(); ++r) {
      const double a = it->second[r], b = values[r];
      if (std::isnan(a) || std::isnan(b)) {
        EXPECT_EQ(std::isnan(a), std::isnan(b)) << format << " " << name << " row " << r;
        continue;
      }
      EXPECT_NEAR(b, a, tolerance * std::max(1.0, std::fabs(a)))
          << format << " " << name << " row " << r;
      ++compared;
    }
  }
  EXPECT_GT(compared, 1000u) << format;  // most channels carry values in most rows
}

class SimulatedRecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempFolder;
    const std::string cli = Quote(TESSMAR_CLI_PATH);
    ASSERT_EQ(Shell(cli + " simulate " +
                    Quote(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc") +
                    " -o " + Quote(*dir_ / "rec.cld") + " --duration 8 --gps --seed 7 >/dev/null"),
              0);
    WriteText(*dir_ / "Tessmar.ini", "");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  // Converts rec.cld into folder/ with the given format; returns the CLI's exit code.
  static int Convert(const std::string& format, const std::string& folder,
                     const std::string& type = "signals") {
    std::filesystem::create_directories(*dir_ / folder);
    return Shell(Quote(TESSMAR_CLI_PATH) + " --settings " + Quote(*dir_ / "Tessmar.ini") +
                 " --no-progress --output-type " + type +
                 " --interval 0.05 --time1 off --time2 off" +
                 // Headlines are a text layout's (other formats refuse the option).
                 (format == "csv" ? " --headlines 1" : "") + " --format " + format + " --outdir " +
                 Quote(*dir_ / folder) + " " + Quote(*dir_ / "rec.cld") + " 2>" +
                 Quote(*dir_ / (folder + ".log")));
  }
  static Table Csv() {
    static Table csv = [] {
      EXPECT_EQ(Convert("csv", "csv"), 0);
      return ReadCsv(*dir_ / "csv" / "rec.csv");
    }();
    return csv;
  }
  static TempFolder* dir_;
};
TempFolder* SimulatedRecording::dir_ = nullptr;

TEST_F(SimulatedRecording, DiademFilesMatchTheCsvOutput) {
  Table csv = Csv();
  ASSERT_GT(csv.begin()->second.size(), 100u);
  ASSERT_EQ(Convert("diadem-ascii", "dasc"), 0);
  ExpectSameValues(csv, ReadDiadem(*dir_ / "dasc" / "rec.dat", *dir_ / "dasc" / "rec.asc", "asc"),
                   "DIAdem ASCII", 1e-5);
  ASSERT_EQ(Convert("diadem-real64", "dr64"), 0);
  ExpectSameValues(csv, ReadDiadem(*dir_ / "dr64" / "rec.dat", *dir_ / "dr64" / "rec.r64", "r64"),
                   "DIAdem REAL64", 1e-6);
  ASSERT_EQ(Convert("diadem-int32", "di32"), 0);
  // Integers carry raw values (floats and expressions truncated): within one step.
  ExpectSameValues(csv, ReadDiadem(*dir_ / "di32" / "rec.dat", *dir_ / "di32" / "rec.i32", "i32"),
                   "DIAdem INT32", 1.0);
}

TEST_F(SimulatedRecording, EtasFileMatchesTheCsvOutput) {
  Table csv = Csv();
  ASSERT_EQ(Convert("etas-ascii", "etas"), 0);
  ExpectSameValues(csv, ReadEtas(*dir_ / "etas" / "rec.ascii"), "ETAS ASCII", 1e-5);
}

TEST_F(SimulatedRecording, MdfFilesMatchTheCsvOutput) {
  Table csv = Csv();
  ASSERT_EQ(Convert("vector-mdf", "vmdf"), 0);
  ExpectSameValues(csv, ReadVectorMdf(*dir_ / "vmdf" / "rec.dat"), "Vector MDF", 1e-6);
  ASSERT_EQ(Convert("stiegele-mdf", "smdf"), 0);
  ExpectSameValues(csv, ReadStiegele(*dir_ / "smdf" / "rec.mdf", *dir_ / "smdf" / "rec.dta"),
                   "Stiegele MDF", 1e-6);
}

TEST_F(SimulatedRecording, Mdf4MatchesTheCsvAndTheMessagesOutput) {
  Table csv = Csv();
  ASSERT_EQ(Convert("mdf4", "mdf4"), 0);
  ExpectSameValues(csv, ReadMdf4Signals(*dir_ / "mdf4" / "rec.mf4"), "MDF4", 1e-6);

  // Every CAN frame of the Messages output, as identifier word and data bytes, in order.
  ASSERT_EQ(Convert("csv", "messages", "messages"), 0);
  ASSERT_EQ(Convert("mdf4", "frames", "messages"), 0);
  std::vector<std::string> lines = Lines(ReadText(*dir_ / "messages" / "rec.csv"));
  std::vector<std::string> expected;
  for (const std::string& line : lines) {
    if (line.rfind("0x", 0) != 0) continue;  // expression and GPS lines are no frames
    std::string frame = line;
    while (!frame.empty() && frame.back() == ',') frame.pop_back();
    expected.push_back(frame);
  }
  test::Mdf4File f = test::ReadMdf4(ReadBytes(*dir_ / "frames" / "rec.mf4"));
  ASSERT_EQ(f.channels.size(), 2u);
  std::map<std::string, test::Mdf4Channel> part;
  for (const test::Mdf4Channel& c : f.channels[1].parts) part[c.name.substr(14)] = c;
  std::vector<std::string> got;
  std::set<int> buses, formats;
  for (std::size_t r = 0; r < f.records(); ++r) {
    const int bus = static_cast<int>(f.Value(r, part["BusChannel"]));
    const int ide = static_cast<int>(f.Value(r, part["IDE"]));
    buses.insert(bus);
    formats.insert(ide);
    std::uint32_t word = static_cast<std::uint32_t>(f.Value(r, part["ID"]));
    if (ide) word |= 0x20000000u;
    if (bus == 2) word |= 0x40000000u;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", word);
    std::string frame = text;
    const std::vector<std::uint8_t> bytes = f.Bytes(r, part["DataBytes"]);
    for (int i = 0; i < static_cast<int>(f.Value(r, part["DataLength"])); ++i) {
      std::snprintf(text, sizeof text, ",%02X", bytes[static_cast<std::size_t>(i)]);
      frame += text;
    }
    got.push_back(frame);
  }
  EXPECT_EQ(buses, (std::set<int>{1, 2}));
  EXPECT_EQ(formats, (std::set<int>{0, 1}));
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "frame " << i;
}

TEST_F(SimulatedRecording, GpsTrackAndColumnsThroughTheSettings) {
  const std::filesystem::path ini = *dir_ / "gps.ini";
  const std::string columns =
      "ColTitle0=GpsTime\r\nColFormat0=hh:mm:ss\r\nColExprs0=gps.time\r\n"
      "ColTitle1=GpsLat\r\nColUnit1=deg\r\nColFormat1=##0.00000\r\nColExprs1=gps.lat\r\n"
      "ColTitle2=GpsSpeed\r\nColExprs2=gps.speed\r\n";
  auto convert = [&](const std::string& format, const std::string& folder, int track_format) {
    WriteText(ini,
              "[GPS_Output]\r\nSeparateTrackFile=1\r\nMergeIntoMainFile=1\r\nTrackFileFormat=" +
                  std::to_string(track_format) + "\r\n" + columns);
    std::filesystem::create_directories(*dir_ / folder);
    return Shell(Quote(TESSMAR_CLI_PATH) + " --settings " + Quote(ini) +
                 " --no-progress --output-type signals --interval 0.05 --format " + format +
                 " --outdir " + Quote(*dir_ / folder) + " " + Quote(*dir_ / "rec.cld") + " 2>" +
                 Quote(*dir_ / (folder + ".log")));
  };

  // NMEA track beside a Vector MDF file with three GPS channels.
  ASSERT_EQ(convert("vector-mdf", "gmdf", 1), 0) << ReadText(*dir_ / "gmdf.log");
  test::MdfFile mdf = test::ReadMdf(ReadBytes(*dir_ / "gmdf" / "rec.dat"));
  ASSERT_GE(mdf.channels.size(), 4u);
  const std::size_t n = mdf.channels.size();
  EXPECT_EQ(mdf.channels[n - 3].name, "GpsTime");
  EXPECT_EQ(mdf.channels[n - 3].data_type, 8);
  EXPECT_EQ(mdf.channels[n - 2].name, "GpsLat");
  EXPECT_EQ(mdf.channels[n - 2].unit, "deg");
  EXPECT_EQ(mdf.channels[n - 2].data_type, 3);
  EXPECT_EQ(mdf.channels[n - 1].data_type, 2);
  if (Shell("command -v gpsbabel >/dev/null 2>&1") == 0) {
    ASSERT_EQ(Shell("gpsbabel -i nmea -f " + Quote(*dir_ / "gmdf" / "rec.nmea") + " -o gpx -F " +
                    Quote(*dir_ / "rec.gpx") + " 2>" + Quote(*dir_ / "babel.txt")),
              0);
    EXPECT_EQ(ReadText(*dir_ / "babel.txt"), "");
    const std::string gpx = ReadText(*dir_ / "rec.gpx");
    std::regex lat("<trkpt lat=\"([-0-9.]+)\"");
    std::size_t points = 0;
    for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), lat); it != std::sregex_iterator();
         ++it, ++points) {
      // Every GPS channel value that is valid holds one of the track's latitudes.
      const double value = CStod((*it)[1]);
      bool found = false;
      for (const auto& record : mdf.records) {
        found = found || std::fabs(record[n - 2] - value) < 3e-5;
      }
      EXPECT_TRUE(found) << value;
    }
    EXPECT_GE(points, 3u);
  }

  // The text track and the refusal of DIAdem.
  ASSERT_EQ(convert("etas-ascii", "gtxt", 0), 0);
  std::vector<std::string> lines = Lines(ReadText(*dir_ / "gtxt" / "rec.gps"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("; date time latitude/deg", 0), 0u);
  EXPECT_EQ(convert("diadem-real64", "gdia", 1), 1);
  EXPECT_NE(ReadText(*dir_ / "gdia.log").find("Export of GPS data not supported"),
            std::string::npos);
}

TEST_F(SimulatedRecording, UnwritableFolderFailsWithTheErrorText) {
  // A missing folder would be made; nobody, not even root, creates files in /proc.
  for (const char* format : {"vector-mdf", "stiegele-mdf", "etas-ascii", "diadem-int32"}) {
    int rc = Shell(Quote(TESSMAR_CLI_PATH) + " --settings " + Quote(*dir_ / "Tessmar.ini") +
                   " --no-progress --output-type signals --format " + format + " --outdir /proc " +
                   Quote(*dir_ / "rec.cld") + " 2>" + Quote(*dir_ / "fail.log"));
    EXPECT_EQ(rc, 1) << format;
    std::string log = ReadText(*dir_ / "fail.log");
    EXPECT_NE(log.find("create error"), std::string::npos) << format << ": " << log;
  }
}

}  // namespace
}  // namespace tessmar
