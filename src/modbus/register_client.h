// Holding-register reads and writes over the Modbus slot, with results that
// say what happened. Every 16-bit value reads and writes; no value stands for
// a failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/expected.h"
#include "modbus/modbus.h"
#include "serial/comms.h"

namespace r7 {

inline constexpr float kModbusTimeoutMs = 250.0F;  // one try on the Modbus slot

enum class RegisterFailure {
  NoReply,      // nothing came back within the time-out
  Damaged,      // a reply with a bad CRC or length, or one that does not answer the request
  Refused,      // an exception reply; RegisterError::exception_code says which
  PortFailure,  // the port could not be opened or was lost
};

struct RegisterError {
  RegisterFailure failure = RegisterFailure::NoReply;
  int exception_code = 0;
  std::string reply;  // the bytes that came back, empty when none

  // The reply as the histories show it ("1 134 -32002 8065 "), "" when none.
  std::string text() const { return decode_modbus_reply(reply).text; }
};

template <class T>
using RegisterResult = Expected<T, RegisterError>;

// Which failures a repeated request tries again after.
enum class Repeat {
  WhenSilent,           // only when nothing came back (or the port could not be opened)
  WhenSilentOrDamaged,  // also after a damaged reply
};

class RegisterClient {
 public:
  explicit RegisterClient(Comms& comms) : comms_(comms) {}

  // `count` (1..49) holding registers from `register_no` at `address`; at most
  // `tries` requests while the failure is one `repeat` names.
  RegisterResult<std::vector<std::int16_t>> read_registers(int address, int register_no, int count,
                                                           int tries = 1,
                                                           Repeat repeat = Repeat::WhenSilent);
  // One register; the echo must repeat the register and the value.
  RegisterResult<void> write_register(int address, int register_no, std::int16_t value,
                                      int tries = 1, Repeat repeat = Repeat::WhenSilent);

  // The bytes of the last reply (empty when none), for the command line's
  // display of what came back.
  const std::string& last_reply() const { return last_reply_; }

 private:
  // Sends `request` and checks the reply against it: the address and function
  // code, then a read's byte count (2 per register) or a write's echo. After a
  // try without a fitting reply the line is drained.
  RegisterResult<std::vector<std::int16_t>> exchange(const std::string& request,
                                                     int expected_count);
  RegisterResult<std::vector<std::int16_t>> check_reply(const std::string& request,
                                                        int expected_count, ExchangeResult& result);
  static bool repeated(const RegisterError& e, Repeat repeat);

  Comms& comms_;
  std::string last_reply_;
};

}  // namespace r7
