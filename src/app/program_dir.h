// The program directory: where the settings file, the S-record files,
// "Download Sequences" and "Reg Downloads" live.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace r7 {

class ProgramDir {
 public:
  // Where the directory in use comes from.
  enum class Origin {
    Home,        // --home DIR
    Executable,  // the executable's folder: a build tree or a portable folder
    UserData,    // an installed program: the user's copy of the package's template
  };

  explicit ProgramDir(std::filesystem::path dir, Origin origin = Origin::Executable,
                      std::filesystem::path template_dir = {});

  // `home` when given; otherwise the folder of the running executable
  // (`argv0` is the fallback when the system does not tell it), or for an
  // installed program the user's data folder (see locate()).
  static ProgramDir resolve(const char* argv0, const std::optional<std::string>& home);

  // Without a settings file in `exe_dir` but with the package's template in
  // `exe_dir`/../share/r7flash, the program directory is `user_data`/r7flash,
  // made from the template: files the template has and the folder has not are
  // copied in, files already there are never replaced. Otherwise `exe_dir`.
  static ProgramDir locate(const std::filesystem::path& exe_dir,
                           const std::optional<std::filesystem::path>& user_data);

  const std::filesystem::path& path() const { return dir_; }
  Origin origin() const { return origin_; }
  const std::filesystem::path& template_dir() const { return template_dir_; }

  // One line for the user: the folder and why it is the one in use.
  std::string description() const;

  // Joins a fixed name written with "\" separators ("\Reg Downloads",
  // "Dnld_R7.s19") onto the program directory with the platform's separators.
  std::filesystem::path join(const std::string& name) const;

  std::filesystem::path settings_file() const;
  std::filesystem::path sequences_dir() const;  // "Download Sequences"
  std::filesystem::path setups_dir() const;     // "Reg Downloads"

 private:
  std::filesystem::path dir_;
  Origin origin_;
  std::filesystem::path template_dir_;
  std::string seed_problem_;  // why the template could not be copied in full
};

// "\a\b" -> "a/b": a name written with backslashes as a relative path.
std::filesystem::path fixed_name_path(const std::string& name);

}  // namespace r7
