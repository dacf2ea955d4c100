// Opening a file for reading, in one place: what the path names is checked
// before it is opened, so a directory, a pipe or a device is refused at once
// (opening a pipe would wait for a writer forever) and a file far too large
// for what it should hold is refused without reading it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

namespace r7 {

inline constexpr std::uintmax_t kAnySize = std::numeric_limits<std::uintmax_t>::max();

// `file` opened for binary reading. RunError naming the file, its message
// saying what is wrong:
//   53  no name given, or no such file;
//   75  not a regular file (directory, pipe, device, socket), or it cannot be
//       examined or opened;
//    7  larger than `max_bytes`.
std::ifstream open_input_file(const std::filesystem::path& file,
                              std::uintmax_t max_bytes = kAnySize);

}  // namespace r7
