// Fuzz target: a CAN database read from memory into the signal table for bus 1 or 2, every row
// taken into a logger configuration, and the configuration's file text made.

#include <algorithm>
#include <string_view>

#include "candb/candb.h"
#include "candb/dbc_reader.h"
#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "config/canlog_config.h"
#include "config/clc_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Quiet();
  CANdb db;
  const DbcReadResult read = DbcReader(db).ReadText(
      std::string_view(reinterpret_cast<const char*>(data), size), "input.dbc");
  if (read.status != 0 && read.status != -1) fuzz::Fail("read status other than 0 or -1");
  for (const DbcProblem& problem : read.problems) {
    if (problem.line < 1 || problem.text.empty()) fuzz::Fail("problem without line or text");
  }
  SignalTable table;
  const int bus = size % 2 == 0 ? 1 : 2;
  table.LoadDbc(db, bus, 0);
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 3);
  const int rows = std::min(table.data_row_count(), 400);
  for (int r = 1; r <= rows; ++r) {
    T_CanLog_SigDef sig;
    T_CanLog_MsgDef msg;
    ConvertTableRow(table, r, sig, msg);
    if (EndsAddRun(AddTableRow(config, table, r))) break;
  }
  MarkLoggedRows(table, config.sigs);
  (void)ClcFileText(config.cfg, config.sigs);
  return 0;
}
