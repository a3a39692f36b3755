// Signals of a CAN database that the logger cannot record as described: the warnings of the load
// and the refusal when such a signal is added to a logger configuration.

#include "candb/logging_check.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "common/message_output.h"
#include "tests/candb/candb_test_util.h"

namespace tessmar {
namespace {

const char* kGarbageDbc =
    "BU_: ECU GW\n"
    "BO_ 256 Body: 8 ECU\n"                                        // line 2
    " SG_ Good : 0|8@1+ (1,0) [0|0] \"\" GW\n"                     // 3
    " SG_ Past : 60|16@1+ (1,0) [0|0] \"\" GW\n"                   // 4
    "BO_ 257 Short: 2 ECU\n"                                       // 5
    " SG_ Third : 11|8@0+ (1,0) [0|0] \"\" GW\n"                   // 6: byte 1 into byte 2
    "BO_ 258 Same: 8 ECU\n"                                        // 7
    " SG_ A : 0|8@1+ (1,0) [0|0] \"\" GW\n"                        // 8
    "BO_ 2147483906 SameExt: 8 ECU\n"                              // 9: extended, no clash
    " SG_ B : 0|8@1+ (1,0) [0|0] \"\" GW\n"                        // 10
    "BO_ 258 Again: 8 GW\n"                                        // 11
    "BO_ 2348875518 Fd: 64 ECU\n"                                  // 12
    " SG_ Deep : 500|8@0+ (1,0) [0|0] \"\" GW\n"                   // 13
    "BO_ 300 Nested: 8 ECU\n"                                      // 14
    " SG_ Mode M : 0|4@1+ (1,0) [0|0] \"\" GW\n"                   // 15
    " SG_ Page m1M : 8|4@1+ (1,0) [0|0] \"\" GW\n"                 // 16
    " SG_ Inner m2 : 16|8@1+ (1,0) [0|0] \"\" GW\n"                // 17
    " SG_ Unsure m3 : 24|8@1+ (1,0) [0|0] \"\" GW\n"               // 18
    " SG_ Top m4 : 32|8@1+ (1,0) [0|0] \"\" GW\n"                  // 19
    "BO_ 301 Twin: 8 ECU\n"                                        // 20
    " SG_ SwA M : 0|4@1+ (1,0) [0|0] \"\" GW\n"                    // 21
    " SG_ SwB M : 4|4@1+ (1,0) [0|0] \"\" GW\n"                    // 22
    " SG_ OnB m1 : 8|8@1+ (1,0) [0|0] \"\" GW\n"                   // 23
    " SG_ Wrong m2 : 16|8@1+ (1,0) [0|0] \"\" GW\n"                // 24
    " SG_ Real : 24|16@1+ (1,0) [0|0] \"\" GW\n"                   // 25
    "BO_ 3221225472 VECTOR__INDEPENDENT_SIG_MSG: 0 Vector__XXX\n"  // 26
    " SG_ Loose : 0|8@1+ (1,0) [0|0] \"\" Vector__XXX\n"
    "SIG_VALTYPE_ 301 Real : 1;\n"
    "SG_MUL_VAL_ 300 Page Mode 1-1;\nSG_MUL_VAL_ 300 Inner Page 2-2;\n"
    "SG_MUL_VAL_ 300 Top Mode 4-4;\nSG_MUL_VAL_ 301 OnB SwB 1-1;\n"
    "SG_MUL_VAL_ 301 Wrong SwA 0-0, 3-5;\n";

std::string Warnings(const MessageCapture& cap) {
  std::string out;
  for (const auto& e : cap.entries()) {
    if (e.severity == kMsgWarning) out += e.text + "\n";
  }
  return out;
}

TEST(LoggingCheck, LoadWarnsWithTheLineOfEverySignalTheLoggerWouldRecordAsGarbage) {
  testing_util::DbcFile f(kGarbageDbc);
  MessageCapture cap;
  SignalTable table;
  ASSERT_EQ(table.LoadDbc(f.path(), 1, 0), 17);
  const std::string w = "CANdb-Import-Warning (line ";
  const std::string of = "\" of message \"";
  const std::string cannot = "\" cannot be logged: ";
  EXPECT_EQ(Warnings(cap),
            w + "4): Signal \"Past" + of + "Body" + cannot +
                "the signal does not fit into the 8 data bytes of the message\n" + w +
                "6): Signal \"Third" + of + "Short" + cannot +
                "the signal does not fit into the 2 data bytes of the message\n" + w +
                "7): Signals of message \"Same" + cannot +
                "the message has the identifier 0x102 of message \"Again\" (line 11) as well; "
                "the logger cannot tell their frames apart\n" +
                w + "13): Signal \"Deep" + of + "Fd" + cannot +
                "the signal lies beyond the first 8 data bytes of the message (DLC 64); the "
                "logger records 8\n" +
                w + "17): Signal \"Inner" + of + "Nested" + cannot +
                "the signal's multiplexer \"Page\" is multiplexed itself; the logger holds one "
                "multiplexer condition per signal\n" +
                w + "18): Signal \"Unsure" + of + "Nested" + cannot +
                "the signal is multiplexed, but the message has several multiplexers and no "
                "SG_MUL_VAL_ line names this signal's\n" +
                w + "24): Signal \"Wrong" + of + "Twin" + cannot +
                "the signal's multiplexer value 2 is not among the values its SG_MUL_VAL_ line "
                "gives\n" +
                w + "25): Signal \"Real" + of + "Twin" + cannot +
                "the signal is a 16-bit floating-point number; the logger reads 32-bit floats "
                "and 64-bit doubles\n" +
                w + "26): Signals of message \"VECTOR__INDEPENDENT_SIG_MSG" + cannot +
                "the message VECTOR__INDEPENDENT_SIG_MSG only collects signals that belong to no "
                "message\n");

  std::string loggable;
  for (int r = 1; r < table.row_count(); ++r) {
    if (table.logging_problem(r).empty()) loggable += table.cell(r, kColSigName) + " ";
  }
  EXPECT_EQ(loggable, "Good B Mode Page Top SwA SwB OnB ");
  // A signal of the second independent switch is tied to that switch, not to the first one.
  EXPECT_EQ(table.cell(table.FindRow(1, "", "", "OnB"), kColMultiplexor), "1,4,4,I");
  EXPECT_EQ(table.cell(table.FindRow(1, "", "", "Top"), kColMultiplexor), "4,0,4,I");
}

TEST(LoggingCheck, MappingMustLieInTheRecordedBytes) {
  // Start bits number the least significant bit, byte * 8 + bit, for both byte orders.
  EXPECT_EQ(MappingProblem(56, 8, false, 8) + MappingProblem(56, 64, true, 8), "");
  EXPECT_EQ(MappingProblem(8, 16, true, 2) + MappingProblem(0, 64, false, 12), "");
  for (const auto& [start, length, motorola, dlc] : {std::tuple{57, 8, false, 8},
                                                     {55, 64, true, 8},
                                                     {16, 1, false, 2},
                                                     {-1, 1, false, 8},
                                                     {0, 1, false, 0}}) {
    EXPECT_NE(MappingProblem(start, length, motorola, dlc), "") << start << "|" << length;
  }
  EXPECT_EQ(MappingProblem(0, 65, false, 8), "the signal has 65 bits; the logger records 1 to 64");
}

TEST(LoggingCheck, AddingARefusedRowLeavesTheConfigurationAsItWas) {
  testing_util::DbcFile f(kGarbageDbc);
  MessageCapture cap;
  SignalTable table;
  table.LoadDbc(f.path(), 2, 0);
  LoggerConfiguration config;
  NewConfigWithDefaults(config.cfg, config.sigs, 1);
  Question asked;
  const QuestionHandler previous = SetQuestionHandler([&asked](const Question& q) {
    asked = q;
    return Answer::kOk;
  });
  const int past = table.FindRow(2, "", "", "Past");
  EXPECT_EQ(AddTableRow(config, table, past), AddResult::kRefused);
  EXPECT_EQ(asked.caption + ": " + asked.text, "PROBLEM: " + table.logging_problem(past));
  SetQuestionHandler(previous);
  EXPECT_EQ(CountUsedSignals(config.sigs) + CountUsedMessages(config.cfg), 0);
  EXPECT_FALSE(config.modified);
  EXPECT_EQ(AddTableRow(config, table, table.FindRow(2, "", "", "Good")), AddResult::kAdded);
}

}  // namespace
}  // namespace tessmar
