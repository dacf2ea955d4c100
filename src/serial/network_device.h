// Device names of serial lines reached over the network through a serial
// device server: "rfc2217://HOST:PORT" (telnet with the COM-PORT-OPTION, the
// line settings set through it) and "socket://HOST:PORT" (raw TCP, the line
// settings fixed at the server). HOST may be a name, an IPv4 address or an
// IPv6 address in brackets ("rfc2217://[::1]:2217").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace r7 {

enum class NetworkScheme { Rfc2217, RawSocket };

struct NetworkDevice {
  NetworkScheme scheme = NetworkScheme::Rfc2217;
  std::string host;  // without brackets
  std::uint16_t port = 0;

  bool operator==(const NetworkDevice&) const = default;
};

// Whether the name starts with one of the two schemes (case-insensitively),
// whether or not the rest is a valid address.
bool is_network_device_name(std::string_view name);

// The scheme, host and port of a network device name; nullopt when the name
// is not one or its address is not valid (no host, a port outside 1..65535).
std::optional<NetworkDevice> parse_network_device(std::string_view name);

// The host as it is written in an address: an IPv6 address in brackets.
std::string written_host(const NetworkDevice& device);

// Whether the line behind the device name cannot change its settings: a raw
// TCP connection, whose line settings are fixed at the server.
bool line_settings_fixed(std::string_view device_name);

}  // namespace r7
