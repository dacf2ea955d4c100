// Exit statuses of r7flash-cli.
#pragma once

namespace r7::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;         // usage error or not available
inline constexpr int kExitNoController = 2;  // controller did not answer or is not recognised
inline constexpr int kExitFile = 3;          // a file is missing, unreadable or invalid
inline constexpr int kExitCancelled = 4;     // cancelled, or a question answered No
inline constexpr int kExitFailed = 5;        // a transfer or a write failed
inline constexpr int kExitPort = 6;          // the serial port could not be opened

}  // namespace r7::cli
