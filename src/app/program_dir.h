// The program directory: where the settings file, the S-record files,
// "Download Sequences" and "Reg Downloads" live.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace r7 {

class ProgramDir {
 public:
  explicit ProgramDir(std::filesystem::path dir);

  // The directory of the running executable (`argv0` is the fallback when
  // the system does not tell it), or `home` when given.
  static ProgramDir resolve(const char* argv0, const std::optional<std::string>& home);

  const std::filesystem::path& path() const { return dir_; }

  // Joins a fixed name written with "\" separators ("\Reg Downloads",
  // "Dnld_R7.s19") onto the program directory with the platform's separators.
  std::filesystem::path join(const std::string& name) const;

  std::filesystem::path settings_file() const;
  std::filesystem::path sequences_dir() const;  // "Download Sequences"
  std::filesystem::path setups_dir() const;     // "Reg Downloads"

 private:
  std::filesystem::path dir_;
};

// "\a\b" -> "a/b": a name written with backslashes as a relative path.
std::filesystem::path fixed_name_path(const std::string& name);

}  // namespace r7
