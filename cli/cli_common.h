#pragma once
// Helpers shared by the tessmar-cli subcommands.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar::cli {

using Args = std::vector<std::string>;

// Exit codes of tessmar-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed (bad input, conversion error, ...)
inline constexpr int kExitUsage = 2;    // wrong command line

// Installs the message handler of the command line: errors and warnings go to stderr prefixed
// "tessmar-cli: error: " / "tessmar-cli: warning: ", information and status texts go to stderr
// unprefixed (stdout is kept for the data a command prints). Status-only texts are shown only
// when verbose is set; with SetQuiet(true) only errors and warnings are shown.
void InstallConsoleMessages(bool verbose);
void SetQuiet(bool quiet);
// Where the console messages go instead of straight to stderr (a progress display that keeps
// its lines below them); an empty function restores stderr.
void SetConsoleSink(std::function<void(std::string_view text)> sink);

// True for the options that every command takes.
inline bool IsQuietOption(std::string_view a) { return a == "-q" || a == "--quiet"; }

// "unknown option -x (see 'tessmar-cli COMMAND --help')" for an argument that looks like an
// option, else "unexpected argument ...".
void PrintUnexpected(const std::string& argument, std::string_view help_command);

// Number of error messages (severity 127) seen since InstallConsoleMessages().
int ErrorCount();
int WarningCount();

// Prints "tessmar-cli: error: TEXT" to stderr (for command-line problems found by the CLI itself).
void PrintError(std::string_view text);

// Kinds of files a command writes with -o.
enum class OutputKind { kConfiguration, kRecording };

// Checks the -o file of a command before anything is written: it must not be one of the
// command's inputs (never, whatever the options), and unless force is set its extension must not
// be one of another kind of file this program reads (.clc, .cld, .dbc, .cmd, .ini). Prints the
// reason and returns false when refused.
bool CheckOutputFile(const std::string& output, OutputKind kind,
                     const std::vector<std::string>& inputs, bool force);

// Subcommands. Each receives the arguments after its own name and returns the exit code.
int RunClc(const Args& args);       // clc new | show | edit | add
int RunClcAdd(const Args& args);    // clc add (arguments after "add")
int RunDbc(const Args& args);       // dbc FILE[,BUS]...
int RunSimulate(const Args& args);  // simulate CONFIG.clc -o FILE.cld [options]
int RunConvert(const Args& args);   // batch conversion (no subcommand)

}  // namespace tessmar::cli
