// tessmar-cli clc add : adds signals of CAN databases to a logger configuration, as dragging rows
// of the CANdb table onto the list of logged signals does in batch mode.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "cli/cli_common.h"
#include "common/message_output.h"
#include "config/canlog_config.h"
#include "config/clc_file.h"

namespace tessmar::cli {
namespace {

void PrintClcAddUsage() {
  std::fputs(
      "Usage: tessmar-cli clc add CONFIG.clc --dbc FILE[,BUS]... [--signal PATTERN]\n"
      "                           [--message PATTERN] [--node PATTERN] [-o OUT]\n"
      "\n"
      "Loads the CAN databases (DBC files, BUS 1 or 2, default 1) into a signal table as the\n"
      "import does, adds every table row whose signal, message and sender node names match the\n"
      "patterns to the logger configuration CONFIG.clc, prints one line per signal and writes\n"
      "the configuration to OUT (default: CONFIG.clc).\n"
      "\n"
      "Patterns: '*' matches any run of characters, '?' one character; letters match without\n"
      "regard to case (the text after a '*' is searched with exact case). Default: '*'.\n"
      "An option given more than once matches a name that matches any of its patterns.\n"
      "A new signal is reported as \"Added signal...\". A signal whose name is already logged\n"
      "is replaced, reported as \"Replaced signal OLD by NEW\"; a message that is left without\n"
      "logged signals by that stays in the configuration and is named. Signals beyond the\n"
      "logger's 256 signals or 256 messages are refused, and so are signals that the logger\n"
      "cannot record as the database describes them (outside the first 8 data bytes or the\n"
      "message's length, in a message whose identifier another message has as well, under\n"
      "nested or unclear multiplexing, or in VECTOR__INDEPENDENT_SIG_MSG); the loader warns\n"
      "about those with their line.\n"
      "\n"
      "Options:\n"
      "  --dbc FILE[,BUS]   CAN database to load for bus 1 or 2 (repeatable, at least one)\n"
      "  --signal PATTERN   signal names to add (repeatable)\n"
      "  --message PATTERN  message names to add (repeatable)\n"
      "  --node PATTERN     sender node names to add (repeatable)\n"
      "  -o, --output OUT   file to write (default: CONFIG.clc); never one of the databases\n"
      "  --force            write OUT also when its extension is that of another kind of\n"
      "                     file (.cld, .dbc, .cmd, .ini)\n"
      "  -v, --verbose      also print status messages\n"
      "  -q, --quiet        print only errors and warnings\n"
      "  -h, --help         show this help\n"
      "\n"
      "Nothing is written when an error is reported (a signal refused, a database with\n"
      "errors): the configuration changes completely or not at all.\n"
      "\n"
      "Exit status: 0 success, 1 a file could not be read or written, no row matched or a\n"
      "signal was refused, 2 wrong command line.\n",
      stdout);
}

// "Bus%d.%s.%s.%s" of a logged signal, with the names of its message in the configuration.
std::string SignalPath(const T_CanLog_Config& cfg, const T_CanLog_SigDef& sig) {
  return "Bus" + std::to_string((sig.id & kCanIdBus2) ? 2 : 1) + "." +
         std::string(NodeNameOfSignal(cfg, sig)) + "." +
         std::string(MessageNameOfSignal(cfg, sig)) + "." + std::string(TextOf(sig.sn));
}

void PrintLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

// Adds table row r and prints what happened. A new signal is reported by the loader's own
// "Added signal..." line; a signal whose name was already logged is overwritten (the batch
// answer), which gets a line naming the old and the new signal, and a line for the old message
// when no logged signal uses it any more (it stays in the message table).
AddResult AddRowAndReport(LoggerConfiguration& config, const SignalTable& table, int r) {
  T_CanLog_SigDef sig;
  T_CanLog_MsgDef msg;
  ConvertTableRow(table, r, sig, msg);
  const int slot = FindSignalByName(config.sigs, TextOf(sig.sn));
  if (slot < 0) return AddTableRow(config, table, r);

  const T_CanLog_SigDef old = config.sigs[static_cast<std::size_t>(slot)];
  const std::string old_path = SignalPath(config.cfg, old);
  const AddResult result = AddTableRow(config, table, r);
  if (result != AddResult::kOverwritten) return result;

  const std::string new_path = SignalPath(config.cfg, sig);
  if (old == sig && old_path == new_path) {
    PrintLine("Signal \"" + new_path + "\" already in logger list, unchanged");
    return result;
  }
  PrintLine("Replaced signal \"" + old_path + "\" by \"" + new_path + "\" in logger list");
  const int old_message = FindMessageById(config.cfg, old.id);
  if (old.id == sig.id || old_message < 0) return result;
  for (const T_CanLog_SigDef& s : config.sigs) {
    if (s.id == old.id) return result;  // still carries other logged signals
  }
  const T_CanLog_MsgDef& m = config.cfg.Msg[static_cast<std::size_t>(old_message)];
  PrintLine("Message \"Bus" + std::to_string((m.id & kCanIdBus2) ? 2 : 1) + "." +
            std::string(TextOf(m.nn)) + "." + std::string(TextOf(m.mn)) +
            "\" stays in logger list without signals");
  return result;
}

// True when the name matches one of the patterns; no patterns match every name.
bool MatchesAny(const std::string& name, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return true;
  for (const std::string& p : patterns) {
    if (MatchPattern(name, p)) return true;
  }
  return false;
}

bool TakeOptionValue(const Args& args, std::size_t& i, std::string& value) {
  if (i + 1 >= args.size()) {
    PrintError("option " + args[i] + " needs a value");
    return false;
  }
  value = args[++i];
  return true;
}

}  // namespace

int RunClcAdd(const Args& args) {
  bool verbose = false;
  bool force = false;
  std::string file;
  std::string output;
  // Each option may be repeated: a name matches when it matches one of its patterns.
  std::vector<std::string> signal_patterns;
  std::vector<std::string> message_patterns;
  std::vector<std::string> node_patterns;
  Args dbc_args;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      PrintClcAddUsage();
      return kExitOk;
    }
    bool ok = true;
    if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (IsQuietOption(a)) {
      SetQuiet(true);
    } else if (a == "--dbc") {
      std::string v;
      ok = TakeOptionValue(args, i, v);
      dbc_args.push_back(v);
    } else if (a == "--signal" || a == "--message" || a == "--node") {
      std::vector<std::string>& patterns = a == "--signal"    ? signal_patterns
                                           : a == "--message" ? message_patterns
                                                              : node_patterns;
      patterns.emplace_back();
      ok = TakeOptionValue(args, i, patterns.back());
    } else if (a == "-o" || a == "--output") {
      ok = TakeOptionValue(args, i, output);
    } else if (a == "--force") {
      force = true;
    } else if ((a.size() > 1 && a[0] == '-') || !file.empty()) {
      PrintUnexpected(a, "clc add");
      return kExitUsage;
    } else {
      file = a;
    }
    if (!ok) return kExitUsage;
  }
  if (file.empty() || dbc_args.empty()) {
    PrintError(
        "clc add needs CONFIG.clc and at least one --dbc FILE (see 'tessmar-cli clc add "
        "--help')");
    return kExitUsage;
  }
  struct DbcArg {
    std::filesystem::path path;
    int bus;
  };
  std::vector<DbcArg> databases;
  for (const std::string& d : dbc_args) {
    DbcArg arg{};
    if (!ParseDbcArgument(d, arg.path, arg.bus)) {
      PrintError("bad CAN database argument \"" + d + "\" (expected FILE[,BUS] with BUS 1 or 2)");
      return kExitUsage;
    }
    databases.push_back(arg);
  }
  if (output.empty()) output = file;
  std::vector<std::string> database_files;
  for (const DbcArg& d : databases) database_files.push_back(d.path.string());
  if (!CheckOutputFile(output, OutputKind::kConfiguration, database_files, force)) {
    return kExitUsage;
  }

  InstallConsoleMessages(verbose);
  // The "Added signal..." lines are this command's output; everything else stays on stderr.
  MessageHandler console = SetMessageHandler(nullptr);
  SetMessageHandler([console](int severity, std::string_view text) {
    if (severity == kMsgInfo && text.substr(0, 12) == "Added signal") {
      PrintLine(text);
    } else if (console) {
      console(severity, text);
    }
  });
  SetBatchMode(true);

  auto config = std::make_unique<LoggerConfiguration>();
  NewConfigWithDefaults(config->cfg, config->sigs, 0);
  std::string error;
  if (!ReadClcFile(file, *config, &error)) {
    // The desktop program's message, then the reason on the next line.
    ShowMessageF(kMsgError, "Warning: Couldn't load \"%s\" .", file.c_str());
    if (!error.empty()) ShowMessage(kMsgInfo, error);
    return kExitFailure;
  }

  auto table = std::make_unique<SignalTable>();
  CandbImport import;
  bool ok = true;
  for (const DbcArg& d : databases) {
    if (import.LoadFile(*config, *table, d.path, d.bus) < 0) ok = false;
  }
  if (!ok) return kExitFailure;

  int matched = 0;
  int refused = 0;
  for (int r = 1; r < table->row_count(); ++r) {
    if (table->cell(r, kColSigName).empty()) continue;
    if (!MatchesAny(table->cell(r, kColSigName), signal_patterns) ||
        !MatchesAny(table->cell(r, kColMsgName), message_patterns) ||
        !MatchesAny(table->cell(r, kColNodeName), node_patterns)) {
      continue;
    }
    ++matched;
    // The refusal of a signal the logger cannot record, as an error: nothing is written then.
    if (const std::string& problem = table->logging_problem(r); !problem.empty()) {
      ++refused;
      ShowMessage(kMsgError, problem);
      continue;
    }
    const AddResult result = AddRowAndReport(*config, *table, r);
    if (result == AddResult::kRefused) {
      ++refused;
      ShowMessageF(kMsgError, "Signal \"%s\" of message \"%s\" was not added (logger tables full)",
                   table->cell(r, kColSigName).c_str(), table->cell(r, kColMsgName).c_str());
    }
  }
  std::fflush(stdout);
  if (matched == 0) {
    ShowMessage(kMsgError, "No signal of the CAN databases matches the patterns; nothing added");
    return kExitFailure;
  }
  // All or nothing: a configuration without the refused signals is not what was asked for.
  if (refused > 0 || ErrorCount() > 0) {
    ShowMessageF(kMsgInfo, "Nothing written to \"%s\".", output.c_str());
    return kExitFailure;
  }
  if (!WriteClcFile(output, *config, &error)) {
    ShowMessageF(kMsgError, "Failed to save \"%s\"", output.c_str());
    if (!error.empty()) ShowMessage(kMsgInfo, error);
    return kExitFailure;
  }
  ShowMessageF(kMsgStatus, "Saved logger config as \"%s\"", output.c_str());
  return kExitOk;
}

}  // namespace tessmar::cli
