#pragma once
// Help topics, the addresses of help pages and of the update page, and the program's build date.
// The desktop program hands the addresses to the system's URL opener; everything that decides
// which address is opened lives here, without a window system. Standard library only.

#include <string>
#include <string_view>

namespace tessmar {

// One help topic: its number, its page ("NN" before the last '.' is replaced by the help
// language) and the anchor in the page (empty: the top of the page).
struct HelpTopic {
  int number;
  const char* page;
  const char* anchor;
};

// Topic numbers used by the menu, the pages and the dialogs.
inline constexpr int kHelpContents = 1;
inline constexpr int kHelpIntroduction = 2;
inline constexpr int kHelpLoggerConfigUsage = 3;
inline constexpr int kHelpCanLoggerUsage = 4;
inline constexpr int kHelpLoggerConfigTab = 5;
inline constexpr int kHelpTriggerTab = 6;
inline constexpr int kHelpTriggerGrid = 7;
inline constexpr int kHelpSearchSignals = 10;
inline constexpr int kHelpTargetHardware = 15;
inline constexpr int kHelpLoggedMessagesTab = 20;
inline constexpr int kHelpOwnMessages = 25;
inline constexpr int kHelpExpressions = 30;
inline constexpr int kHelpConverter = 40;
inline constexpr int kHelpCommandLine = 41;
inline constexpr int kHelpLogfileDir = 50;
inline constexpr int kHelpLoggerCfgDir = 52;
inline constexpr int kHelpCandbDir = 54;
inline constexpr int kHelpExportDir = 56;
inline constexpr int kHelpGpsOutput = 60;
inline constexpr int kHelpTopography = 62;

// The topic table, in search order; it ends with a topic numbered 0.
const HelpTopic* HelpTopics();
// The topic with that number, or nullptr.
const HelpTopic* FindHelpTopic(int number);
// The topic of a keyword: the first whose anchor equals it ignoring case, else "icmd_" + keyword,
// else "ifunc_" + keyword (the keyword cut to 70 characters); nullptr when none matches.
const HelpTopic* FindHelpKeyword(std::string_view keyword);

// The page name for a help language: "NN" directly before the last '.', with at least one
// character before it, becomes the language as two digits ("01" for 0 or less).
std::string HelpPageName(std::string_view page, int language);

// A local path as a "file://" address: a leading drive letter gets a '/' before it, backslashes
// become '/', and the characters blank ! # $ % & ' ( ) * + , ; = ? @ [ ] are written as %XX. A
// path shorter than 4 characters is returned unchanged. Path separators stay '/'.
std::string FileAddress(std::string_view path);

// The address that opens a page of the help folder at an anchor: a page beginning with
// "http://" is taken as it is; an anchor beginning with a character above the blank is appended
// after '#'. The address is limited to kMaxHelpAddressChars characters.
inline constexpr std::size_t kMaxHelpAddressChars = 800;
std::string HelpAddress(std::string_view help_dir, std::string_view page, std::string_view anchor,
                        int language);

// A small page that sends the browser on to `address` at once. Opening a local page at an anchor
// through the desktop loses the anchor on the way to many browsers; opening this page (without an
// anchor) and letting it go on keeps it. The address is written escaped for the page's HTML and
// script.
std::string HelpRedirectPage(std::string_view address);

// The compiler's build date ("Mmm dd yyyy", three-letter English month) as numbers; false when
// the text does not have that form.
bool ParseBuildDate(std::string_view date, int* year, int* month, int* day);

// Where updates are announced (our own site; see docs/help-and-registration.md).
inline constexpr const char* kUpdateSite = "https://www.tessmar.example/";
// The update-check address for a build date: site, "check4update/tessmar.htm?CompDate=" and the
// date as "%04d-%02d-%02d" (0000-00-00 when the date cannot be read).
std::string UpdateCheckAddress(std::string_view site, std::string_view build_date);

}  // namespace tessmar
