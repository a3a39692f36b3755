#include "config/password_rules.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/message_output.h"
#include "config/clc_file.h"

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

}  // namespace
}  // namespace tessmar
