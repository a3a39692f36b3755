#include "app/status_line.h"

#include "common/message_output.h"

namespace tessmar {

bool StatusLine::Offer(int severity, std::string_view text, StatusOwner owner) {
  if (severity != kMsgStatus && severity < severity_) return false;
  text_.assign(text);
  severity_ = severity;
  owner_ = owner;
  return true;
}

bool StatusLine::ClearIfOwner(StatusOwner owner) {
  if (owner_ != owner) return false;
  text_.clear();
  severity_ = 0;
  owner_ = StatusOwner::kNone;
  return true;
}

}  // namespace tessmar
