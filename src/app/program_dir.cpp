#include "app/program_dir.h"

#include <system_error>

#include "app/settings_file.h"
#include "os/os.h"

namespace r7 {

namespace fs = std::filesystem;

namespace {

// Copies into `target` every file of `source` that `target` lacks; what is
// there already stays as it is. A file appears under its name only once it is
// complete, so a start that was cut off never leaves half a file that later
// starts would keep. Returns "" or what could not be copied.
std::string add_missing_files(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  fs::create_directories(target / "Reg Downloads", ec);
  if (ec) return target.string() + ": " + ec.message();
  fs::recursive_directory_iterator it(source, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path to = target / fs::relative(it->path(), source);
    if (it->is_directory()) {
      fs::create_directories(to, ec);
      continue;
    }
    if (!it->is_regular_file() || fs::exists(to)) continue;
    fs::path part = to;
    part += ".part";
    fs::copy_file(it->path(), part, fs::copy_options::overwrite_existing, ec);
    if (ec) return to.string() + ": " + ec.message();
    // The template is read-only; the user's copy is the user's to change.
    fs::permissions(part, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::rename(part, to, ec);
    if (ec) return to.string() + ": " + ec.message();
  }
  return ec ? source.string() + ": " + ec.message() : "";
}

}  // namespace

ProgramDir::ProgramDir(fs::path dir, Origin origin, fs::path template_dir)
    : dir_(std::move(dir)), origin_(origin), template_dir_(std::move(template_dir)) {}

ProgramDir ProgramDir::resolve(const char* argv0, const std::optional<std::string>& home) {
  std::error_code ec;
  if (home) {
    auto dir = fs::absolute(*home, ec);
    return ProgramDir(ec ? fs::path(*home) : dir, Origin::Home);
  }
  fs::path exe = os::executable_path().value_or(fs::path());
  if (exe.empty() && argv0 != nullptr) exe = fs::absolute(argv0, ec);
  if (ec || exe.empty()) return ProgramDir(fs::current_path(ec));
  return locate(exe.parent_path(), os::user_data_dir());
}

ProgramDir ProgramDir::locate(const fs::path& exe_dir, const std::optional<fs::path>& user_data) {
  std::error_code ec;
  const fs::path template_dir = (exe_dir.parent_path() / "share" / "r7flash").lexically_normal();
  if (fs::exists(exe_dir / kSettingsFileName, ec) || !user_data ||
      !fs::is_directory(template_dir, ec)) {
    return ProgramDir(exe_dir);
  }
  ProgramDir dir(*user_data / "r7flash", Origin::UserData, template_dir);
  dir.seed_problem_ = add_missing_files(template_dir, dir.dir_);
  return dir;
}

std::string ProgramDir::description() const {
  std::string text = "Program directory: " + dir_.string();
  switch (origin_) {
    case Origin::Home:
      return text + " (--home)";
    case Origin::Executable:
      return text + " (the executable's folder)";
    case Origin::UserData:
      text += " (the user's copy of " + template_dir_.string() + ")";
      if (!seed_problem_.empty()) text += "; not copied: " + seed_problem_;
      return text;
  }
  return text;
}

fs::path fixed_name_path(const std::string& name) {
  fs::path result;
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

fs::path ProgramDir::join(const std::string& name) const {
  return dir_ / fixed_name_path(name);
}

fs::path ProgramDir::settings_file() const {
  return dir_ / kSettingsFileName;
}
fs::path ProgramDir::sequences_dir() const {
  return dir_ / "Download Sequences";
}
fs::path ProgramDir::setups_dir() const {
  return dir_ / "Reg Downloads";
}

}  // namespace r7
