#include "config/canlog_config.h"

#include <gtest/gtest.h>

#include <memory>

namespace tessmar {
namespace {

// ---- Records and defaults ----------------------------------------------------------------------

TEST(CanLogConfig, NewWithDefaultsAndKeepingOptions) {
  auto c = std::make_unique<LoggerConfiguration>();
  c->cfg.ReceiveAll = 1;
  c->cfg.Msg[7].id = 0x123;
  c->sigs[3].id = 0x123;
  c->cfg.Exp[2].ex[0] = 'x';
  SetText(c->cfg.InfoString, "info");

  NewConfigKeepingOptions(c->cfg, c->sigs, 2);
  EXPECT_EQ(c->cfg.DeviceFamily, 2u);
  EXPECT_EQ(c->cfg.ReceiveAll, 1);
  EXPECT_EQ(TextOf(c->cfg.InfoString), "info");
  EXPECT_EQ(CountUsedMessages(c->cfg), 0);
  EXPECT_EQ(CountUsedSignals(c->sigs), 0);
  EXPECT_FALSE(c->cfg.Exp[2].used());

  NewConfigWithDefaults(c->cfg, c->sigs, 1);
  const T_CanLog_Config& d = c->cfg;
  EXPECT_EQ(d.DeviceFamily, 1u);
  EXPECT_EQ(d.ReceiveAll, 0);
  EXPECT_EQ(TextOf(d.InfoString), "");
  EXPECT_EQ(d.TimestampFreq, 39065.5);
  EXPECT_EQ(d.InitTrigger, 1);
  EXPECT_EQ(d.Pretrig10ms, 100);
  EXPECT_EQ(d.Posttrig10ms, 100);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(d.CompOp[2 * k], 1);
    EXPECT_EQ(d.CompOp[2 * k + 1], 3);
    EXPECT_EQ(d.ActionOrCombi[k], 2);
  }
  EXPECT_EQ(d.OuterCombi[0], 2);
  EXPECT_EQ(d.OuterCombi[1], 2);
  // Cleared records.
  EXPECT_EQ(d.Msg[255].id, kCanIdFree);
  const T_CanLog_SigDef& s = c->sigs[255];
  EXPECT_EQ(s.ty, 'S');
  EXPECT_EQ(s.bo, 'M');
  EXPECT_EQ(s.fa, 1.0);
  EXPECT_EQ(s.id, kCanIdFree);
  EXPECT_FALSE(s.multiplexed());
}

TEST(CanLogConfig, IdentifierWordDisplay) {
  const uint32_t id = 0x123 | kCanIdExtended | kCanIdBus2;
  EXPECT_EQ(id, 0x60000123u);
  EXPECT_EQ(FormatCanId(id), "0x00000123");
  EXPECT_EQ(FormatCanId(0x7FF), "0x7FF");
  EXPECT_EQ(FormatCanId(0x5), "0x005");
  EXPECT_EQ(CanIdBus(id), 2);
  EXPECT_EQ(CanIdBus(0x80000005u), 3);
  EXPECT_EQ(CanIdBus(0x5), 1);
}

TEST(CanLogConfig, TextFieldsAreCutSilently) {
  T_CanLog_SigDef s;
  SetText(s.un, "kilometres per hour");
  EXPECT_EQ(TextOf(s.un), "kilometr");
  SetText(s.sn, std::string(100, 'n'));
  EXPECT_EQ(TextOf(s.sn).size(), kMaxNameChars);
  T_CanLog_Config c;
  SetText(c.DbFileBus1, std::string(200, 'p'));
  EXPECT_EQ(TextOf(c.DbFileBus1).size(), kMaxDbPathChars);
}

// ---- Table operations --------------------------------------------------------------------------

TEST(CanLogConfig, StoreMessageOverwritesSameIdElseFirstFreeSlot) {
  auto c = std::make_unique<T_CanLog_Config>();
  T_CanLog_MsgDef m;
  m.id = 0x100;
  SetText(m.mn, "First");
  c->Msg[0].id = 0x50;
  ASSERT_TRUE(StoreMessageDefinition(*c, m));
  EXPECT_EQ(c->Msg[1].id, 0x100u);
  SetText(m.mn, "Second");
  ASSERT_TRUE(StoreMessageDefinition(*c, m));
  EXPECT_EQ(TextOf(c->Msg[1].mn), "Second");
  EXPECT_EQ(CountUsedMessages(*c), 2);
  for (uint32_t i = 0; i < MAX_LOGGED_MESSAGES; ++i) c->Msg[i].id = 0x200 + i;
  m.id = 0x999;
  EXPECT_FALSE(StoreMessageDefinition(*c, m));
  m.id = 0x205;
  EXPECT_TRUE(StoreMessageDefinition(*c, m));  // same id still replaces
}

TEST(CanLogConfig, FindSignalAndNamesOfItsMessage) {
  auto c = std::make_unique<LoggerConfiguration>();
  SetText(c->sigs[4].sn, "Speed");
  c->sigs[4].id = 0x123;
  EXPECT_EQ(FindSignalByName(c->sigs, "Speed"), 4);
  EXPECT_EQ(FindSignalByName(c->sigs, "speed"), -1);  // case-sensitive
  EXPECT_EQ(FindSignalByName(c->sigs, ""), 0);        // free slots have the empty name
  EXPECT_EQ(NodeNameOfSignal(c->cfg, c->sigs[4]), "<UnknownNodeName>");
  EXPECT_EQ(MessageNameOfSignal(c->cfg, c->sigs[4]), "<UnknownMessageName>");
  c->cfg.Msg[9].id = 0x123;
  SetText(c->cfg.Msg[9].nn, "ECU");
  SetText(c->cfg.Msg[9].mn, "Motor");
  EXPECT_EQ(NodeNameOfSignal(c->cfg, c->sigs[4]), "ECU");
  EXPECT_EQ(MessageNameOfSignal(c->cfg, c->sigs[4]), "Motor");
}

TEST(CanLogConfig, MappingDisplay) {
  T_CanLog_SigDef s;
  s.sb = 8;
  s.nb = 16;
  s.bo = 'I';
  s.ty = 'U';
  s.mu = {4, 0, 'M', -3};
  EXPECT_EQ(FormatMapping(s), "mapping=(8,16,I,U)");
  EXPECT_EQ(FormatMuxCondition(s), "MuxVal=#-3, MuxMap=(0,4,M)");
}

// ---- Families and option page rules ------------------------------------------------------------

TEST(CanLogConfig, FamilyLimits) {
  EXPECT_STREQ(FamilyLimits(0).name, "Kavrix I (with C167 CPU)");
  EXPECT_EQ(FamilyLimits(0).max_signals, 140);
  EXPECT_EQ(FamilyLimits(0).max_messages, 48);
  EXPECT_EQ(FamilyLimits(0).max_trigger_signals, 4);
  EXPECT_EQ(FamilyLimits(3).max_messages, 128);
  EXPECT_EQ(FamilyLimits(3).trigger_editor, TriggerEditor::kGrid);
  EXPECT_STREQ(FamilyLimits(4).name, " unknown / future device");
  EXPECT_EQ(&FamilyLimits(kDeviceFamilyNone), &FamilyLimits(77));
  EXPECT_EQ(FamilyLimits(kDeviceFamilyNone).max_messages, 256);

  // Family 0 with 49 used messages exceeds its limit but keeps them all.
  auto c = std::make_unique<LoggerConfiguration>();
  for (uint32_t i = 0; i < 48; ++i) c->cfg.Msg[i].id = i;
  EXPECT_FALSE(ExceedsFamilyLimits(c->cfg, c->sigs));
  c->cfg.Msg[48].id = 48;
  EXPECT_TRUE(ExceedsFamilyLimits(c->cfg, c->sigs));
  EXPECT_EQ(CountUsedMessages(c->cfg), 49);
}

TEST(CanLogConfig, TriggerSecondsTo10msUnits) {
  EXPECT_EQ(TriggerSecondsTo10ms(400), 32767);
  EXPECT_EQ(TriggerSecondsTo10ms(-1), 0);
  EXPECT_EQ(TriggerSecondsTo10ms(0.5), 50);
  EXPECT_EQ(TriggerSecondsTo10ms(0.129), 12);  // truncated
  // Entries that are not exact in binary keep the value typed (0.29 * 100 is 28.999...).
  EXPECT_EQ(TriggerSecondsTo10ms(0.29), 29);
  EXPECT_EQ(TriggerSecondsTo10ms(0.57), 57);
  EXPECT_EQ(TriggerSecondsTo10ms(327.67), 32767);
  EXPECT_EQ(TriggerSecondsTo10ms(1e300), 32767);
  EXPECT_EQ(Format10msAsSeconds(50), "0.5");
  EXPECT_EQ(Format10msAsSeconds(32767), "327.67");
}

TEST(CanLogConfig, OptionConflictAndCountLine) {
  T_CanLog_Config c;
  EXPECT_EQ(OptionConflictText(c), nullptr);
  c.ReceiveAll = 1;
  EXPECT_EQ(OptionConflictText(c), nullptr);
  c.MsgRateLimit = 10;
  EXPECT_STREQ(OptionConflictText(c),
               "Options \"Limit write interval\" AND \"Receive All\" can't be used together.");
  EXPECT_EQ(CountLineText(1, 1, false), "1 logged signal in 1 message");
  EXPECT_EQ(CountLineText(5, 2, false), "5 logged signals in 2 messages");
  EXPECT_EQ(CountLineText(1, 3, true), "1 geloggtes Signal in 3 Messages");
  EXPECT_EQ(CountLineText(0, 1, true), "0 geloggte Signale in 1 Message");
}

TEST(CanLogConfig, ApplyingAnEditSetsTheModifiedFlagOnlyOnChange) {
  auto c = std::make_unique<LoggerConfiguration>();
  auto edited = std::make_unique<T_CanLog_Config>(c->cfg);
  EXPECT_FALSE(ApplyEditedConfig(*c, *edited));
  EXPECT_FALSE(c->modified);
  edited->FifoMode = 1;
  EXPECT_TRUE(ApplyEditedConfig(*c, *edited));
  EXPECT_TRUE(c->modified);
  EXPECT_EQ(c->cfg.FifoMode, 1);
}

}  // namespace
}  // namespace tessmar
