// End-to-end tests of tessmar-cli's batch conversion (no subcommand).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "cli_test_util.h"
#include "tests/convert/recording_builder.h"
#include "tests/locale_test_util.h"

namespace tessmar::testing {
namespace {

// Every run reads an empty settings file so that a Tessmar.ini of the machine does not count.
std::vector<std::string> Args(const TempDir& dir, std::vector<std::string> rest) {
  WriteFile(dir / "empty.ini", "");
  std::vector<std::string> args = {"--settings", (dir / "empty.ini").string(), "--no-progress"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

void WriteRecording(const std::filesystem::path& path) {
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56)
      .Frame(1024, 0x100, {0x14, 0x05})
      .Frame(2048, 0x100, {0x28, 0xF6})
      .Frame(4096, 0x78FEF100, {0x01, 0x02, 0x03})
      .Marker("eof", 4096);
  r.Write(path);
}

TEST(ConvertCli, HelpListsOptionsAndValueNames) {
  const CliResult r = RunCli({"--help-convert"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* text : {"--output-type",
                           "--format",
                           "--interval",
                           "--time1",
                           "--time2",
                           "--headlines",
                           "--separator",
                           "--decimal",
                           "--invalid",
                           "--raw",
                           "--ignore-logged-sigdefs",
                           "--combine",
                           "--skip-until-valid",
                           "--outdir",
                           "--breakpoint",
                           "--verbose",
                           "--settings",
                           "--no-clobber",
                           "Two formats share .asc",
                           "csv-semicolon",
                           "vector-ascii",
                           "datetime-fraction",
                           "semicolon",
                           "messages | signals | dump"}) {
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  }
}

TEST(ConvertCli, OutputNamesChooseFormats) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  WriteRecording(dir / "b.cld");
  const CliResult r = RunCli(
      Args(dir, {"a.cld", "b.cld", "a.asc", "b.csv", "--time1", "seconds", "--interval", "0.125"}),
      dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string asc = ReadFile(dir / "a.asc");
  EXPECT_EQ(asc.substr(0, 31), "date Don Okt 19 12:34:56 2017\r\n");
  EXPECT_NE(asc.find("   0.2500 1  100             Rx   d 2 28 F6\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "b.csv"),
            "time_sec,Speed,Temp,Twice\r\n"
            "0.0000,20,-10,-99999999\r\n"
            "0.1250,20,-10,-99999999\r\n"
            "0.2500,20,-10,-99999999\r\n");
  EXPECT_NE(r.err.find("2 files converted, 0 conversion errors."), std::string::npos);
}

TEST(ConvertCli, MissingOutputFoldersAreMade) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  WriteRecording(dir / "b.cld");
  // --outdir for the source without a name of its own, and the folder of a named output.
  const CliResult r =
      RunCli(Args(dir, {"a.cld", "b.cld", "named/deep/a.csv", "--outdir", "out/x"}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "named/deep/a.csv"));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "out/x/b.txt"));
  EXPECT_NE(r.err.find("Created the output folder \"out/x\"."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Created the output folder \"named/deep\"."), std::string::npos);
  // A file where the folder should be is a clear failure, not a conversion error per source.
  WriteFile(dir / "blocker", "");
  const CliResult blocked = RunCli(Args(dir, {"a.cld", "--outdir", "blocker/sub"}), dir.path());
  EXPECT_EQ(blocked.exit_code, 1);
  EXPECT_NE(blocked.err.find("cannot create the output folder \"blocker/sub\""), std::string::npos)
      << blocked.err;
}

TEST(ConvertCli, OptionsOverrideSettingsFile) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  WriteFile(dir / "my.ini",
            "[Converter]\r\nOutputType=0\r\nOutputFileFormat=1\r\nOutputFileHeadlines=0\r\n"
            "TimeColumn1=3\r\n");
  std::filesystem::create_directories(dir / "out");
  CliResult r =
      RunCli({"--settings", (dir / "my.ini").string(), "a.cld", "--outdir", "out"}, dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out" / "a.csv").substr(0, 36),
            "000000000.0,0x00000100,14,05,,,,,,\r\n");
  // The dump is text whatever the settings' file format says; a format asked for is refused.
  r = RunCli({"--settings", (dir / "my.ini").string(), "a.cld", "--outdir", "out", "--output-type",
              "dump"},
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "out" / "a.txt").find("CANMESSAGE id=00000100 len=2 data= 14 05"),
            std::string::npos);
  r = RunCli({"--settings", (dir / "my.ini").string(), "a.cld", "--outdir", "out", "--format",
              "csv-semicolon", "--output-type", "dump"},
             dir.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--format csv-semicolon has no use with --output-type dump"),
            std::string::npos)
      << r.err;
}

TEST(ConvertCli, CommandFileAndWildcard) {
  TempDir dir;
  std::filesystem::create_directories(dir / "rec");
  WriteRecording(dir / "rec" / "x1.cld");
  WriteRecording(dir / "rec" / "x2.cld");
  // Options in a command file: the value after a blank, after '=' or on the next line.
  WriteFile(dir / "job.cmd", "; converts both\r\n\r\n" + (dir / "rec" / "*.cld").string() +
                                 "\r\n/bm\r\n--format vector-ascii\r\n--outdir=out\r\n-j\r\n1\r\n");
  CliResult r = RunCli(Args(dir, {"job.cmd"}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // The listing is a message: standard output stays for data.
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Directory listing of *.*"), std::string::npos);
  EXPECT_NE(r.err.find("Parsing command file"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "x1.asc"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "x2.asc"));
  r = RunCli(Args(dir, {"-q", (dir / "rec" / "*.cld").string()}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
}

TEST(ConvertCli, FailuresGiveNonZeroExit) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  // Unknown argument: wrong command line.
  CliResult r = RunCli(Args(dir, {"a.cld", "notes.xyz"}), dir.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("ParseCmdLine: Don't know what to do with notes.xyz ."), std::string::npos);
  // Unknown option value.
  r = RunCli(Args(dir, {"a.cld", "--format", "pdf"}), dir.path());
  EXPECT_EQ(r.exit_code, 2);
  // A missing recording among good ones: the run fails.
  r = RunCli(Args(dir, {"a.cld", "missing.cld"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("1 file  converted, 1 conversion error . Please check the messages above."),
            std::string::npos);
  // Unwritable output folder (a missing one is made; nobody, not even root, writes into /proc).
  r = RunCli(Args(dir, {"a.cld", "--outdir", "/proc"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("error: Could not create"), std::string::npos);
  // ETAS needs a numeric no-value text: the writer refuses to start, which is not a file error.
  r = RunCli(Args(dir, {"a.cld", "--format", "etas-ascii", "--invalid", "n/a"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("error: ETAS requires a NUMERIC 'Invalid Value'-dummy !"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Could not create"), std::string::npos) << r.err;
  // Missing command file.
  r = RunCli(Args(dir, {"a.cld", "gone.cmd"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Could not open command file \"gone.cmd\" (No such file or directory). "),
            std::string::npos);
  // Nothing to convert.
  r = RunCli(Args(dir, {"--verbose"}), dir.path());
  EXPECT_EQ(r.exit_code, 2);
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

TEST(ConvertCli, GpsPresetWritesTrackFileAndColumns) {
  TempDir dir;
  const CliResult sim = RunCli({"simulate", std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc",
                                "-o", (dir / "gps.cld").string(), "--duration", "5", "--gps"});
  ASSERT_EQ(sim.exit_code, 0) << sim.err;
  const CliResult r =
      RunCli(Args(dir, {"gps.cld", "--output-type", "signals", "--format", "csv", "--interval",
                        "0.5", "--gps-preset", "0", "--gps-columns", "before"}),
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string csv = ReadFile(dir / "gps.csv");
  EXPECT_EQ(
      csv.rfind("time_sec,GpsDate,GpsTime,GpsLon,GpsLat,GpsSpeed,GpsHeight,GpsHDOP,GpsNrSats,", 0),
      0u);
  EXPECT_NE(ReadFile(dir / "gps.nmea").find("$GPRMC,"), std::string::npos);
  EXPECT_NE(r.err.find("GPS track written to file"), std::string::npos);
  CliResult bad = RunCli(Args(dir, {"gps.cld", "--gps-track", "kml"}), dir.path());
  EXPECT_EQ(bad.exit_code, 2);
  // Columns without a definition of them would add nothing.
  bad = RunCli(Args(dir, {"gps.cld", "--gps-columns", "after"}), dir.path());
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("error: --gps-columns after adds no column: no GPS column is defined"),
            std::string::npos)
      << bad.err;
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

TEST(ConvertCli, ConfigurationAndDatabasesAreAccepted) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  const std::string examples = TESSMAR_EXAMPLES_DIR;
  // The user's configuration replaces the recording's signals with --ignore-logged-sigdefs.
  const CliResult r =
      RunCli(Args(dir, {examples + "/demo_logger.clc", examples + "/demo_vehicle.dbc,2", "a.cld",
                        "a.csv", "--ignore-logged-sigdefs", "--headlines", "1"}),
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("for bus #2"), std::string::npos);
  EXPECT_NE(r.err.find("warning: CAN database \"" + examples +
                       "/demo_vehicle.dbc\" not used: the signals of \"" + examples +
                       "/demo_logger.clc\" are converted"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dir / "a.csv").rfind("time_sec,VehicleSpeed,AccelPedal,", 0), 0u);
  // Without a configuration the database's signals take the place of the recording's.
  CliResult db = RunCli(Args(dir, {examples + "/demo_vehicle.dbc", "a.cld", "b.csv",
                                   "--ignore-logged-sigdefs", "--headlines", "1"}),
                        dir.path());
  ASSERT_EQ(db.exit_code, 0) << db.err;
  EXPECT_EQ(ReadFile(dir / "b.csv").rfind("time_sec,TorqueRequest,SpeedLimit,", 0), 0u);
  // Without the option the recording's signals are converted, and the database is named unused.
  db = RunCli(Args(dir, {examples + "/demo_vehicle.dbc", "a.cld", "c.csv", "--headlines", "1"}),
              dir.path());
  EXPECT_EQ(ReadFile(dir / "c.csv").rfind("time_sec,Speed,Temp,", 0), 0u);
  EXPECT_NE(db.err.find("not used: the signals logged in each recording are converted"),
            std::string::npos)
      << db.err;
  // A database that does not exist fails the run.
  const CliResult bad = RunCli(Args(dir, {"missing.dbc", "a.cld"}), dir.path());
  EXPECT_EQ(bad.exit_code, 1);
}

// A format's name means its separators, and an option the format fixes otherwise is refused.
TEST(ConvertCli, OptionsAreHonouredOrRefused) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  CliResult r = RunCli(Args(dir, {"a.cld", "--output-type", "messages", "--headlines", "1",
                                  "--format", "csv-german"}),
                       dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "a.csv").rfind("\"Time_second\",\"CanIdentif\",\"d0\",", 0), 0u);
  r = RunCli(Args(dir, {"a.cld", "--output-type", "messages", "--headlines", "1", "--format",
                        "csv-german", "--separator", "semicolon"}),
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "a.csv").rfind("Time_second;CanIdentif;d0;", 0), 0u);
  struct Refused {
    std::vector<std::string> args;
    const char* message;
  };
  const Refused refused[] = {
      {{"--format", "csv", "--decimal", "comma"},
       "--decimal comma cannot be used with --format csv: that format always writes --decimal "
       "period"},
      {{"b.asc", "--time1", "datetime"},
       "--time1 datetime cannot be used with the format vector-ascii of the output name "
       "\"b.asc\": that format always writes --time1 seconds"},
      {{"--output-type", "dump", "--separator", "tab"},
       "--separator tab has no use with --output-type dump"},
  };
  for (const Refused& c : refused) {
    std::vector<std::string> args = {"a.cld"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    r = RunCli(Args(dir, args), dir.path());
    EXPECT_EQ(r.exit_code, 2) << c.message;
    EXPECT_NE(r.err.find(std::string("tessmar-cli: error: ") + c.message), std::string::npos)
        << r.err;
  }
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// An output on a full device fails once: one message, one error, no "complete" line.
TEST(ConvertCli, WriteFailureIsReportedOnce) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  WriteRecording(dir / "a.cld");
  WriteRecording(dir / "b.cld");
  for (const char* name : {"full.txt", "full.asc"}) {
    std::filesystem::create_symlink("/dev/full", dir / name);
  }
  const std::vector<std::vector<std::string>> runs = {
      {"a.cld", "full.txt"},
      {"a.cld", "full.asc"},
      {"a.cld", "full.txt", "--output-type", "dump"},
      {"--combine", "a.cld", "b.cld", "full.txt"}};
  for (const std::vector<std::string>& run : runs) {
    const CliResult r = RunCli(Args(dir, run), dir.path());
    const std::string all = r.out + r.err;
    EXPECT_EQ(r.exit_code, 1) << run[1];
    EXPECT_EQ(Count(all, "(No space left on device) ! The output file is incomplete."), 1u)
        << run[1] << all;
    EXPECT_NE(all.find("0 files converted, 1 conversion error ."), std::string::npos) << all;
    EXPECT_EQ(all.find("complete, "), std::string::npos) << all;
    EXPECT_EQ(all.find("should be open"), std::string::npos) << all;
  }
}

// A combined output starts with the first source that opens, named after it, header once.
// Existing files are replaced and named; -n skips a recording whose output or companion file
// exists (DIAdem ASCII data share ".asc" with Vector ASCII), and a run that only skipped succeeds.
TEST(ConvertCli, ExistingOutputsAreReplacedOrSkippedWithNoClobber) {
  TempDir dir;
  WriteRecording(dir / "rec.cld");
  WriteFile(dir / "rec.asc", "kept");
  const std::vector<std::string> diadem = {"rec.cld", "--format", "diadem-ascii", "-n"};
  CliResult r = RunCli(Args(dir, diadem), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: Skipped \"rec.cld\": \"rec.asc\" exists"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "rec.asc"), "kept");
  r = RunCli(Args(dir, {diadem.begin(), diadem.end() - 1}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Replacing \"rec.asc\"."), std::string::npos) << r.err;
}

TEST(ConvertCli, CombineStartsWithFirstSourceThatOpens) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  WriteRecording(dir / "b.cld");
  std::filesystem::create_directories(dir / "out");
  CliResult r = RunCli(Args(dir, {"--combine", "missing.cld", "a.cld", "b.cld", "--outdir", "out",
                                  "--format", "csv", "--time1", "seconds", "--interval", "0.125"}),
                       dir.path());
  std::string all = r.out + r.err;
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(all.find("error: Could not open \"missing.cld\" (No such file or directory) !"),
            std::string::npos);
  EXPECT_EQ(all.find("should be open"), std::string::npos) << all;
  EXPECT_NE(all.find("2 files converted, 1 conversion error ."), std::string::npos) << all;
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "missing.csv"));
  const std::string combined = ReadFile(dir / "out" / "a.csv");
  EXPECT_EQ(Count(combined, "time_sec,"), 1u) << combined;
  EXPECT_EQ(Count(combined, "\r\n"), 7u) << combined;

  // A failing last source leaves the combined output complete, without a further error.
  r = RunCli(Args(dir, {"--combine", "a.cld", "b.cld", "missing.cld", "--outdir", "out", "--format",
                        "csv", "--time1", "seconds", "--interval", "0.125"}),
             dir.path());
  all = r.out + r.err;
  EXPECT_NE(all.find("2 files converted, 1 conversion error ."), std::string::npos) << all;
  EXPECT_EQ(ReadFile(dir / "out" / "a.csv"), combined);
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

const std::string kDemoLogger = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc";

// Times count from the first entry the conversion reads: in a wrapped circular file and with a
// bad real-time clock (GPS time used) no Vector ASCII row lies before it, the date line shows
// the same start, and the relative time columns of Text start at zero.
TEST(ConvertCli, TimesStartWithTheFirstConvertedEntry) {
  TempDir dir;
  const std::vector<std::vector<std::string>> recordings = {
      {"--fifo-size", "64"}, {"--fault", "bad-rtc", "--start", "2026-05-04 08:00:00"}};
  for (const std::vector<std::string>& extra : recordings) {
    std::vector<std::string> sim = {"simulate",   kDemoLogger, "-o",   "rec.cld",
                                    "--duration", "20",        "--gps"};
    sim.insert(sim.end(), extra.begin(), extra.end());
    std::filesystem::remove(dir / "rec.cld");  // simulate replaces no recording
    ASSERT_EQ(RunCli(sim, dir.path()).exit_code, 0) << extra[0];
    CliResult r = RunCli(Args(dir, {"rec.cld", "rec.asc"}), dir.path());
    ASSERT_TRUE(std::filesystem::exists(dir / "rec.asc")) << r.err;
    const std::string asc = ReadFile(dir / "rec.asc");
    const std::size_t first_row = asc.find("internal events logged\r\n") + 24;
    const double first_time = testing_util::CStod(asc.substr(first_row, 9));
    EXPECT_GE(first_time, 0.0) << extra[0];
    EXPECT_LT(first_time, 0.01) << extra[0];
    EXPECT_EQ(asc.find("\r\n  -"), std::string::npos) << extra[0];
    if (extra[0] == "--fault") {
      EXPECT_EQ(asc.substr(0, 30), "date Mon Mai 04 08:00:00 2026\r") << asc.substr(0, 40);
    }
    r = RunCli(Args(dir, {"rec.cld", "rec.txt", "--output-type", "messages", "--time1", "seconds",
                          "--headlines", "0"}),
               dir.path());
    const std::string text = ReadFile(dir / "rec.txt");
    EXPECT_EQ(text.substr(0, 12), "000000.0000 ") << extra[0];
    EXPECT_EQ(text.find("\n-"), std::string::npos) << extra[0];
  }
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

// The write interval read for a conversion: a tiny one is replaced (by the configuration's
// message rate limit when it has one), and the option check's notes reach stderr.
TEST(ConvertCli, WriteIntervalIsCheckedAndNotesAreShown) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  // Messages: an interval below 0.1 ms is illegal and replaced when the options are read.
  CliResult r = RunCli(Args(dir, {"a.cld", "--output-type", "messages", "--interval", "0.00001"}),
                       dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: Output write interval was illegal. Changed from 1e-05 to 0.01 "
                       "seconds."),
            std::string::npos)
      << r.err;
  // Signals: an interval below 0.1 ms asked for is refused rather than raised.
  r = RunCli(Args(dir, {"a.cld", "--output-type", "signals", "--interval", "0.00001"}), dir.path());
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find("error: --interval 0.00001: Signals output needs a row interval"),
            std::string::npos)
      << r.err;

  std::string clc = ReadFile(kDemoLogger);
  const std::size_t at = clc.find("MsgRateLimit=0");
  ASSERT_NE(at, std::string::npos);
  clc.replace(at, 14, "MsgRateLimit=20");
  WriteFile(dir / "limited.clc", clc);
  r = RunCli(
      Args(dir, {"limited.clc", "a.cld", "--output-type", "messages", "--interval", "0.00001"}),
      dir.path());
  EXPECT_NE(r.err.find("Changed from 1e-05 to 0.02 seconds."), std::string::npos) << r.err;

  // Signals need an interval: 0 given as an option is refused; 0 from the settings is raised to
  // 0.1 ms, and the CLI user is told so.
  r = RunCli(Args(dir, {"a.cld", "--interval", "0"}), dir.path());
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find("error: --interval 0: Signals output needs a row interval of 0.0001 s "
                       "(0.1 ms) or more"),
            std::string::npos)
      << r.err;
  WriteFile(dir / "zero.ini", "[Converter]\r\nOutputType=1\r\nWriteInterval=0\r\n");
  r = RunCli({"--settings", (dir / "zero.ini").string(), "--no-progress", "a.cld"}, dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: Output write interval was illegal. Changed from 0 to 0.0001 "
                       "seconds."),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

// Output names choose the format; an explicit choice that they replace is named on stderr.
TEST(ConvertCli, ExplicitFormatReplacedByOutputNameIsReported) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  CliResult r =
      RunCli(Args(dir, {"a.cld", "b.csv", "--format", "csv-german", "--output-type", "messages"}),
             dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: --format csv-german replaced by csv: chosen by the output name "
                       "\"b.csv\""),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("warning: --output-type messages replaced by signals"), std::string::npos);
  // Without explicit choices, or when the name agrees, nothing is said.
  r = RunCli(Args(dir, {"a.cld", "b.csv", "--format", "csv"}), dir.path());
  EXPECT_EQ(r.err.find("replaced by"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

TEST(ConvertCli, IgnoreLoggedSigdefsWithoutConfigurationIsReported) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  const char* kWarning =
      "warning: --ignore-logged-sigdefs without a usable logger configuration (.clc): the signal "
      "definitions logged in each recording are used";
  CliResult r = RunCli(Args(dir, {"a.cld", "--ignore-logged-sigdefs"}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find(kWarning), std::string::npos) << r.err;
  // A configuration that cannot be read: the recording's definitions, and the run fails.
  r = RunCli(Args(dir, {"missing.clc", "a.cld", "--ignore-logged-sigdefs"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(kWarning), std::string::npos) << r.err;
  r = RunCli(Args(dir, {kDemoLogger, "a.cld", "--ignore-logged-sigdefs"}), dir.path());
  EXPECT_EQ(r.err.find(kWarning), std::string::npos) << r.err;
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

TEST(ConvertCli, BreakpointMustBeADateAndTime) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  for (const char* bad :
       {"garbage", "2017-10-19", "2017-10-19 12:34", "2017-13-01 00:00:00", "2017-02-29 00:00:00",
        "2017-10-19 24:00:00", "2017-10-19T12:34:56", "2017-10-19 12:34:56x"}) {
    const CliResult r = RunCli(Args(dir, {"a.cld", "--breakpoint", bad}), dir.path());
    EXPECT_EQ(r.exit_code, 2) << bad;
    EXPECT_NE(r.err.find(std::string("invalid value '") + bad + "' for --breakpoint"),
              std::string::npos)
        << r.err;
  }
  const CliResult r =
      RunCli(Args(dir, {"a.cld", "--breakpoint", "2016-02-29 23:59:59"}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

// Same-named recordings of two folders: the second output gets its own name, the first is kept.
TEST(ConvertCli, SameNamedRecordingsDoNotOverwriteEachOther) {
  TempDir dir;
  std::filesystem::create_directories(dir / "cards" / "a");
  std::filesystem::create_directories(dir / "cards" / "b");
  std::filesystem::create_directories(dir / "out");
  WriteRecording(dir / "cards" / "a" / "LOG0001.cld");
  RecordingBuilder r(SmallHeader());
  r.Time(0, 2017, 10, 19, 12, 34, 56).Frame(1024, 0x100, {0x01, 0x02}).Marker("eof", 1024);
  r.Write(dir / "cards" / "b" / "LOG0001.cld");
  const CliResult res = RunCli(
      Args(dir, {"--outdir", "out", "cards/*/LOG*.cld", "--output-type", "messages"}), dir.path());
  EXPECT_EQ(res.exit_code, 0) << res.err;
  EXPECT_NE(res.err.find("warning: Output \"out/LOG0001.txt\" was already written in this run; "
                         "\"cards/b/LOG0001.cld\" is converted to \"out/LOG0001_2.txt\" instead."),
            std::string::npos)
      << res.err;
  EXPECT_NE(ReadFile(dir / "out" / "LOG0001.txt").find("14 05"), std::string::npos);
  EXPECT_NE(ReadFile(dir / "out" / "LOG0001_2.txt").find("01 02"), std::string::npos);
  EXPECT_NE(res.err.find("2 files converted, 0 conversion errors."), std::string::npos);
}

// -j converts recordings at the same time: the same outputs and messages as one after the
// other; wrong values are refused.
TEST(ConvertCli, JobsConvertAtTheSameTimeWithTheSameResult) {
  TempDir dir;
  for (const char* name : {"a.cld", "b.cld", "c.cld"}) WriteRecording(dir / name);
  std::filesystem::create_directories(dir / "out");
  std::string serial_err;
  for (const char* jobs : {"-j1", "--jobs=3"}) {
    const CliResult res =
        RunCli(Args(dir, {jobs, "--outdir", "out", "a.cld", "b.cld", "c.cld", "--output-type",
                          "signals", "--format", "csv", "--interval", "0.125"}),
               dir.path());
    EXPECT_EQ(res.exit_code, 0) << res.err;
    EXPECT_NE(res.err.find("3 files converted, 0 conversion errors."), std::string::npos);
    if (serial_err.empty()) {
      serial_err = res.err;
      for (const char* out : {"a.csv", "b.csv", "c.csv"}) {
        std::filesystem::rename(dir / "out" / out, dir / (std::string("serial-") + out));
      }
    } else {
      EXPECT_EQ(res.err, serial_err);
      for (const char* out : {"a.csv", "b.csv", "c.csv"}) {
        EXPECT_EQ(ReadFile(dir / "out" / out), ReadFile(dir / (std::string("serial-") + out)));
      }
    }
  }
  for (const char* bad : {"-j0", "--jobs=x", "-j"}) {
    const CliResult res = RunCli(Args(dir, {bad, "a.cld"}), dir.path());
    EXPECT_EQ(res.exit_code, 2) << bad;
    EXPECT_NE(res.err.find("--jobs"), std::string::npos) << bad << res.err;
  }
}

// A recording or a CAN database that fails to read (an I/O error, here from /proc/self/mem at
// offset 0) is an error, not a short file.
TEST(ConvertCli, ReadErrorsAreErrors) {
  if (!std::filesystem::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
  TempDir dir;
  std::filesystem::create_symlink("/proc/self/mem", dir / "bad.dbc");
  std::filesystem::create_symlink("/proc/self/mem", dir / "bad.cld");
  CliResult r = RunCli({"dbc", "bad.dbc"}, dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("error: CANdb-Import-Error (line 1): Could not read \"bad.dbc\" "
                       "(Input/output error) !"),
            std::string::npos)
      << r.err;
  r = RunCli(Args(dir, {"bad.cld"}), dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("error: Could not read \"bad.cld\" at filepos=0x00000000 "
                       "(Input/output error) !"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("0 files converted, 1 conversion error ."), std::string::npos) << r.err;
}

// Starts tessmar-cli without waiting; stderr goes to err_file.
pid_t StartCli(const std::vector<std::string>& args, const std::filesystem::path& dir,
               const std::filesystem::path& err_file) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(err, 2);
    std::vector<std::string> copy = args;
    std::vector<char*> argv = {const_cast<char*>(TESSMAR_CLI_PATH)};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(TESSMAR_CLI_PATH, argv.data());
    _exit(127);
  }
  return pid;
}

int WaitExitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// SIGINT and SIGTERM abort as the desktop's Escape does. Two recordings go into one output; the
// second is a FIFO, so the signal arrives while the program waits for it, after the first was
// written. The aborted output is left marked incomplete: no DIAdem header file, no Stiegele MDF
// header file.
TEST(ConvertCli, InterruptAbortsAndLeavesOutputMarkedIncomplete) {
  TempDir dir;
  WriteRecording(dir / "rec.cld");
  WriteRecording(dir / "more.cld");
  const std::string second = ReadFile(dir / "more.cld");
  struct Case {
    const char* format;
    const char* header_file;
    int signal_number;
  };
  for (const Case& c :
       {Case{"diadem-real64", "rec.dat", SIGINT}, Case{"stiegele-mdf", "rec.mdf", SIGTERM}}) {
    std::filesystem::remove(dir / "pipe.cld");
    ASSERT_EQ(mkfifo((dir / "pipe.cld").c_str(), 0600), 0);
    const pid_t pid = StartCli(Args(dir, {"--combine", "rec.cld", "pipe.cld", "--output-type",
                                          "signals", "--format", c.format, "--interval", "0.1"}),
                               dir.path(), dir / "err.txt");
    const int fifo = open((dir / "pipe.cld").c_str(), O_WRONLY);  // waits for the reader
    ASSERT_GE(fifo, 0);
    kill(pid, c.signal_number);
    EXPECT_EQ(write(fifo, second.data(), second.size()), static_cast<ssize_t>(second.size()));
    close(fifo);
    EXPECT_EQ(WaitExitCode(pid), 128 + c.signal_number) << c.format;
    const std::string err = ReadFile(dir / "err.txt");
    EXPECT_NE(err.find("error: User abort, output file may be incomplete"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("Could not write"), std::string::npos) << err;
    EXPECT_NE(err.find("1 file  converted, 1 conversion error ."), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir / c.header_file)) << c.format;
  }
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

// Paths longer than 255 characters, on the command line and in a command file.
TEST(ConvertCli, LongPathsAreAccepted) {
  TempDir dir;
  const std::string part(120, 'd');
  const std::filesystem::path deep = dir.path() / part / part / part;
  std::filesystem::create_directories(deep);
  WriteRecording(deep / "a.cld");
  WriteRecording(deep / "b.cld");
  ASSERT_GT((deep / "a.cld").string().size(), 360u);
  WriteFile(dir / "job.cmd", (deep / "b.cld").string() + "\r\n");
  const CliResult r = RunCli(Args(dir, {(deep / "a.cld").string(), "job.cmd"}), dir.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(deep / "a.txt"));
  EXPECT_TRUE(std::filesystem::exists(deep / "b.txt"));
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

TEST(ConvertCli, FormatThreadGivesTheSameOutputAndChecksItsValue) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  std::string outputs[2];
  const char* modes[] = {"off", "on"};
  for (int k = 0; k < 2; ++k) {
    const CliResult r = RunCli(Args(dir, {"a.cld", "--output-type", "signals", "--format", "csv",
                                          "--interval", "0.01", "--format-thread", modes[k]}),
                               dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    outputs[k] = ReadFile(dir / "a.csv");
  }
  EXPECT_FALSE(outputs[0].empty());
  EXPECT_EQ(outputs[1], outputs[0]);
  const CliResult r = RunCli(Args(dir, {"a.cld", "--format-thread", "sometimes"}), dir.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("invalid value 'sometimes' for --format-thread (on, off, auto)"),
            std::string::npos)
      << r.err;
}

// Without a choice in the settings file or on the command line, rows carry seconds; a settings
// file that turns the time column off is obeyed.
TEST(ConvertCli, SecondsByDefaultAndOnlyTheChosenChannelsAndSpan) {
  TempDir dir;
  WriteRecording(dir / "a.cld");
  CliResult r = RunCli(Args(dir, {"a.cld", "a.csv", "--interval", "0.125"}), dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "a.csv").rfind("time_sec,Speed,Temp,Twice\r\n0.0000,", 0), 0u);
  WriteFile(dir / "off.ini", "[Converter]\r\nTimeColumn1=0\r\n");
  r = RunCli({"--settings", (dir / "off.ini").string(), "--no-progress", "a.cld", "b.csv"},
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "b.csv").rfind("Speed,Temp,Twice\r\n", 0), 0u);

  r = RunCli(Args(dir, {"a.cld", "c.csv", "--interval", "0.125", "--channel", "T*p", "--start",
                        "0.2", "--stop", "2017-10-19 12:34:56.4"}),
             dir.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "c.csv"), "time_sec,Temp\r\n0.0000,5\r\n0.1250,-10\r\n");
  r = RunCli(Args(dir, {"a.cld", "d.csv", "--channel", "Temp", "--channel", "Nothing"}),
             dir.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("No signal, expression or GPS column matches \"Nothing\""),
            std::string::npos);
  for (const char* bad : {"yesterday", "-1"}) {
    EXPECT_EQ(RunCli(Args(dir, {"a.cld", "--start", bad}), dir.path()).exit_code, 2) << bad;
  }
  EXPECT_EQ(RunCli(Args(dir, {"a.cld", "--start", "2", "--stop", "1"}), dir.path()).exit_code, 2);
}

}  // namespace
}  // namespace tessmar::testing
