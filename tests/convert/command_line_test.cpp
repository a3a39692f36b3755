// Command-line arguments and command files of the batch conversion.

#include "convert/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/message_output.h"

namespace tessmar {
namespace {

TEST(CommandLine, ArgumentsAreClassifiedByExtensionAndSwitches) {
  struct Case {
    const char* arg;
    ArgumentKind kind;
  };
  const Case cases[] = {
      {"logger.clc", ArgumentKind::kConfig},
      {"LOGGER.CLC", ArgumentKind::kConfig},
      {"/data/run1.cld", ArgumentKind::kSources},
      {"//server/share/a.cld", ArgumentKind::kSources},
      {"\\\\server\\a.cld", ArgumentKind::kSources},
      {"out1.dat", ArgumentKind::kOutput},
      {"out.dat2", ArgumentKind::kOutput},
      {"trace.ASC", ArgumentKind::kOutput},
      {"table.csv", ArgumentKind::kOutput},
      {"table.txt", ArgumentKind::kOutput},
      {"bus.MF4", ArgumentKind::kOutput},
      {"run.cmd", ArgumentKind::kCommandFile},
      {"vehicle.dbc", ArgumentKind::kDatabase},
      {"readme", ArgumentKind::kUnknown},
      {"notes.doc", ArgumentKind::kUnknown},
      {"/home/u.v/file", ArgumentKind::kUnknown},
      {"/bm", ArgumentKind::kSwitch},
      {"\\bm", ArgumentKind::kSwitch},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyArgument(c.arg).kind, c.kind) << c.arg;
}

TEST(CommandLine, SwitchValuesAndNames) {
  ParsedArgument p = ClassifyArgument("/cw4711");
  EXPECT_EQ(p.switch_name, "cw");
  EXPECT_EQ(p.switch_value, 4711);
  p = ClassifyArgument("/cw  12");
  EXPECT_EQ(p.switch_value, 12);
  p = ClassifyArgument("/bm");
  EXPECT_EQ(p.switch_name, "bm");
  EXPECT_EQ(p.switch_value, 0);
  EXPECT_EQ(ClassifyArgument("/FirstRun").switch_name, "firstrun");
  // Two-letter switches must be lower case; others are accepted and ignored.
  p = ClassifyArgument("/BM");
  EXPECT_EQ(p.kind, ArgumentKind::kSwitch);
  EXPECT_NE(p.switch_name, "bm");
}

TEST(CommandLine, DatabaseBusAndOverlongArguments) {
  ParsedArgument p = ClassifyArgument("vehicle.dbc,2");
  EXPECT_EQ(p.kind, ArgumentKind::kDatabase);
  EXPECT_EQ(p.database, "vehicle.dbc");
  EXPECT_EQ(p.bus, 2);
  p = ClassifyArgument("vehicle.dbc");
  EXPECT_EQ(p.bus, 1);
  EXPECT_EQ(p.database, "vehicle.dbc");
  // Paths as long as the system takes are kept whole; only a longer one is cut.
  p = ClassifyArgument(std::string(4000, 'a') + ".clc");
  EXPECT_EQ(p.kind, ArgumentKind::kConfig);
  EXPECT_EQ(p.text.size(), 4004u);
  p = ClassifyArgument(std::string(5000, 'a') + ".clc");
  EXPECT_EQ(p.text.size(), kMaxArgumentChars);
  EXPECT_EQ(p.kind, ArgumentKind::kUnknown);  // the extension was cut off
}

TEST(CommandLine, WildcardListsTheFolderFilesAndCommandFileSkipsComments) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tessmar_cmdline_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  for (const char* name : {"b.cld", "a.cld", "c.txt"}) std::ofstream(dir / name) << "x";
  ParsedArgument p = ClassifyArgument((dir / "*.cld").string());
  ASSERT_EQ(p.kind, ArgumentKind::kSources);
  EXPECT_EQ(p.sources,
            (std::vector<std::string>{(dir / "a.cld").string(), (dir / "b.cld").string()}));

  // Brackets in a folder name are part of the name, not a character class.
  std::filesystem::create_directories(dir / "run[1]");
  std::filesystem::create_directories(dir / "run1");
  std::ofstream(dir / "run[1]" / "x.cld") << "x";
  std::ofstream(dir / "run1" / "y.cld") << "x";
  p = ClassifyArgument((dir / "run[1]" / "*.cld").string());
  EXPECT_EQ(p.sources, (std::vector<std::string>{(dir / "run[1]" / "x.cld").string()}));

  std::ofstream(dir / "run.cmd", std::ios::binary) << "; a comment\r\n\r\nlogger.clc\r\n/bm\r\n"
                                                   << std::string(5000, 'x') << "\r\nmy file.cld";
  std::vector<std::string> lines;
  MessageCapture messages;
  ASSERT_TRUE(ReadCommandFileLines((dir / "run.cmd").string(), lines));
  EXPECT_TRUE(messages.Contains("Parsing command file \"" + (dir / "run.cmd").string() + "\" ..."));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "logger.clc");
  EXPECT_EQ(lines[1], "/bm");
  EXPECT_EQ(lines[2], std::string(kMaxCommandFileLineChars, 'x'));
  EXPECT_EQ(lines[3], std::string(5000 - kMaxCommandFileLineChars, 'x'));  // the rest of the line
  EXPECT_EQ(lines[4], "my file.cld");  // a whole line, blanks do not split it
  EXPECT_FALSE(ReadCommandFileLines((dir / "missing.cmd").string(), lines));
  EXPECT_TRUE(messages.Contains("Could not open command file \"" + (dir / "missing.cmd").string() +
                                "\" (" + std::strerror(ENOENT) + "). "));
  ASSERT_EQ(lines.size(), 5u);  // nothing added by the failed read

  // Old-style files end their lines with CR alone; a stray control character ends a line too.
  std::ofstream(dir / "mac.cmd", std::ios::binary) << "a.clc\rb.cld\r;c.dbc\rd.dat\x01"
                                                      "e.asc";
  lines.clear();
  ASSERT_TRUE(ReadCommandFileLines((dir / "mac.cmd").string(), lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"a.clc", "b.cld", "d.dat", "e.asc"}));

  ReportUnknownArgument(ClassifyArgument("notes.doc"));
  EXPECT_EQ(messages.entries().back().severity, kMsgError);
  EXPECT_EQ(messages.entries().back().text, "ParseCmdLine: Don't know what to do with notes.doc .");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessmar
