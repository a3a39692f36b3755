#pragma once
// Progress lines of the running conversions on a terminal: one line per file being converted,
// kept below the messages. A message is printed above the lines (they are erased, the message
// is printed, they are drawn again), so messages and progress never mix on one line.
//
// Thread-safe: the conversion reports progress from its worker threads.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar::cli {

class ProgressBoard {
 public:
  // Where the terminal text goes (stderr in tessmar-cli).
  using Sink = std::function<void(std::string_view text)>;

  // Without `enabled` (not a terminal, --no-progress) only Print() writes anything.
  ProgressBoard(bool enabled, Sink sink);
  ~ProgressBoard();
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  // Shows the percent of a file (its line is added at the bottom when new). `key` tells files
  // apart, `name` is what the line shows.
  void Update(const std::string& key, std::string_view name, int percent);
  // Drops a file's line.
  void Remove(const std::string& key);
  // Prints a whole text (ending in a line feed) above the progress lines.
  void Print(std::string_view text);
  // Erases the progress lines.
  void Clear();

  // Width of a progress line: long names keep their end.
  static constexpr std::size_t kLineWidth = 79;

 private:
  struct Line {
    std::string key;
    std::string text;
  };
  std::string Erase();
  std::string Draw();

  const bool enabled_;
  const Sink sink_;
  std::mutex mutex_;
  std::vector<Line> lines_;
  std::size_t drawn_ = 0;  // lines on the terminal now
};

}  // namespace tessmar::cli
