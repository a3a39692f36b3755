// tessmar-cli simulate: writes a simulated logger recording (.cld) for a configuration.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/cli_common.h"
#include "common/c_locale.h"
#include "common/message_output.h"
#include "config/clc_file.h"
#include "logfile/simulator/entry_encoder.h"
#include "logfile/simulator/recording_simulator.h"

namespace tessmar::cli {
namespace {

void PrintSimulateHelp() {
  std::fputs(
      "Usage: tessmar-cli simulate CONFIG.clc -o FILE.cld [OPTIONS]\n"
      "\n"
      "Writes a recording as the logger would: the configuration as text header with\n"
      "[LogFileInfo], the binary header, then CAN frames of the configured messages with moving\n"
      "signal values, a time entry every second, expression entries and BULK blocks, GPS entries,\n"
      "trigger markers and the end marker. The same seed always gives the same file.\n"
      "\n"
      "Options:\n"
      "  -o, --output FILE     the recording to write (required); never CONFIG.clc itself\n"
      "  --force               replace FILE when it exists, and write it also when its\n"
      "                        extension is that of another kind of file (.clc, .dbc, .cmd,\n"
      "                        .ini)\n"
      "  --duration S          recorded seconds (default 60)\n"
      "  --bus-load PCT        frame rate as percent of a 500 kbit/s bus, 100 = 4000 frames/s\n"
      "                        (default: the message write intervals of the configuration,\n"
      "                        100 ms where none is set)\n"
      "  --seed N              random seed (default 1)\n"
      "  --start DATE          start as \"YYYY-MM-DD hh:mm:ss\" (default 2026-05-04 08:00:00)\n"
      "  --fifo-size KB        circular file limited to KB kilobytes; the oldest data is\n"
      "                        overwritten and \"eof\" follows the newest entry\n"
      "                        (default: FifoMode and FileSizeLimit of the configuration)\n"
      "  --linear              a linear file even when the configuration asks for a circular one\n"
      "  --password P          protect the header with this password (scrambled lines)\n"
      "  --no-binary-header    leave out the 512-byte binary header\n"
      "  --gps, --no-gps       write GPS entries or not (default: ReceiveGps of the "
      "configuration)\n"
      "  --fault NAME          inject a defect; may be given several times:\n"
      "      wrap24            the tick counter starts half a second before a 24-bit wrap\n"
      "      lost-carry        one CAN frame loses the carry from bit 15 to bit 16\n"
      "      counter-restart   the logger restarts mid-recording (counter from ~0, 45 s gap)\n"
      "      bad-rtc           the real-time clock reads 1999-12-31 (GPS keeps the true date)\n"
      "      dummy-blocks      a few runs of all-zero filler slots\n"
      "      truncated         power lost at the end: no \"eof\", the last entry cut short\n"
      "      odd-entries       once, entries a converter reads over: unknown markers and data\n"
      "                        classes, other GPS and BULK kinds, a free-slot identifier,\n"
      "                        text and value-less BULK records\n"
      "  --manifest FILE       also write what was written (counts, times, faults, value\n"
      "                        ranges) as key=value lines\n"
      "  -v, --verbose         print the summary to stderr\n"
      "  -q, --quiet           print only errors and warnings\n"
      "  -h, --help            this text\n"
      "\n"
      "Exit status: 0 success, 1 failure, 2 wrong command line.\n",
      stdout);
}

bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = StrtodC(text.c_str(), &end);
  return errno == 0 && end && *end == '\0';
}

bool ParseUnsigned(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

bool ParseStart(const std::string& text, int64_t& out) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  if (y < 1970 || y > 2105 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || s < 0 || s > 59) {
    return false;
  }
  out = sim::SecondsFromCivil(y, mo, d, h, mi, s);
  return true;
}

bool ApplyFault(const std::string& name, SimulatorFaults& f) {
  if (name == "wrap24")
    f.wrap24 = true;
  else if (name == "lost-carry")
    f.lost_carry = true;
  else if (name == "counter-restart")
    f.counter_restart = true;
  else if (name == "bad-rtc")
    f.bad_rtc_date = true;
  else if (name == "dummy-blocks")
    f.dummy_blocks = true;
  else if (name == "truncated")
    f.truncated_end = true;
  else if (name == "odd-entries")
    f.odd_entries = true;
  else
    return false;
  return true;
}

}  // namespace

int RunSimulate(const Args& args) {
  std::string config_path;
  std::string output;
  std::string manifest;
  bool verbose = false;
  bool force = false;
  SimulatorOptions opt;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        PrintError("option " + a + " needs a value");
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      PrintSimulateHelp();
      return kExitOk;
    } else if (a == "-o" || a == "--output") {
      if (!value(output)) return kExitUsage;
    } else if (a == "--duration") {
      if (!value(v)) return kExitUsage;
      if (!ParseNumber(v, opt.duration_s) || !(opt.duration_s > 0.0) || opt.duration_s > 1e7) {
        PrintError("--duration needs a number of seconds above 0 and at most 10000000");
        return kExitUsage;
      }
    } else if (a == "--bus-load") {
      if (!value(v)) return kExitUsage;
      if (!ParseNumber(v, opt.bus_load_percent) || !(opt.bus_load_percent > 0.0) ||
          opt.bus_load_percent > 100000.0) {
        PrintError("--bus-load needs a percentage above 0 and at most 100000");
        return kExitUsage;
      }
    } else if (a == "--seed") {
      if (!value(v)) return kExitUsage;
      if (!ParseUnsigned(v, opt.seed)) {
        PrintError("--seed needs an unsigned integer");
        return kExitUsage;
      }
    } else if (a == "--start") {
      if (!value(v)) return kExitUsage;
      if (!ParseStart(v, opt.start_date)) {
        PrintError("--start needs a date and time \"YYYY-MM-DD hh:mm:ss\" from 1970 to 2105");
        return kExitUsage;
      }
    } else if (a == "--fifo-size") {
      if (!value(v)) return kExitUsage;
      uint64_t kb = 0;
      if (!ParseUnsigned(v, kb) || kb == 0 || kb > 4u * 1024 * 1024) {
        PrintError("--fifo-size needs a size in KB from 1 to 4194304");
        return kExitUsage;
      }
      opt.fifo_size_kb = static_cast<int64_t>(kb);
    } else if (a == "--linear") {
      opt.fifo_size_kb = 0;
    } else if (a == "--password") {
      if (!value(v)) return kExitUsage;
      opt.password = v;
    } else if (a == "--no-binary-header") {
      opt.binary_header = false;
    } else if (a == "--gps") {
      opt.gps = true;
    } else if (a == "--no-gps") {
      opt.gps = false;
    } else if (a == "--fault") {
      if (!value(v)) return kExitUsage;
      if (!ApplyFault(v, opt.faults)) {
        PrintError("unknown fault \"" + v +
                   "\" (wrap24, lost-carry, counter-restart, bad-rtc, dummy-blocks, truncated, "
                   "odd-entries)");
        return kExitUsage;
      }
    } else if (a == "--force") {
      force = true;
    } else if (a == "--manifest") {
      if (!value(manifest)) return kExitUsage;
    } else if (a == "-v" || a == "--verbose") {
      verbose = true;
    } else if (IsQuietOption(a)) {
      SetQuiet(true);
    } else if (!a.empty() && a[0] == '-') {
      PrintError("unknown option " + a + " (see 'tessmar-cli simulate --help')");
      return kExitUsage;
    } else if (config_path.empty()) {
      config_path = a;
    } else {
      PrintError("more than one configuration file given: " + a);
      return kExitUsage;
    }
  }
  if (config_path.empty() || output.empty()) {
    PrintError(
        "simulate needs a configuration file and -o FILE.cld (see 'tessmar-cli simulate --help')");
    return kExitUsage;
  }

  if (!CheckOutputFile(output, OutputKind::kRecording, {config_path}, force)) return kExitUsage;
  // An existing file may be a real recording: it is replaced only when asked to.
  std::error_code exists_error;
  if (!force && std::filesystem::exists(output, exists_error)) {
    PrintError("-o " + output + " exists; use --force to replace it");
    return kExitUsage;
  }

  InstallConsoleMessages(verbose);
  LoggerConfiguration config;
  std::string error;
  if (!ReadClcFile(config_path, config, &error)) {
    PrintError(error.empty() ? "cannot read " + config_path : error);
    return kExitFailure;
  }
  const SimulationResult result = SimulateRecording(config, opt, output);
  if (!result.ok) return kExitFailure;  // the simulator reported the reason
  if (!manifest.empty()) {
    const std::string text = FormatSimulationManifest(result);
    std::FILE* f = std::fopen(manifest.c_str(), "wb");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && std::fclose(f) != 0) {
      PrintError("cannot write " + manifest);
      return kExitFailure;
    }
    if (!ok) {
      PrintError("cannot write " + manifest);
      return kExitFailure;
    }
  }
  if (verbose) {
    std::fprintf(stderr,
                 "Wrote %s: %llu bytes, %llu entries (%llu CAN frames, %llu time entries, %llu GPS "
                 "fixes)%s\n",
                 output.c_str(), static_cast<unsigned long long>(result.file_size),
                 static_cast<unsigned long long>(result.entries_in_file),
                 static_cast<unsigned long long>(result.can_frames),
                 static_cast<unsigned long long>(result.time_entries),
                 static_cast<unsigned long long>(result.gps_fixes),
                 result.wrapped ? ", circular file wrapped" : "");
  }
  return kExitOk;
}

}  // namespace tessmar::cli
