#include "cli/progress_board.h"

#include <algorithm>
#include <cstdio>

namespace tessmar::cli {
namespace {

constexpr int kBarWidth = 30;

// "[#########                     ]  30% LOG0001.cld", at most kLineWidth characters.
std::string LineText(std::string_view name, int percent) {
  percent = std::clamp(percent, 0, 100);
  std::string text = "[";
  const int filled = percent * kBarWidth / 100;
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  char number[16];
  std::snprintf(number, sizeof number, "] %3d%% ", percent);
  text += number;
  const std::size_t room = ProgressBoard::kLineWidth - text.size();
  if (name.size() > room) {
    text += "...";
    name = name.substr(name.size() - (room - 3));
  }
  text += name;
  return text;
}

}  // namespace

ProgressBoard::ProgressBoard(bool enabled, Sink sink) : enabled_(enabled), sink_(std::move(sink)) {}

ProgressBoard::~ProgressBoard() { Clear(); }

// Moves the cursor up over the drawn lines, clearing each; it ends at the start of the first.
std::string ProgressBoard::Erase() {
  std::string out;
  for (; drawn_ > 0; --drawn_) out += "\x1b[1A\x1b[2K";
  if (!out.empty()) out += '\r';
  return out;
}

std::string ProgressBoard::Draw() {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += '\n';
  }
  drawn_ = lines_.size();
  return out;
}

void ProgressBoard::Update(const std::string& key, std::string_view name, int percent) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = LineText(name, percent);
  auto it = std::find_if(lines_.begin(), lines_.end(), [&](const Line& l) { return l.key == key; });
  if (it == lines_.end()) {
    lines_.push_back({key, std::move(text)});
  } else if (it->text == text) {
    return;
  } else {
    it->text = std::move(text);
  }
  std::string out = Erase();
  out += Draw();
  sink_(out);
}

void ProgressBoard::Remove(const std::string& key) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(lines_.begin(), lines_.end(), [&](const Line& l) { return l.key == key; });
  if (it == lines_.end()) return;
  lines_.erase(it);
  std::string out = Erase();
  out += Draw();
  sink_(out);
}

void ProgressBoard::Print(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!enabled_ || drawn_ == 0) {
    sink_(text);
    return;
  }
  std::string out = Erase();
  out += text;
  out += Draw();
  sink_(out);
}

void ProgressBoard::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
  const std::string out = Erase();
  if (!out.empty()) sink_(out);
}

}  // namespace tessmar::cli
