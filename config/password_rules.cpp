#include "config/password_rules.h"

#include "common/message_output.h"

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

}  // namespace tessmar
