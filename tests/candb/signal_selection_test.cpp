// Selecting table rows for logging: recent files, row conversion, adding, marking, removing,
// moving, erasing and the signal info.

#include "candb/signal_selection.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "candb/named_databases.h"
#include "candb/signal_views.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "tests/candb/candb_test_util.h"

namespace tessmar {
namespace {

using testing_util::DbcFile;

SignalTableRow Row(const char* sig, const char* bus, const char* id, const char* node,
                   const char* msg, const char* mapping = "0,8,I", const char* mux = "") {
  SignalTableRow r{};
  r[kColSigName] = sig;
  r[kColBusNr] = bus;
  r[kColId] = id;
  r[kColNodeName] = node;
  r[kColMsgName] = msg;
  r[kColType] = "UNSIGNED";
  r[kColUnit] = "km/h_long_unit";
  r[kColFactor] = "0.5";
  r[kColOffset] = "-10";
  r[kColMinValue] = "-3.5";
  r[kColMaxValue] = "250";
  r[kColMapping] = mapping;
  r[kColMultiplexor] = mux;
  r[kColRowStatus] = "0";
  return r;
}

class AnswerWith {
 public:
  explicit AnswerWith(Answer a) {
    previous_ = SetQuestionHandler([this, a](const Question& q) {
      ++asked;
      last = q;
      return a;
    });
  }
  ~AnswerWith() { SetQuestionHandler(previous_); }
  int asked = 0;
  Question last;

 private:
  QuestionHandler previous_;
};

// ---- Recent files -------------------------------------------------------------------------------

TEST(RecentCandbFiles, SameFileKeepsItsEntryNinthPushesOutOldest) {
  RecentCandbFiles recent;
  recent.Enter("C:/db/a.dbc", 1);
  recent.Enter("c:/DB/A.DBC", 1);
  EXPECT_FALSE(recent.Visible(1));
  recent.Enter("C:/db/a.dbc", 2);
  EXPECT_EQ(recent.entry(0).bus, 2);
  EXPECT_EQ(recent.entry(1).path, "C:/db/a.dbc");
  for (int i = 0; i < 7; ++i) recent.Enter("f" + std::to_string(i) + ".dbc", 1);
  EXPECT_EQ(recent.entry(7).path, "C:/db/a.dbc");
  EXPECT_EQ(recent.entry(7).bus, 2);  // the bus-1 entry was pushed out
  EXPECT_EQ(recent.Caption(0), "&0  f6.dbc (bus 1)");
  EXPECT_EQ(recent.Caption(7), "&7  C:/db/a.dbc (bus 2)");
  recent.Clear();
  EXPECT_FALSE(recent.Visible(0));
}

// ---- Row conversion -----------------------------------------------------------------------------

TEST(ConvertTableRow, IdentifierWordMappingAndMultiplexor) {
  SignalTable t;
  t.AppendRow(Row("A", "2", "0x00000123,1", "N", "M", "20,12,M", "3,0,4,I"));
  t.AppendRow(Row("B", "3", "0x00000123,0", "N", "M", "0,8,I", "MUX_SIGNAL"));
  t.SetCell(3, kColMinValue, "-3.4e+38");
  t.SetCell(3, kColMaxValue, " 1e-05");
  t.SetCell(3, kColFactor, "0x10");
  t.AppendRow(Row("C", "1", "0x40000000,1", "N", "M", "0,8,I", "MUXER invalid ?!?"));
  T_CanLog_SigDef s;
  T_CanLog_MsgDef m;
  ASSERT_TRUE(ConvertTableRow(t, 2, s, m));
  EXPECT_EQ(s.id, 0x60000123u);
  EXPECT_EQ(m.id, 0x60000123u);
  EXPECT_STREQ(m.nn, "N");
  EXPECT_STREQ(s.sn, "A");
  EXPECT_EQ(s.ty, 'U');
  EXPECT_STREQ(s.un, "km/h_lon");  // units are cut to 8 characters
  EXPECT_DOUBLE_EQ(s.fa, 0.5);
  EXPECT_DOUBLE_EQ(s.of, -10.0);
  EXPECT_DOUBLE_EQ(s.mi, -3.5);
  EXPECT_DOUBLE_EQ(s.ma, 250.0);
  EXPECT_EQ(s.sb, 20);
  EXPECT_EQ(s.nb, 12);
  EXPECT_EQ(s.bo, 'M');
  EXPECT_EQ(s.mu.MuxVal, 3);
  EXPECT_EQ(s.mu.MuxStartBit, 0);
  EXPECT_EQ(s.mu.MuxBitCount, 4);
  EXPECT_EQ(s.mu.MuxByteOrder, 'I');

  ASSERT_TRUE(ConvertTableRow(t, 3, s, m));
  EXPECT_EQ(s.id, 0x80000123u);
  EXPECT_DOUBLE_EQ(s.mi, -3.4e38);  // limits keep their exponent
  EXPECT_DOUBLE_EQ(s.ma, 1e-05);
  EXPECT_DOUBLE_EQ(s.fa, 16.0);  // radix prefixes of the number reader
  EXPECT_FALSE(s.multiplexed());
  EXPECT_EQ(s.mu.MuxByteOrder, 'M');
  ASSERT_TRUE(ConvertTableRow(t, 4, s, m));
  EXPECT_EQ(s.id, 0x20000000u);  // bits above 28 of the cell never become bus bits
  EXPECT_FALSE(s.multiplexed());
  EXPECT_FALSE(ConvertTableRow(t, 0, s, m));
  EXPECT_FALSE(ConvertTableRow(t, 99, s, m));

  // Bit numbers beyond the 16-bit fields stay out of range instead of wrapping to real positions
  // (65544 would wrap to 8, -65528 to 8).
  t.AppendRow(Row("D", "1", "0x00000001,0", "N", "M", "65544,65544,I", "1,-65528,65540,M"));
  ASSERT_TRUE(ConvertTableRow(t, 5, s, m));
  EXPECT_EQ(s.sb, 32767);
  EXPECT_EQ(s.nb, 32767);
  EXPECT_EQ(s.mu.MuxStartBit, -32768);
  EXPECT_EQ(s.mu.MuxBitCount, 32767);
}

// ---- Adding and removing ------------------------------------------------------------------------

class LoggedSignalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.AppendRow(Row("Speed", "1", "0x00000100,0", "ECU", "Engine"));  // 2
    table.AppendRow(Row("Temp", "1", "0x00000100,0", "ECU", "Engine"));   // 3
    table.AppendRow(Row("Speed", "2", "0x00000200,1", "GW", "Body"));     // 4
    table.AppendRow(Row("Door", "2", "0x00000200,1", "GW", "Body"));      // 5
  }
  MessageCapture cap;
  SignalTable table;
  LoggerConfiguration config;
};

TEST_F(LoggedSignalsTest, AddLogsTheSignalAndItsMessage) {
  EXPECT_EQ(AddTableRow(config, table, 2), AddResult::kAdded);
  EXPECT_EQ(cap.entries().back().text,
            "Added signal+message \"Bus1.ECU.Engine.Speed\" to logger list");
  EXPECT_EQ(AddTableRow(config, table, 5), AddResult::kAdded);
  EXPECT_EQ(cap.entries().back().text, "Added signal+message \"Bus2.GW.Body.Door\" to logger list");
  EXPECT_TRUE(config.modified);
  EXPECT_EQ(CountUsedMessages(config.cfg), 2);
  EXPECT_EQ(LoggedSignalNames(config.sigs), (std::vector<std::string>{"Speed", "Door"}));
  EXPECT_EQ(AddTableRow(config, table, 1), AddResult::kRefused);  // the empty row
  EXPECT_EQ(AddTableRow(config, table, 0), AddResult::kRefused);

  MarkLoggedRows(table, config.sigs);
  EXPECT_EQ(table.cell(2, kColSt), "[*]");
  EXPECT_EQ(table.cell(3, kColSt), "");
  EXPECT_EQ(table.cell(4, kColSt), "");  // same name on bus 2 is another signal
  EXPECT_EQ(table.cell(5, kColSt), "[*]");
}

TEST_F(LoggedSignalsTest, NameAlreadyLoggedAsksAndBatchOverwrites) {
  AddTableRow(config, table, 2);
  {
    AnswerWith no(Answer::kNo);
    EXPECT_EQ(AddTableRow(config, table, 4), AddResult::kKept);
    EXPECT_EQ(no.last.caption, "PROBLEM");
    EXPECT_EQ(no.last.icon, Icon::kWarning);
    EXPECT_EQ(no.last.text,
              "A signal named \"Speed\"\r\nalready exists in the CAN LOGGER CONFIGURATION .\r\n"
              "Overwrite the existing signal definition ?\r\n  [YES]=overwrite, [NO]=leave the "
              "old signal as-is");
  }
  {
    ASSERT_TRUE(Language().SetLanguage(kLangGerman));
    AnswerWith no(Answer::kNo);
    EXPECT_EQ(AddTableRow(config, table, 4), AddResult::kKept);
    Language().Reset();
    EXPECT_EQ(no.last.text,
              "Ein Signal namens \"Speed\"\r\nist bereits in der Logger-Konfiguration definiert ."
              "\r\nDie bereits existierende Definition überschreiben ?\r\n  [Ja]=überschreiben, "
              "[Nein]=alte Definition nicht ändern");
  }
  {
    AnswerWith cancel(Answer::kCancel);
    EXPECT_EQ(AddTableRow(config, table, 4), AddResult::kCancelled);
    EXPECT_TRUE(EndsAddRun(AddResult::kCancelled));
  }
  EXPECT_EQ(config.sigs[0].id, 0x100u);
  SetBatchMode(true);
  EXPECT_EQ(AddTableRow(config, table, 4), AddResult::kOverwritten);
  SetBatchMode(false);
  EXPECT_EQ(config.sigs[0].id, 0x60000200u);
  EXPECT_EQ(CountUsedMessages(config.cfg), 2);
}

TEST_F(LoggedSignalsTest, MessageTableFullRefusesOnlyNewMessages) {
  AddTableRow(config, table, 2);
  for (int i = 1; i < MAX_LOGGED_MESSAGES; ++i) {
    T_CanLog_MsgDef m;
    m.id = 0x700u + static_cast<uint32_t>(i);
    ASSERT_TRUE(StoreMessageDefinition(config.cfg, m));
  }
  ASSERT_EQ(CountUsedMessages(config.cfg), 256);
  EXPECT_EQ(AddTableRow(config, table, 3), AddResult::kAdded);  // message already logged
  SetBatchMode(true);
  cap.Clear();
  EXPECT_EQ(AddTableRow(config, table, 5), AddResult::kRefused);
  SetBatchMode(false);
  EXPECT_EQ(
      cap.entries().back().text,
      "Adding the signal \"Door\"\r\nwould exceed the maximum number\r\nof logged MESSAGES or "
      "CAN-IDs (256) !");
}

TEST_F(LoggedSignalsTest, OverwriteWithANewMessageNeedsRoomInTheFullMessageTable) {
  AddTableRow(config, table, 2);  // Speed of 0x100
  for (int i = 1; i < MAX_LOGGED_MESSAGES; ++i) {
    T_CanLog_MsgDef m;
    m.id = 0x700u + static_cast<uint32_t>(i);
    ASSERT_TRUE(StoreMessageDefinition(config.cfg, m));
  }
  SetBatchMode(true);
  cap.Clear();
  // Speed of bus 2 belongs to 0x60000200, which has no message slot and finds no free one.
  EXPECT_EQ(AddTableRow(config, table, 4), AddResult::kRefused);
  SetBatchMode(false);
  EXPECT_TRUE(EndsAddRun(AddResult::kRefused));
  EXPECT_EQ(
      cap.entries().back().text,
      "Adding the signal \"Speed\"\r\nwould exceed the maximum number\r\nof logged MESSAGES or "
      "CAN-IDs (256) !");
  EXPECT_EQ(config.sigs[0].id, 0x100u);  // the logged signal stays as it was
  // Overwriting within a logged message still works with the table full.
  table.AppendRow(Row("Speed", "1", "0x00000100,0", "ECU", "Engine", "8,8,M"));
  const int r = table.row_count() - 1;
  AnswerWith yes(Answer::kYes);
  EXPECT_EQ(AddTableRow(config, table, r), AddResult::kOverwritten);
  EXPECT_EQ(config.sigs[0].sb, 8);
}

TEST_F(LoggedSignalsTest, SignalTableFullRefuses) {
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    SetText(config.sigs[static_cast<std::size_t>(i)].sn, "S" + std::to_string(i));
    config.sigs[static_cast<std::size_t>(i)].id = 0x100;
  }
  EXPECT_EQ(AddTableRow(config, table, 3), AddResult::kRefused);
}

TEST_F(LoggedSignalsTest, RemoveMoveAndEraseAll) {
  AddTableRow(config, table, 2);
  AddTableRow(config, table, 3);
  AddTableRow(config, table, 5);
  EXPECT_EQ(MoveLoggedSignal(config, "Door", true, 2, 3), 1);
  EXPECT_EQ(LoggedSignalNames(config.sigs), (std::vector<std::string>{"Speed", "Door", "Temp"}));
  EXPECT_EQ(MoveLoggedSignal(config, "Temp", false, 2, 3), -1);  // last entry stays
  EXPECT_EQ(MoveLoggedSignal(config, "Speed", true, 0, 3), -1);

  cap.Clear();
  ASSERT_TRUE(RemoveLoggedSignal(config, "Speed"));
  ASSERT_EQ(cap.entries().size(), 1u);  // Temp still uses the message
  EXPECT_EQ(cap.entries()[0].text, "Removed signal \"Bus1.ECU.Engine.Speed\" from logger list");
  cap.Clear();
  ASSERT_TRUE(RemoveLoggedSignal(config, "Door"));
  ASSERT_EQ(cap.entries().size(), 2u);
  EXPECT_EQ(cap.entries()[1].text, "Removed message \"Bus2.GW.Body\" from logger list");
  EXPECT_EQ(CountUsedMessages(config.cfg), 1);
  EXPECT_EQ(config.cfg.Msg[0].id, 0x100u);
  EXPECT_EQ(LoggedSignalNames(config.sigs), (std::vector<std::string>{"Temp"}));
  EXPECT_FALSE(RemoveLoggedSignal(config, "Nope"));

  EraseAllLoggedSignals(config);
  EXPECT_TRUE(LoggedSignalNames(config.sigs).empty());
  EXPECT_EQ(CountUsedMessages(config.cfg), 0);
}

TEST_F(LoggedSignalsTest, SignalInfoLinesAndButtons) {
  table.AppendRow(Row("Mux", "2", "0x00000123,0", "GW", "Sw", "8,8,I", "3,0,4,I"));  // 6
  table.SetCell(6, kColUnit, "");
  AddTableRow(config, table, 2);
  AddTableRow(config, table, 6);
  SignalInfo info = ShowSignalInfo(config, 1);
  EXPECT_EQ(info.lines,
            (std::vector<std::string>{"Mux", "id=0x40000123 (11bit,BUS2)", "node=\"GW\"",
                                      "msg=\"Sw\"", "mapping=(8,8,I,U)",
                                      "MuxVal=#3, MuxMap=(0,4,I)", "factor=0.5, offset=-10"}));
  EXPECT_TRUE(info.remove_enabled);
  EXPECT_TRUE(info.up_enabled);
  EXPECT_FALSE(info.down_enabled);
  info = ShowSignalInfo(config, 0);
  EXPECT_EQ(info.lines[1], "id=0x00000100 (11bit)");
  EXPECT_EQ(info.lines.back(), "unit=\"km/h_lon\", factor=0.5, offset=-10");
  EXPECT_FALSE(info.up_enabled);
  EXPECT_TRUE(info.down_enabled);
  EXPECT_TRUE(ShowSignalInfo(config, 5).lines.empty());
  EXPECT_EQ(SignalListInfoCaption(), "Info: max logged signals = 256 (total)  in 256 messages .");
  EXPECT_EQ(SignalListInfoCaption(0), "Info: max logged signals = 140 (total)  in 48 messages .");

  const auto layout = LayoutForTableRow(table, 3);
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(layout->signals.size(), 2u);
  EXPECT_EQ(layout->selected, 1);
  EXPECT_STREQ(layout->message.mn, "Engine");
  const auto logged = LayoutForLoggedSignal(config, "Mux");
  ASSERT_TRUE(logged.has_value());
  EXPECT_EQ(logged->signals.size(), 1u);
  EXPECT_EQ(logged->message.id, 0x40000123u);
}

// ---- Loading for a bus --------------------------------------------------------------------------

TEST(CandbImport, LoadFileUpdatesPathsRecentListAndMarks) {
  MessageCapture cap;
  LoggerConfiguration config;
  SignalTable table;
  CandbImport import;
  EXPECT_EQ(import.last_path(), "test.dbc");
  EXPECT_EQ(import.LoadFile(config, table, "/no/such.dbc", 1), -1);
  EXPECT_EQ(cap.entries().back().text, "File not found: \"/no/such.dbc\" .");
  EXPECT_FALSE(import.recent().Visible(0));
  EXPECT_EQ(import.last_path(), "test.dbc");
  // Random bytes are no CAN database: refused as the command line refuses them, not remembered.
  DbcFile noise(std::string("\x8f\x02\xe1 binary \x7f\x01 noise", 20));
  EXPECT_EQ(import.LoadFile(config, table, noise.path(), 1), -1);
  EXPECT_EQ(cap.entries().back().text,
            "\"" + noise.path() + "\" is not a CAN database: it holds no DBC statement.");
  EXPECT_FALSE(import.recent().Visible(0));
  EXPECT_EQ(import.last_path(), "test.dbc");

  DbcFile f("BU_: N\nBO_ 5 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n");
  SetText(config.sigs[0].sn, "S");
  config.sigs[0].id = 5;
  EXPECT_EQ(import.LoadFile(config, table, f.path(), 2), 1);
  EXPECT_EQ(cap.entries().back().text,
            "Loaded CAN database \"" + f.path() + "\" for bus #2, 1 signals.");
  EXPECT_TRUE(config.modified);
  EXPECT_EQ(TextOf(config.cfg.DbFileBus2), f.path().substr(0, 80));
  EXPECT_EQ(import.recent().entry(0).bus, 2);
  EXPECT_EQ(import.last_path(), f.path());
  EXPECT_EQ(table.cell(1, kColSt), "");  // logged on bus 1, loaded for bus 2
  config.modified = false;
  EXPECT_EQ(import.LoadFile(config, table, f.path(), 1), 1);
  EXPECT_EQ(table.cell(2, kColSt), "[*]");
  SignalTree tree;
  SignalLists lists;
  EXPECT_TRUE(RebuildViews(table, config.sigs, tree, lists));
  EXPECT_EQ(lists.node_list().size(), 2u);  // N on bus 1 and N (2)
  EXPECT_EQ(import.DialogPreset(config.cfg, 1), TextOf(config.cfg.DbFileBus1));
  EXPECT_EQ(CandbImport::DialogTitle(2), "Import CANdb file for bus #2");
}

// ---- Databases named in a configuration ---------------------------------------------------------

// A relative name not found from the working folder is found beside the configuration; loading
// it leaves the name as written and the modified flag as it was. Nothing found: nothing asked.
TEST(NamedCanDatabases, FoundBesideTheConfigurationOfferedAndNamesKept) {
  DbcFile beside("BU_: N\n", "named_beside_cfg.dbc");
  const std::filesystem::path cfg_file =
      std::filesystem::path(beside.path()).parent_path() / "logger.clc";
  const std::string absolute = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc";
  auto config = std::make_unique<LoggerConfiguration>();
  SetText(config->cfg.DbFileBus1, "named_beside_cfg.dbc");
  SetText(config->cfg.DbFileBus2, absolute);
  std::vector<std::pair<std::string, int>> loaded;
  const auto load = [&](const std::string& path, int bus) {
    loaded.emplace_back(path, bus);
    // As an import does: the field takes the path, a changed field marks the configuration.
    auto& field = bus == 1 ? config->cfg.DbFileBus1 : config->cfg.DbFileBus2;
    if (TextOf(field) != path) config->modified = true;
    SetText(field, path);
  };
  {
    AnswerWith no(Answer::kNo);
    EXPECT_FALSE(OfferNamedCanDatabases(*config, cfg_file, load));
    EXPECT_TRUE(loaded.empty());
  }
  AnswerWith yes(Answer::kYes);
  EXPECT_TRUE(OfferNamedCanDatabases(*config, cfg_file, load));
  EXPECT_EQ(yes.last.caption, "Loaded Logger Config");
  EXPECT_EQ(yes.last.batch_answer, Answer::kYes);
  EXPECT_EQ(yes.last.text,
            "The loaded LOGGER CONFIGURATION FILE contains\r\nthe name(s) of CAN DATABASE FILES "
            "which were\r\nused to define some SIGNALS in this logger config:\r\n\r\n  \"" +
                beside.path() + "\"\r\n\r\n  \"" + absolute +
                "\"\r\n\nAlso load CAN DATABASE FILE(S) now ?");
  EXPECT_EQ(loaded, (std::vector<std::pair<std::string, int>>{{beside.path(), 1}, {absolute, 2}}));
  EXPECT_STREQ(config->cfg.DbFileBus1, "named_beside_cfg.dbc");
  EXPECT_FALSE(config->modified);

  SetText(config->cfg.DbFileBus1, "not_there.dbc");
  SetText(config->cfg.DbFileBus2, "");
  EXPECT_EQ(FindNamedCanDatabases(config->cfg, cfg_file), (std::array<std::string, 2>{}));
  EXPECT_FALSE(OfferNamedCanDatabases(*config, cfg_file, load));
  EXPECT_EQ(yes.asked, 1);
}

}  // namespace
}  // namespace tessmar
