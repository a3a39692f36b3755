#include "cli/cli_common.h"

#include <cstdio>

#include "common/message_output.h"

namespace tessmar::cli {
namespace {
int g_errors = 0;
int g_warnings = 0;
}  // namespace

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
    } else if (severity == kMsgStatus && !verbose) {
      return;
    }
    // Messages may carry CR LF line breaks meant for message boxes; print plain line ends.
    std::string line(prefix);
    for (char c : text) {
      if (c != '\r') line += c;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
  });
}

int ErrorCount() { return g_errors; }
int WarningCount() { return g_warnings; }

void PrintError(std::string_view text) {
  std::fprintf(stderr, "tessmar-cli: error: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace tessmar::cli
