#include "common/translation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/message_output.h"

namespace tessmar {
namespace {

// Every test starts and ends in English without test mode: the state is process-wide.
class Translation : public ::testing::Test {
 protected:
  void SetUp() override { Language().Reset(); }
  void TearDown() override { Language().Reset(); }
};

std::string Look(const char* text, int from, int to, bool* found_out = nullptr) {
  bool found = false;
  std::string result = LookupTranslation(text, from, to, &found);
  if (found_out) *found_out = found;
  return result;
}

// ---- The table ----------------------------------------------------------------------------------

std::vector<std::string> Conversions(const char* text) {
  static const std::regex kConversion("%[-+ #0-9.]*[a-zA-Z]");
  std::vector<std::string> out;
  const std::string s(text);
  for (auto it = std::sregex_iterator(s.begin(), s.end(), kConversion);
       it != std::sregex_iterator(); ++it) {
    out.push_back(it->str());
  }
  return out;
}

TEST_F(Translation, TableHasAllThreeLanguagesInEveryRowAndMatchingFormats) {
  const TranslationRow* table = TranslationTable();
  std::size_t rows = 0;
  for (; table[rows].text[0] != nullptr; ++rows) {
    const TranslationRow& row = table[rows];
    SCOPED_TRACE(row.text[0]);
    EXPECT_NE(row.text[kColEnglish][0], '\0');
    EXPECT_NE(row.text[kColGerman][0], '\0');
    EXPECT_NE(row.text[kColFrench][0], '\0');
    EXPECT_STREQ(row.text[3], "");
    // An accelerator stays an accelerator ("&&" is a plain '&').
    const auto accelerators = [](std::string_view t) {
      int n = 0;
      for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '&') continue;
        if (i + 1 < t.size() && t[i + 1] == '&') {
          ++i;
        } else {
          ++n;
        }
      }
      return n;
    };
    EXPECT_EQ(accelerators(row.text[kColGerman]), accelerators(row.text[kColEnglish]));
    EXPECT_EQ(accelerators(row.text[kColFrench]), accelerators(row.text[kColEnglish]));
    // A format is translated before its arguments are filled in: every column must take the
    // same arguments in the same order.
    EXPECT_EQ(Conversions(row.text[kColGerman]), Conversions(row.text[kColEnglish]));
    EXPECT_EQ(Conversions(row.text[kColFrench]), Conversions(row.text[kColEnglish]));
  }
  EXPECT_EQ(rows, kTranslationRowCount);
  EXPECT_STREQ(table[0].text[0], "Delete");
  EXPECT_EQ(table[rows].text[1], nullptr);
}

TEST_F(Translation, EveryTranslationLeadsBackToItsEnglishText) {
  // Switching back translates from the language shown: two English texts with one German text
  // would turn one of them into the other. ("Yes" / "Ja" cannot come back: texts of two
  // characters are never looked up.)
  // The same for a switch between German and French, which goes from the one to the other.
  for (const TranslationRow* row = TranslationTable(); row->text[0] != nullptr; ++row) {
    for (const int column : {kColGerman, kColFrench}) {
      const std::string there = Look(row->text[kColEnglish], kColEnglish, column);
      if (there.size() <= 2) continue;
      EXPECT_EQ(Look(there.c_str(), column, kColEnglish), row->text[kColEnglish]) << there;
    }
    const std::string german = Look(row->text[kColEnglish], kColEnglish, kColGerman);
    if (german.size() <= 2) continue;
    EXPECT_EQ(Look(german.c_str(), kColGerman, kColFrench),
              Look(row->text[kColEnglish], kColEnglish, kColFrench))
        << german;
  }
}

// ---- Lookup rules -------------------------------------------------------------------------------

TEST_F(Translation, LookupRoundTripsAndMarksWhatTheTableLacks) {
  EXPECT_EQ(Look("&File", kColEnglish, kColGerman), "&Datei");
  EXPECT_EQ(Look("&Datei", kColGerman, kColEnglish), "&File");
  EXPECT_EQ(Look("Enter password", kColEnglish, kColGerman), "Paßwort eingeben");
  EXPECT_EQ(Look("Also load CAN DATABASE FILE(S) now ?", kColEnglish, kColGerman),
            "Jetzt auch die CANdb-Datei(en) laden ?");
  // A marked text that the table lacks loses its mark; the caller decides about a new one.
  bool found = true;
  EXPECT_EQ(Look("_Not in the table", kColGerman, kColEnglish, &found), "Not in the table");
  EXPECT_FALSE(found);
  // The whole text, case-sensitive.
  EXPECT_EQ(Look("&file", kColEnglish, kColGerman, &found), "&file");
  EXPECT_FALSE(found);
  EXPECT_EQ(Look("&File ", kColEnglish, kColGerman, &found), "&File ");
  EXPECT_FALSE(found);
  // Leading blanks belong to the text.
  EXPECT_EQ(Look(" Width", kColEnglish, kColGerman), " Breite");
}

TEST_F(Translation, ShortEmptyAndSameColumnTextsAreReturnedAsFound) {
  bool found = false;
  EXPECT_EQ(Look("OK", kColEnglish, kColGerman, &found), "OK");
  EXPECT_TRUE(found);
  EXPECT_EQ(Look("_No", kColEnglish, kColGerman, &found), "_No");  // "No" has only two letters
  EXPECT_TRUE(found);
  EXPECT_EQ(Look("", kColEnglish, kColGerman, &found), "");
  EXPECT_TRUE(found);
  EXPECT_EQ(Look("Unknown words", kColGerman, kColGerman, &found), "Unknown words");
  EXPECT_TRUE(found);
}

TEST_F(Translation, FrenchTakesTheFrenchColumnAndMissesTextsTheTableLacks) {
  EXPECT_FALSE(Language().SetLanguage(44));
  EXPECT_EQ(Language().code(), kLangEnglish);
  ASSERT_TRUE(Language().SetLanguage(kLangFrench));
  EXPECT_EQ(Language().target_column(), kColFrench);
  EXPECT_STREQ(Language().Translate("Warning"), "Avertissement");
  EXPECT_STREQ(Language().Translate("&File"), "&Fichier");
  EXPECT_TRUE(Language().found());
  EXPECT_STREQ(Language().Translate("Trigger Options"), "Options de déclenchement");
  EXPECT_STREQ(Language().Translate("Not a text of ours"), "Not a text of ours");
  EXPECT_FALSE(Language().found());
  EXPECT_EQ(Language().last_not_found(), "Not a text of ours");
  // "&Help" has two rows; the first one answers.
  EXPECT_STREQ(Language().Translate("&Help"), "&Aide");
  // An unknown code leaves French selected.
  EXPECT_FALSE(Language().SetLanguage(0));
  EXPECT_EQ(Language().code(), kLangFrench);
}

TEST_F(Translation, RowTextAnswersShortTextsTooForTheButtons) {
  EXPECT_STREQ(RowText("No", kColGerman), "Nein");
  EXPECT_STREQ(RowText("No", kColFrench), "Non");
  EXPECT_STREQ(RowText("Yes", kColEnglish), "Yes");
  EXPECT_STREQ(RowText("Not a row", kColGerman), "Not a row");
}

TEST_F(Translation, DesktopLocaleChoosesTheLanguageOfAFirstStart) {
  EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, "de_DE.UTF-8"), kLangGerman);
  EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, "fr_CA@euro"), kLangFrench);
  EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, "de"), kLangGerman);
  // LC_ALL before LC_MESSAGES before LANG; an empty one counts as not set.
  EXPECT_EQ(LanguageFromLocale("", "fr_FR.UTF-8", "de_DE.UTF-8"), kLangFrench);
  EXPECT_EQ(LanguageFromLocale("C", "fr_FR.UTF-8", "de_DE.UTF-8"), kLangEnglish);
  EXPECT_EQ(LanguageFromLocale("de_AT", "C", nullptr), kLangGerman);
  // Other languages, look-alikes and nothing at all: English.
  for (const char* other : {"es_ES.UTF-8", "dev", "frr_DE", "POSIX", "C.UTF-8", "",
                            static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(LanguageFromLocale(nullptr, nullptr, other), kLangEnglish)
        << (other ? other : "null");
  }
}

TEST_F(Translation, MessageFormatsAreTranslatedWholeBeforeTheArgumentsAreFilledIn) {
  MessageCapture capture;
  ShowMessageF(kMsgError, "Search string \"%s\" not found", "Speed");
  ASSERT_TRUE(Language().SetLanguage(kLangGerman));
  ShowMessageF(kMsgError, "Search string \"%s\" not found", "Speed");
  ShowMessageF(kMsgError,
               "Adding the signal \"%s\"\r\nwould exceed the maximum number\r\nof "
               "logged MESSAGES or CAN-IDs (%d) !",
               "Speed", 256);
  EXPECT_STREQ(Tr("Warning"), "Warnung");
  ASSERT_EQ(capture.entries().size(), 3u);
  EXPECT_EQ(capture.entries()[0].text, "Search string \"Speed\" not found");
  EXPECT_EQ(capture.entries()[1].text, "Suchtext \"Speed\" nicht gefunden");
  EXPECT_NE(capture.entries()[2].text.find("CAN-IDs (256) überschreiten !"), std::string::npos);
}

TEST_F(Translation, ScanTranslatesFromTheLanguageShownUntilNow) {
  EXPECT_EQ(Language().BeginScan(), kColEnglish);  // English shown, English wanted
  ASSERT_TRUE(Language().SetLanguage(kLangGerman));
  EXPECT_EQ(Language().BeginScan(), kColEnglish);
  EXPECT_EQ(Language().shown_column(), kColGerman);
  ASSERT_TRUE(Language().SetLanguage(kLangEnglish));
  EXPECT_EQ(Language().BeginScan(), kColGerman);
  EXPECT_EQ(Language().shown_column(), kColEnglish);
}

}  // namespace
}  // namespace tessmar
