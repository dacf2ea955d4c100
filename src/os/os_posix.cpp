// os.h on Linux and other POSIX systems.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

#include "os/os.h"

namespace r7::os {

LocalTime local_time(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<std::filesystem::path> executable_path() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return std::nullopt;
  return exe;
}

std::string serial_device_name(int port) {
  return "/dev/ttyS" + std::to_string(port - 1);
}

std::string process_id() {
  return std::to_string(getpid());
}

std::optional<bool> process_running(const std::string& id) {
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), pid);
  if (ec != std::errc() || end != id.data() + id.size() || pid <= 0) return std::nullopt;
  if (kill(pid, 0) == 0) return true;
  if (errno == EPERM) return true;  // it runs, under another user
  if (errno == ESRCH) return false;
  return std::nullopt;
}

bool is_terminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

}  // namespace r7::os
