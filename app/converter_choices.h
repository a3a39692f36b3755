#pragma once
// The converter options as the user chose them and as the converter page shows them, free of any
// widget.
//
// The option check fixes fields for some formats and output types (separators, headlines, time
// columns, invalid value, output type). The page shows those fixed values greyed out, but the
// user's own values are kept, so that switching to another format and back shows them again.
// "graphic preview" is shown ticked only with Signals, and the write interval field shows the
// interval the conversion will use.

#include <string>

#include "convert/converter_options.h"

namespace tessmar {

class ConverterChoices {
 public:
  // Takes every field as chosen (settings file, command line, batch names) and shows it.
  void Set(const ConverterOptions& chosen, int message_rate_limit);
  // The controls after a user edit: each field that differs from what was shown becomes the
  // user's choice; the rest keeps what the user chose before. Shows the result.
  void Edit(const ConverterOptions& controls, int message_rate_limit);

  // What the user chose (stored in the settings file).
  const ConverterOptions& chosen() const { return chosen_; }
  // What the controls show, and what a conversion reads from them.
  const ConverterOptions& shown() const { return shown_; }
  // The check of the shown options (colours, greyed fields, the message box text).
  const OptionCheckResult& check() const { return check_; }
  // "graphic preview" can be ticked (Signals output only).
  bool graph_preview_enabled() const;

 private:
  void Show(int message_rate_limit);

  ConverterOptions chosen_;
  ConverterOptions shown_;
  OptionCheckResult check_;
};

// The interval beside its field in milliseconds or seconds ("= 0.1 ms", "= 10 ms", "= 2.5 s");
// empty for 0 (no interval: every message).
std::string IntervalInWords(double seconds);

}  // namespace tessmar
