#include "common/translation.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tessmar {
namespace {

constexpr std::size_t kMaxNotFoundChars = 255;

}  // namespace

int LanguageColumn(int code) {
  switch (code) {
    case kLangEnglish:
      return kColEnglish;
    case kLangGerman:
      return kColGerman;
    case kLangFrench:
      return kColFrench;
    default:
      return -1;
  }
}

int LanguageFromLocale(const char* lc_all, const char* lc_messages, const char* lang) {
  const char* locale = nullptr;
  for (const char* candidate : {lc_all, lc_messages, lang}) {
    if (candidate != nullptr && candidate[0] != '\0') {
      locale = candidate;
      break;
    }
  }
  if (locale == nullptr) return kLangEnglish;
  const std::string_view name(locale);
  // The language part ends at the territory, the code set or the modifier.
  const std::string_view language = name.substr(0, name.find_first_of("_.@"));
  if (language == "de") return kLangGerman;
  if (language == "fr") return kLangFrench;
  return kLangEnglish;
}

const char* LookupTranslation(const char* text, int from, int to, bool* found) {
  *found = true;
  if (text == nullptr || text[0] == '\0' || from == to) return text;
  if (from < 0 || to < 0 || from >= kTranslationColumns || to >= kTranslationColumns) return text;
  const char* key = text[0] == '_' ? text + 1 : text;
  if (std::strlen(key) <= 2) return text;
  for (const TranslationRow* row = TranslationTable();; ++row) {
    const char* source = row->text[from];
    const char* target = row->text[to];
    if (source == nullptr || target == nullptr) break;
    if (target[0] != '\0' && std::strcmp(source, key) == 0) return target;
  }
  *found = false;
  return key;
}

const char* RowText(const char* english, int to) {
  if (to < 0 || to >= kTranslationColumns) return english;
  for (const TranslationRow* row = TranslationTable(); row->text[0] != nullptr; ++row) {
    if (std::strcmp(row->text[kColEnglish], english) == 0 && row->text[to][0] != '\0') {
      return row->text[to];
    }
  }
  return english;
}

bool LanguageState::SetLanguage(int code) {
  const int column = LanguageColumn(code);
  if (column < 0) return false;
  code_ = code;
  target_column_ = column;
  return true;
}

int LanguageState::BeginScan() {
  const int from = shown_column_;
  shown_column_ = target_column_;
  return from;
}

const char* LanguageState::Translate(const char* text) {
  if (test_mode_) last_not_found_.clear();
  const char* result = LookupTranslation(text, kColEnglish, target_column_, &found_);
  if (!found_) last_not_found_.assign(result, std::min(std::strlen(result), kMaxNotFoundChars));
  return result;
}

void LanguageState::Reset() { *this = LanguageState(); }

LanguageState& Language() {
  static LanguageState state;
  return state;
}

}  // namespace tessmar
