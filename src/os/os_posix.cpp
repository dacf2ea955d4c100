// os.h on Linux and other POSIX systems.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

#include "os/os.h"

namespace r7::os {

LocalTime local_time(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return LocalTime{tm.tm_year + 1900,
                   tm.tm_mon + 1,
                   tm.tm_mday,
                   tm.tm_hour,
                   tm.tm_min,
                   tm.tm_sec,
                   static_cast<int>(tm.tm_gmtoff / 60)};
}

std::optional<std::filesystem::path> executable_path() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return std::nullopt;
  return exe;
}

std::optional<std::filesystem::path> user_data_dir() {
  // A relative XDG_DATA_HOME is to be ignored, as an unset one.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && std::filesystem::path(xdg).is_absolute()) return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::nullopt;
  return std::filesystem::path(home) / ".local" / "share";
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

namespace {

std::atomic<int>* g_stop_flag = nullptr;

extern "C" void on_stop_signal(int signal) {
  if (g_stop_flag->exchange(signal) != 0) {
    constexpr char kAtOnce[] = "stopped at once by a second signal\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kAtOnce, sizeof kAtOnce - 1);
    _exit(128 + signal);
  }
}

}  // namespace

void stop_on_signals(std::atomic<int>& flag) {
  g_stop_flag = &flag;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
}

bool is_terminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

std::optional<int> terminal_columns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return std::nullopt;
  return static_cast<int>(size.ws_col);
}

namespace {

// The serial devices under /dev, as "ports" would name them.
std::string serial_devices() {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
    const std::string name = entry.path().filename().string();
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS", "rfcomm"}) {
      if (name.rfind(prefix, 0) == 0) found.push_back(entry.path().string());
    }
  }
  std::sort(found.begin(), found.end());
  std::string list;
  for (const std::string& d : found)
    list += (list.empty() ? "" : ", ") + d;
  return list.empty() ? "none" : list;
}

// Another process holding `device` open: "NAME (process ID)", or "".
std::string holder_of(const std::filesystem::path& device) {
  std::error_code ec;
  const auto target = std::filesystem::canonical(device, ec);
  if (ec) return {};
  const std::string self = process_id();
  for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = proc.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    std::error_code fd_ec;
    for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", fd_ec)) {
      std::error_code link_ec;
      if (std::filesystem::read_symlink(fd.path(), link_ec) != target) continue;
      std::string name;
      std::getline(std::ifstream(proc.path() / "comm"), name);
      return (name.empty() ? "a program" : name) + " (process " + pid + ")";
    }
  }
  return {};
}

}  // namespace

std::string serial_device_problem(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    if (errno != ENOENT) return {};
    return "There is no device " + device + ". Serial devices here: " + serial_devices() + ".";
  }
  if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
    const group* g = ::getgrgid(st.st_gid);
    const std::string name = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
    return "You may not use " + device + ": it belongs to the group " + name +
           ". Join it with: sudo usermod -aG " + name + " $USER, then log in again.";
  }
  const std::string holder = holder_of(device);
  if (!holder.empty()) return device + " is in use by " + holder + ".";
  return {};
}

std::optional<std::string> user_name() {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0') {
    return std::string(found->pw_name);
  }
  for (const char* variable : {"USER", "LOGNAME"}) {
    const char* name = std::getenv(variable);
    if (name != nullptr && *name != '\0') return std::string(name);
  }
  return std::nullopt;
}

std::string append_whole(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::generic_category().message(errno);
  ssize_t written = -1;
  do {
    written = write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  const int write_error = errno;
  close(fd);
  if (written < 0) return std::generic_category().message(write_error);
  // A short write (a full disk) leaves a line without its end: the readers
  // skip it as damaged.
  if (static_cast<std::size_t>(written) != bytes.size()) return "the disk took only part of it";
  return {};
}

}  // namespace r7::os
