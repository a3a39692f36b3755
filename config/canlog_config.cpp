#include "config/canlog_config.h"

#include <cstdio>
#include <cstring>

#include "common/c_locale.h"

namespace tessmar {

std::string FormatCanId(uint32_t id) {
  char text[16];
  const unsigned long low = id & kCanIdMask;
  if (id & kCanIdExtended) {
    std::snprintf(text, sizeof text, "0x%08lX", low);
  } else {
    std::snprintf(text, sizeof text, "0x%03lX", low);
  }
  return text;
}

void SetTextField(char* field, std::size_t field_size, std::string_view text,
                  std::size_t max_chars) {
  if (field == nullptr || field_size == 0) return;
  std::size_t n = text.size();
  if (n > max_chars) n = max_chars;
  if (n > field_size - 1) n = field_size - 1;
  // A zero byte inside the text ends it, as it would in the fixed field.
  const std::size_t zero = text.substr(0, n).find('\0');
  if (zero != std::string_view::npos) n = zero;
  if (n > 0) std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, field_size - n);
}

const DeviceFamilyLimits& FamilyLimits(uint32_t family) {
  static const DeviceFamilyLimits kFamilies[] = {
      {"Kavrix I (with C167 CPU)", 140, 48, 4, TriggerEditor::kFourLine},
      {"Kavrix II (with ARM-7 CPU)", 256, 128, 10, TriggerEditor::kGrid},
      {"Kavrix III (with Cortex-M3 CPU)", 256, 128, 10, TriggerEditor::kGrid},
      {"Kavrix IV (with Cortex-M4 CPU)", 256, 128, 10, TriggerEditor::kGrid},
      {" unknown / future device", 256, 256, 10, TriggerEditor::kBoth},
  };
  if (family < static_cast<uint32_t>(kKnownDeviceFamilies)) return kFamilies[family];
  return kFamilies[kKnownDeviceFamilies];
}

namespace {

void ClearTables(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs) {
  cfg.Msg.fill(T_CanLog_MsgDef{});
  cfg.Exp.fill(T_CanLog_ExprDef{});
  sigs.Sig.fill(T_CanLog_SigDef{});
}

}  // namespace

void NewConfigWithDefaults(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs, uint32_t family) {
  cfg = T_CanLog_Config{};
  cfg.DeviceFamily = family;
  ClearTables(cfg, sigs);
}

void NewConfigKeepingOptions(T_CanLog_Config& cfg, T_CanLog_SigTab& sigs, uint32_t family) {
  cfg.DeviceFamily = family;
  ClearTables(cfg, sigs);
}

int CountUsedMessages(const T_CanLog_Config& cfg) {
  int n = 0;
  for (const auto& m : cfg.Msg) n += m.used() ? 1 : 0;
  return n;
}

int CountUsedSignals(const T_CanLog_SigTab& sigs) {
  int n = 0;
  for (const auto& s : sigs) n += s.used() ? 1 : 0;
  return n;
}

bool StoreMessageDefinition(T_CanLog_Config& cfg, const T_CanLog_MsgDef& msg) {
  for (auto& slot : cfg.Msg) {
    if (slot.id == msg.id) {
      slot = msg;
      return true;
    }
  }
  for (auto& slot : cfg.Msg) {
    if (!slot.used()) {
      slot = msg;
      return true;
    }
  }
  return false;
}

int FindSignalByName(const T_CanLog_SigTab& sigs, std::string_view name) {
  for (int i = 0; i < MAX_LOGGED_SIGNALS; ++i) {
    if (TextOf(sigs[static_cast<std::size_t>(i)].sn) == name) return i;
  }
  return -1;
}

int FindMessageById(const T_CanLog_Config& cfg, uint32_t id) {
  for (int i = 0; i < MAX_LOGGED_MESSAGES; ++i) {
    if (cfg.Msg[static_cast<std::size_t>(i)].id == id) return i;
  }
  return -1;
}

std::string_view NodeNameOfSignal(const T_CanLog_Config& cfg, const T_CanLog_SigDef& sig) {
  const int i = FindMessageById(cfg, sig.id);
  if (i < 0) return kUnknownNodeName;
  return TextOf(cfg.Msg[static_cast<std::size_t>(i)].nn);
}

std::string_view MessageNameOfSignal(const T_CanLog_Config& cfg, const T_CanLog_SigDef& sig) {
  const int i = FindMessageById(cfg, sig.id);
  if (i < 0) return kUnknownMessageName;
  return TextOf(cfg.Msg[static_cast<std::size_t>(i)].mn);
}

std::string FormatMapping(const T_CanLog_SigDef& sig) {
  char text[64];
  std::snprintf(text, sizeof text, "mapping=(%d,%d,%c,%c)", sig.sb, sig.nb, sig.bo, sig.ty);
  return text;
}

std::string FormatMuxCondition(const T_CanLog_SigDef& sig) {
  char text[96];
  std::snprintf(text, sizeof text, "MuxVal=#%ld, MuxMap=(%d,%d,%c)",
                static_cast<long>(sig.mu.MuxVal), sig.mu.MuxStartBit, sig.mu.MuxBitCount,
                sig.mu.MuxByteOrder);
  return text;
}

uint16_t TriggerSecondsTo10ms(double seconds) {
  double v = seconds * 100.0;
  // NaN compares false everywhere; treat it like a negative entry.
  if (!(v >= 0.0)) v = 0.0;
  if (v > 32767.0) v = 32767.0;
  // Decimal entries such as 0.29 become 28.999... after the multiplication; a tolerance far below
  // one 10 ms unit keeps them at the value the user typed before the truncation.
  return static_cast<uint16_t>(v + 1e-7);
}

std::string Format10msAsSeconds(uint16_t value) {
  char text[32];
  SnprintfC(text, sizeof text, "%g", value * 0.01);
  return text;
}

const char* OptionConflictText(const T_CanLog_Config& cfg) {
  if (cfg.ReceiveAll != 0 && cfg.MsgRateLimit != 0) {
    return "Options \"Limit write interval\" AND \"Receive All\" can't be used together.";
  }
  return nullptr;
}

std::string CountLineText(int signals, int messages, bool german) {
  std::string text = std::to_string(signals);
  if (german) {
    text += signals == 1 ? " geloggtes Signal" : " geloggte Signale";
  } else {
    text += signals == 1 ? " logged signal" : " logged signals";
  }
  text += " in ";
  text += std::to_string(messages);
  if (german) {
    text += messages == 1 ? " Message" : " Messages";
  } else {
    text += messages == 1 ? " message" : " messages";
  }
  return text;
}

bool ExceedsFamilyLimits(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs) {
  const DeviceFamilyLimits& limits = FamilyLimits(cfg.DeviceFamily);
  return CountUsedSignals(sigs) > limits.max_signals ||
         CountUsedMessages(cfg) > limits.max_messages;
}

bool ApplyEditedConfig(LoggerConfiguration& target, const T_CanLog_Config& edited) {
  if (target.cfg == edited) return false;
  target.cfg = edited;
  target.modified = true;
  return true;
}

}  // namespace tessmar
