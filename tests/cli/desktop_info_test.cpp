// The desktop program's --help and --version: answered on standard output, with no display and
// without opening a window.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli_test_util.h"
#include "common/version.h"

namespace tessmar::testing {
namespace {

TEST(DesktopProgram, HelpAndVersionNeedNoDisplay) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  CliResult r = RunProgram(TESSMAR_APP_PATH, {"--version"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, std::string("tessmar ") + kVersion + "\n");
  r = RunProgram(TESSMAR_APP_PATH, {"--help"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Usage: tessmar [CONFIG.clc]", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("/bm"), std::string::npos);
}

}  // namespace
}  // namespace tessmar::testing
