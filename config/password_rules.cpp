#include "config/password_rules.h"

#include <memory>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "config/scramble.h"

namespace tessmar {

const char* PasswordMismatchCaption(int language) {
  return language == 49 ? "Falsche Passwort-Eingabe. Bitte wiederholen !"
                        : "Sorry, typo in passwords. Please repeat input !";
}

std::string CleanPasswordHint(std::string_view hint) {
  std::string text(hint.substr(0, kMaxNameChars));
  for (char& c : text) {
    if (c == '"') c = '\'';
  }
  return text;
}

bool IsRememberedPassword(const T_CanLog_Config& cfg, std::string_view remembered) {
  return TextOf(cfg.Password1) == remembered;
}

void SetNewPassword(LoggerConfiguration& config, std::string& remembered, std::string_view entry,
                    std::string_view hint, bool remember) {
  if (IsRememberedPassword(config.cfg, remembered)) remembered.clear();
  SetText(config.cfg.Password1, entry);
  SetText(config.cfg.PwdHint1, CleanPasswordHint(hint));
  config.modified = true;
  if (remember) remembered = std::string(TextOf(config.cfg.Password1));
}

bool RemovePassword(LoggerConfiguration& config, std::string& remembered, std::string_view entry,
                    bool remember) {
  if (entry != TextOf(config.cfg.Password1)) return false;
  ShowMessage(kMsgInfo, Tr(kPasswordOffMessage));
  if (IsRememberedPassword(config.cfg, remembered)) remembered.clear();
  SetText(config.cfg.Password1, "");
  if (remember) remembered = std::string(entry.substr(0, kMaxNameChars));
  config.modified = true;
  return true;
}

std::string RememberedPasswordFromSettings(std::string_view scrambled) {
  return Unscrambled(scrambled.substr(0, kMaxNameChars), kRememberedPasswordKey);
}

std::string RememberedPasswordForSettings(std::string_view password) {
  return Scrambled(password, kRememberedPasswordKey);
}

ConfigLoad LoadConfigurationFile(const std::string& name, LoggerConfiguration& config,
                                 std::string_view remembered,
                                 const std::function<bool(const T_CanLog_Config&)>& ask_password) {
  // The copy that a refused password puts back.
  const auto backup = std::make_unique<LoggerConfiguration>(config);
  std::string error;
  if (!ReadClcFile(name, config, &error)) {
    ShowMessageF(kMsgError, "Warning: Couldn't load \"%s\" .", name.c_str());
    if (!error.empty()) ShowMessage(kMsgInfo, error);
    return ConfigLoad::kNotRead;
  }
  const bool protected_file = config.cfg.Password1[0] != '\0';
  ShowMessageF(kMsgInfo, "Load%s logger config \"%s\" .", protected_file ? "ing" : "ed",
               name.c_str());
  // A protected file needs its password (or the one remembered on this computer).
  if (!protected_file || TextOf(config.cfg.Password1) == remembered) return ConfigLoad::kAccepted;
  if (!BatchMode() && ask_password && ask_password(config.cfg)) {
    ShowMessage(kMsgInfo, Tr("Password accepted, loaded encrypted file."));
    return ConfigLoad::kAccepted;
  }
  config = *backup;
  ShowMessageF(kMsgError, "Refused to load encrypted file \"%s\" .", name.c_str());
  return ConfigLoad::kRefused;
}

}  // namespace tessmar
