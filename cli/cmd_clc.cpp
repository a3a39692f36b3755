// tessmar-cli clc new | show | edit | add : logger configuration files (.clc).

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "cli/cli_common.h"
#include "common/message_output.h"
#include "common/text_readers.h"
#include "config/canlog_config.h"
#include "config/clc_file.h"
#include "config/clc_parser.h"
#include "config/clc_value_check.h"

namespace tessmar::cli {
namespace {

void PrintClcUsage() {
  std::fputs(
      "Usage: tessmar-cli clc new --family F -o FILE\n"
      "       tessmar-cli clc show FILE\n"
      "       tessmar-cli clc edit FILE [-o OUT] [--line TEXT]... [--password P] [--hint H]\n"
      "       tessmar-cli clc add ...   (see 'tessmar-cli clc add --help')\n"
      "\n"
      "Creates, prints and changes logger configuration files (.clc).\n"
      "Run 'tessmar-cli clc new|show|edit --help' for the options of each.\n",
      stdout);
}

void PrintNewUsage() {
  std::fputs(
      "Usage: tessmar-cli clc new --family F -o FILE [--force] [-v]\n"
      "\n"
      "Writes a new logger configuration with every option at its default for device family F:\n"
      "  0  Kavrix I (with C167 CPU)        2  Kavrix III (with Cortex-M3 CPU)\n"
      "  1  Kavrix II (with ARM-7 CPU)      3  Kavrix IV (with Cortex-M4 CPU)\n"
      "  4 and above, or -1: unknown / future device\n"
      "An existing FILE is replaced.\n"
      "\n"
      "Options:\n"
      "  --family F       device family (required)\n"
      "  -o, --output F   file to write (required)\n"
      "  --force          write F also when its extension is that of another kind of file\n"
      "                   (.cld, .dbc, .cmd, .ini)\n"
      "  -v, --verbose    also print status messages\n"
      "  -q, --quiet      print only errors and warnings\n"
      "  -h, --help       show this help\n"
      "\n"
      "Exit status: 0 success, 1 the file could not be written, 2 wrong command line.\n",
      stdout);
}

void PrintShowUsage() {
  std::fputs(
      "Usage: tessmar-cli clc show FILE [-v]\n"
      "\n"
      "Reads the logger configuration FILE (plain or password-protected) and prints it to\n"
      "standard output as it would be written, unscrambled, one line per line of the file;\n"
      "the lines end in LF here, while the file itself ends them in CR LF.\n"
      "Lines of FILE that are not understood are reported on standard error.\n"
      "\n"
      "Options:\n"
      "  -v, --verbose    also print status messages\n"
      "  -q, --quiet      print only errors and warnings\n"
      "  -h, --help       show this help\n"
      "\n"
      "Exit status: 0 success, 1 FILE could not be read or held lines not understood,\n"
      "2 wrong command line.\n",
      stdout);
}

void PrintEditUsage() {
  std::fputs(
      "Usage: tessmar-cli clc edit FILE [-o OUT] [--line TEXT]... [--password P] [--hint H]\n"
      "\n"
      "Reads the logger configuration FILE, applies each --line in order as a line of a\n"
      "configuration file, sets the password and its hint, and writes the result to OUT\n"
      "(default: FILE). The lines start in the section [CanLoggerConfig]; a section line such as\n"
      "'[TriggerCondition]' switches the section for the lines after it. Examples:\n"
      "  --line 'FifoMode=1'\n"
      "  --line 'Msg01: id=0x123,mn=\"Engine\",nn=\"ECU\",wi=0'\n"
      "  --line 'Sig01: id=0x123,sn=\"Speed\",ty=U,un=\"km/h\",fa=0.1,sb=0,nb=16,bo=I'\n"
      "  --line '[TriggerCondition]' --line 'SigName0=Speed'\n"
      "A password makes the written file scrambled from its \"PwdHint1=\" line on; an empty\n"
      "password (--password '') removes the protection.\n"
      "Every value is checked: numbers that are no numbers, values outside what an option or\n"
      "field allows, slot or trigger line numbers outside the tables and trigger signals that\n"
      "are not logged signals are named as errors. Nothing is written when an error is\n"
      "reported: the configuration changes completely or not at all.\n"
      "\n"
      "Options:\n"
      "  -o, --output F   file to write (default: FILE)\n"
      "  --force          write F also when its extension is that of another kind of file\n"
      "                   (.cld, .dbc, .cmd, .ini)\n"
      "  --line TEXT      configuration line to apply (repeatable)\n"
      "  --password P     password (at most 40 characters; a longer one is refused)\n"
      "  --hint H         password hint (at most 40 characters; a longer one is refused)\n"
      "  -v, --verbose    also print status messages\n"
      "  -q, --quiet      print only errors and warnings\n"
      "  -h, --help       show this help\n"
      "\n"
      "Exit status: 0 success, 1 FILE could not be read, a line was not understood or not\n"
      "usable, or OUT could not be written, 2 wrong command line.\n",
      stdout);
}

bool IsHelp(const std::string& a) { return a == "-h" || a == "--help"; }
// -v sets verbose, -q makes the messages quiet; true when a was one of them.
bool TakeVerboseOrQuiet(const std::string& a, bool& verbose) {
  if (a == "-v" || a == "--verbose") {
    verbose = true;
  } else if (IsQuietOption(a)) {
    SetQuiet(true);
  } else {
    return false;
  }
  return true;
}

// Takes the value of an option that needs one; false (after an error message) when it is missing.
bool TakeValue(const Args& args, std::size_t& i, std::string& value) {
  if (i + 1 >= args.size()) {
    PrintError("option " + args[i] + " needs a value");
    return false;
  }
  value = args[++i];
  return true;
}

bool ParseFamily(const std::string& text, uint32_t& family) {
  std::string_view s = text;
  bool digits = false;
  const int32_t value = ReadInteger(s, &digits);
  if (!digits || !s.empty()) return false;
  family = static_cast<uint32_t>(value);
  return true;
}

bool Load(const std::string& file, LoggerConfiguration& config) {
  // Keys a file does not name keep the defaults of family 0, as for a recording header.
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  std::string error;
  if (!ReadClcFile(file, config, &error)) {
    // The desktop program's message, then the reason on the next line.
    ShowMessageF(kMsgError, "Warning: Couldn't load \"%s\" .", file.c_str());
    if (!error.empty()) ShowMessage(kMsgInfo, error);
    return false;
  }
  ShowMessageF(kMsgStatus, "Load%s logger config \"%s\" .",
               TextOf(config.cfg.Password1).empty() ? "ed" : "ing", file.c_str());
  return true;
}

bool Save(const std::string& file, LoggerConfiguration& config) {
  std::string error;
  if (!WriteClcFile(file, config, &error)) {
    ShowMessageF(kMsgError, "Failed to save \"%s\"", file.c_str());
    if (!error.empty()) ShowMessage(kMsgInfo, error);
    return false;
  }
  ShowMessageF(kMsgStatus, "Saved logger config as \"%s\"", file.c_str());
  return true;
}

int RunNew(const Args& args) {
  bool verbose = false;
  std::string family_text;
  std::string output;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsHelp(a)) {
      PrintNewUsage();
      return kExitOk;
    }
    if (TakeVerboseOrQuiet(a, verbose)) {
    } else if (a == "--family") {
      if (!TakeValue(args, i, family_text)) return kExitUsage;
    } else if (a == "--force") {
      force = true;
    } else if (a == "-o" || a == "--output") {
      if (!TakeValue(args, i, output)) return kExitUsage;
    } else {
      PrintUnexpected(a, "clc new");
      return kExitUsage;
    }
  }
  uint32_t family = 0;
  if (family_text.empty() || output.empty()) {
    PrintError("clc new needs --family F and -o FILE (see 'tessmar-cli clc new --help')");
    return kExitUsage;
  }
  if (!ParseFamily(family_text, family)) {
    PrintError("device family must be a number, not \"" + family_text + "\"");
    return kExitUsage;
  }
  if (!CheckOutputFile(output, OutputKind::kConfiguration, {}, force)) return kExitUsage;
  InstallConsoleMessages(verbose);
  auto config = std::make_unique<LoggerConfiguration>();
  NewConfigWithDefaults(config->cfg, config->sigs, family);
  return Save(output, *config) ? kExitOk : kExitFailure;
}

int RunShow(const Args& args) {
  bool verbose = false;
  std::string file;
  for (const std::string& a : args) {
    if (IsHelp(a)) {
      PrintShowUsage();
      return kExitOk;
    }
    if (TakeVerboseOrQuiet(a, verbose)) {
    } else if ((a.size() > 1 && a[0] == '-') || !file.empty()) {
      PrintUnexpected(a, "clc show");
      return kExitUsage;
    } else {
      file = a;
    }
  }
  if (file.empty()) {
    PrintError("no configuration file given (see 'tessmar-cli clc show --help')");
    return kExitUsage;
  }
  InstallConsoleMessages(verbose);
  auto config = std::make_unique<LoggerConfiguration>();
  if (!Load(file, *config)) return kExitFailure;
  std::string text;
  for (const std::string& line : ClcFileLines(config->cfg, config->sigs)) {
    text += line;
    text += '\n';
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return ErrorCount() > 0 ? kExitFailure : kExitOk;
}

int RunEdit(const Args& args) {
  bool verbose = false;
  std::string file;
  std::string output;
  Args lines;
  std::string password;
  std::string hint;
  bool set_password = false;
  bool set_hint = false;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IsHelp(a)) {
      PrintEditUsage();
      return kExitOk;
    }
    if (TakeVerboseOrQuiet(a, verbose)) {
    } else if (a == "-o" || a == "--output") {
      if (!TakeValue(args, i, output)) return kExitUsage;
    } else if (a == "--line") {
      std::string line;
      if (!TakeValue(args, i, line)) return kExitUsage;
      lines.push_back(line);
    } else if (a == "--password") {
      if (!TakeValue(args, i, password)) return kExitUsage;
      set_password = true;
    } else if (a == "--hint") {
      if (!TakeValue(args, i, hint)) return kExitUsage;
      set_hint = true;
    } else if (a == "--force") {
      force = true;
    } else if ((a.size() > 1 && a[0] == '-') || !file.empty()) {
      PrintUnexpected(a, "clc edit");
      return kExitUsage;
    } else {
      file = a;
    }
  }
  if (file.empty()) {
    PrintError("no configuration file given (see 'tessmar-cli clc edit --help')");
    return kExitUsage;
  }
  if (output.empty()) output = file;
  // The configuration itself may be rewritten: that is the edit in place.
  if (!CheckOutputFile(output, OutputKind::kConfiguration, {}, force)) return kExitUsage;
  // The fields hold 40 characters; a longer password cut short would not be the one typed.
  for (const auto& [name, value] : {std::pair{"--password", &password}, {"--hint", &hint}}) {
    if (value->size() > kMaxNameChars) {
      PrintError(std::string(name) + " has " + std::to_string(value->size()) +
                 " characters; at most 40 are possible");
      return kExitUsage;
    }
  }
  InstallConsoleMessages(verbose);
  auto config = std::make_unique<LoggerConfiguration>();
  if (!Load(file, *config)) return kExitFailure;

  const auto before = std::make_unique<LoggerConfiguration>(*config);
  ClcLineParser parser(config->cfg, config->sigs);
  parser.set_state(ClcReadState::kLoggerConfig);
  for (const std::string& line : lines) {
    // A command-line argument is one line; a line break inside it would only cut it short.
    std::string_view text = line;
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string_view::npos) text = text.substr(0, end);
    const ClcReadState section = parser.state();
    if (!parser.ParseLine(text)) {
      ShowMessageF(kMsgError, "Unknown: \"%.*s\" .", static_cast<int>(text.size()), text.data());
      continue;
    }
    for (const std::string& problem : CheckLineValues(section, text)) {
      ShowMessageF(kMsgError, "Cannot use --line \"%.*s\" (%s)", static_cast<int>(text.size()),
                   text.data(), problem.c_str());
    }
  }
  // Trigger signals named by this edit must be logged signals; names the file had are left
  // to the user.
  for (const std::string& problem : UnknownTriggerSignals(*config, *before)) {
    ShowMessageF(kMsgError, "Cannot use the trigger signal (%s)", problem.c_str());
  }
  if (set_password) SetText(config->cfg.Password1, password);
  if (set_hint) SetText(config->cfg.PwdHint1, hint);
  // All or nothing: a configuration with a line left out is not what was asked for.
  if (ErrorCount() > 0) {
    ShowMessageF(kMsgInfo, "Nothing written to \"%s\".", output.c_str());
    return kExitFailure;
  }
  return Save(output, *config) ? kExitOk : kExitFailure;
}

}  // namespace

int RunClc(const Args& args) {
  if (args.empty()) {
    PrintClcUsage();
    return kExitUsage;
  }
  const std::string& sub = args[0];
  const Args rest(args.begin() + 1, args.end());
  if (IsHelp(sub)) {
    PrintClcUsage();
    return kExitOk;
  }
  if (sub == "new") return RunNew(rest);
  if (sub == "show") return RunShow(rest);
  if (sub == "edit") return RunEdit(rest);
  if (sub == "add") return RunClcAdd(rest);
  PrintError("unknown clc command \"" + sub + "\" (see 'tessmar-cli clc --help')");
  return kExitUsage;
}

}  // namespace tessmar::cli
