// The main of every test program. It adopts the locale of the environment, as the desktop
// toolkit does for the whole program at start-up, so that a run under a decimal-comma locale
// shows every number that would follow the user's locale instead of staying with the period.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
