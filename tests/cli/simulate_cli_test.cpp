// End-to-end tests of "tessmar-cli simulate".

#include <gtest/gtest.h>

#include <string>

#include "cli_test_util.h"

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

}  // namespace
}  // namespace tessmar::testing
