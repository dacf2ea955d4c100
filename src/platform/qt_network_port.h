// The serial port seam on a TCP connection to a serial device server:
// "rfc2217://HOST:PORT" (telnet with the COM-PORT-OPTION: the line settings,
// the download's 38400 baud among them, are set at the server as on a local
// port) or "socket://HOST:PORT" (raw TCP: the server's line settings stay as
// they are configured there).
//
// Error numbers thrown (RunError), as for a local port:
//   68  the address is not valid, the host is not found, the connection is
//       refused or not made within kConnectTimeoutMs; the message names host
//       and port. Any operation but close() on a port that is not open.
//   57  the connection dropped (the server closed it, a network error), a
//       write not taken in time. The serial link then reconnects, as it
//       reopens a local port that hung up.
// Like QtSerialPort, the socket is made by open() in the thread that uses it.
#pragma once

#include <QTcpSocket>

#include <memory>
#include <optional>
#include <string>

#include "platform/qt_serial_port.h"
#include "seams/serial_port.h"
#include "serial/network_device.h"
#include "serial/telnet_line.h"

namespace r7::platform {

inline constexpr int kConnectTimeoutMs = 3000;

class QtNetworkPort final : public SerialPort {
 public:
  QtNetworkPort() = default;
  ~QtNetworkPort() override;
  QtNetworkPort(const QtNetworkPort&) = delete;
  QtNetworkPort& operator=(const QtNetworkPort&) = delete;

  void set_device(const std::string& device_name) override { device_ = device_name; }
  void set_settings(const std::string& settings) override;
  void open() override;
  void close() override;
  bool is_open() const override { return socket_ != nullptr; }
  std::size_t bytes_waiting() override;
  void clear_input() override;
  void write(std::string_view bytes) override;
  int read_byte() override;
  bool wait_for_input(std::uint32_t ms) override;

 private:
  void require_open() const;
  [[noreturn]] void fail_connect(const NetworkDevice& d);
  // Sends bytes as they are (already encoded) and waits until they are taken.
  void send_raw(const std::string& bytes, const char* what);
  // Takes what has arrived into in_ without blocking; throws 57 when the
  // connection has dropped and nothing is left to read.
  void take_in();
  void discard_stale_input();
  void drop_input() {
    in_.clear();
    in_pos_ = 0;
  }
  bool telnet() const { return address_ && address_->scheme == NetworkScheme::Rfc2217; }

  std::unique_ptr<QTcpSocket> socket_;  // made by open(), in the thread that opens it
  std::optional<NetworkDevice> address_;
  TelnetLine telnet_;
  std::string device_;
  std::string settings_ = "9600,N,8,1";
  std::string in_;  // data received, not yet read (from in_pos_)
  std::size_t in_pos_ = 0;
};

// A port object that serves a local serial device or a network address,
// chosen by the device name at each open.
class QtDevicePort final : public SerialPort {
 public:
  void set_device(const std::string& device_name) override;
  void set_settings(const std::string& settings) override { active().set_settings(settings); }
  void open() override { active().open(); }
  void close() override {
    serial_.close();
    network_.close();
  }
  bool is_open() const override { return serial_.is_open() || network_.is_open(); }
  std::size_t bytes_waiting() override { return active().bytes_waiting(); }
  void clear_input() override { active().clear_input(); }
  void write(std::string_view bytes) override { active().write(bytes); }
  int read_byte() override { return active().read_byte(); }
  bool wait_for_input(std::uint32_t ms) override { return active().wait_for_input(ms); }

 private:
  SerialPort& active() { return network_device_ ? static_cast<SerialPort&>(network_) : serial_; }

  QtSerialPort serial_;
  QtNetworkPort network_;
  bool network_device_ = false;
};

}  // namespace r7::platform
