#pragma once
// Interop tests compare with outside tools (python3-can, canmatrix, gpsbabel). On a developer's
// machine a missing tool skips the test; under CI=true the install script has provided every
// tool, so a missing one means the comparison silently stopped happening and fails the test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace tessmar::testing_util {

inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

}  // namespace tessmar::testing_util

// Ends the current test for a missing tool: a skip, or a failure under CI=true.
#define TESSMAR_MISSING_TOOL(what)                                                \
  do {                                                                            \
    if (::tessmar::testing_util::RunningInCi()) FAIL() << (what) << " (CI=true)"; \
    GTEST_SKIP() << (what);                                                       \
  } while (0)
