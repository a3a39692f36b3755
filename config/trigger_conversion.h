#pragma once
// The trigger across changes of the configuration: which trigger lines use a signal, which
// trigger signals are not logged, and the trigger rewritten when the device family changes between
// the four-line trigger (family 0) and the ten-line grid (families 1 to 3).
//
// Both editors keep the trigger in the same fields but read them differently: grid line i is
// SigName[i], ActionOrCombi[i], CompOp[i], CompVal[i]; four-line line n holds comparisons 2n and
// 2n + 1 with ActionOrCombi[n] as inner combination. Taken over unchanged, a grid's STOP line
// would become comparison B of START line 1, so a family change rewrites the conditions instead.

#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"

namespace tessmar {

// Trigger lines (counted from 0) whose signal is the given name; only the lines the family's
// editor shows and uses.
std::vector<int> TriggerLinesUsing(const T_CanLog_Config& cfg, std::string_view name);

// Signals of used trigger lines that no used signal slot carries, each name once, in line order.
std::vector<std::string> UnloggedTriggerSignals(const T_CanLog_Config& cfg,
                                                const T_CanLog_SigTab& sigs);

// The trigger of cfg rewritten for another family.
struct TriggerConversion {
  // The two families read the trigger differently and it has a used line: the user is asked.
  bool needed = false;
  T_CanLog_Config converted;         // cfg with DeviceFamily and the trigger of the new family
  std::vector<std::string> kept;     // "START: Speed > 50 AND Speed < 120", "STOP: ..."
  std::vector<std::string> dropped;  // each comparison left out, with the reason
};
TriggerConversion ConvertTriggerForFamily(const T_CanLog_Config& cfg, uint32_t new_family);

// The question before such a change: what the new editor keeps and drops, and whether to go on.
std::string TriggerConversionQuestion(const TriggerConversion& conversion,
                                      std::string_view family_name);

}  // namespace tessmar
