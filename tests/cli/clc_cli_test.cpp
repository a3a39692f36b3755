// End-to-end tests of tessmar-cli clc new / show / edit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli_test_util.h"
#include "common/version.h"

namespace tessmar::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kDefaultFamily1 = fs::path(TESSMAR_TEST_DATA_DIR) / "clc" / "default_family1.clc";

std::string WithoutCr(std::string text) {
  std::erase(text, '\r');
  return text;
}

TEST(ClcCli, NewWritesTheDefaultFileAndShowPrintsIt) {
  TempDir dir;
  const auto file = dir / "new.clc";
  CliResult r = RunCli({"clc", "new", "--family", "1", "-o", file.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(file), ReadFile(kDefaultFamily1));

  r = RunCli({"clc", "show", file.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, WithoutCr(ReadFile(kDefaultFamily1)));
  EXPECT_EQ(r.err, "");
  // The help says what the output is: the written lines, with LF line ends.
  r = RunCli({"clc", "show", "--help"});
  EXPECT_NE(r.out.find("the lines end in LF here, while the file itself ends them in CR LF"),
            std::string::npos)
      << r.out;
}

TEST(ClcCli, EditAppliesLinesAndProtectsTheFile) {
  TempDir dir;
  const auto file = dir / "cfg.clc";
  const auto out = dir / "protected.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", file.string()}).exit_code, 0);
  CliResult r =
      RunCli({"clc", "edit", file.string(), "-o", out.string(), "--line", "FifoMode=1", "--line",
              "Sig03: id=0x123,sn=\"Speed\",ty=U,nb=16,bo=I", "--line", "[TriggerCondition]",
              "--line", "SigName0=Speed", "--password", "Secret", "--hint", "the usual"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(file), ReadFile(kDefaultFamily1));  // the input is left alone

  const std::string written = ReadFile(out);
  EXPECT_EQ(written.find("FifoMode"), std::string::npos);  // scrambled
  EXPECT_NE(written.find("\r\nEncryption="), std::string::npos);

  r = RunCli({"clc", "show", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\nFifoMode=1\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nPwdHint1=\"the usual\"\nPassword1=\"Secret\"\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nMsg00: id=0x123,mn=\"<UnknownMessageName>\",nn=\"<UnknownNodeName>\""),
            std::string::npos);
  EXPECT_NE(r.out.find("\nSig03: id=0x123,sn=\"Speed\",ty=U,"), std::string::npos);
  EXPECT_NE(r.out.find("\nSigName0=Speed\n"), std::string::npos);

  // An empty password makes the file plain again; editing in place.
  r = RunCli({"clc", "edit", out.string(), "--password", ""});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(ReadFile(out).find("\r\nEncryption=0\r\n"), std::string::npos);
  EXPECT_NE(ReadFile(out).find("\r\nFifoMode=1\r\n"), std::string::npos);
}

TEST(ClcCli, UnknownLinesAreReportedAndFailTheCommand) {
  TempDir dir;
  const auto file = dir / "cfg.clc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "0", "-o", file.string()}).exit_code, 0);
  const std::string original = ReadFile(file);
  CliResult r = RunCli({"clc", "edit", file.string(), "--line", "Foo=1", "--line", "FifoMode=1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("tessmar-cli: error: Unknown: \"Foo=1\" ."), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(file), original) << "all or nothing";

  WriteFile(file, ReadFile(file) + "Bar=2\r\n");
  r = RunCli({"clc", "show", file.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Unknown: \"Bar=2\" ."), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("[TriggerCondition]"), std::string::npos);
}

TEST(ClcCli, MissingFilesAndBadCommandLines) {
  TempDir dir;
  const auto missing = dir / "missing.clc";
  const auto out = dir / "out.clc";
  CliResult r = RunCli({"clc", "show", missing.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("missing.clc"), std::string::npos);
  r = RunCli({"clc", "edit", missing.string(), "-o", out.string(), "--line", "FifoMode=1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(fs::exists(out));  // nothing written
  r = RunCli({"clc", "new", "--family", "1", "-o", (dir / "no" / "dir.clc").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("dir.clc"), std::string::npos);

  EXPECT_EQ(RunCli({"clc", "new", "-o", out.string()}).exit_code, 2);
  EXPECT_EQ(RunCli({"clc", "new", "--family", "two", "-o", out.string()}).exit_code, 2);
  EXPECT_EQ(RunCli({"clc", "new", "--family"}).exit_code, 2);
  EXPECT_EQ(RunCli({"clc", "show"}).exit_code, 2);
  EXPECT_EQ(RunCli({"clc", "frobnicate"}).exit_code, 2);
  EXPECT_FALSE(fs::exists(out));
  for (const char* sub : {"new", "show", "edit"}) {
    r = RunCli({"clc", sub, "--help"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("Usage: tessmar-cli clc"), std::string::npos);
  }
}

TEST(ClcCli, LoadAndSaveFailuresNameTheFileAndTheReason) {
  TempDir dir;
  const std::string missing = (dir / "missing.clc").string();
  const std::string unwritable = (dir / "no" / "dir.clc").string();
  const std::string load_error =
      "tessmar-cli: error: Couldn't load \"" + missing + "\" .\nCannot open \"" + missing + "\": ";
  for (const char* sub : {"show", "edit"}) {
    const CliResult r = RunCli({"clc", sub, missing});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.substr(0, load_error.size()), load_error) << r.err;
  }
  const std::string save_error = "tessmar-cli: error: Failed to save \"" + unwritable +
                                 "\"\nCannot create \"" + unwritable + "\": ";
  CliResult r = RunCli({"clc", "new", "--family", "1", "-o", unwritable});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.substr(0, save_error.size()), save_error) << r.err;
  const std::string file = (dir / "a.clc").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", file}).exit_code, 0);
  r = RunCli({"clc", "edit", file, "-o", unwritable, "--line", "FifoMode=1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.substr(0, save_error.size()), save_error) << r.err;
}

TEST(ClcCli, OutputThatCannotBeWrittenFailsTheCommand) {
  TempDir dir;
  const std::string clc = (dir / "a.clc").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", clc}).exit_code, 0);
  // Standard output on a full disk: the printed configuration is lost, so the command fails.
  const std::string command =
      std::string("'") + TESSMAR_CLI_PATH + "' clc show '" + clc + "' >/dev/full 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace tessmar::testing

namespace tessmar::testing {
namespace {

// Values that cannot be used as given are named, and nothing is written.
TEST(ClcCli, EditNamesUnusableValuesAndWritesNothing) {
  TempDir dir;
  const std::string file = (dir / "cfg.clc").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", file}).exit_code, 0);
  const std::string original = ReadFile(file);
  const CliResult r = RunCli({"clc",
                              "edit",
                              file,
                              "--line",
                              "FifoMode=7",
                              "--line",
                              "Pretrig10ms=1O0",
                              "--line",
                              "Sig300: id=0x1",
                              "--line",
                              "Sig01: id=0x123,sn=\"Speed\",ty=X,nb=abc",
                              "--line",
                              "[TriggerCondition]",
                              "--line",
                              "SigName0=Nope",
                              "--line",
                              "SigName1=Speed",
                              "--line",
                              "CompOpA1=9",
                              "--line",
                              "OuterCombi5=1"});
  EXPECT_EQ(r.exit_code, 1);
  for (const char* text : {
           "error: Cannot use --line \"FifoMode=7\" (FifoMode=7: 0 or 1 expected)",
           "(Pretrig10ms=1O0: not a number)",
           "(Sig300: slot number from 0 to 255 expected)",
           "(ty=X: U, S, F or D expected)",
           "(nb=abc: not a number)",
           "(CompOpA1=9: an operator code from -1 to 6 expected)",
           "(OuterCombi5=: trigger line number from 0 to 1 expected)",
           "error: Cannot use the trigger signal (SigName0=Nope: no logged signal has this name)",
       }) {
    EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
  }
  EXPECT_EQ(r.err.find("SigName1=Speed:"), std::string::npos) << "Speed is logged by this edit";
  EXPECT_EQ(ReadFile(file), original);

  // Longer than the 40-character fields: refused, not cut.
  const CliResult pw = RunCli({"clc", "edit", file, "--password", std::string(41, 'p')});
  EXPECT_EQ(pw.exit_code, 2);
  EXPECT_NE(pw.err.find("--password has 41 characters; at most 40 are possible"),
            std::string::npos);
  EXPECT_EQ(RunCli({"clc", "edit", file, "--hint", std::string(41, 'h')}).exit_code, 2);
  EXPECT_EQ(ReadFile(file), original);
}

// Every line the program writes itself is accepted again, for both trigger layouts.
TEST(ClcCli, EditAcceptsEveryLineTheProgramWrites) {
  TempDir dir;
  for (const char* family : {"0", "1"}) {
    const std::string file = (dir / "cfg.clc").string();
    ASSERT_EQ(RunCli({"clc", "new", "--family", family, "-o", file}).exit_code, 0);
    ASSERT_EQ(RunCli({"clc", "add", file, "--dbc",
                      std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc"})
                  .exit_code,
              0);
    const CliResult shown = RunCli({"clc", "show", file});
    std::vector<std::string> args = {"clc", "edit", file, "-o", (dir / "copy.clc").string()};
    std::size_t from = 0;
    for (std::size_t nl = shown.out.find('\n'); nl != std::string::npos;
         from = nl + 1, nl = shown.out.find('\n', from)) {
      args.push_back("--line");
      args.push_back(shown.out.substr(from, nl - from));
    }
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.exit_code, 0) << family << r.err;
    EXPECT_EQ(ReadFile(dir / "copy.clc"), ReadFile(file)) << family;
  }
}

// clc add: repeated patterns all apply; an error leaves the file as it was.
TEST(ClcCli, AddTakesEveryPatternAndWritesAllOrNothing) {
  TempDir dir;
  const std::string file = (dir / "cfg.clc").string();
  const std::string dbc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc";
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", file}).exit_code, 0);
  CliResult r = RunCli(
      {"clc", "add", file, "--dbc", dbc, "--signal", "VehicleSpeed", "--signal", "AccelPedal"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("VehicleSpeed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("AccelPedal"), std::string::npos) << r.out;
  const std::string shown = RunCli({"clc", "show", file}).out;
  EXPECT_NE(shown.find("sn=\"VehicleSpeed\""), std::string::npos);
  EXPECT_NE(shown.find("sn=\"AccelPedal\""), std::string::npos);

  // A database with an error in a statement loads the rest, but the command fails.
  const std::string before = ReadFile(file);
  WriteFile(dir / "bad.dbc", ReadFile(dbc) + "\nBO_ abc\n");
  r = RunCli({"clc", "add", file, "--dbc", (dir / "bad.dbc").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Nothing written to"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(file), before);
}

// -o never replaces an input, and a name of another kind of file needs --force.
TEST(ClcCli, OutputMustNotReplaceInputsOrOtherKinds) {
  TempDir dir;
  const std::string clc = (dir / "cfg.clc").string();
  const std::string dbc = (dir / "vehicle.dbc").string();
  ASSERT_EQ(RunCli({"clc", "new", "--family", "1", "-o", clc}).exit_code, 0);
  WriteFile(dbc, ReadFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc"));
  const std::string dbc_text = ReadFile(dbc);

  CliResult r = RunCli({"clc", "add", clc, "--dbc", dbc, "-o", dbc, "--force"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("-o " + dbc + " would replace the input " + dbc), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dbc), dbc_text);
  r = RunCli({"simulate", clc, "-o", clc, "--force"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("would replace the input"), std::string::npos) << r.err;

  const std::string recording = (dir / "rec.cld").string();
  WriteFile(recording, "keep");
  r = RunCli({"clc", "new", "--family", "1", "-o", recording});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("-o " + recording +
                       ": a .cld file is a recording, not a logger "
                       "configuration (.clc); use --force to write it anyway"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(RunCli({"clc", "edit", clc, "-o", dbc}).exit_code, 2);
  EXPECT_EQ(RunCli({"simulate", clc, "-o", (dir / "x.dbc").string()}).exit_code, 2);
  EXPECT_EQ(ReadFile(recording), "keep");
  EXPECT_EQ(ReadFile(dbc), dbc_text);
  EXPECT_EQ(RunCli({"clc", "new", "--family", "1", "-o", recording, "--force"}).exit_code, 0);
}

// Options every command knows, and unknown ones named as such.
TEST(ClcCli, CommonOptionsAndUnknownOptions) {
  TempDir dir;
  const std::string file = (dir / "cfg.clc").string();
  for (const char* v : {"-V", "--version"}) {
    const CliResult r = RunCli({v});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, std::string("tessmar-cli ") + kVersion + "\n");
  }
  const CliResult help = RunCli({"--help"});
  for (const char* text : {"-q, --quiet", "-V, --version", "130 for Ctrl-C"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  CliResult r = RunCli({"--bogus"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err,
            "tessmar-cli: error: unknown option --bogus (see 'tessmar-cli --help-convert')\n");
  r = RunCli({"clc", "new", "--family", "1", "-o", file, "--bogus"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos) << r.err;
  // Quiet: the information lines are left out, errors stay.
  r = RunCli({"-q", "dbc", std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  r = RunCli({"dbc", "--quiet", (dir / "missing.dbc").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("error:"), std::string::npos);
}

}  // namespace
}  // namespace tessmar::testing
