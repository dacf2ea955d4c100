#include "base/input_file.h"

#include <string>
#include <system_error>

#include "base/run_error.h"

namespace r7 {

namespace {

const char* kind_of(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::directory:
      return "a directory";
    case file_type::fifo:
      return "a pipe";
    case file_type::character:
      return "a character device";
    case file_type::block:
      return "a block device";
    case file_type::socket:
      return "a socket";
    default:
      return "not a plain file";
  }
}

}  // namespace

std::ifstream open_input_file(const std::filesystem::path& file, std::uintmax_t max_bytes) {
  const std::string name = file.string();
  if (file.empty()) throw RunError(err::kFileNotFound, "no file name given");
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw RunError(err::kFileNotFound, name + ": no such file", name);
  }
  if (ec) throw RunError(err::kPathFileAccess, name + ": " + ec.message(), name);
  if (status.type() != std::filesystem::file_type::regular) {
    throw RunError(err::kPathFileAccess,
                   name + " is not a regular file (it is " + kind_of(status.type()) + ")", name);
  }
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) throw RunError(err::kPathFileAccess, name + ": " + ec.message(), name);
  if (size > max_bytes) {
    throw RunError(err::kOutOfMemory,
                   name + " is " + std::to_string(size) + " bytes, more than the " +
                       std::to_string(max_bytes) + " such a file can have",
                   name);
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw RunError(err::kPathFileAccess, name + ": cannot be opened for reading", name);
  return in;
}

}  // namespace r7
