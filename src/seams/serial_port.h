// The serial port seam. One object per protocol slot; the Qt adapter
// (platform/), the simulated controller's port (sim/) and test fakes implement it.
//
// Failures are thrown as RunError with the number the callers act on:
//   68  the port cannot be used at all: open() finds the device missing, busy
//       or not permitted, or cannot apply the settings string; any operation
//       but close() on a port that is not open;
//   57  a failure on an open port that closing and reopening can cure: an I/O
//       error, the other end hung up or the device went away, a write that does
//       not complete, settings that an open port refuses;
//   69  treated like 57 by the callers (for adapters that tell the two apart).
// A wait that simply runs out is no failure: wait_for_input returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace r7 {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // The device behind the port ("/dev/ttyS1", "COM2", a pseudo-terminal).
  virtual void set_device(const std::string& device_name) = 0;
  // A settings string "baud,parity,data,stop" ("9600,N,8,1", "38400,n,8,1");
  // applied at the next open, and at once when the port is open. No flow
  // control, no other line options.
  virtual void set_settings(const std::string& settings) = 0;

  virtual void open() = 0;
  // Never throws; closing a closed port does nothing.
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  // Received bytes waiting to be read.
  virtual std::size_t bytes_waiting() = 0;
  // Discards every byte waiting.
  virtual void clear_input() = 0;
  // Writes all of `bytes` (returns once they are handed to the line).
  virtual void write(std::string_view bytes) = 0;
  // The next waiting byte 0..255, or -1 when none is waiting.
  virtual int read_byte() = 0;
  // Waits up to `ms` milliseconds for at least one byte to be waiting and
  // returns whether one is. Never spins: it blocks (or, on a fake clock,
  // moves time on) until a byte arrives or the time is up.
  virtual bool wait_for_input(std::uint32_t ms) = 0;
};

// Makes the port object of a protocol slot.
class PortFactory {
 public:
  virtual ~PortFactory() = default;
  virtual std::unique_ptr<SerialPort> create_port() = 0;
};

}  // namespace r7
