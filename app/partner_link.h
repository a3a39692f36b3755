#pragma once
// The partner-window link: the state kept for one controlling program and the handling of the
// text messages it sends. Free of any transport; the desktop program carries the messages over
// local sockets (see docs/partner-protocol.md).

#include <cstdint>
#include <string>
#include <string_view>

namespace tessmar {

// Command codes of the partner messages.
inline constexpr int kPartnerCmdNone = 0;
inline constexpr int kPartnerCmdClose = 1;
inline constexpr int kPartnerCmdClosed = 9;
inline constexpr int kPartnerCmdLoad = 10;
inline constexpr int kPartnerCmdLoaded = 11;
inline constexpr int kPartnerCmdSave = 12;
inline constexpr int kPartnerCmdSaved = 13;
inline constexpr int kPartnerCmdCanMsg = 20;

// Texts are kept to at most this many characters.
inline constexpr std::size_t kPartnerTextMax = 254;

struct PartnerLink {
  int64_t partner_window = 0;  // the controlling program's window number; 0 = no partner
  int64_t own_window = 0;      // this program's window number, announced to the partner
  int handshake_state = 0;     // 1 = own window not yet announced, 2 = announced
  std::string received_text;   // last plain text received
  bool text_received = false;
  int command_code = kPartnerCmdNone;  // last command received
  std::string parameters;              // text after the command word

  // Sets up the link for the "cw" switch: the partner and the own window, handshake pending.
  void Connect(int64_t partner, int64_t own) {
    partner_window = partner;
    own_window = own;
    handshake_state = 1;
  }
};

// Handles one received message (sender's window number, user value, text) and returns the
// acknowledgement, which is always 1.
int ReceivePartnerMessage(PartnerLink& link, int64_t sender, uint32_t user_value,
                          std::string_view text);

// Texts sent to the partner.
std::string PartnerMyWndText(int64_t own_window);           // "/mywnd=%ld"
std::string PartnerLoadedText(std::string_view file_name);  // "/loaded \"%s\""
inline constexpr const char* kPartnerClosedText = "/closed";

}  // namespace tessmar
