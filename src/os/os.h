// The few things the program asks of the operating system, in one place. One
// source file per system implements them (os_posix.cpp, os_windows.cpp); the
// build picks the one it needs, so no other source tests for the system or
// includes its headers.
#pragma once

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "seams/clock.h"

namespace r7::os {

// `t` as local time on this machine's time zone, with its offset from UTC.
LocalTime local_time(std::time_t t);

// The running executable's full path, when the system tells it.
std::optional<std::filesystem::path> executable_path();

// The folder for this user's application data: $XDG_DATA_HOME, else
// ~/.local/share (%LOCALAPPDATA% on Windows); nullopt when neither is known.
std::optional<std::filesystem::path> user_data_dir();

// The system's own device name for serial port number `port` (1 to 4 in the
// settings file): COM1.. on Windows, /dev/ttyS0.. elsewhere.
std::string serial_device_name(int port);

// This process's id as decimal text.
std::string process_id();

// Whether a process with the decimal id `id` runs now; nullopt when the system
// cannot tell (then it may run).
std::optional<bool> process_running(const std::string& id);

// Why serial device `device` cannot be opened, in words for the user: no such
// device (naming the serial devices there are), no permission (naming the
// device's group and how to join it), in use (naming the program and its
// process id); "" when none of these is found.
std::string serial_device_problem(const std::string& device);

// SIGINT, SIGTERM and SIGHUP (Ctrl+C and closing the console on Windows) store
// their number in `flag` for the job to stop at a safe point; a second one
// ends the process at once with status 128 + its number.
void stop_on_signals(std::atomic<int>& flag);

// Whether `stream` is an interactive terminal (a console).
bool is_terminal(std::FILE* stream);
// The width of the terminal `stream` writes to, in characters; nullopt when it
// is not a terminal or does not tell.
std::optional<int> terminal_columns(std::FILE* stream);

// The login name of the user running the program; nullopt when the system
// does not tell it.
std::optional<std::string> user_name();

// Appends `bytes` to `file` (created when missing) in one write on a file
// opened for appending, so that what other processes append at the same time
// never lands inside it, and a crash leaves earlier content whole. The
// system's reason when it could not be written in full, "" when it was.
std::string append_whole(const std::filesystem::path& file, std::string_view bytes);

}  // namespace r7::os
