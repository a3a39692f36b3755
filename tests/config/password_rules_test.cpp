#include "config/password_rules.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "config/scramble.h"

namespace tessmar {
namespace {

TEST(PasswordRules, SetChangeAndRemove) {
  auto c = std::make_unique<LoggerConfiguration>();
  std::string remembered = "other";
  SetNewPassword(*c, remembered, "Sesam", "say \"open\"", false);
  EXPECT_EQ(TextOf(c->cfg.Password1), "Sesam");
  EXPECT_EQ(TextOf(c->cfg.PwdHint1), "say 'open'");
  EXPECT_TRUE(c->modified);
  EXPECT_EQ(remembered, "other");

  // Changing a remembered password forgets the old one; the box remembers the new one.
  remembered = "Sesam";
  SetNewPassword(*c, remembered, "Mohn", "", false);
  EXPECT_EQ(remembered, "");
  SetNewPassword(*c, remembered, "Mohn2", std::string(60, 'h'), true);
  EXPECT_EQ(remembered, "Mohn2");
  EXPECT_EQ(TextOf(c->cfg.PwdHint1).size(), kMaxNameChars);

  c->modified = false;
  MessageCapture messages;
  EXPECT_FALSE(RemovePassword(*c, remembered, "mohn2", false));  // exact match only
  EXPECT_EQ(TextOf(c->cfg.Password1), "Mohn2");
  EXPECT_FALSE(c->modified);
  EXPECT_TRUE(RemovePassword(*c, remembered, "Mohn2", false));
  EXPECT_EQ(TextOf(c->cfg.Password1), "");
  EXPECT_EQ(remembered, "");
  EXPECT_TRUE(c->modified);
  EXPECT_TRUE(messages.Contains("Password accepted, encryption now OFF."));
}

TEST(PasswordRules, LeadingBlankIsStoredButTheFileStaysPlain) {
  auto c = std::make_unique<LoggerConfiguration>();
  std::string remembered;
  SetNewPassword(*c, remembered, " open", "", false);
  EXPECT_EQ(TextOf(c->cfg.Password1), " open");
  EXPECT_EQ(ClcWriteKey(c->cfg), 0);
  EXPECT_NE(ClcFileText(c->cfg, c->sigs).find("Password1=\" open\""), std::string::npos);
}

TEST(PasswordRules, MismatchCaptionByLanguageCode) {
  EXPECT_STREQ(PasswordMismatchCaption(49), "Falsche Passwort-Eingabe. Bitte wiederholen !");
  EXPECT_STREQ(PasswordMismatchCaption(1), "Sorry, typo in passwords. Please repeat input !");
  EXPECT_STREQ(PasswordMismatchCaption(33), "Sorry, typo in passwords. Please repeat input !");
}

// Loading a protected file: accepted with the remembered password or a confirmed entry (never
// asked in batch mode); a refusal puts the configuration back. The remembered password is kept
// scrambled with the fixed key 6827.
TEST(PasswordRules, LoadingProtectedFilesPutsBackWhatARefusalWouldLose) {
  const std::string name = (std::filesystem::temp_directory_path() /
                            ("tessmar_pwload_" + std::to_string(::getpid()) + ".clc"))
                               .string();
  auto c = std::make_unique<LoggerConfiguration>();
  SetText(c->cfg.Password1, "Sesam");
  SetText(c->cfg.InfoString, "protected");
  ASSERT_TRUE(WriteClcFile(name, *c));
  c = std::make_unique<LoggerConfiguration>();
  SetText(c->cfg.InfoString, "before");
  int asked = 0;
  const auto confirm = [&asked](const T_CanLog_Config& cfg) {
    return ++asked, TextOf(cfg.Password1) == "Sesam";
  };
  MessageCapture cap;
  EXPECT_EQ(LoadConfigurationFile(name, *c, "", nullptr), ConfigLoad::kRefused);
  EXPECT_STREQ(c->cfg.InfoString, "before");
  EXPECT_EQ(cap.entries().back().text, "Refused to load encrypted file \"" + name + "\" .");
  SetBatchMode(true);
  EXPECT_EQ(LoadConfigurationFile(name, *c, "", confirm), ConfigLoad::kRefused);
  SetBatchMode(false);
  EXPECT_EQ(LoadConfigurationFile(name, *c, "", confirm), ConfigLoad::kAccepted);
  EXPECT_EQ(cap.entries().back().text, "Password accepted, loaded encrypted file.");
  SetText(c->cfg.InfoString, "before");
  EXPECT_EQ(LoadConfigurationFile(name, *c, "Sesam", confirm), ConfigLoad::kAccepted);
  EXPECT_STREQ(c->cfg.InfoString, "protected");
  EXPECT_EQ(asked, 1);
  std::filesystem::remove(name);
  EXPECT_EQ(LoadConfigurationFile(name, *c, "", confirm), ConfigLoad::kNotRead);
  EXPECT_EQ(cap.entries().back().severity, kMsgInfo);  // the reason follows the warning

  EXPECT_EQ(RememberedPasswordForSettings("Sesam"), Scrambled("Sesam", 6827));
  EXPECT_EQ(RememberedPasswordFromSettings(Scrambled("Sesam", 6827)), "Sesam");
}

}  // namespace
}  // namespace tessmar
