#include "app/program_dir.h"

#include <system_error>

#include "app/settings_file.h"
#include "os/os.h"

namespace r7 {

ProgramDir::ProgramDir(std::filesystem::path dir) : dir_(std::move(dir)) {}

ProgramDir ProgramDir::resolve(const char* argv0, const std::optional<std::string>& home) {
  std::error_code ec;
  if (home) {
    auto dir = std::filesystem::absolute(*home, ec);
    return ProgramDir(ec ? std::filesystem::path(*home) : dir);
  }
  std::filesystem::path exe = os::executable_path().value_or(std::filesystem::path());
  if (exe.empty() && argv0 != nullptr) exe = std::filesystem::absolute(argv0, ec);
  if (ec || exe.empty()) return ProgramDir(std::filesystem::current_path(ec));
  return ProgramDir(exe.parent_path());
}

std::filesystem::path fixed_name_path(const std::string& name) {
  std::filesystem::path result;
  std::string part;
  for (char c : name + '\\') {
    if (c == '\\' || c == '/') {
      if (!part.empty()) result /= part;
      part.clear();
    } else {
      part += c;
    }
  }
  return result;
}

std::filesystem::path ProgramDir::join(const std::string& name) const {
  return dir_ / fixed_name_path(name);
}

std::filesystem::path ProgramDir::settings_file() const {
  return dir_ / kSettingsFileName;
}
std::filesystem::path ProgramDir::sequences_dir() const {
  return dir_ / "Download Sequences";
}
std::filesystem::path ProgramDir::setups_dir() const {
  return dir_ / "Reg Downloads";
}

}  // namespace r7
