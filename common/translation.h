#pragma once
// User-interface languages and the built-in translation table.
//
// The program is written in English; German (and French as far as the table has French texts)
// are produced at run time by looking up whole texts in one table. The language state is one
// object for the whole process: the desktop window scan, the message output (Tr() and
// ShowMessageF() look texts up here unless another translator is set) and the few texts that are
// chosen by the language code directly all read it. Standard library only.

#include <cstddef>
#include <string>

namespace tessmar {

// Language codes (the international telephone country code of the language).
inline constexpr int kLangEnglish = 1;
inline constexpr int kLangGerman = 49;
inline constexpr int kLangFrench = 33;

// Table columns.
inline constexpr int kColEnglish = 0;
inline constexpr int kColGerman = 1;
inline constexpr int kColFrench = 2;
inline constexpr int kTranslationColumns = 4;  // the fourth column is empty in every row

// One row of the table; the row after the last one has every text absent (nullptr). An empty
// text means that the row has no translation into that column's language.
struct TranslationRow {
  const char* text[kTranslationColumns];
};

// The table (kTranslationRowCount rows and the end row): the 260 rows the program began with,
// then the texts of its own windows. Every row has all three languages.
inline constexpr std::size_t kTranslationRowCount = 351;
const TranslationRow* TranslationTable();

// Tags that windows and controls carry for the desktop's window scan, as the Qt property
// "translationTag" (an int): kTagNoTranslate never translated (file names, counts, results the
// program wrote in the current language already); kTagEntries list-type controls (combo box,
// list, table header) whose entries are translated too, and buttons whose tool tip is. Kept here
// so that every window layer can tag its controls.
inline constexpr char kTranslationTagProperty[] = "translationTag";
inline constexpr int kTagEntries = 8;
inline constexpr int kTagNoTranslate = 16;

// Column of a language code: 0 English, 1 German, 2 French; -1 for any other code.
int LanguageColumn(int code);

// The language of a desktop locale, for a first start whose settings name none: the locale that
// decides the messages (the first set of lc_all, lc_messages and lang, as the C library takes
// them) gives German for "de...", French for "fr..." (language part only: "de_AT.UTF-8",
// "fr_CA@euro"), English for anything else and when none is set.
int LanguageFromLocale(const char* lc_all, const char* lc_messages, const char* lang);

// Looks text up from column `from` to column `to`. Returns the translation (a text of the table),
// or, when nothing is found, the text without a leading underscore; *found tells which. Rules:
// an empty text or from == to is returned unchanged (found); a leading underscore is skipped and
// texts of two characters or less are returned unchanged (found); otherwise the first row whose
// `from` text equals the text (case-sensitive, whole text) and whose `to` text is not empty
// gives the result. The result points into the table or into `text`.
const char* LookupTranslation(const char* text, int from, int to, bool* found);

// The text of a row found by its English text into column `to`, also for texts of two characters
// or less, which the lookup leaves alone ("No" of a message box's buttons); the text itself when
// no row has it.
const char* RowText(const char* english, int to);

// The process-wide language state.
class LanguageState {
 public:
  // Sets the current language; an unknown code is refused (false) and changes nothing.
  bool SetLanguage(int code);
  int code() const { return code_; }
  // Column of the current language: the column every lookup translates to.
  int target_column() const { return target_column_; }
  // Column of the language the windows show now (English until the first scan).
  int shown_column() const { return shown_column_; }
  // Called by the window scan when it starts: the language shown until now is returned (the
  // column a scan translates from) and the current language becomes the one shown.
  int BeginScan();

  // Translates a text of the program (written in English) into the current language, keeping
  // the "found" flag and the last text not found.
  const char* Translate(const char* text);
  bool found() const { return found_; }
  const std::string& last_not_found() const { return last_not_found_; }

  bool test_mode() const { return test_mode_; }
  void set_test_mode(bool on) { test_mode_ = on; }

  // Back to English, test mode off (program start, tests).
  void Reset();

 private:
  int code_ = kLangEnglish;
  int target_column_ = kColEnglish;
  int shown_column_ = kColEnglish;
  bool found_ = true;
  bool test_mode_ = false;
  std::string last_not_found_;
};

LanguageState& Language();

// True when the user interface is German (for the few texts chosen by the code directly).
inline bool GermanUi() { return Language().code() == kLangGerman; }

}  // namespace tessmar
