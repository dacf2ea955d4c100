#include "serial/telnet_line.h"

namespace r7 {

using namespace telnet;

namespace {

std::string command(unsigned char verb, unsigned char option) {
  return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

// IAC SB COM-PORT-OPTION `code` `value` IAC SE, 0xFF in the value doubled.
std::string com_port(unsigned char code, std::string_view value) {
  std::string s = {static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                   static_cast<char>(code)};
  s += TelnetLine::encode(value);
  s += static_cast<char>(kIac);
  s += static_cast<char>(kSe);
  return s;
}

std::string byte(unsigned char b) {
  return std::string(1, static_cast<char>(b));
}

bool we_accept(unsigned char option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool they_may(unsigned char option) {
  return option == kBinary || option == kSuppressGoAhead;
}

}  // namespace

std::string TelnetLine::greeting() {
  we_will_[kBinary] = we_will_[kComPort] = true;
  they_will_[kBinary] = they_will_[kSuppressGoAhead] = true;
  return command(kWill, kBinary) + command(kDo, kBinary) + command(kDo, kSuppressGoAhead) +
         command(kWill, kComPort) + com_port(kSetLineStateMask, byte(0)) +
         com_port(kSetModemStateMask, byte(0));
}

std::string TelnetLine::settings_commands(const LineSettings& s) {
  const auto baud = static_cast<std::uint32_t>(s.baud);
  const std::string rate = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                            static_cast<char>(baud >> 8), static_cast<char>(baud)};
  unsigned char parity = 1;  // none
  switch (s.parity) {
    case 'O':
      parity = 2;
      break;
    case 'E':
      parity = 3;
      break;
    case 'M':
      parity = 4;
      break;
    case 'S':
      parity = 5;
      break;
    default:
      break;
  }
  return com_port(kSetBaudRate, rate) +
         com_port(kSetDataSize, byte(static_cast<unsigned char>(s.data_bits))) +
         com_port(kSetParity, byte(parity)) +
         com_port(kSetStopSize, byte(s.stop_bits == 2 ? 2 : 1)) +
         com_port(kSetControl, byte(1));  // no flow control
}

std::string TelnetLine::encode(std::string_view data) {
  std::string out;
  out.reserve(data.size() + 8);
  for (const char c : data) {
    out += c;
    if (static_cast<unsigned char>(c) == kIac) out += c;
  }
  return out;
}

// One side of an option: DO/DONT ask about ours (answered WILL/WONT), WILL/WONT
// tell about theirs (answered DO/DONT).
void TelnetLine::negotiate(unsigned char verb, unsigned char option, std::string& answer) {
  const bool ours = verb == kDo || verb == kDont;
  std::array<bool, 256>& agreed = ours ? we_will_ : they_will_;
  std::array<bool, 256>& refused = ours ? we_refused_ : they_refused_;
  const unsigned char yes = ours ? kWill : kDo;
  const unsigned char no = ours ? kWont : kDont;
  if (verb == kDo || verb == kWill) {
    if (ours ? we_accept(option) : they_may(option)) {
      if (!agreed[option]) answer += command(yes, option);
      agreed[option] = true;
    } else if (!refused[option]) {
      answer += command(no, option);
      refused[option] = true;
    }
    return;
  }
  if (verb == kDont && option == kComPort) com_port_refused_ = true;
  if (agreed[option]) answer += command(no, option);
  agreed[option] = false;
  refused[option] = true;
}

void TelnetLine::subnegotiation_done() {
  // The server's answer to SET-BAUDRATE: the rate now on its line.
  if (sub_.size() == 6 && static_cast<unsigned char>(sub_[0]) == kComPort &&
      static_cast<unsigned char>(sub_[1]) == kServerOffset + kSetBaudRate) {
    confirmed_baud_ = 0;
    for (std::size_t i = 2; i < 6; ++i)
      confirmed_baud_ = (confirmed_baud_ << 8) | static_cast<unsigned char>(sub_[i]);
  }
  sub_.clear();
}

std::string TelnetLine::decode(std::string_view received, std::string& answer) {
  std::string data;
  for (const char c : received) {
    const auto b = static_cast<unsigned char>(c);
    switch (state_) {
      case State::Data:
        if (b == kIac) {
          state_ = State::Iac;
        } else {
          data += c;
        }
        break;
      case State::Iac:
        if (b == kIac) {
          data += c;
          state_ = State::Data;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, GA, a stray SE and the like carry nothing
        }
        break;
      case State::Option:
        negotiate(verb_, b, answer);
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          state_ = State::SubIac;
        } else if (sub_.size() < kMaxSub) {
          sub_ += c;
        }
        break;
      case State::SubIac:
        if (b == kSe) {
          subnegotiation_done();
          state_ = State::Data;
        } else {
          if (sub_.size() < kMaxSub) sub_ += c;  // IAC IAC inside: one 0xFF
          state_ = State::Sub;
        }
        break;
    }
  }
  return data;
}

}  // namespace r7
