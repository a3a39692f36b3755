// End-to-end tests of "tessmar-cli simulate".

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "config/canlog_config.h"
#include "logfile/cld_reader.h"
#include "logfile/log_header.h"

namespace tessmar::testing {
namespace {

const std::string kDemoConfig = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc";

TEST(SimulateCli, HelpListsOptionsAndFaults) {
  const CliResult r = RunCli({"simulate", "--help"});
  EXPECT_EQ(0, r.exit_code);
  for (const char* word :
       {"--duration", "--bus-load", "--seed", "--fifo-size", "--password", "--no-binary-header",
        "--gps", "--fault", "--manifest", "wrap24", "lost-carry", "counter-restart", "bad-rtc",
        "dummy-blocks", "truncated", "odd-entries"}) {
    EXPECT_NE(std::string::npos, r.out.find(word)) << word;
  }
}

TEST(SimulateCli, WrongCommandLinesExitWithTwo) {
  TempDir dir;
  const std::string out = (dir / "x.cld").string();
  EXPECT_EQ(2, RunCli({"simulate"}).exit_code);
  EXPECT_EQ(2, RunCli({"simulate", kDemoConfig}).exit_code);  // no -o
  EXPECT_EQ(2, RunCli({"simulate", kDemoConfig, "-o", out, "--duration", "abc"}).exit_code);
  EXPECT_EQ(2, RunCli({"simulate", kDemoConfig, "-o", out, "--duration", "0"}).exit_code);
  EXPECT_EQ(2, RunCli({"simulate", kDemoConfig, "-o", out, "--bus-load", "-5"}).exit_code);
  EXPECT_EQ(2, RunCli({"simulate", kDemoConfig, "-o", out, "--seed"}).exit_code);
  EXPECT_EQ(
      2, RunCli({"simulate", kDemoConfig, "-o", out, "--start", "2026-13-01 00:00:00"}).exit_code);
  const CliResult bad = RunCli({"simulate", kDemoConfig, "-o", out, "--fault", "gremlins"});
  EXPECT_EQ(2, bad.exit_code);
  EXPECT_NE(std::string::npos, bad.err.find("unknown fault \"gremlins\""));
}

TEST(SimulateCli, FailuresExitWithOne) {
  TempDir dir;
  EXPECT_EQ(1, RunCli({"simulate", (dir / "missing.clc").string(), "-o", (dir / "x.cld").string()})
                   .exit_code);
  const CliResult r =
      RunCli({"simulate", kDemoConfig, "-o", (dir / "x.cld").string(), "--fifo-size", "1"});
  EXPECT_EQ(1, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("tessmar-cli: error: "));
}

TEST(SimulateCli, WritesRecordingAndManifestDeterministically) {
  TempDir dir;
  const std::vector<std::string> common = {"simulate", kDemoConfig, "--duration", "12",
                                           "--seed",   "7",         "--fault",    "dummy-blocks",
                                           "--fault",  "lost-carry"};
  auto run = [&](const std::string& name) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-o", (dir / (name + ".cld")).string(), "--manifest",
                             (dir / (name + ".txt")).string()});
    return RunCli(args);
  };
  ASSERT_EQ(0, run("a").exit_code);
  ASSERT_EQ(0, run("b").exit_code);
  const std::string a = ReadFile(dir / "a.cld");
  EXPECT_EQ(a, ReadFile(dir / "b.cld"));
  const std::string manifest = ReadFile(dir / "a.txt");
  EXPECT_EQ(manifest, ReadFile(dir / "b.txt"));
  EXPECT_NE(std::string::npos, manifest.find("file_size=" + std::to_string(a.size()) + "\r\n"));
  EXPECT_NE(std::string::npos, manifest.find("time_entries=12\r\n"));
  EXPECT_NE(std::string::npos, manifest.find("fault lost_carry filepos=0x"));
  EXPECT_NE(std::string::npos, manifest.find("signal MotorSpeed count="));
  EXPECT_NE(std::string::npos, a.find("StartDate=2026-05-04 08:00:00\r\n"));
}

TEST(SimulateCli, CircularFileAndOptionsReachTheFile) {
  TempDir dir;
  const CliResult r = RunCli({"simulate", kDemoConfig, "-o", (dir / "f.cld").string(), "--duration",
                              "40", "--fifo-size", "48", "--start", "2017-10-19 12:34:56",
                              "--no-gps", "--manifest", (dir / "f.txt").string(), "-v"});
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("circular file wrapped"));
  const std::string manifest = ReadFile(dir / "f.txt");
  EXPECT_NE(std::string::npos, manifest.find("wrapped=1\r\n"));
  EXPECT_NE(std::string::npos, manifest.find("gps_fixes=0\r\n"));
  const std::string cld = ReadFile(dir / "f.cld");
  EXPECT_LE(cld.size(), 48u * 1024);
  EXPECT_NE(std::string::npos, cld.find("FifoMode=1\r\n"));
  EXPECT_NE(std::string::npos, cld.find("FileSizeLimit=48\r\n"));
  EXPECT_NE(std::string::npos, cld.find("StartDate=2017-10-19 12:34:56\r\n"));
}

// ---- Numbers through the whole chain -----------------------------------------------------------

// A database with awkward numbers: an odometer of 0.1 km and a mask of 32 bits (beyond what seven
// digits or a float hold), a factor and an offset of more than six digits, a tiny factor and a
// limit above the signed 64-bit range.
constexpr char kAwkwardDbc[] =
    "VERSION \"\"\n\nNS_ :\n\nBS_:\n\nBU_: ECU\n\n"
    "BO_ 512 Trip: 8 ECU\n"
    " SG_ Odometer : 0|32@1+ (0.1,0) [0|429496729.5] \"km\" ECU\n"
    " SG_ Mask : 32|32@1+ (1,0) [0|4294967295] \"\" ECU\n\n"
    "BO_ 513 Odd: 4 ECU\n"
    " SG_ Coarse : 0|16@1+ (1234567.89,52.123456) [0|0] \"\" ECU\n"
    " SG_ Tiny : 16|16@1+ (1e-7,0) [1e-7|0.0065535] \"\" ECU\n\n"
    "BO_ 514 Wide: 8 ECU\n"
    " SG_ Big : 0|64@1+ (1,0) [0|18446744073709551615] \"\" ECU\n";

struct AwkwardSignal {
  const char* name;
  std::uint32_t id;
  int start_bit, bits;
  double factor, offset, minimum, maximum;
};
constexpr AwkwardSignal kAwkward[] = {
    {"Odometer", 0x200, 0, 32, 0.1, 0, 0, 429496729.5},
    {"Mask", 0x200, 32, 32, 1, 0, 0, 4294967295.0},
    {"Coarse", 0x201, 0, 16, 1234567.89, 52.123456, 0, 0},
    {"Tiny", 0x201, 16, 16, 1e-7, 0, 1e-7, 0.0065535},
    {"Big", 0x202, 0, 64, 1, 0, 0, 18446744073709551615.0},
};

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> cells(1);
  for (char c : line) {
    if (c == sep) {
      cells.emplace_back();
    } else if (c != '\r') {
      cells.back() += c;
    }
  }
  return cells;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
    lines.push_back(text.substr(from, nl - from));
  }
  return lines;
}

double Number(const std::string& cell) {
  double v = std::nan("");
  std::from_chars(cell.data(), cell.data() + cell.size(), v);
  return v;
}

// Every value of every awkward signal comes through the chain DBC -> configuration file ->
// simulated recording -> conversion: the numbers of the database reach the recording's header
// unchanged, and every cell of Text, CSV, DIAdem ASCII and ETAS ASCII gives back a value of the
// recording at the signal's resolution. The recording's values are decoded from the Messages
// output, bit by bit.
TEST(SimulateCli, DatabaseNumbersAndValuesSurviveTheWholeChain) {
  TempDir dir;
  WriteFile(dir / "odd.dbc", kAwkwardDbc);
  const std::string clc = (dir / "odd.clc").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", clc}).exit_code, 0);
  CliResult r = RunCli({"clc", "add", clc, "--dbc", (dir / "odd.dbc").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(ReadFile(clc).find(",fa=1234567.89,of=52.123456,mi=0,ma=0,"), std::string::npos);
  r = RunCli({"simulate", clc, "-o", (dir / "rec.cld").string(), "--duration", "20"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // The recording's header, read as the converter reads it.
  CldReader reader;
  ASSERT_TRUE(reader.Open(dir / "rec.cld"));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  ReadLogHeader(reader, cfg, sigs);
  for (const AwkwardSignal& a : kAwkward) {
    const auto* s = std::find_if(sigs.Sig.begin(), sigs.Sig.end(),
                                 [&](const T_CanLog_SigDef& d) { return TextOf(d.sn) == a.name; });
    ASSERT_NE(s, sigs.Sig.end()) << a.name;
    EXPECT_EQ(s->fa, a.factor) << a.name;
    EXPECT_EQ(s->of, a.offset) << a.name;
    EXPECT_EQ(s->mi, a.minimum) << a.name;
    EXPECT_EQ(s->ma, a.maximum) << a.name;
  }

  // Every value the recording holds, from the frames' bytes.
  auto convert = [&](std::vector<std::string> options) {
    std::vector<std::string> args = {"--settings",
                                     (dir / "empty.ini").string(),
                                     "--no-progress",
                                     "-q",
                                     (dir / "rec.cld").string(),
                                     "--outdir",
                                     (dir / "out").string()};
    args.insert(args.end(), options.begin(), options.end());
    const CliResult c = RunCli(args);
    EXPECT_EQ(c.exit_code, 0) << c.err;
  };
  WriteFile(dir / "empty.ini", "");
  convert({"--output-type", "messages", "--format", "csv", "--time1", "off"});
  std::map<std::string, std::vector<double>> recorded;
  for (const std::string& line : Lines(ReadFile(dir / "out" / "rec.csv"))) {
    const std::vector<std::string> cells = Split(line, ',');
    if (cells.size() < 9 || cells[0].rfind("0x", 0) != 0) continue;
    std::uint64_t bytes = 0;
    for (int i = 7; i >= 0; --i) {
      bytes = bytes << 8 | std::stoul(cells[static_cast<std::size_t>(1 + i)].empty()
                                          ? std::string("0")
                                          : cells[static_cast<std::size_t>(1 + i)],
                                      nullptr, 16);
    }
    const auto id = static_cast<std::uint32_t>(std::stoul(cells[0], nullptr, 16));
    for (const AwkwardSignal& a : kAwkward) {
      if (a.id != id) continue;
      const std::uint64_t raw =
          a.bits == 64 ? bytes : bytes >> a.start_bit & ((std::uint64_t{1} << a.bits) - 1);
      recorded[a.name].push_back(static_cast<double>(raw) * a.factor + a.offset);
    }
  }
  for (const AwkwardSignal& a : kAwkward) {
    std::vector<double>& values = recorded[a.name];
    ASSERT_GT(values.size(), 10u) << a.name;
    std::sort(values.begin(), values.end());
  }
  // A cell gives back a recorded value when it lies within half a step of it.
  auto gives_back = [&](const AwkwardSignal& a, const std::string& cell) {
    const double v = Number(cell);
    const std::vector<double>& values = recorded[a.name];
    auto at = std::lower_bound(values.begin(), values.end(), v);
    double nearest = at == values.end() ? values.back() : *at;
    if (at != values.begin() && std::fabs(at[-1] - v) < std::fabs(nearest - v)) nearest = at[-1];
    return 2 * std::fabs(nearest - v) < a.factor;
  };
  struct Layout {
    const char* format;
    const char* file;
    char separator;
    std::size_t names_line, first_row;
  };
  for (const Layout& k : {Layout{"text", "rec.txt", ' ', 0, 1}, Layout{"csv", "rec.csv", ',', 0, 1},
                          Layout{"etas-ascii", "rec.ascii", '\t', 2, 4},
                          Layout{"diadem-ascii", "rec.asc", ',', 0, 0}}) {
    convert({"--output-type", "signals", "--format", k.format, "--time1", "off", "--interval",
             "0.01", "--skip-until-valid"});
    const std::vector<std::string> lines = Lines(ReadFile(dir / "out" / k.file));
    ASSERT_GT(lines.size(), k.first_row + 100) << k.format;
    // DIAdem's data file has no names: its columns are the signals in their order.
    std::vector<std::string> names = {"Odometer", "Mask", "Coarse", "Tiny", "Big"};
    if (k.first_row > 0) names = Split(lines[k.names_line], k.separator);
    for (const AwkwardSignal& a : kAwkward) {
      const std::size_t column =
          static_cast<std::size_t>(std::find(names.begin(), names.end(), a.name) - names.begin());
      ASSERT_LT(column, names.size()) << k.format << " " << a.name;
      int wrong = 0;
      std::string first_wrong;
      for (std::size_t row = k.first_row; row < lines.size(); ++row) {
        const std::string cell = Split(lines[row], k.separator).at(column);
        if (!gives_back(a, cell) && wrong++ == 0) first_wrong = cell;
      }
      EXPECT_EQ(wrong, 0) << k.format << " " << a.name << ", e.g. " << first_wrong;
    }
  }
}

}  // namespace
}  // namespace tessmar::testing
