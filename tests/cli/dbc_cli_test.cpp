// End-to-end tests of tessmar-cli dbc and clc add.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "cli_test_util.h"

namespace tessmar::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kDbcDir = fs::path(TESSMAR_TEST_DATA_DIR) / "dbc";
const std::string kMotohawk = (kDbcDir / "motohawk.dbc").string();
const std::string kAbs = (kDbcDir / "abs.dbc").string();

const char* kHeader =
    "St\tSigName\tBus Nr\tID, extd-flag\tNodeName\tMsgName\tType\tUnit\tFactor\tOffset\tMinValue"
    "\tMaxValue\tMapping\tMultiplexor\tValueTable\tComment\tRowStatus\n";

TEST(DbcCli, PrintsTheSignalTable) {
  CliResult r = RunCli({"dbc", kMotohawk});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            std::string(kHeader) +
                "\tTemperature\t1\t0x000001F0,0\tPCM1\tExampleMessage\tSIGNED\tdegK\t0.01\t250"
                "\t229.52\t270.47\t21,12,M\t\t\t\t0\n"
                "\tAverageRadius\t1\t0x000001F0,0\tPCM1\tExampleMessage\tUNSIGNED\tm\t0.1\t0"
                "\t0\t5\t1,6,M\t\t\t\t0\n"
                "\tEnable\t1\t0x000001F0,0\tPCM1\tExampleMessage\tUNSIGNED\t-\t1\t0\t0\t0"
                "\t7,1,M\t\t\t\t0\n");
  EXPECT_EQ(r.err, "Loaded CAN database \"" + kMotohawk + "\" for bus #1, 3 signals.\n");
}

TEST(DbcCli, SeveralFilesAndBuses) {
  CliResult r = RunCli({"dbc", kMotohawk, kMotohawk + ",2", kAbs});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  int lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_EQ(lines, 1 + 3 + 3 + 89);
  EXPECT_NE(r.out.find("\tTemperature\t2\t0x000001F0,0\t"), std::string::npos);
  // Reloading the same file for the same bus replaces its rows (batch answer).
  r = RunCli({"dbc", kMotohawk, kMotohawk});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
}

TEST(DbcCli, FilesWithoutDbcStatementsAreNoCanDatabase) {
  TempDir dir;
  WriteFile(dir / "empty.dbc", "");
  WriteFile(dir / "notes.dbc", "Shopping list: milk, 2 eggs\n");
  WriteFile(dir / "binary.dbc", std::string("\x7f"
                                            "ELF\x02\x01\x01\0\0\0",
                                            10));
  for (const char* name : {"empty.dbc", "notes.dbc", "binary.dbc"}) {
    const CliResult r = RunCli({"dbc", (dir / name).string()});
    EXPECT_EQ(r.exit_code, 1) << name;
    EXPECT_EQ(r.err, "tessmar-cli: error: \"" + (dir / name).string() +
                         "\" is not a CAN database: it holds no DBC statement.\n");
  }
  // A real database without any message is still one.
  WriteFile(dir / "nodes.dbc", "VERSION \"\"\nBU_: A B\n");
  EXPECT_EQ(RunCli({"dbc", (dir / "nodes.dbc").string()}).exit_code, 0);
}

TEST(DbcCli, MissingFileAndBadCommandLines) {
  CliResult r = RunCli({"dbc", "/no/such/file.dbc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "tessmar-cli: error: File not found: \"/no/such/file.dbc\" .\n");
  EXPECT_EQ(r.out, kHeader);
  EXPECT_EQ(RunCli({"dbc"}).exit_code, 2);
  EXPECT_EQ(RunCli({"dbc", kMotohawk + ",7"}).exit_code, 2);
  EXPECT_EQ(RunCli({"dbc", "--bogus"}).exit_code, 2);
  r = RunCli({"dbc", "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Usage: tessmar-cli dbc"), std::string::npos);
}

TEST(DbcCli, BothCommandsTakeBusOneOrTwoOnly) {
  TempDir dir;
  const auto cfg = dir / "cfg.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", cfg.string()}).exit_code, 0);
  const std::string before = ReadFile(cfg);
  for (const char* bus : {",3", ",0"}) {
    const std::string arg = kMotohawk + bus;
    const std::string error = "tessmar-cli: error: bad CAN database argument \"" + arg +
                              "\" (expected FILE[,BUS] with BUS 1 or 2)\n";
    CliResult r = RunCli({"dbc", arg});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, error);
    EXPECT_EQ(r.out, "");
    r = RunCli({"clc", "add", cfg.string(), "--dbc", arg});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, error);
  }
  EXPECT_EQ(ReadFile(cfg), before);
  EXPECT_NE(RunCli({"dbc", "--help"}).out.find("BUS (1 or 2,"), std::string::npos);
  EXPECT_NE(RunCli({"clc", "add", "--help"}).out.find("bus 1 or 2"), std::string::npos);
}

TEST(DbcCli, ReaderErrorsGoToStderrWithLineNumbers) {
  TempDir dir;
  const auto file = dir / "bad.dbc";
  WriteFile(file, "BU_: N\nBO_ 1 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] N\n");
  CliResult r = RunCli({"dbc", file.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("tessmar-cli: error: CANdb-Import-Error (line 3): Signal unit expected\n"),
            std::string::npos);
}

TEST(ClcAddCli, AddsMatchingSignalsAndWritesTheConfiguration) {
  TempDir dir;
  const auto cfg = dir / "cfg.clc";
  const auto out = dir / "out.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", cfg.string()}).exit_code, 0);
  CliResult r = RunCli({"clc", "add", cfg.string(), "--dbc", kMotohawk, "--dbc", kAbs + ",2",
                        "--signal", "*e*", "--message", "Ex*", "-o", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Added signal+message \"Bus1.PCM1.ExampleMessage.Temperature\" to logger list\n"
            "Added signal+message \"Bus1.PCM1.ExampleMessage.AverageRadius\" to logger list\n"
            "Added signal+message \"Bus1.PCM1.ExampleMessage.Enable\" to logger list\n");

  r = RunCli({"clc", "show", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("DbFileBus1=\"" + kMotohawk.substr(0, 80)), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nMsg00: id=0x1F0,mn=\"ExampleMessage\",nn=\"PCM1\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("sn=\"Temperature\",ty=S,"), std::string::npos) << r.out;

  // Bus 2 rows of abs.dbc, added to the written file; names already logged are replaced.
  r = RunCli({"clc", "add", out.string(), "--dbc", kAbs + ",2", "--node", "ABS", "--message",
              "BREMSE_33"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find("Added signal+message \"Bus2.ABS.BREMSE_33.whlspeed_FL\" to logger list\n"),
            0u);
  r = RunCli({"clc", "show", out.string()});
  EXPECT_NE(r.out.find("id=0x40000343"), std::string::npos) << r.out;
}

TEST(ClcAddCli, ReplacedSignalsAreReportedAsSuch) {
  TempDir dir;
  const auto cfg = dir / "cfg.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", cfg.string()}).exit_code, 0);
  // The bus-2 copy of the signal replaces the bus-1 one added just before; the bus-1 message
  // stays in the message table without signals.
  CliResult r = RunCli({"clc", "add", cfg.string(), "--dbc", kMotohawk, "--dbc", kMotohawk + ",2",
                        "--signal", "Temperature"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Added signal+message \"Bus1.PCM1.ExampleMessage.Temperature\" to logger list\n"
            "Replaced signal \"Bus1.PCM1.ExampleMessage.Temperature\" by "
            "\"Bus2.PCM1.ExampleMessage.Temperature\" in logger list\n"
            "Message \"Bus1.PCM1.ExampleMessage\" stays in logger list without signals\n");
  r = RunCli({"clc", "show", cfg.string()});
  EXPECT_NE(r.out.find("\nMsg00: id=0x1F0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nMsg01: id=0x400001F0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nSig00: id=0x400001F0,sn=\"Temperature\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\nSig01:"), std::string::npos) << r.out;

  // Adding the same signal again changes nothing and says so.
  r = RunCli({"clc", "add", cfg.string(), "--dbc", kMotohawk + ",2", "--signal", "Temperature"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Signal \"Bus2.PCM1.ExampleMessage.Temperature\" already in logger list, unchanged\n");
}

TEST(ClcAddCli, SignalsTheLoggerCannotRecordAreRefused) {
  TempDir dir;
  const auto cfg = dir / "cfg.clc";
  const auto dbc = dir / "wide.dbc";
  WriteFile(dbc,
            "BU_: N\nBO_ 256 Body: 8 N\n SG_ Good : 0|8@1+ (1,0) [0|0] \"\" N\n"
            " SG_ Past : 60|16@1+ (1,0) [0|0] \"\" N\n");
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", cfg.string()}).exit_code, 0);
  const std::string before = ReadFile(cfg);
  CliResult r = RunCli({"clc", "add", cfg.string(), "--dbc", dbc.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("tessmar-cli: error: Signal \"Past\" of message \"Body\" cannot be logged: "
                       "the signal does not fit into the 8 data bytes of the message\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(cfg), before);
  r = RunCli({"clc", "add", cfg.string(), "--dbc", dbc.string(), "--signal", "Good"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Added signal+message \"Bus1.N.Body.Good\" to logger list\n");
}

TEST(ClcAddCli, NothingMatchingOrMissingFilesFail) {
  TempDir dir;
  const auto cfg = dir / "cfg.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", cfg.string()}).exit_code, 0);
  const std::string before = ReadFile(cfg);
  CliResult r = RunCli({"clc", "add", cfg.string(), "--dbc", kMotohawk, "--signal", "Nope"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(ReadFile(cfg), before);
  r = RunCli({"clc", "add", cfg.string(), "--dbc", "/no/such.dbc"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("File not found: \"/no/such.dbc\" ."), std::string::npos);
  const std::string missing = (dir / "missing.clc").string();
  r = RunCli({"clc", "add", missing, "--dbc", kMotohawk});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.find("tessmar-cli: error: Couldn't load \"" + missing + "\" .\n"), 0u) << r.err;
  const std::string unwritable = (dir / "no" / "out.clc").string();
  r = RunCli({"clc", "add", cfg.string(), "--dbc", kMotohawk, "-o", unwritable});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("tessmar-cli: error: Failed to save \"" + unwritable + "\"\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(RunCli({"clc", "add", cfg.string()}).exit_code, 2);
  EXPECT_EQ(RunCli({"clc", "add", "--help"}).exit_code, 0);
}

}  // namespace
}  // namespace tessmar::testing
