#include "serial/network_device.h"

#include <algorithm>
#include <cctype>

namespace r7 {

namespace {

constexpr std::string_view kRfc2217 = "rfc2217://";
constexpr std::string_view kSocket = "socket://";

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::optional<std::uint16_t> port_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

bool is_network_device_name(std::string_view name) {
  return starts_with_nocase(name, kRfc2217) || starts_with_nocase(name, kSocket);
}

std::optional<NetworkDevice> parse_network_device(std::string_view name) {
  NetworkDevice d;
  if (starts_with_nocase(name, kRfc2217)) {
    name.remove_prefix(kRfc2217.size());
  } else if (starts_with_nocase(name, kSocket)) {
    d.scheme = NetworkScheme::RawSocket;
    name.remove_prefix(kSocket.size());
  } else {
    return std::nullopt;
  }
  if (!name.empty() && name.back() == '/') name.remove_suffix(1);
  std::string_view host;
  std::string_view port;
  if (!name.empty() && name.front() == '[') {
    const std::size_t close = name.find(']');
    if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':') {
      return std::nullopt;
    }
    host = name.substr(1, close - 1);
    port = name.substr(close + 2);
  } else {
    const std::size_t colon = name.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = name.substr(0, colon);
    port = name.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) return std::nullopt;  // IPv6 needs brackets
  }
  const bool host_ok = !host.empty() && std::none_of(host.begin(), host.end(), [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@';
  });
  const auto number = port_number(port);
  if (!host_ok || !number) return std::nullopt;
  d.host = std::string(host);
  d.port = *number;
  return d;
}

std::string written_host(const NetworkDevice& device) {
  return device.host.find(':') != std::string::npos ? "[" + device.host + "]" : device.host;
}

bool line_settings_fixed(std::string_view device_name) {
  return starts_with_nocase(device_name, kSocket);
}

}  // namespace r7
