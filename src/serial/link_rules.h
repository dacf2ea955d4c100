// The serial link's own figures, shared by its sources (not for its users).
#pragma once

#include <cstddef>

namespace r7::link_rules {

// Procedure names in the error log.
inline constexpr const char* kOpenPort = "open_port";
inline constexpr const char* kTransmit = "transmit";

// A step that keeps failing is tried this often in all, then given up.
inline constexpr int kStepAttempts = 3;

// End-of-reply rules (see comms_receive.cpp).
inline constexpr double kSliceMs = 10.0;            // longest single wait on the port
inline constexpr double kBurstSilenceChars = 16.0;  // silence that ends an incomplete reply ...
inline constexpr double kBurstSilenceMinMs = 25.0;  // ... but never less than this
inline constexpr std::size_t kMaxReplyRoom = 260;   // longest reply the time-out makes room for
// Through a serial device server a reply may come in TCP segments far apart
// (Nagle's algorithm at the server against delayed acknowledgements: 40 ms on
// Linux, 200 ms on Windows); an incomplete reply waits this long there.
inline constexpr double kNetworkBurstSilenceMs = 250.0;

// Used when a settings string was replaced after start-up by one whose baud
// part cannot be read; the line is then at least as slow as this for timing.
inline constexpr int kFallbackBaud = 9600;

}  // namespace r7::link_rules
