#include "serial/trace.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

namespace r7 {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

std::optional<std::string> parse_hex_bytes(std::string_view text) {
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\t') continue;
    const char* at = std::strchr(kHexDigits, std::toupper(static_cast<unsigned char>(c)));
    if (c == '\0' || at == nullptr) return std::nullopt;
    const int digit = static_cast<int>(at - kHexDigits);
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  if (bytes.empty() || high >= 0) return std::nullopt;
  return bytes;
}

std::string hex_bytes(std::string_view bytes, bool blanks) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (blanks && !text.empty()) text += ' ';
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0x0F];
  }
  return text;
}

FileTrace::FileTrace(std::filesystem::path file, Clock& clock)
    : file_(std::move(file)), clock_(clock) {}

std::optional<std::string> FileTrace::check(const std::filesystem::path& file) {
  if (file.empty()) return "no trace file named";
  using std::filesystem::file_type;
  std::error_code ec;
  const file_type type = std::filesystem::status(file, ec).type();
  if (type == file_type::directory) return file.string() + " is a directory, not a file";
  if (type == file_type::fifo || type == file_type::character || type == file_type::block ||
      type == file_type::socket) {
    return std::nullopt;
  }
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out) return "cannot write to " + file.string();
  return std::nullopt;
}

std::string FileTrace::format_line(int slot, const std::string& device, bool transmitted,
                                   std::string_view bytes, std::uint32_t elapsed_ms) {
  return format(slot, device, transmitted ? "TX" : "RX", bytes, elapsed_ms);
}

std::string FileTrace::format(int slot, const std::string& device, const char* direction,
                              std::string_view bytes, std::uint32_t elapsed_ms) {
  const LocalTime t = clock_.local_time();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  std::string line =
      std::string(stamp) + " slot " + std::to_string(slot) + " " + device + " " + direction + " ";
  line += bytes.empty() ? std::string("-") : hex_bytes(bytes);
  line += " " + std::to_string(elapsed_ms) + " ms";
  return line;
}

// A trace that cannot be written is lost; the exchange goes on.
void FileTrace::append(const std::string& line) {
  errno = 0;
  std::ofstream out(file_, std::ios::binary | std::ios::app);
  if (out) {
    out << line + "\n";  // one write: lines of other stations never land inside it
    out.flush();
  }
  if (out || lost_told_) return;
  const int saved_errno = errno;
  lost_told_ = true;
  if (on_lost_) {
    on_lost_(file_.string() + ": " +
             (saved_errno == 0 ? std::string("cannot write")
                               : std::error_code(saved_errno, std::generic_category()).message()));
  }
}

void FileTrace::discarded(int slot, const std::string& device, std::string_view bytes,
                          std::uint32_t elapsed_ms) {
  append(format(slot, device, "DROP", bytes, elapsed_ms));
}

void FileTrace::echoed(int slot, const std::string& device, std::string_view bytes,
                       std::uint32_t elapsed_ms) {
  append(format(slot, device, "ECHO", bytes, elapsed_ms));
}

void FileTrace::record(int slot, const std::string& device, bool transmitted,
                       std::string_view bytes, std::uint32_t elapsed_ms) {
  append(format_line(slot, device, transmitted, bytes, elapsed_ms));
}

}  // namespace r7
