// The serial port seam on QSerialPort, and the list of the machine's ports.
//
// Error numbers thrown (RunError), as the serial link acts on them:
//   68  open() fails for any reason (device missing, busy or locked, no
//       permission), or the settings string cannot be put on the line at open;
//       any operation but close() on a port that is not open.
//   57  a failure on the open port: a read or wait that ends in an error
//       (the other end hung up, a USB adapter was pulled), a write that is not
//       taken within its time, settings refused by the open port. Closing and
//       reopening is the cure; when the device has gone the reopen gives 68.
// A wait that runs out (QSerialPort::TimeoutError) is no failure.
//
// The QSerialPort is made when the port is opened and destroyed when it is
// closed, so it lives in the thread that uses it; a job on a worker thread
// closes its ports before it ends.
//
// QSerialPort takes bytes from the device into its buffer only while one of
// its wait functions runs or events are processed, so bytes_waiting() looks
// at the device without blocking first. After a hang-up waitForReadyRead
// returns false at once with ReadError; that is reported as 57 instead of
// being taken for "no data yet", so a waiting loop cannot spin.
#pragma once

#include <QSerialPort>

#include <memory>
#include <string>
#include <vector>

#include "seams/serial_port.h"

namespace r7::platform {

class QtSerialPort final : public SerialPort {
 public:
  QtSerialPort() = default;
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  void set_device(const std::string& device_name) override { device_ = device_name; }
  void set_settings(const std::string& settings) override;
  void open() override;
  void close() override;
  bool is_open() const override { return port_ && port_->isOpen(); }
  std::size_t bytes_waiting() override;
  void clear_input() override;
  void write(std::string_view bytes) override;
  int read_byte() override;
  bool wait_for_input(std::uint32_t ms) override;

 private:
  void require_open() const;
  // Puts the settings string on the port object; false when it cannot be.
  bool apply_settings();
  // Takes what the device has received into the buffer without blocking.
  void take_in();
  // Throws 57 when the last operation left an error other than a time-out.
  void check_error(const char* what);

  std::unique_ptr<QSerialPort> port_;  // made by open(), in the thread that opens it
  std::string device_;
  std::string settings_ = "9600,N,8,1";
};

// Makes port objects that take a local device or a network address
// ("rfc2217://HOST:PORT", "socket://HOST:PORT"), see qt_network_port.h.
class QtPortFactory final : public PortFactory {
 public:
  std::unique_ptr<SerialPort> create_port() override;
};

struct PortInfo {
  std::string name;          // "ttyUSB0", "COM3"
  std::string location;      // "/dev/ttyUSB0"
  std::string description;   // as the system tells it, may be empty
  std::string manufacturer;  // may be empty
  std::string usb_id;        // "0403:6001" when known, else empty
};

// The serial ports found on this machine.
std::vector<PortInfo> available_ports();

}  // namespace r7::platform
