#pragma once
// The unattended run of the desktop program ("/bm"), one step per tick of its timer: step 0
// initialising, 1 loading, 2 converting, 3 closing; from step 4 on the window closes.

namespace tessmar {

class BatchRun {
 public:
  enum class Action { kNone, kConvert, kClose };

  // Switches batch mode on (also for the message output and its questions).
  void Begin();
  bool active() const { return active_; }

  // Shows "BATCH MODE, Step n   (phase)" on the status line, moves to the next step and returns
  // what the window does in this one.
  Action Step();
  // The step the next Step() runs.
  int step() const { return step_; }

  // The outcome of the conversion step: a refusal, an abort or any error fails the run.
  void RecordConversion(bool refused, bool aborted, int errors);
  // Exit status of the program: 0 when its conversion (if any) went without error, else 1.
  int ExitCode() const { return failed_ ? 1 : 0; }

 private:
  bool active_ = false;
  int step_ = 0;
  bool failed_ = false;
};

}  // namespace tessmar
