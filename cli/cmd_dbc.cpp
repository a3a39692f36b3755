// tessmar-cli dbc FILE[,BUS]... : loads CAN databases into one signal table as the import does and
// prints the table, one tab-separated line per row.

#include <cstdio>
#include <string>

#include "candb/signal_table.h"
#include "cli/cli_common.h"
#include "common/message_output.h"

namespace tessmar::cli {
namespace {

void PrintDbcUsage() {
  std::fputs(
      "Usage: tessmar-cli dbc [-v] FILE[,BUS]...\n"
      "\n"
      "Loads each CAN database (DBC file) into one signal table, for bus BUS (1 or 2,\n"
      "default 1), as the import of the desktop program does, and prints the table to standard\n"
      "output: a header line with the 17 column titles, then one line per signal, cells\n"
      "separated by tabs.\n"
      "Signals already in the table (same bus, message and signal name) are replaced.\n"
      "Loader messages go to standard error, among them a warning with the line of every signal\n"
      "that the logger cannot record as the database describes it.\n"
      "\n"
      "Options:\n"
      "  -v, --verbose   also print status messages\n"
      "  -q, --quiet     print only errors and warnings\n"
      "  -h, --help      show this help\n"
      "\n"
      "Exit status: 0 success, 1 a file is missing or could not be read without errors,\n"
      "2 wrong command line.\n",
      stdout);
}

void PrintRow(const SignalTableRow& row) {
  std::string line;
  for (int c = 0; c < kSignalTableColumns; ++c) {
    if (c > 0) line += '\t';
    // Cells may hold line breaks or tabs (comments); keep one line per row.
    for (char ch : row[static_cast<std::size_t>(c)]) {
      line += (ch == '\t' || ch == '\n' || ch == '\r') ? ' ' : ch;
    }
  }
  line += '\n';
  std::fputs(line.c_str(), stdout);
}

}  // namespace

int RunDbc(const Args& args) {
  bool verbose = false;
  Args files;
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      PrintDbcUsage();
      return kExitOk;
    }
    if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (IsQuietOption(a)) {
      SetQuiet(true);
    } else if (a.size() > 1 && a[0] == '-') {
      PrintError("unknown option " + a + " (see 'tessmar-cli dbc --help')");
      return kExitUsage;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    PrintError("no CAN database given (see 'tessmar-cli dbc --help')");
    return kExitUsage;
  }
  InstallConsoleMessages(verbose);
  SetBatchMode(true);

  SignalTable table;
  bool ok = true;
  for (const std::string& f : files) {
    std::filesystem::path path;
    int bus = 1;
    if (!ParseDbcArgument(f, path, bus)) {
      PrintError("bad CAN database argument \"" + f + "\" (expected FILE[,BUS] with BUS 1 or 2)");
      return kExitUsage;
    }
    if (!LoadDbcIntoTable(table, path, bus)) ok = false;
  }
  for (int r = 0; r < table.row_count(); ++r) {
    // The empty first data row of a fresh table is not printed.
    if (r > 0 && table.cell(r, kColSigName).empty() && table.cell(r, kColBusNr).empty()) continue;
    PrintRow(table.row(r));
  }
  std::fflush(stdout);
  return ok && ErrorCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace tessmar::cli
