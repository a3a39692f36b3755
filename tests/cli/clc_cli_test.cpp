// End-to-end tests of tessmar-cli clc new / show / edit.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli_test_util.h"

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
  CliResult r = RunCli({"clc", "edit", file.string(), "-o", out.string(),
                        "--line", "FifoMode=1",
                        "--line", "Sig03: id=0x123,sn=\"Speed\",ty=U,nb=16,bo=I",
                        "--line", "[TriggerCondition]",
                        "--line", "SigName0=Speed",
                        "--password", "Secret", "--hint", "the usual"});
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
  CliResult r = RunCli({"clc", "edit", file.string(), "--line", "Foo=1", "--line", "FifoMode=1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("tessmar-cli: error: Unknown: \"Foo=1\" ."), std::string::npos) << r.err;
  EXPECT_NE(ReadFile(file).find("\r\nFifoMode=1\r\n"), std::string::npos);

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
  const std::string load_error = "tessmar-cli: error: Warning: Couldn't load \"" + missing +
                                 "\" .\nCannot open \"" + missing + "\": ";
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
