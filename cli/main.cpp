// tessmar-cli: the headless front end of Tessmar.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_common.h"
#include "common/version.h"

namespace {

void PrintUsage() {
  std::fputs(
      "Usage: tessmar-cli COMMAND [ARGS]...\n"
      "       tessmar-cli [CONVERSION OPTIONS] [FILES]...\n"
      "\n"
      "Configure Kavrix CAN loggers and convert their recordings.\n"
      "\n"
      "Commands:\n"
      "  clc new      write a new default logger configuration\n"
      "  clc show     print a logger configuration (unscrambled)\n"
      "  clc edit     change a logger configuration line by line\n"
      "  clc add      add signals of CAN databases to a logger configuration\n"
      "  dbc          load CAN databases and print the signal table\n"
      "  simulate     write a simulated recording (.cld) for a configuration\n"
      "\n"
      "Without a command the arguments name configurations (.clc), recordings (.cld, wildcards\n"
      "allowed), CAN databases (.dbc[,BUS]), output files and command files (.cmd), and the\n"
      "recordings are converted unattended. See 'tessmar-cli --help-convert'.\n"
      "\n"
      "Options of every command:\n"
      "  -q, --quiet     show only errors and warnings on standard error\n"
      "  -V, --version   print the program version\n"
      "  -h, --help      this text\n"
      "\n"
      "Run 'tessmar-cli COMMAND --help' for the options of a command.\n"
      "Exit status: 0 success, 1 failure, 2 wrong command line, 128 + signal number when\n"
      "interrupted (130 for Ctrl-C).\n",
      stdout);
}

}  // namespace

namespace {

// Runs one command and returns its exit code.
int RunCommand(tessmar::cli::Args args) {
  using namespace tessmar::cli;
  // -q before the command applies to it; the commands take it among their own options too.
  while (!args.empty() && IsQuietOption(args[0])) {
    SetQuiet(true);
    args.erase(args.begin());
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    PrintUsage();
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::printf("tessmar-cli %s\n", tessmar::kVersion);
    return kExitOk;
  }
  const std::string command = args[0];
  Args rest(args.begin() + 1, args.end());
  if (command == "clc") return RunClc(rest);
  if (command == "dbc") return RunDbc(rest);
  if (command == "simulate") return RunSimulate(rest);
  if (command == "--help-convert") return RunConvert({"--help"});
  return RunConvert(args);
}

}  // namespace

// Whatever a command printed must have reached its destination: a full disk or a closed pipe on
// standard output turns a successful command into a failure.
int main(int argc, char** argv) {
  using namespace tessmar::cli;
  // A reader that goes away (tessmar-cli dbc x.dbc | head) ends the program quietly, as with
  // every other tool, even when the caller left SIGPIPE ignored.
  std::signal(SIGPIPE, SIG_DFL);
  int code = RunCommand(Args(argv + 1, argv + argc));
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    PrintError(std::string("could not write the standard output: ") +
               (errno != 0 ? std::strerror(errno) : "write error"));
    if (code == kExitOk) code = kExitFailure;
  }
  return code;
}
