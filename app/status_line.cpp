#include "app/status_line.h"

#include "common/message_output.h"

namespace tessmar {

bool StatusLine::Offer(int severity, std::string_view text, StatusOwner owner) {
  if (severity != kMsgStatus && severity < severity_) return false;
  text_.assign(text);
  severity_ = severity;
  owner_ = owner;
  red_ = false;
  return true;
}

void StatusLine::Place(std::string_view text, StatusOwner owner, bool red) {
  text_.assign(text);
  owner_ = owner;
  red_ = red;
}

bool StatusLine::ClearIfOwner(StatusOwner owner) {
  if (owner_ != owner) return false;
  text_.clear();
  severity_ = 0;
  owner_ = StatusOwner::kNone;
  red_ = false;
  return true;
}

}  // namespace tessmar
