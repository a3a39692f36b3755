#pragma once
// Checks of the values of configuration lines. The line parser takes what it can read and stores
// 0 for a value it cannot read, as a logger's own file demands; these checks name every value
// that cannot be used as given, so that a file read (clc_file.h) can report it with its line, and
// `clc edit` can refuse a line typed on the command line.

#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"
#include "config/clc_parser.h"

namespace tessmar {

// Problems with the values of one line (already understood by the parser) in the section
// `state` that was current before it: numbers that are not numbers, values outside what their
// field or option allows, slot and trigger-line numbers outside the tables, list items that are
// not understood, a signal in use without a name. Each text names the item, e.g.
// "FifoMode=7: 0 or 1 expected". Empty when every value can be used.
std::vector<std::string> CheckLineValues(ClcReadState state, std::string_view line);

// Trigger lines whose signal name is not the name of a logged signal of the configuration:
// "SigName3=Speedx: no logged signal has this name". Lines whose name is the same in `before`
// are left out (a name the file already had is the user's business).
std::vector<std::string> UnknownTriggerSignals(const LoggerConfiguration& config,
                                               const LoggerConfiguration& before);

}  // namespace tessmar
