// The progress lines of tessmar-cli: messages go above them, lines come and go per file.

#include "cli/progress_board.h"

#include <gtest/gtest.h>

#include <string>

namespace tessmar::cli {
namespace {

constexpr const char* kUp = "\x1b[1A\x1b[2K";  // cursor up one line, clear it

TEST(ProgressBoard, MessagesGoAboveTheLinesOfTheRunningFiles) {
  std::string out;
  ProgressBoard board(true, [&](std::string_view text) { out += text; });
  board.Update("/a/LOG1.cld", "LOG1.cld", 0);
  board.Update("/b/LOG2.cld", "LOG2.cld", 50);
  const std::string line1 = "[                              ]   0% LOG1.cld\n";
  const std::string line2 = "[###############               ]  50% LOG2.cld\n";
  EXPECT_EQ(out, line1 + kUp + "\r" + line1 + line2);

  out.clear();
  board.Update("/b/LOG2.cld", "LOG2.cld", 50);  // unchanged: nothing drawn
  EXPECT_EQ(out, "");
  board.Print("Output: x.csv\n");
  EXPECT_EQ(out, std::string(kUp) + kUp + "\rOutput: x.csv\n" + line1 + line2);

  out.clear();
  board.Remove("/a/LOG1.cld");
  EXPECT_EQ(out, std::string(kUp) + kUp + "\r" + line2);
  out.clear();
  board.Clear();
  EXPECT_EQ(out, std::string(kUp) + "\r");
  out.clear();
  board.Print("done\n");
  EXPECT_EQ(out, "done\n");
}

TEST(ProgressBoard, LongNamesKeepTheirEndAndTheLineWidth) {
  std::string out;
  ProgressBoard board(true, [&](std::string_view text) { out += text; });
  const std::string name = std::string(100, 'x') + "LOG0001.cld";
  board.Update(name, name, 200);  // a percent beyond 100 shows 100
  ASSERT_EQ(out.back(), '\n');
  const std::string line = out.substr(0, out.size() - 1);
  EXPECT_EQ(line.size(), ProgressBoard::kLineWidth);
  EXPECT_TRUE(line.starts_with("[##############################] 100% ...x")) << line;
  EXPECT_TRUE(line.ends_with("LOG0001.cld"));
}

TEST(ProgressBoard, WithoutTerminalOnlyMessagesArePrinted) {
  std::string out;
  {
    ProgressBoard board(false, [&](std::string_view text) { out += text; });
    board.Update("a", "a", 10);
    board.Print("message\n");
    board.Remove("a");
  }
  EXPECT_EQ(out, "message\n");
}

}  // namespace
}  // namespace tessmar::cli
