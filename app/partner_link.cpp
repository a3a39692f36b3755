#include "app/partner_link.h"

#include <cctype>

namespace tessmar {
namespace {

std::string_view Cut(std::string_view text) { return text.substr(0, kPartnerTextMax); }

int64_t LeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    // Window numbers are small; stop growing rather than overflow on hostile input.
    if (value < (int64_t{1} << 55)) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

struct CommandWord {
  std::string_view word;
  int code;
};

// Compared in this order; the first match wins ("loaded" before "load", "closed" before "close").
constexpr CommandWord kCommands[] = {
    {"loaded", kPartnerCmdLoaded},   {"load", kPartnerCmdLoad},     {"saved", kPartnerCmdSaved},
    {"save", kPartnerCmdSave},       {"closed", kPartnerCmdClosed}, {"close", kPartnerCmdClose},
    {"can_msg ", kPartnerCmdCanMsg},
};

void TakeParameters(PartnerLink& link, std::string_view rest) {
  if (!rest.empty() && rest.front() == ' ') {
    link.parameters.assign(Cut(rest.substr(1)));
  } else {
    link.parameters.clear();
  }
}

}  // namespace

int ReceivePartnerMessage(PartnerLink& link, int64_t /*sender*/, uint32_t user_value,
                          std::string_view text) {
  if (user_value != 0 || text.empty() || text.front() != '/') {
    link.received_text.assign(Cut(text));
    link.text_received = true;
    return 1;
  }
  const std::string_view command = text.substr(1);
  constexpr std::string_view kMyWnd = "mywnd=";
  if (command.starts_with(kMyWnd)) {
    const int64_t window = LeadingDecimal(command.substr(kMyWnd.size()));
    if (window != 0) link.partner_window = window;
    return 1;
  }
  for (const CommandWord& c : kCommands) {
    if (!command.starts_with(c.word)) continue;
    link.command_code = c.code;
    if (c.code == kPartnerCmdCanMsg) link.text_received = false;
    TakeParameters(link, command.substr(c.word.size()));
    return 1;
  }
  return 1;
}

std::string PartnerMyWndText(int64_t own_window) { return "/mywnd=" + std::to_string(own_window); }

std::string PartnerLoadedText(std::string_view file_name) {
  std::string text = "/loaded \"";
  text.append(file_name);
  text += '"';
  return text;
}

}  // namespace tessmar
