// End-to-end tests of "tessmar-cli simulate".

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "common/c_locale.h"
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

// An existing recording is replaced only with --force.
TEST(SimulateCli, ExistingRecordingNeedsForce) {
  TempDir dir;
  const std::string out = (dir / "real.cld").string();
  WriteFile(out, "a real recording");
  const CliResult r = RunCli({"simulate", kDemoConfig, "-o", out, "--duration", "2"});
  EXPECT_EQ(2, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("-o " + out + " exists; use --force to replace it"));
  EXPECT_EQ(ReadFile(out), "a real recording");
  EXPECT_EQ(0,
            RunCli({"simulate", kDemoConfig, "-o", out, "--duration", "2", "--force"}).exit_code);
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

// An odometer of 0.1 km and a 32-bit mask (beyond seven digits and a float), a factor and an
// offset of more than six digits, a tiny factor and a limit above the signed 64-bit range.
struct Awkward {
  const char* name;
  std::uint32_t id;
  int start_bit, bits;
  double factor, offset, minimum, maximum;
};
constexpr Awkward kAwkward[] = {
    {"Odometer", 0x200, 0, 32, 0.1, 0, 0, 429496729.5},
    {"Mask", 0x200, 32, 32, 1, 0, 0, 4294967295.0},
    {"Coarse", 0x201, 0, 16, 1234567.89, 52.123456, 0, 0},
    {"Tiny", 0x201, 16, 16, 1e-7, 0, 1e-7, 0.0065535},
    {"Big", 0x202, 0, 64, 1, 0, 0, 18446744073709551615.0},
};

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == sep) {
      parts.emplace_back();
    } else if (c != '\r') {
      parts.back() += c;
    }
  }
  return parts;
}

// DBC -> configuration file -> simulated recording -> conversion: the recording's header holds
// the database's numbers unchanged, and every cell of Text, CSV, ETAS ASCII and DIAdem ASCII gives
// back, at the signal's resolution, a value of the recording (decoded from the Messages output).
TEST(SimulateCli, DatabaseNumbersAndValuesSurviveTheWholeChain) {
  TempDir dir;
  WriteFile(dir / "odd.dbc",
            "VERSION \"\"\nBU_: ECU\nBO_ 512 Trip: 8 ECU\n"
            " SG_ Odometer : 0|32@1+ (0.1,0) [0|429496729.5] \"km\" ECU\n"
            " SG_ Mask : 32|32@1+ (1,0) [0|4294967295] \"\" ECU\n"
            "BO_ 513 Odd: 4 ECU\n"
            " SG_ Coarse : 0|16@1+ (1234567.89,52.123456) [0|0] \"\" ECU\n"
            " SG_ Tiny : 16|16@1+ (1e-7,0) [1e-7|0.0065535] \"\" ECU\n"
            "BO_ 514 Wide: 8 ECU\n"
            " SG_ Big : 0|64@1+ (1,0) [0|18446744073709551615] \"\" ECU\n");
  const std::string clc = (dir / "odd.clc").string(), cld = (dir / "rec.cld").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", clc}).exit_code, 0);
  ASSERT_EQ(RunCli({"clc", "add", clc, "--dbc", (dir / "odd.dbc").string()}).exit_code, 0);
  EXPECT_NE(ReadFile(clc).find("fa=1234567.89,of=52.123456,"), std::string::npos);
  EXPECT_NE(ReadFile(clc).find("fa=1E-07,of=0,mi=1E-07,"), std::string::npos);
  EXPECT_NE(ReadFile(clc).find(",ma=1.8446744073709552E+19,"), std::string::npos);
  ASSERT_EQ(RunCli({"simulate", clc, "-o", cld, "--duration", "20"}).exit_code, 0);
  CldReader reader;
  ASSERT_TRUE(reader.Open(cld));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  ReadLogHeader(reader, cfg, sigs);
  for (std::size_t i = 0; i < std::size(kAwkward); ++i) {  // in the slots of their order
    const Awkward& a = kAwkward[i];
    const T_CanLog_SigDef& s = sigs[i];
    EXPECT_EQ(TextOf(s.sn), a.name);
    EXPECT_TRUE(s.fa == a.factor && s.of == a.offset && s.mi == a.minimum && s.ma == a.maximum)
        << a.name;
  }

  WriteFile(dir / "empty.ini", "");
  auto convert = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--settings", (dir / "empty.ini").string(), "-q", cld, "--outdir",
                               (dir / "out").string(), "--time1", "off"});
    EXPECT_EQ(RunCli(args).exit_code, 0);
  };
  convert({"--output-type", "messages", "--format", "csv"});
  std::vector<double> recorded[std::size(kAwkward)];
  for (const std::string& line : Split(ReadFile(dir / "out" / "rec.csv"), '\n')) {
    const std::vector<std::string> cells = Split(line, ',');  // identifier, d0 .. d7
    if (cells.size() != 9 || cells[0].rfind("0x", 0) != 0) continue;
    std::uint64_t bytes = 0;
    for (std::size_t b = 8; b >= 1; --b) {
      bytes = bytes << 8 | std::strtoull(cells[b].c_str(), nullptr, 16);
    }
    for (std::size_t i = 0; i < std::size(kAwkward); ++i) {
      const Awkward& a = kAwkward[i];
      if (std::stoul(cells[0], nullptr, 16) != a.id) continue;
      const std::uint64_t raw =
          a.bits == 64 ? bytes : bytes >> a.start_bit & ((std::uint64_t{1} << a.bits) - 1);
      recorded[i].push_back(static_cast<double>(raw) * a.factor + a.offset);
    }
  }
  for (std::vector<double>& values : recorded) std::sort(values.begin(), values.end());

  struct Layout {
    const char* format;
    const char* file;
    char separator;
    std::size_t first_row, first_column;  // after headlines / the time of ETAS ASCII
  };
  for (const Layout& k : {Layout{"text", "rec.txt", ' ', 1, 0}, Layout{"csv", "rec.csv", ',', 1, 0},
                          Layout{"etas-ascii", "rec.ascii", '\t', 4, 1},
                          Layout{"diadem-ascii", "rec.asc", ',', 0, 0}}) {
    convert({"--output-type", "signals", "--format", k.format, "--skip-until-valid"});
    const std::vector<std::string> lines = Split(ReadFile(dir / "out" / k.file), '\n');
    ASSERT_GT(lines.size(), 100u) << k.format;
    for (std::size_t i = 0; i < std::size(kAwkward); ++i) {
      const std::vector<double>& values = recorded[i];
      int wrong = 0;
      std::string example;
      for (std::size_t row = k.first_row; row + 1 < lines.size(); ++row) {
        const std::string cell = Split(lines[row], k.separator).at(k.first_column + i);
        double v = 0;
        FromChars(cell.data(), cell.data() + cell.size(), v);
        const auto at = std::lower_bound(values.begin(), values.end(), v);
        const bool near = (at != values.end() && 2 * std::fabs(*at - v) < kAwkward[i].factor) ||
                          (at != values.begin() && 2 * std::fabs(at[-1] - v) < kAwkward[i].factor);
        if (!near && wrong++ == 0) example = cell;
      }
      EXPECT_EQ(wrong, 0) << k.format << " " << kAwkward[i].name << ", e.g. " << example;
    }
  }
}

}  // namespace
}  // namespace tessmar::testing
