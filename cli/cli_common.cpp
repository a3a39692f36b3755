#include "cli/cli_common.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/message_output.h"
#include "common/text_util.h"

namespace tessmar::cli {
namespace {
int g_errors = 0;
int g_warnings = 0;
bool g_quiet = false;
std::function<void(std::string_view)> g_sink;
}  // namespace

void SetQuiet(bool quiet) { g_quiet = quiet; }

void SetConsoleSink(std::function<void(std::string_view text)> sink) { g_sink = std::move(sink); }

void PrintUnexpected(const std::string& argument, std::string_view help_command) {
  const bool option = argument.size() > 1 && argument[0] == '-';
  PrintError(std::string(option ? "unknown option " : "unexpected argument ") + argument +
             " (see 'tessmar-cli " + std::string(help_command) + " --help')");
}

void InstallConsoleMessages(bool verbose) {
  g_errors = 0;
  g_warnings = 0;
  SetMessageHandler([verbose](int severity, std::string_view text) {
    const char* prefix = "";
    if (severity >= kMsgError) {
      prefix = "tessmar-cli: error: ";
      ++g_errors;
    } else if (severity >= kMsgWarning) {
      prefix = "tessmar-cli: warning: ";
      ++g_warnings;
    } else if (g_quiet || (severity == kMsgStatus && !verbose)) {
      return;
    }
    // The prefix is the label: a label of the text's own is dropped. Messages may carry CR LF
    // line breaks meant for message boxes; print plain line ends.
    std::string line(prefix);
    for (char c : *prefix != '\0' ? WithoutSeverityLabel(text) : text) {
      if (c != '\r') line += c;
    }
    line += '\n';
    if (g_sink) {
      g_sink(line);
    } else {
      std::fputs(line.c_str(), stderr);
    }
  });
}

namespace {

// The same file, also when named differently ("./a.clc", a link).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

}  // namespace

bool CheckOutputFile(const std::string& output, OutputKind kind,
                     const std::vector<std::string>& inputs, bool force) {
  for (const std::string& input : inputs) {
    if (!input.empty() && SameFile(output, input)) {
      PrintError("-o " + output + " would replace the input " + input + "; nothing written");
      return false;
    }
  }
  if (force) return true;
  static constexpr struct {
    std::string_view extension;
    const char* kind;
  } kKinds[] = {{".clc", "a logger configuration"},
                {".cld", "a recording"},
                {".dbc", "a CAN database"},
                {".cmd", "a command file"},
                {".ini", "a settings file"}};
  const std::string_view own = kind == OutputKind::kConfiguration ? ".clc" : ".cld";
  const std::string extension = LowerAscii(std::filesystem::path(output).extension().string());
  for (const auto& k : kKinds) {
    if (extension == k.extension && extension != own) {
      PrintError("-o " + output + ": a " + std::string(k.extension) + " file is " + k.kind +
                 ", not " +
                 (kind == OutputKind::kConfiguration ? "a logger configuration (.clc)"
                                                     : "a recording (.cld)") +
                 "; use --force to write it anyway");
      return false;
    }
  }
  return true;
}

int ErrorCount() { return g_errors; }
int WarningCount() { return g_warnings; }

void PrintError(std::string_view text) {
  std::fprintf(stderr, "tessmar-cli: error: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace tessmar::cli
