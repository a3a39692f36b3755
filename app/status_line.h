#pragma once
// Status line rules of the main window, free of any widget.
//
// A text replaces the status line when it is a status-only text (severity 1) or when its severity
// is not lower than that of the text shown now; it then becomes the shown severity. The owner
// records who put the text there, so that a check clears the line only when it owns it.

#include <string>
#include <string_view>

namespace tessmar {

enum class StatusOwner { kNone, kGeneral, kTriggerCheck, kOptionConflict };

class StatusLine {
 public:
  // Offers a text; returns true when it replaced the status line.
  bool Offer(int severity, std::string_view text, StatusOwner owner = StatusOwner::kGeneral);

  // Shows a check's own text (the option conflict, the trigger check) without changing the shown
  // severity, so that the messages that follow replace it by the usual rule; red colours it.
  void Place(std::string_view text, StatusOwner owner, bool red);

  // Sets the shown severity back to 0 so that the next information text is shown.
  void ResetSeverity() { severity_ = 0; }

  // Empties the status line when the given owner put the current text there; returns whether it
  // did.
  bool ClearIfOwner(StatusOwner owner);

  const std::string& text() const { return text_; }
  int severity() const { return severity_; }
  StatusOwner owner() const { return owner_; }
  // True for a text placed in red; texts offered with a severity are coloured by that.
  bool red() const { return red_; }

 private:
  std::string text_;
  int severity_ = 0;
  bool red_ = false;
  StatusOwner owner_ = StatusOwner::kNone;
};

}  // namespace tessmar
