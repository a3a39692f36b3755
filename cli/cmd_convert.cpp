// tessmar-cli without a command: unattended conversion of recordings, driven by the command line
// and command files as the desktop program's batch mode is.

#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "cli/cli_common.h"
#include "cli/progress_board.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/channel_selection.h"
#include "convert/command_line.h"
#include "convert/conversion_driver.h"
#include "convert/convert_option_rules.h"
#include "convert/settings_file.h"
#include "writers/gps_settings.h"
#include "writers/writer.h"

namespace tessmar::cli {
namespace {

constexpr long kMaxJobs = 256;

// "--format FORMAT" and the names of the formats, in lines of at most 82 columns.
void PrintFormatNames() {
  constexpr std::size_t kWidth = 82;
  const std::string indent(24, ' ');
  std::string line = "  --format FORMAT       ";
  bool first = true;
  for (const OutputFormatInfo& f : kOutputFormats) {
    const std::string name = first ? f.cli_name : std::string(" | ") + f.cli_name;
    if (!first && line.size() + name.size() + 2 > kWidth) {
      std::fputs((line + " |\n").c_str(), stdout);
      line = indent + f.cli_name;
    } else {
      line += name;
    }
    first = false;
  }
  std::fputs((line + "\n").c_str(), stdout);
}

void PrintConvertHelp() {
  std::fputs(
      "Usage: tessmar-cli [OPTIONS] [CONFIG.clc] RECORDING.cld... [OUTPUT.ext...]\n"
      "\n"
      "Converts logger recordings unattended, as the desktop program's batch mode does. The\n"
      "options start from the converter settings of Tessmar.ini; the options below override them.\n"
      "\n"
      "Arguments (classified by the text after the last dot, case ignored):\n"
      "  FILE.cld              a recording to convert; '*' and '?' select several files\n"
      "  FILE.clc              logger configuration, used with --ignore-logged-sigdefs\n"
      "  FILE.dbc[,BUS]        CAN database for bus 1 (default) or 2: its signals (up to 256)\n"
      "                        are converted with --ignore-logged-sigdefs when no FILE.clc is\n"
      "                        given; otherwise it is not used, and a warning says so\n"
      "  FILE.txt FILE.csv FILE.dat* FILE.asc* FILE.mf4\n"
      "                        output name of the n-th recording; its extension chooses the\n"
      "                        format: .txt Text, .csv CSV international (Signals), .dat DIAdem\n"
      "                        (Signals), .asc Vector ASCII (Messages), .mf4 ASAM MDF4. At most\n"
      "                        20 names. Two formats share .asc: Vector ASCII writes its frames\n"
      "                        to NAME.asc, and DIAdem ASCII writes its data to NAME.asc beside\n"
      "                        its header NAME.dat; within one run the later output gets\n"
      "                        NAME_2.asc instead (from an earlier run it is replaced).\n"
      "  FILE.cmd              command file: one argument or option per line (\"--format csv\"),\n"
      "                        ';' starts a comment line\n"
      "  /bm /cw<N> /firstrun  switches of the desktop program (accepted, no effect here)\n"
      "\n"
      "Options:\n"
      "  --settings FILE       settings file to read (default: Tessmar.ini beside the program,\n"
      "                        else $XDG_CONFIG_HOME/tessmar/Tessmar.ini)\n"
      "  --output-type TYPE    messages | signals | dump\n",
      stdout);
  PrintFormatNames();
  std::fputs(
      "                        A format's name sets what it fixes: csv comma and period,\n"
      "                        csv-german comma and comma, csv-semicolon semicolon and comma\n"
      "                        (csv-german takes --separator and --decimal); an option that\n"
      "                        the format fixes to another value is refused\n"
      "  --interval SECONDS    row interval of Signals output (e.g. 0.01; 0.0001 or more)\n"
      "  --time1 KIND          first time column: off | implicit | seconds | milliseconds |\n"
      "                        datetime | datetime-fraction (default: seconds, unless the\n"
      "                        settings file names another)\n"
      "  --time2 KIND          second time column (same kinds)\n"
      "  --headlines N         headline lines of Text/CSV output, 0..3\n"
      "  --separator SEP       column separator: blank | tab | comma | semicolon\n"
      "  --decimal SEP         decimal separator: period | comma\n"
      "  --invalid TEXT        text written for a channel without value\n"
      "  --raw                 write raw values instead of physical values\n"
      "  --scaled              write physical values (default)\n"
      "  --ignore-logged-sigdefs\n"
      "                        use the signals of CONFIG.clc (or of FILE.dbc) instead of the\n"
      "                        recording's own\n"
      "  --combine             write all recordings into one output file\n"
      "  --skip-until-valid    start rows only when every signal and expression has a value\n"
      "  --channel PATTERN     convert only the columns whose signal, expression or GPS column\n"
      "                        name matches ('*' and '?' as in 'clc add'); with Messages and\n"
      "                        dump output, only the frames of the messages whose name or\n"
      "                        identifier (0x123, 291) matches. Repeatable; a pattern that\n"
      "                        matches nothing in a recording is an error\n"
      "  --start T, --stop T   convert only the rows from T until T: seconds from the\n"
      "                        recording's first entry, or \"YYYY-MM-DD hh:mm:ss[.ss]\". The\n"
      "                        Signals grid starts at --start with the values held from before\n"
      "  -n, --no-clobber      skip a recording whose output file (or a file written beside it)\n"
      "                        exists, with a warning; without it existing files are replaced\n"
      "                        and each one is named (\"Replacing ...\")\n"
      "  --outdir DIR          folder of the outputs, made when missing (default: the\n"
      "                        converter's export folder of the settings, else the folder of\n"
      "                        each recording)\n"
      "  --breakpoint TIME     report when the recording reaches \"YYYY-MM-DD hh:mm:ss\"\n"
      "  --gps-preset N        GPS output preset: 0 author's favourite, 1 simple text,\n"
      "                        2 optimized for Stiegele MDF (track file, columns, formats)\n"
      "  --gps-track KIND      GPS track file beside the output: off | text | nmea\n"
      "  --gps-columns WHERE   GPS columns in the main output: off | after | before (the\n"
      "                        columns of --gps-preset or of the settings file)\n"
      "  -j, --jobs N          convert up to N recordings at the same time, each into its own\n"
      "                        output (default: the number of processor cores; --combine\n"
      "                        converts one after the other). Messages are shown per\n"
      "                        recording, in the order of the recordings.\n"
      "  --format-thread WHEN  Signals text rows on a second thread: on | off | auto (default)\n"
      "  --no-progress         no progress lines (shown only on a terminal anyway)\n"
      "  -v, --verbose         show the detailed listings\n"
      "  -q, --quiet           show only errors and warnings\n"
      "  -h, --help            this text\n"
      "\n"
      "Recordings of the same name from different folders get distinct outputs in one run\n"
      "(LOG0001.txt, LOG0001_2.txt, ...): an output written earlier in the run is never replaced.\n"
      "Ctrl-C or SIGTERM abort the conversion: the output is closed and left marked incomplete\n"
      "(formats with a header or a record count do not get them); a second Ctrl-C ends the\n"
      "program at once. The summary then names every recording not converted completely,\n"
      "including those not started; their incomplete outputs count as existing for -n.\n"
      "\n"
      "Exit status: 0 when every recording converted without error, 1 when a conversion failed\n"
      "or reported errors (also a recording or CAN database that could not be read), 2 for a\n"
      "wrong command line, 128 + signal number when interrupted (130 for Ctrl-C).\n",
      stdout);
}

// Everything the arguments and command files collect.
struct BatchArguments {
  std::string config_file;
  std::vector<std::filesystem::path> sources;
  std::vector<std::filesystem::path> outputs;
  struct Database {
    std::string file;
    int bus = 1;
  };
  std::vector<Database> databases;
  std::string command_file;
  bool bad_argument = false;
};

// Stores one argument (from the command line or a command file line). Switches of the desktop
// program ("bm", "cw", "firstrun" and others) have nothing to do here.
void TakeArgument(std::string_view arg, BatchArguments& out) {
  const ParsedArgument p = ClassifyArgument(arg);
  switch (p.kind) {
    case ArgumentKind::kSwitch:
      break;
    case ArgumentKind::kConfig:
      out.config_file = p.text;
      break;
    case ArgumentKind::kSources: {
      // A wildcard's matches are listed (shown in verbose mode).
      const bool wildcard = p.text.find_first_of("?*") != std::string::npos;
      for (const std::string& source : p.sources) {
        if (wildcard) ShowMessageF(kMsgStatus, "  %s", source.c_str());
        out.sources.emplace_back(source);
      }
      break;
    }
    case ArgumentKind::kDatabase:
      out.databases.push_back({p.database, p.bus});
      break;
    case ArgumentKind::kOutput:
      if (out.outputs.size() < kMaxOutputNames) out.outputs.emplace_back(p.text);
      break;
    case ArgumentKind::kCommandFile:
      out.command_file = p.text;
      break;
    case ArgumentKind::kUnknown:
      ReportUnknownArgument(p);
      out.bad_argument = true;
      break;
  }
}

// Ctrl-C (SIGINT) and SIGTERM abort the conversion as the desktop program's Escape key does:
// the driver stops after the current entry and closes the output marked incomplete. The handler
// only sets flags; it is installed once-only, so a second signal ends the program at once.
std::atomic<bool> g_abort_requested{false};
volatile std::sig_atomic_t g_abort_signal = 0;
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnAbortSignal(int signal_number) {
  g_abort_signal = signal_number;
  g_abort_requested.store(true);
}

void InstallAbortHandlers() {
  struct sigaction action {};
  action.sa_handler = OnAbortSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::filesystem::path ProgramDir() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

const char* FormatOptionName(int code) {
  const OutputFormatInfo* info = FindOutputFormat(code);
  return info ? info->cli_name : "?";
}

// An output name's extension chooses the format and output type, as in the desktop program's
// batch mode. Tells the user when that replaces what --format or --output-type asked for.
void WarnOverriddenChoices(const std::vector<std::filesystem::path>& outputs,
                           const ConverterOptions& options, bool explicit_format,
                           bool explicit_type) {
  for (const std::filesystem::path& name : outputs) {
    ConverterOptions chosen = options;
    if (!ApplyBatchOutputName(name, chosen)) continue;
    const std::string file = name.string();
    if (explicit_format && chosen.output_file_format != options.output_file_format) {
      ShowMessageF(kMsgWarning, "--format %s replaced by %s: chosen by the output name \"%s\"",
                   FormatOptionName(options.output_file_format),
                   FormatOptionName(chosen.output_file_format), file.c_str());
    }
    if (explicit_type && chosen.output_type != options.output_type) {
      ShowMessageF(kMsgWarning, "--output-type %s replaced by %s: chosen by the output name \"%s\"",
                   ValueName(kOutputTypes, options.output_type).c_str(),
                   ValueName(kOutputTypes, chosen.output_type).c_str(), file.c_str());
    }
  }
}

// Everything the options say, from the command line and then the command file.
struct Override {
  std::string option;
  std::string value;
};
struct OptionArguments {
  bool verbose = false;
  bool progress_wanted = true;
  bool no_clobber = false;
  int jobs = 1;
  std::optional<std::string> settings_file;
  std::vector<Override> overrides;  // in the order given: a later one wins
  std::vector<std::string> plain;   // the arguments that are no options
};

constexpr const char* kValuedOptions[] = {
    "--output-type",   "--format",    "--interval",   "--time1",     "--time2",
    "--headlines",     "--separator", "--decimal",    "--invalid",   "--outdir",
    "--breakpoint",    "--settings",  "--gps-preset", "--gps-track", "--gps-columns",
    "--format-thread", "--channel",   "--start",      "--stop"};

// Takes the options among args into out and the other arguments into out.plain. Returns -1 to go
// on, else the exit code to end with (help shown, or a wrong option reported). `where` follows
// the option in the message about a wrong one (" in command file ...").
int TakeOptions(const Args& args, const std::string& where, OptionArguments& out) {
  auto wrong = [&](const std::string& text) {
    PrintError(text + where);
    return kExitUsage;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      PrintConvertHelp();
      return kExitOk;
    }
    if (a == "--verbose" || a == "-v") {
      out.verbose = true;
      continue;
    }
    if (IsQuietOption(a)) {
      SetQuiet(true);
      continue;
    }
    if (a == "--no-progress") {
      out.progress_wanted = false;
      continue;
    }
    if (a == "-n" || a == "--no-clobber") {
      out.no_clobber = true;
      continue;
    }
    if (a == "-j" || a == "--jobs" || a.starts_with("--jobs=") ||
        (a.starts_with("-j") && a.size() > 2)) {
      std::string value;
      if (a.starts_with("--jobs=")) {
        value = a.substr(7);
      } else if (a.size() > 2 && a[1] == 'j') {
        value = a.substr(2);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return wrong("option " + a + " needs a value");
      }
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 1 || n > kMaxJobs) {
        return wrong("invalid value '" + value + "' for --jobs (1.." + std::to_string(kMaxJobs) +
                     ")");
      }
      out.jobs = static_cast<int>(n);
      continue;
    }
    if (a == "--raw" || a == "--scaled" || a == "--ignore-logged-sigdefs" || a == "--combine" ||
        a == "--skip-until-valid") {
      out.overrides.push_back({a, ""});
      continue;
    }
    if (a.starts_with("--")) {
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(0, eq);
      bool known = false;
      for (const char* k : kValuedOptions) known = known || name == k;
      if (!known) return wrong("unknown option " + name + " (see 'tessmar-cli --help-convert')");
      std::string value;
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return wrong("option " + a + " needs a value");
      }
      if (name == "--settings") {
        out.settings_file = value;
        continue;
      }
      out.overrides.push_back({name, value});
      continue;
    }
    if (a.size() > 1 && a[0] == '-' && a[1] != '-') {
      // Short options other than the ones above; file names do not begin with '-' here.
      return wrong("unknown option " + a + " (see 'tessmar-cli --help-convert')");
    }
    out.plain.push_back(a);
  }
  return -1;
}

// The arguments of command file lines. A line is one argument, except that an option line may
// carry its value after a blank ("--format csv") as well as after '=' or on the next line.
Args CommandFileArguments(const std::vector<std::string>& lines) {
  Args args;
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    const std::size_t blank = line.find_first_of(" \t");
    const std::size_t eq = line.find('=');
    if (line.size() > 1 && line[0] == '-' && blank != std::string::npos &&
        (eq == std::string::npos || blank < eq)) {
      args.push_back(line.substr(0, blank));
      args.push_back(line.substr(line.find_first_not_of(" \t", blank)));
    } else {
      args.push_back(line);
    }
  }
  return args;
}

// The value an option was last given, or nullptr.
const std::string* GivenValue(const std::vector<Override>& overrides, std::string_view option) {
  const std::string* value = nullptr;
  for (const Override& o : overrides) {
    if (o.option == option) value = &o.value;
  }
  return value;
}

// The options a format can leave no room for, in the order they are checked.
constexpr const char* kLayoutOptions[] = {"--output-type", "--format",    "--separator",
                                          "--decimal",     "--headlines", "--time1",
                                          "--time2",       "--invalid",   "--interval"};
constexpr std::size_t kLayoutOptionCount = std::size(kLayoutOptions);

// Why an output leaves no room for each layout option: empty where the option is honoured, else
// the end of the message after "--option value". The option check would quietly put the format's
// own value (or none, for the Logfile Dump) in place of what was asked.
std::array<std::string, kLayoutOptionCount> UnusedLayoutOptions(const ConverterOptions& asked,
                                                                const std::string& chosen_by) {
  ConverterOptions checked = asked;
  {
    MessageCapture quiet;  // the check's status texts belong to the desktop's controls
    CheckConverterOptions(checked);
  }
  const bool dump = asked.output_type == OutputType::kLogfileDump;
  const OutputFormatInfo* format = FindOutputFormat(asked.output_file_format);
  const bool fixed[kLayoutOptionCount] = {
      checked.output_type != asked.output_type,
      dump && asked.output_file_format != kFormatText,
      dump || checked.column_separator != asked.column_separator,
      dump || checked.decimal_separator != asked.decimal_separator,
      dump || checked.headlines != asked.headlines,
      dump || checked.time_column1 != asked.time_column1,
      dump || checked.time_column2 != asked.time_column2,
      dump || checked.invalid_signal != asked.invalid_signal,
      dump || ParseSeconds(checked.write_interval) != ParseSeconds(asked.write_interval)};
  const std::string written[kLayoutOptionCount] = {ValueName(kOutputTypes, checked.output_type),
                                                   "text",
                                                   ValueName(kSeparators, checked.column_separator),
                                                   ValueName(kDecimals, checked.decimal_separator),
                                                   std::to_string(checked.headlines),
                                                   ValueName(kTimeKinds, checked.time_column1),
                                                   ValueName(kTimeKinds, checked.time_column2),
                                                   "\"" + checked.invalid_signal + "\"",
                                                   checked.write_interval};
  std::array<std::string, kLayoutOptionCount> why;
  for (std::size_t i = 0; i < kLayoutOptionCount; ++i) {
    if (!fixed[i]) continue;
    const std::string_view option = kLayoutOptions[i];
    if (dump) {
      why[i] = " has no use with --output-type dump (a Logfile Dump is plain text of its own)";
    } else if (option == "--interval" && !(format && format->write_interval)) {
      why[i] = ": Signals output needs a row interval of 0.0001 s (0.1 ms) or more";
    } else {
      why[i] = " cannot be used with " + chosen_by + ": that format always writes " +
               std::string(option) + " " + written[i];
    }
  }
  return why;
}

// A layout option given that no output of the run honours (the format of the options, and the
// formats that output names choose) is refused: false after the message.
bool CheckLayoutOptionsAreUsed(const ConverterOptions& options,
                               const std::vector<Override>& overrides,
                               const std::vector<std::filesystem::path>& outputs,
                               std::size_t source_count) {
  std::vector<std::array<std::string, kLayoutOptionCount>> outputs_why;
  if (options.combine_output ? outputs.empty() : source_count > outputs.size()) {
    const std::string* format = GivenValue(overrides, "--format");
    outputs_why.push_back(UnusedLayoutOptions(
        options, format
                     ? "--format " + *format
                     : std::string("the format ") + FormatOptionName(options.output_file_format) +
                           " of the settings file"));
  }
  for (const std::filesystem::path& name : outputs) {
    ConverterOptions chosen = options;
    if (!ApplyBatchOutputName(name, chosen)) continue;
    outputs_why.push_back(UnusedLayoutOptions(
        chosen, std::string("the format ") + FormatOptionName(chosen.output_file_format) +
                    " of the output name \"" + name.string() + "\""));
    if (options.combine_output) break;  // the first name names the one output
  }
  if (outputs_why.empty()) return true;
  for (std::size_t i = 0; i < kLayoutOptionCount; ++i) {
    const std::string* given = GivenValue(overrides, kLayoutOptions[i]);
    if (!given) continue;
    bool used = false;
    for (const auto& why : outputs_why) used = used || why[i].empty();
    if (used) continue;
    PrintError(std::string(kLayoutOptions[i]) + " " + *given + outputs_why.front()[i]);
    return false;
  }
  return true;
}

// The signals of the CAN databases as a configuration of their own, for --ignore-logged-sigdefs
// without a logger configuration: every signal, added as `clc add` adds them. Tells how many.
void ConfigurationFromDatabases(const SignalTable& table, LoggerConfiguration& config) {
  NewConfigWithDefaults(config.cfg, config.sigs, 0);
  int refused = 0;
  std::string first_refusal;
  {
    // Every signal added would be reported; only the first refusal is shown, with the count.
    MessageHandler console = SetMessageHandler([&](int severity, std::string_view text) {
      if (severity >= kMsgWarning && first_refusal.empty()) first_refusal = text;
    });
    for (int r = 1; r < table.row_count(); ++r) {
      if (table.cell(r, kColSigName).empty()) continue;
      if (AddTableRow(config, table, r) == AddResult::kRefused) ++refused;
    }
    SetMessageHandler(std::move(console));
  }
  int added = 0;
  for (const T_CanLog_SigDef& sig : config.sigs) added += sig.used() ? 1 : 0;
  ShowMessageF(kMsgInfo,
               "Converting the %d signals of the CAN databases (--ignore-logged-sigdefs).", added);
  if (refused > 0) {
    ShowMessageF(kMsgWarning, "%d signals of the CAN databases are not converted (the first: %s)",
                 refused, std::string(WithoutSeverityLabel(first_refusal)).c_str());
  }
}

}  // namespace

// The command line's view of a running conversion: the progress board on the terminal, Ctrl-C
// and SIGTERM as the abort. Questions take their batch answer (batch mode); messages are printed
// by the console handler.
class ConsoleObserver : public ConversionObserver {
 public:
  explicit ConsoleObserver(ProgressBoard& board) : board_(board) {}
  bool OnProgress(int percent, const std::filesystem::path& source, int64_t) override {
    board_.Update(source.string(), source.filename().string(), percent);
    return true;
  }
  bool AbortRequested() override { return g_abort_requested.load(); }
  void OnSourceFinished(const std::filesystem::path& source) override {
    board_.Remove(source.string());
  }

 private:
  ProgressBoard& board_;
};

int RunConvert(const Args& args) {
  const unsigned cores = std::thread::hardware_concurrency();
  OptionArguments given;
  given.jobs = cores > 0 ? static_cast<int>(cores) : 1;
  // Options may come anywhere among the arguments.
  if (const int code = TakeOptions(args, "", given); code >= 0) return code;

  InstallConsoleMessages(given.verbose);
  SetBatchMode(true);
  InstallAbortHandlers();

  // Arguments, then the command file: its lines are arguments and options as well.
  BatchArguments batch;
  for (const std::string& a : given.plain) TakeArgument(a, batch);
  bool command_file_failed = false;
  if (!batch.command_file.empty()) {
    // A command file named inside the command file is not read in turn.
    const std::string name = batch.command_file;
    std::vector<std::string> lines;
    command_file_failed = !ReadCommandFileLines(name, lines);
    // The command file's options come after those of the command line (a later one wins); its
    // other lines are arguments.
    const bool verbose_before = given.verbose;
    OptionArguments from_file = std::move(given);
    from_file.plain.clear();
    if (const int code = TakeOptions(CommandFileArguments(lines),
                                     " in command file \"" + name + "\"", from_file);
        code >= 0) {
      return code;
    }
    if (from_file.verbose != verbose_before) InstallConsoleMessages(from_file.verbose);
    const std::vector<std::string> file_plain = std::move(from_file.plain);
    given = std::move(from_file);
    for (const std::string& line : file_plain) TakeArgument(line, batch);
  }
  if (batch.bad_argument) return kExitUsage;
  if (command_file_failed) return kExitFailure;
  const bool verbose = given.verbose;
  const std::vector<Override>& overrides = given.overrides;

  // Settings: the converter keys and the folders.
  std::filesystem::path settings_path = given.settings_file
                                            ? std::filesystem::path(*given.settings_file)
                                            : DefaultSettingsPath(ProgramDir());
  bool settings_found = false;
  TessmarSettings settings = LoadSettingsFile(settings_path, &settings_found);
  if (given.settings_file && !settings_found) {
    PrintError("cannot read the settings file " + *given.settings_file);
    return kExitUsage;
  }
  ConvertChoices choices;
  choices.options = settings.converter;
  choices.outdir = settings.export_dir;
  for (const Override& o : overrides) {
    const OptionRule* rule = FindOptionRule(o.option);
    if (rule && !rule->apply(o.value, choices)) {
      PrintError("invalid value '" + o.value + "' for " + o.option + " (" + rule->values + ")");
      return kExitUsage;
    }
  }
  ConverterOptions& options = choices.options;
  const std::filesystem::path& outdir = choices.outdir;
  const bool explicit_format = choices.explicit_format;
  const bool explicit_type = choices.explicit_type;
  std::string span_error;
  if (!CheckSelectionOptions(options.start_time, options.stop_time, &span_error)) {
    PrintError(span_error);
    return kExitUsage;
  }
  // A format's name means its separators here: "CSV", german is comma and comma unless the
  // options name others (the desktop program shows both controls beside the format list).
  if (explicit_format && options.output_file_format == kFormatCsvGerman) {
    if (!GivenValue(overrides, "--separator")) options.column_separator = ColumnSeparator::kComma;
    if (!GivenValue(overrides, "--decimal")) options.decimal_separator = DecimalSeparator::kComma;
  }
  if (!CheckLayoutOptionsAreUsed(options, overrides, batch.outputs, batch.sources.size())) {
    return kExitUsage;
  }

  // Configuration and CAN databases.
  LoggerConfiguration user_config;
  bool config_failed = false;
  if (!batch.config_file.empty()) {
    std::string error;
    if (!ReadClcFile(batch.config_file, user_config, &error)) {
      ShowMessageF(kMsgError, "%s", error.c_str());
      config_failed = true;
    }
  }
  SignalTable table;
  bool database_failed = false;
  for (const BatchArguments::Database& db : batch.databases) {
    if (!LoadDbcIntoTable(table, db.file, db.bus)) database_failed = true;
  }
  // The databases give the signals to convert only in place of the recording's own, and only
  // when no logger configuration gives them.
  LoggerConfiguration database_config;
  std::string database_names;
  for (const BatchArguments::Database& db : batch.databases) {
    database_names += (database_names.empty() ? "\"" : ", \"") + db.file + "\"";
  }
  const bool use_databases = options.ignore_logged_sigdefs && batch.config_file.empty() &&
                             !batch.databases.empty() && !database_failed;
  if (use_databases) {
    ConfigurationFromDatabases(table, database_config);
  } else if (!batch.databases.empty() && !database_failed) {
    if (!options.ignore_logged_sigdefs) {
      ShowMessageF(kMsgWarning,
                   "CAN database %s not used: the signals logged in each recording are "
                   "converted (--ignore-logged-sigdefs converts the database's signals instead)",
                   database_names.c_str());
    } else {
      ShowMessageF(kMsgWarning,
                   "CAN database %s not used: the signals of \"%s\" are converted "
                   "(--ignore-logged-sigdefs)",
                   database_names.c_str(), batch.config_file.c_str());
    }
  }

  WarnOverriddenChoices(batch.outputs, options, explicit_format, explicit_type);

  if (batch.sources.empty()) {
    if (config_failed || database_failed) return kExitFailure;
    PrintError("no recordings (.cld) to convert; see 'tessmar-cli --help-convert'");
    return kExitUsage;
  }

  // Output folders that do not exist yet are made, as "mkdir -p" would.
  std::vector<std::filesystem::path> made;
  std::string folder_error;
  const bool folders_ok =
      MakeOutputFolders(outdir, batch.sources.size(), batch.outputs, &made, &folder_error);
  for (const std::filesystem::path& folder : made) {
    ShowMessageF(kMsgInfo, "Created the output folder \"%s\".", folder.string().c_str());
  }
  if (!folders_ok) {
    PrintError(folder_error);
    return kExitFailure;
  }

  ConversionRequest request;
  request.sources = batch.sources;
  request.output_names = batch.outputs;
  request.output_dir = outdir;
  request.options = options;
  // A configuration that could not be read gives no signal definitions to use instead.
  if (use_databases) {
    request.user_config = &database_config;
    request.user_signals_name = "The CAN database " + database_names;
  } else if (!batch.config_file.empty() && !config_failed) {
    request.user_config = &user_config;
    request.user_signals_name = "The logger configuration \"" + batch.config_file + "\"";
  }
  if (options.ignore_logged_sigdefs && !request.user_config) {
    ShowMessage(kMsgWarning,
                "--ignore-logged-sigdefs without a usable logger configuration (.clc): the "
                "signal definitions logged in each recording are used");
  }
  request.verbose = verbose;
  request.error_log_hint = "Please check the messages above.";
  request.show_option_notes = true;  // batch mode shows no message boxes
  request.gps = GpsSettingsOf(settings);
  // GPS options: a preset replaces the whole record, so it goes first whatever the order.
  for (const bool presets : {true, false}) {
    for (const Override& o : overrides) {
      bool ok = true;
      const char* values = "";
      if (presets && o.option == "--gps-preset") {
        ok = ApplyGpsPresetOption(o.value, request.gps);
        values = "0, 1, 2";
      } else if (!presets && o.option == "--gps-track") {
        ok = ApplyGpsTrackOption(o.value, request.gps);
        values = "off, text, nmea";
      } else if (!presets && o.option == "--gps-columns") {
        ok = ApplyGpsColumnsOption(o.value, request.gps);
        values = "off, after, before";
      }
      if (!ok) {
        PrintError("invalid value '" + o.value + "' for " + o.option + " (" + values + ")");
        return kExitUsage;
      }
    }
  }
  if (const std::string* where = GivenValue(overrides, "--gps-columns");
      where && request.gps.merge_into_main_file != 0 && CountDefinedGpsColumns(request.gps) == 0) {
    PrintError("--gps-columns " + *where +
               " adds no column: no GPS column is defined (--gps-preset 0, 1 or 2 defines them, "
               "or the settings file from the desktop program's GPS page)");
    return kExitUsage;
  }
  request.jobs = given.jobs;
  request.no_clobber = given.no_clobber;
  ProgressBoard board(given.progress_wanted && isatty(STDERR_FILENO), [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
  });
  SetConsoleSink([&board](std::string_view text) { board.Print(text); });
  request.format_thread = choices.format_thread;
  ConsoleObserver observer(board);
  const ConversionSummary summary = RunConversion(PlanConversion(request), observer);
  board.Clear();
  SetConsoleSink(nullptr);
  // Interrupted: the shell's convention, 128 + the signal number (130 for Ctrl-C).
  if (g_abort_signal != 0) return 128 + g_abort_signal;
  if (summary.refused) return kExitFailure;
  // Recordings skipped by --no-clobber were left alone on purpose.
  const bool all_ok = summary.errors == 0 && !summary.aborted && !config_failed &&
                      !database_failed &&
                      summary.converted + summary.skipped == static_cast<int>(batch.sources.size());
  return all_ok ? kExitOk : kExitFailure;
}

}  // namespace tessmar::cli
