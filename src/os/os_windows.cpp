// os.h on Windows.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "os/os.h"

namespace r7::os {

LocalTime local_time(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  std::tm utc{};
  gmtime_s(&utc, &t);
  utc.tm_isdst = tm.tm_isdst;
  const int offset = static_cast<int>(std::difftime(std::mktime(&tm), std::mktime(&utc)) / 60);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                   tm.tm_min,         tm.tm_sec,     offset};
}

std::optional<std::filesystem::path> executable_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    if (n < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::filesystem::path> user_data_dir() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || *local == L'\0') return std::nullopt;
  return std::filesystem::path(local);
}

std::string serial_device_name(int port) {
  return "COM" + std::to_string(port);
}

std::string process_id() {
  return std::to_string(GetCurrentProcessId());
}

std::optional<bool> process_running(const std::string& id) {
  DWORD pid = 0;
  const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), pid);
  if (ec != std::errc() || end != id.data() + id.size() || pid == 0) return std::nullopt;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    return GetLastError() == ERROR_INVALID_PARAMETER ? std::optional<bool>(false) : std::nullopt;
  }
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) != 0 && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

namespace {

std::atomic<int>* g_stop_flag = nullptr;

constexpr int kSigHup = 1;  // as the console's close is reported

BOOL WINAPI on_console_event(DWORD event) {
  const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT
                     : event == CTRL_CLOSE_EVENT                        ? kSigHup
                                                                        : SIGTERM;
  if (g_stop_flag->exchange(signal) != 0) std::_Exit(128 + signal);
  return TRUE;
}

}  // namespace

void stop_on_signals(std::atomic<int>& flag) {
  g_stop_flag = &flag;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool is_terminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

std::optional<int> terminal_columns(std::FILE* stream) {
  if (!is_terminal(stream)) return std::nullopt;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return std::nullopt;
  return static_cast<int>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::string serial_device_problem(const std::string&) {
  return {};  // the system's own message says it
}

std::optional<std::string> user_name() {
  const char* name = std::getenv("USERNAME");
  if (name == nullptr || *name == '\0') return std::nullopt;
  return std::string(name);
}

std::string append_whole(const std::filesystem::path& file, std::string_view bytes) {
  // FILE_APPEND_DATA alone: every write goes to the end of the file at once.
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "Windows error " + std::to_string(GetLastError());
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok) return "Windows error " + std::to_string(error);
  if (written != bytes.size()) return "the disk took only part of it";
  return {};
}

}  // namespace r7::os
