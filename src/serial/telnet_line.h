// The client side of a telnet connection that carries a serial line, with the
// COM-PORT-OPTION (RFC 854, RFC 856, RFC 2217): what to send first, the line
// settings as COM-PORT commands, data with 0xFF doubled, and a reader that
// takes the data out of what the server sends and answers its negotiation.
//
// Only the options a serial line needs are agreed (BINARY both ways, so that
// CR and NUL pass as data; SUPPRESS-GO-AHEAD; the COM-PORT-OPTION); every
// other one is refused once (the server's ECHO too: nothing sent may come
// back from the server itself). No answer is waited for:
// the server applies commands in the order they arrive, before the data that
// follows them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/line_settings.h"

namespace r7 {

namespace telnet {
inline constexpr unsigned char kSe = 240;
inline constexpr unsigned char kSb = 250;
inline constexpr unsigned char kWill = 251;
inline constexpr unsigned char kWont = 252;
inline constexpr unsigned char kDo = 253;
inline constexpr unsigned char kDont = 254;
inline constexpr unsigned char kIac = 255;
inline constexpr unsigned char kBinary = 0;
inline constexpr unsigned char kEcho = 1;
inline constexpr unsigned char kSuppressGoAhead = 3;
inline constexpr unsigned char kComPort = 44;
// COM-PORT-OPTION commands from the client; the server answers each with
// the same number plus 100.
inline constexpr unsigned char kSetBaudRate = 1;
inline constexpr unsigned char kSetDataSize = 2;
inline constexpr unsigned char kSetParity = 3;
inline constexpr unsigned char kSetStopSize = 4;
inline constexpr unsigned char kSetControl = 5;
inline constexpr unsigned char kSetLineStateMask = 10;
inline constexpr unsigned char kSetModemStateMask = 11;
inline constexpr unsigned char kServerOffset = 100;
}  // namespace telnet

class TelnetLine {
 public:
  // What the client sends on connecting: its offers (WILL BINARY, DO BINARY,
  // DO SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION) and masks that turn the
  // server's line and modem state notifications off.
  std::string greeting();

  // The COM-PORT commands that put `settings` on the server's line: baud
  // rate, data size, parity, stop size and no flow control.
  static std::string settings_commands(const LineSettings& settings);

  // Data for the line: every 0xFF doubled.
  static std::string encode(std::string_view data);

  // Takes what the server sent (in any pieces: a command may be split between
  // two calls) and returns the data bytes in it; answers to the server's
  // negotiation are appended to `answer`, to be sent back.
  std::string decode(std::string_view received, std::string& answer);

  // The baud rate the server last confirmed (0 before any confirmation).
  std::uint32_t confirmed_baud() const { return confirmed_baud_; }
  // Whether the server refused the COM-PORT-OPTION (line settings cannot be set).
  bool com_port_refused() const { return com_port_refused_; }

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  // The answer to WILL/WONT/DO/DONT `option`, appended to `answer`.
  void negotiate(unsigned char verb, unsigned char option, std::string& answer);
  void subnegotiation_done();

  State state_ = State::Data;
  unsigned char verb_ = 0;
  // A subnegotiation longer than this is cut (a COM-PORT answer is at most 6).
  static constexpr std::size_t kMaxSub = 64;
  std::string sub_;
  // What was last said or agreed per option, so that an option is answered
  // only when its state changes (no negotiation loops).
  std::array<bool, 256> we_will_{};
  std::array<bool, 256> we_refused_{};
  std::array<bool, 256> they_will_{};
  std::array<bool, 256> they_refused_{};
  std::uint32_t confirmed_baud_ = 0;
  bool com_port_refused_ = false;
};

}  // namespace r7
