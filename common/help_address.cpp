#include "common/help_address.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tessmar {
namespace {

constexpr HelpTopic kTopics[] = {
    {kHelpContents, "tessmarNN.htm", "contents"},
    {kHelpIntroduction, "tessmarNN.htm", "introduction"},
    {kHelpTargetHardware, "tessmarNN.htm", "target_hardware_dialog"},
    {kHelpCanLoggerUsage, "tessmarNN.htm", "usage_can_logger"},
    {kHelpLoggerConfigUsage, "tessmarNN.htm", "usage_can_logger_config"},
    {kHelpLoggerConfigTab, "tessmarNN.htm", "logger_config_tab"},
    {kHelpLoggedMessagesTab, "tessmarNN.htm", "logged_messages_tab"},
    {kHelpOwnMessages, "tessmarNN.htm", "selfdefined_can_messages"},
    {kHelpExpressions, "tessmarNN.htm", "logging_num_expressions"},
    {kHelpTriggerTab, "tessmarNN.htm", "trigger_condition_tab"},
    {kHelpTriggerGrid, "tessmarNN.htm", "trigger_condition_grid"},
    {kHelpSearchSignals, "tessmarNN.htm", "search_signals"},
    {kHelpConverter, "tessmarNN.htm", "usage_logfile_converter"},
    {kHelpCommandLine, "tessmarNN.htm", "cmd_line_arguments"},
    {kHelpLogfileDir, "tessmarNN.htm", "logfile_directory"},
    {kHelpLoggerCfgDir, "tessmarNN.htm", "logger_cfg_directory"},
    {kHelpCandbDir, "tessmarNN.htm", "candb_directory"},
    {kHelpExportDir, "tessmarNN.htm", "export_directory"},
    {kHelpGpsOutput, "tessmarNN.htm", "gps_output_options"},
    {kHelpTopography, "gpspreNN.htm", ""},
    {0, nullptr, nullptr},
};

constexpr std::size_t kMaxKeywordChars = 70;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

const HelpTopic* FindAnchor(std::string_view anchor) {
  for (const HelpTopic* t = kTopics; t->number != 0; ++t) {
    if (EqualsIgnoringCase(t->anchor, anchor)) return t;
  }
  return nullptr;
}

}  // namespace

const HelpTopic* HelpTopics() { return kTopics; }

const HelpTopic* FindHelpTopic(int number) {
  if (number == 0) return nullptr;
  for (const HelpTopic* t = kTopics; t->number != 0; ++t) {
    if (t->number == number) return t;
  }
  return nullptr;
}

const HelpTopic* FindHelpKeyword(std::string_view keyword) {
  keyword = keyword.substr(0, kMaxKeywordChars);
  if (keyword.empty()) return nullptr;
  for (const char* prefix : {"", "icmd_", "ifunc_"}) {
    if (const HelpTopic* t = FindAnchor(std::string(prefix) + std::string(keyword))) return t;
  }
  return nullptr;
}

std::string HelpPageName(std::string_view page, int language) {
  std::string name(page);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < 3 || name.compare(dot - 2, 2, "NN") != 0) return name;
  char digits[3] = {'0', '1', '\0'};
  if (language > 0) {
    digits[0] = char('0' + (language / 10) % 10);
    digits[1] = char('0' + language % 10);
  }
  name.replace(dot - 2, 2, digits);
  return name;
}

std::string FileAddress(std::string_view path) {
  if (path.size() < 4) return std::string(path);
  std::string out = "file://";
  if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') out += '/';
  static constexpr std::string_view kEscaped = " !#$%&'()*+,;=?@[]";
  for (const char c : path) {
    if (c == '\\') {
      out += '/';
    } else if (kEscaped.find(c) != std::string_view::npos) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string HelpAddress(std::string_view help_dir, std::string_view page, std::string_view anchor,
                        int language) {
  std::string address;
  if (page.substr(0, 7) == "http://") {
    address = std::string(page);
  } else {
    std::string path(help_dir);
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += HelpPageName(page, language);
    address = FileAddress(path);
  }
  if (!anchor.empty() && static_cast<unsigned char>(anchor[0]) > ' ') {
    address += '#';
    address += anchor;
  }
  if (address.size() > kMaxHelpAddressChars) address.resize(kMaxHelpAddressChars);
  return address;
}

std::string HelpRedirectPage(std::string_view address) {
  std::string html;    // for attributes and text
  std::string script;  // inside a double-quoted script string
  for (const char c : address) {
    switch (c) {
      case '&':
        html += "&amp;";
        break;
      case '"':
        html += "&quot;";
        break;
      case '<':
        html += "&lt;";
        break;
      case '>':
        html += "&gt;";
        break;
      default:
        html += c;
    }
    if (c == '"' || c == '\\' || c == '<' || c == '>' || static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      script += escaped;
    } else {
      script += c;
    }
  }
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"refresh\" content=\"0; url=" +
         html +
         "\">\n"
         "<title>Tessmar</title>\n"
         "<script>window.location.replace(\"" +
         script +
         "\");</script>\n"
         "</head><body><p><a href=\"" +
         html + "\">" + html + "</a></p></body></html>\n";
}

bool ParseBuildDate(std::string_view date, int* year, int* month, int* day) {
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string text(date);
  char name[4] = {};
  int d = 0;
  int y = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%3s %d %d%c", name, &d, &y, &rest) != 3) return false;
  for (std::size_t m = 0; m < kMonths.size(); ++m) {
    if (std::strcmp(name, kMonths[m]) == 0 && d >= 1 && d <= 31 && y > 0 && y <= 9999) {
      *year = y;
      *month = int(m) + 1;
      *day = d;
      return true;
    }
  }
  return false;
}

std::string UpdateCheckAddress(std::string_view site, std::string_view build_date) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (!ParseBuildDate(build_date, &year, &month, &day)) year = month = day = 0;
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
  return std::string(site) + "check4update/tessmar.htm?CompDate=" + date;
}

}  // namespace tessmar
