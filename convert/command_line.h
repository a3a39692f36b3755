#pragma once
// Command-line arguments and command-file lines of the desktop program's batch mode and of
// tessmar-cli's conversion: both classify their arguments the same way.
//
// Every argument is classified on its own: a switch ("/bm", "/cw<window>", "/firstrun", other
// two-letter switches with an optional decimal value), or a file name by the text after its last
// dot: ".clc" configuration, ".cld" recording (wildcards expanded), ".dbc[,bus]" CAN database,
// ".dat*"/".asc*"/".txt"/".csv"/".mf4" output name, ".cmd*" command file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar {

enum class ArgumentKind {
  kSwitch,
  kConfig,       // logger configuration file
  kSources,      // recording(s) to convert
  kDatabase,     // CAN database with its bus
  kOutput,       // output file name
  kCommandFile,  // file with more arguments
  kUnknown,      // reported as "ParseCmdLine: Don't know what to do with %s ."
};

struct ParsedArgument {
  ArgumentKind kind = ArgumentKind::kUnknown;
  std::string text;                  // the argument, cut to kMaxArgumentChars
  std::string switch_name;           // without the slash: "bm", "cw", "firstrun", ...
  long long switch_value = 0;        // decimal number after the two letters, 0 when none
  std::vector<std::string> sources;  // recordings (a wildcard gives every matching file)
  std::string database;              // database file name without ",bus"
  int bus = 1;
};

// Longest argument and command-file line kept: a path as long as the system takes (PATH_MAX).
// Nothing stores them in a field of fixed width, so no shorter cut applies.
inline constexpr std::size_t kMaxArgumentChars = 4096;
inline constexpr std::size_t kMaxCommandFileLineChars = 4096;
// At most this many output names are collected; further ones are dropped.
inline constexpr std::size_t kMaxOutputNames = 20;

// Classifies one argument. A ".cld" argument with '*' or '?' shows "Directory listing of *.*"
// (an information message) and collects every matching file (sorted), each with the folder in
// front.
ParsedArgument ClassifyArgument(std::string_view argument);

// Reports an argument of kind kUnknown as an error message.
void ReportUnknownArgument(const ParsedArgument& argument);

// True for a switch. On this system file paths begin with a slash too, so only a slash or
// backslash followed by text without a further slash, backslash or dot is a switch.
bool IsSwitchArgument(std::string_view argument);

// Reads a command file: the lines (at most kMaxCommandFileLineChars characters; CR, LF or another
// control character ends a line, the rest of a longer line is the next line) that are neither empty
// nor begin with
// ';', each a whole argument. Reports "Parsing command file ..." when the file opens, an
// error message and false when it does not.
bool ReadCommandFileLines(const std::string& name, std::vector<std::string>& lines);

}  // namespace tessmar
