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

TEST_F(Translation, TableHasGermanForEveryRowFrenchForTheGeneralWordsAndMatchingFormats) {
  const TranslationRow* table = TranslationTable();
  std::size_t rows = 0;
  int french = 0;
  for (; table[rows].text[0] != nullptr; ++rows) {
    const TranslationRow& row = table[rows];
    SCOPED_TRACE(row.text[0]);
    EXPECT_NE(row.text[kColEnglish][0], '\0');
    EXPECT_NE(row.text[kColGerman][0], '\0');
    EXPECT_STREQ(row.text[3], "");
    if (row.text[kColFrench][0] != '\0') ++french;
    // A format is translated before its arguments are filled in: every column must take the
    // same arguments in the same order.
    EXPECT_EQ(Conversions(row.text[kColGerman]), Conversions(row.text[kColEnglish]));
    if (row.text[kColFrench][0] != '\0') {
      EXPECT_EQ(Conversions(row.text[kColFrench]), Conversions(row.text[kColEnglish]));
    }
  }
  EXPECT_EQ(rows, kTranslationRowCount);
  EXPECT_EQ(french, 39);
  EXPECT_STREQ(table[0].text[0], "Delete");
  EXPECT_EQ(table[rows].text[1], nullptr);
}

TEST_F(Translation, EveryTranslationLeadsBackToItsEnglishText) {
  // Switching back translates from the language shown: two English texts with one German text
  // would turn one of them into the other. ("Yes" / "Ja" cannot come back: texts of two
  // characters are never looked up.)
  for (const TranslationRow* row = TranslationTable(); row->text[0] != nullptr; ++row) {
    for (const int column : {kColGerman, kColFrench}) {
      if (row->text[column][0] == '\0') continue;
      const std::string there = Look(row->text[kColEnglish], kColEnglish, column);
      if (there.size() <= 2) continue;
      EXPECT_EQ(Look(there.c_str(), column, kColEnglish), row->text[kColEnglish]) << there;
    }
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

TEST_F(Translation, FrenchTakesTheFrenchColumnAndMissesRowsWithoutFrench) {
  EXPECT_FALSE(Language().SetLanguage(44));
  EXPECT_EQ(Language().code(), kLangEnglish);
  ASSERT_TRUE(Language().SetLanguage(kLangFrench));
  EXPECT_EQ(Language().target_column(), kColFrench);
  EXPECT_STREQ(Language().Translate("Warning"), "Avertissement");
  EXPECT_STREQ(Language().Translate("&File"), "&Fichier");
  EXPECT_TRUE(Language().found());
  EXPECT_STREQ(Language().Translate("Trigger Options"), "Trigger Options");
  EXPECT_FALSE(Language().found());
  EXPECT_EQ(Language().last_not_found(), "Trigger Options");
  // "&Help" has two rows; the first one with a French text answers.
  EXPECT_STREQ(Language().Translate("&Help"), "&Aide");
  // An unknown code leaves French selected.
  EXPECT_FALSE(Language().SetLanguage(0));
  EXPECT_EQ(Language().code(), kLangFrench);
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
