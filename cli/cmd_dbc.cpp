#include "cli/cli_common.h"

namespace tessmar::cli {

int RunDbc(const Args& /*args*/) {
  PrintError("this command is not available yet");
  return kExitUsage;
}

}  // namespace tessmar::cli
