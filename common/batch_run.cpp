#include "common/batch_run.h"

#include <string>

#include "common/message_output.h"

namespace tessmar {

void BatchRun::Begin() {
  active_ = true;
  SetBatchMode(true);
}

BatchRun::Action BatchRun::Step() {
  static const char* const kPhases[] = {"(initializing)", "(loading)", "(converting)", "(closing)"};
  std::string text = "BATCH MODE, Step " + std::to_string(step_) + "   ";
  if (step_ < 4) text += kPhases[step_];
  ShowMessage(kMsgStatus, text);
  const int step = step_++;
  if (step == 2) return Action::kConvert;
  return step >= 4 ? Action::kClose : Action::kNone;
}

void BatchRun::RecordConversion(bool refused, bool aborted, int errors) {
  failed_ = refused || aborted || errors > 0;
}

}  // namespace tessmar
