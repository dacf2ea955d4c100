#include "setup/setup_backup.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "setup/setup_save.h"

namespace r7 {

namespace {

// The save's window, kept out of sight: the firmware download's history
// says what the backup did.
class HiddenSetupView final : public SetupView {
 public:
  void add_history(const std::string&) override {}
  void clear_history() override {}
  void add_error(const std::string&) override {}
  void clear_errors() override {}
  void set_progress_visible(bool) override {}
  void set_progress_range(int, int) override {}
  void set_progress_value(int) override {}
  void set_window_enabled(bool) override {}
  void begin_wait(const std::string&, std::uint32_t) override {}
  void end_wait() override {}
};

// The save's prompts: the file name is chosen here, OK boxes are kept back
// (the first one says why a save ended), Retry questions go to the user.
class BackupPrompts final : public Prompts {
 public:
  BackupPrompts(Prompts& user, Clock& clock, int retries)
      : user_(user), clock_(clock), retries_left_(retries) {}

  Answer message_box(const MessageBox& box) override {
    if (box.buttons == Buttons::Ok) {
      if (first_message_.empty()) first_message_ = box.text;
      return Answer::Ok;
    }
    if (box.buttons == Buttons::RetryCancel && retries_left_ > 0) {
      const Answer a = user_.message_box(box);
      if (a == Answer::Retry) --retries_left_;
      return a;
    }
    // "File already exists...": only the empty file reserved below is
    // overwritten; a backup never replaces another.
    if (box.buttons == Buttons::YesNo) return reserved_ ? Answer::Yes : Answer::No;
    return Answer::Cancel;
  }
  std::optional<int> choose(const Choice&) override { return std::nullopt; }
  std::optional<std::string> open_file(const FileDialog&) override { return std::nullopt; }
  // A name no other backup has: created here, empty, so that a second station
  // or program backing up the same controller in the same second takes the
  // next name ("...-2.txt") instead of replacing this one.
  std::optional<std::string> save_file(const FileDialog& dialog) override {
    const std::filesystem::path first = std::filesystem::path(dialog.initial_dir) /
                                        backup_file_name(dialog.file_name, clock_.local_time());
    constexpr int kMaxNames = 100;
    for (int n = 1; n <= kMaxNames; ++n) {
      std::filesystem::path candidate = first;
      if (n > 1)
        candidate.replace_filename(first.stem().string() + "-" + std::to_string(n) + ".txt");
      errno = 0;
      if (std::FILE* f = std::fopen(candidate.string().c_str(), "wx")) {
        std::fclose(f);
        reserved_ = candidate;
        return candidate.string();
      }
      if (errno != EEXIST) break;  // the save says why the folder takes no file
    }
    return first.string();
  }
  void set_busy(bool) override {}  // the download that asked for the backup keeps it busy

  const std::string& first_message() const { return first_message_; }
  const std::optional<std::filesystem::path>& reserved() const { return reserved_; }

 private:
  Prompts& user_;
  Clock& clock_;
  int retries_left_;
  std::string first_message_;
  std::optional<std::filesystem::path> reserved_;
};

}  // namespace

std::string backup_file_name(const std::string& proposed_name, const LocalTime& t) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return std::filesystem::path(proposed_name).stem().string() + "-before-" + stamp + ".txt";
}

BackupResult save_setup_backup(Comms& comms, Prompts& prompts, Clock& clock,
                               const ProgramDir& program_dir, int address, int retries) {
  HiddenSetupView view;
  SetupSession session(view);
  BackupPrompts backup_prompts(prompts, clock, retries);
  SaveSetup save(comms, backup_prompts, session, clock, program_dir, address);
  const Outcome outcome = save.save_setup();
  if (outcome.completed()) return WrittenFile{save.file_path(), save.refused_values()};
  if (const auto& reserved = backup_prompts.reserved()) {
    std::error_code ec;  // the reserved name, left empty by a save that did not finish
    if (std::filesystem::file_size(*reserved, ec) == 0 && !ec)
      std::filesystem::remove(*reserved, ec);
  }
  std::string why = backup_prompts.first_message();
  // The save calls itself a download; here that would be read as the firmware's.
  if (why.empty() || why == "Download was Canceled.") why = "The setup could not be saved.";
  return unexpected(why);
}

}  // namespace r7
