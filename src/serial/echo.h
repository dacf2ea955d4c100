// The echo of a 2-wire RS-485 adapter that hears its own transmitter: every
// byte the PC sends comes back before the controller's reply. The timed
// exchange removes it; whether a line echoes is found out on the first
// exchanges and kept for the device until its ports are closed.
#pragma once

#include <string_view>

namespace r7 {

// --echo auto|on|off: found out, always there, never there (a direct line).
enum class EchoMode { Auto, On, Off };

// What is known about a device's line.
enum class EchoState { Unknown, Present, Absent };

// How the bytes received so far stand to the request just sent.
enum class EchoMatch {
  Prefix,  // the beginning of the request (or nothing yet): could still be its echo
  Whole,   // they begin with the whole request
  Departs  // they differ from the request before its end
};

EchoMatch match_echo(std::string_view sent, std::string_view received);

}  // namespace r7
