// Network device names and the telnet side of an RFC 2217 connection: what
// goes out, and what is data in what comes back.
#include <gtest/gtest.h>

#include "serial/network_device.h"
#include "serial/telnet_line.h"
#include "support/modbus_frames.h"

namespace r7 {
namespace {

using test::bytes;

TEST(NetworkDevice, NamesAndAddresses) {
  using S = NetworkScheme;
  EXPECT_EQ(parse_network_device("rfc2217://10.0.0.7:4001"),
            (NetworkDevice{S::Rfc2217, "10.0.0.7", 4001}));
  EXPECT_EQ(parse_network_device("SOCKET://cabinet-3:2000/"),
            (NetworkDevice{S::RawSocket, "cabinet-3", 2000}));
  EXPECT_EQ(parse_network_device("rfc2217://[fe80::1]:2217"),
            (NetworkDevice{S::Rfc2217, "fe80::1", 2217}));
  for (const char* bad :
       {"rfc2217://host", "rfc2217://:2217", "rfc2217://host:0", "rfc2217://host:65536",
        "rfc2217://host:22x", "rfc2217://fe80::1:2217", "socket://a b:1", "/dev/ttyUSB0", "COM3"}) {
    EXPECT_FALSE(parse_network_device(bad)) << bad;
  }
  EXPECT_TRUE(is_network_device_name("rfc2217://host"));  // a name, if not a valid one
  EXPECT_FALSE(is_network_device_name("/dev/ttyUSB0"));
  EXPECT_TRUE(line_settings_fixed("socket://host:2000"));
  EXPECT_FALSE(line_settings_fixed("rfc2217://host:2217"));
  EXPECT_FALSE(line_settings_fixed("/dev/ttyS0"));
}

TEST(TelnetLine, WhatGoesOut) {
  // A Modbus request with 0xFF in its CRC, and the doubled form.
  EXPECT_EQ(TelnetLine::encode(bytes({0x01, 0x06, 0x00, 0x6E, 0xFF, 0xFF, 0xFF, 0x0A})),
            bytes({0x01, 0x06, 0x00, 0x6E, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0A}));
  EXPECT_EQ(TelnetLine::settings_commands({38400, 'E', 7, 2}),
            bytes({0xFF, 0xFA, 44, 1, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0,  // baud
                   0xFF, 0xFA, 44, 2, 7,    0xFF, 0xF0,                    // data bits
                   0xFF, 0xFA, 44, 3, 3,    0xFF, 0xF0,                    // even parity
                   0xFF, 0xFA, 44, 4, 2,    0xFF, 0xF0,                    // two stop bits
                   0xFF, 0xFA, 44, 5, 1,    0xFF, 0xF0}));                 // no flow control
  // 0xFF inside a command's value is doubled too.
  EXPECT_EQ(TelnetLine::settings_commands({255, 'N', 8, 1}).substr(0, 11),
            bytes({0xFF, 0xFA, 44, 1, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xF0}));
}

TEST(TelnetLine, TakesTheDataOutOfWhatComesBackAndAnswersOnce) {
  TelnetLine line;
  const std::string greeting = line.greeting();
  EXPECT_EQ(greeting.substr(0, 12),
            bytes({0xFF, 0xFB, 0, 0xFF, 0xFD, 0, 0xFF, 0xFD, 3, 0xFF, 0xFB, 44}));
  // What a serial device server says first: WILL/DO SUPPRESS-GO-AHEAD, WILL
  // ECHO, DONT ECHO, DO/WILL BINARY, DO COM-PORT-OPTION, terminal type.
  const std::string offers = bytes({0xFF, 0xFB, 3, 0xFF, 0xFD, 3, 0xFF, 0xFB, 1,  0xFF, 0xFE, 1,
                                    0xFF, 0xFD, 0, 0xFF, 0xFB, 0, 0xFF, 0xFD, 44, 0xFF, 0xFD, 24});
  std::string answer;
  EXPECT_EQ(line.decode(offers, answer), "");
  EXPECT_EQ(answer, bytes({0xFF, 0xFB, 3, 0xFF, 0xFE, 1, 0xFF, 0xFC, 24}));
  answer.clear();
  EXPECT_EQ(line.decode(offers, answer), "");
  EXPECT_EQ(answer, "");  // nothing changed: no negotiation loop

  // A reply with 0xFF doubled, split anywhere (here inside the pair and
  // inside the baud rate's answer), and a notification between.
  const std::string received =
      bytes({0x01, 0x03, 0x02, 0xFF, 0xFF, 0xFF, 0xFA, 44,   101,  0x00, 0x00,
             0x96, 0x00, 0xFF, 0xF0, 0xFF, 0xFF, 0xB9, 0xF4, 0xFF, 0xF1});
  for (std::size_t cut = 1; cut < received.size(); ++cut) {
    TelnetLine split;
    std::string a;
    const std::string data =
        split.decode(received.substr(0, cut), a) + split.decode(received.substr(cut), a);
    ASSERT_EQ(data, bytes({0x01, 0x03, 0x02, 0xFF, 0xFF, 0xB9, 0xF4})) << cut;
    EXPECT_EQ(split.confirmed_baud(), 38400U) << cut;
  }

  // A subnegotiation that never ends is cut, not kept; a refused
  // COM-PORT-OPTION is told.
  TelnetLine flood;
  std::string sub = bytes({0xFF, 0xFA, 44, 107}) + std::string(100000, 'x') + bytes({0xFF, 0xF0});
  EXPECT_EQ(flood.decode(sub + "ok", answer), "ok");
  EXPECT_FALSE(flood.com_port_refused());
  flood.decode(bytes({0xFF, 0xFE, 44}), answer);
  EXPECT_TRUE(flood.com_port_refused());
}

}  // namespace
}  // namespace r7
