#include "setup/setup_restore.h"

#include <array>
#include <system_error>

#include "base/run_error.h"
#include "modbus/registers.h"
#include "setup/sequence_files.h"
#include "setup/setup_file.h"

namespace r7 {

namespace {

constexpr std::size_t kMaxPlaceholders = 41;

struct ProfileWrite {
  int register_no;
  int value;
  bool profile_number = false;  // the value is the profile number
};

// A placeholder profile: selected, created, one end step, named "DELETE    ",
// one ordinary step. The step setting 4008 is left alone.
constexpr std::array<ProfileWrite, 26> kPlaceholderWrites{{
    {reg::kProfileSelect, 0, true},
    {reg::kProfileCommand, reg::kProfileCreate},
    {reg::kStepSelect, 1},
    {reg::kEndStepLast, 2},
    {reg::kProfileCommand, reg::kProfileEditA},
    {reg::kProfileCommand, reg::kProfileEditB},
    {reg::kProfileNameBase + 0, 68},  // D
    {reg::kProfileNameBase + 1, 69},  // E
    {reg::kProfileNameBase + 2, 76},  // L
    {reg::kProfileNameBase + 3, 69},  // E
    {reg::kProfileNameBase + 4, 84},  // T
    {reg::kProfileNameBase + 5, 69},  // E
    {reg::kProfileNameBase + 6, 32},
    {reg::kProfileNameBase + 7, 32},
    {reg::kProfileNameBase + 8, 32},
    {reg::kProfileNameBase + 9, 32},
    {reg::kStepSelect, 1},
    {reg::kProfileCommand, reg::kProfileEditA},
    {reg::kStepType, 0},
    {reg::kStepSettingFirst + 0, 0},
    {reg::kStepSettingFirst + 1, 1},
    {reg::kStepSettingFirst + 2, 1},
    {reg::kStepSettingFirst + 3, 2000},
    {reg::kStepSettingFirst + 5, 1},
    {reg::kStepSettingFirst + 6, 0},
    {reg::kStepSettingFirst + 7, 0},
}};

std::string erase_refused_text(int n) {
  const std::string number = std::to_string(n);
  return "Could not erase a profile that the program created to keep the indexing "
         "correct. Profile Number " +
         number +
         " did not exist in the "
         "upload file. You should manually delete Profile Number " +
         number + ".";
}

}  // namespace

RestoreSetup::RestoreSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
                           const ProgramDir& program_dir, int address)
    : prompts_(prompts),
      session_(session),
      clock_(clock),
      program_dir_(program_dir),
      access_(comms, prompts, session, address) {}

// The file is chosen and checked, and the controller's model compared with
// it, before the question; only then is the controller returned to its
// defaults and written. Cancelling anywhere before the question writes nothing.
Outcome RestoreSetup::restore_setup() {
  skipped_ = 0;
  placeholders_.clear();
  differences_.clear();
  review_ = {};
  write_unlisted_ = false;
  progress_ = {};
  try {
    ChosenSetupFile chosen;
    const std::optional<Outcome> stop =
        choose_setup_file(prompts_, program_dir_.setups_dir().string(), "Upload", chosen);
    file_ = chosen.path;
    if (stop) return *stop;
    bool has_profiles = false;
    if (auto e = check_before_erasing(chosen, has_profiles)) return *e;
    if (prompts_.message_box({"This erase all current settings. Do you want to continue?",
                              "Erase Current Settings", Icon::Exclamation, Buttons::YesNo,
                              Answer::No}) != Answer::Yes) {
      return Outcome(Ending::Declined);
    }
    session_.clear_errors();
    progress_.changed = true;
    if (auto e = erase_old_settings()) return *e;
    if (auto e = prepare(has_profiles)) return *e;
    return write_data_lines(chosen.lines);
  } catch (const RunError& e) {
    // A request that cannot be framed gets here; nothing else in the restore
    // throws.
    show_error_message(prompts_, e.number(), e.file());
    Outcome o = end(Ending::Failed, true);
    o.error_number = e.number();
    return o;
  }
}

// The controller's model against the checked file's, whether the model keeps
// profiles; lines that command the controller refuse the file, the others the
// file check names.
std::optional<Outcome> RestoreSetup::check_before_erasing(const ChosenSetupFile& chosen,
                                                          bool& has_profiles) {
  const SetupFileCheck& check = chosen.check;
  const ValueRead model_read = access_.read_value_or_ask(reg::kDeviceType);
  if (!model_read.answered()) {
    prompts_.message(
        access_.no_answer_text("Download has been canceled. Need to check Comm Port Settings."),
        "Communication Error", Icon::Critical);
    return Outcome(Ending::NoController);
  }
  // A refused read of the model matches no file.
  if (!model_read.has_value() || !check.model || *check.model != model_read.value) {
    prompts_.message(
        "Model number from the controller does not match the model number from the text file so "
        "Upload of values is canceled.",
        "Model Mismatch", Icon::Critical);
    return Outcome(Ending::ModelMismatch);
  }
  model_ = model_read.value;
  review_ = review_setup_file(
      chosen.lines, saved_registers(program_dir_.sequences_dir(), std::to_string(model_)));
  if (!review_.commands.empty()) {
    prompts_.message(commands_refused_text(review_, file_) + "\rUpload Canceled!",
                     "Setup File Check", Icon::Critical);
    return Outcome(Ending::FileProblem);
  }
  bool carry_on = true;
  has_profiles = model_has_profiles(std::to_string(model_), carry_on);
  if (!carry_on) {
    session_.show("*******Upload Canceled*******");
    prompts_.message("Upload Canceled!", "Upload Canceled", Icon::Information);
    return Outcome(Ending::Cancelled);
  }
  show_file_check(check);
  return std::nullopt;
}

void RestoreSetup::show_file_check(const SetupFileCheck& check) {
  std::string text = check.skipped_count > 0 ? skipped_lines_text(check) : std::string();
  const auto add = [&text](const std::string& part) {
    if (!part.empty()) text += (text.empty() ? "" : "\r") + part;
  };
  add(review_notes_text(review_, file_));
  if (review_.unlisted.empty()) {
    if (!text.empty()) prompts_.message(text, "Setup File Check", Icon::Information);
    return;
  }
  add(unlisted_text(review_, file_, std::to_string(model_)));
  if (unlisted_ == UnlistedLines::Ask) {
    write_unlisted_ = prompts_.message_box({text + "\rWrite them all the same? No skips them.",
                                            "Setup File Check", Icon::Question, Buttons::YesNo,
                                            Answer::No}) == Answer::Yes;
    return;
  }
  write_unlisted_ = unlisted_ == UnlistedLines::Write;
  prompts_.message(text + (write_unlisted_ ? "\rThey will be written." : "\rThey will be skipped."),
                   "Setup File Check", Icon::Information);
}

std::string RestoreSetup::skipped_lines_text(const SetupFileCheck& check) const {
  std::string text = std::to_string(check.skipped_count) + " line(s) of " + file_ +
                     " will be skipped: they are not a register and a value.";
  for (const TextLine& line : check.skipped)
    text += "\rLine " + std::to_string(line.number) + ": " + quoted_line(line.text);
  if (check.skipped_count > check.skipped.size()) {
    text += "\r... and " + std::to_string(check.skipped_count - check.skipped.size()) + " more.";
  }
  return text;
}

std::optional<Outcome> RestoreSetup::erase_old_settings() {
  const ValueRead old_value = access_.read_value_or_ask(reg::kDefaultsFlag);
  if (!old_value.answered()) return Outcome(Ending::NoController);
  session_.lock(true);
  prompts_.set_busy(true);
  session_.show("******Erasing Old Settings******");
  bool at_defaults = access_.return_to_defaults(old_value);
  if (!at_defaults) {
    Answer answer = access_.ask_comm_error();
    while (answer == Answer::Retry) {
      at_defaults = access_.return_to_defaults(old_value);
      if (at_defaults) break;
      answer = access_.ask_comm_error("Comm Error!, Retry or Cancel");
    }
  }
  prompts_.set_busy(false);
  session_.lock(false);
  if (at_defaults) return std::nullopt;
  prompts_.message("Communication Error,Upload Canceled.", "Communication Error", Icon::Critical);
  return Outcome(Ending::NoController);
}

// The error file, and profile 1 erased when the model keeps profiles.
std::optional<Outcome> RestoreSetup::prepare(bool has_profiles) {
  try {
    std::error_code ignored;
    std::filesystem::create_directories(program_dir_.setups_dir(), ignored);
    session_.create_error_file(program_dir_.setups_dir() /
                               (std::to_string(model_) + "_Upload_Error.TXT"));
  } catch (const RunError&) {
    // Without the file, refusals are still listed in the window.
  }
  session_.lock(true);
  prompts_.set_busy(true);
  if (has_profiles && (access_.write_given_up(reg::kProfileSelect, 1) ||
                       access_.write_given_up(reg::kProfileCommand, reg::kProfileErase))) {
    return end(Ending::Cancelled, false);
  }
  return std::nullopt;
}

// Line 1 of the model's .cds file; without the file the user is asked whether
// to go on (`carry_on`) and whether the model keeps profiles.
bool RestoreSetup::model_has_profiles(const std::string& model, bool& carry_on) {
  const auto cds_path = program_dir_.sequences_dir() / (model + ".cds");
  std::error_code ec;
  if (std::filesystem::exists(cds_path, ec)) {
    try {
      const TextLines cds = read_text_lines(cds_path);
      return !cds.empty() && profile_flag(cds.front().text);
    } catch (const RunError&) {
      return false;
    }
  }
  carry_on = prompts_.ask_yes("Can not find the " + model + ".cds" +
                                  " file to check whether this model has Profiles. Do you want "
                                  "to continue with the upload?",
                              "Download Sequence File");
  return carry_on && prompts_.ask_yes("Does model " + model + " have Profiles?", "Profiles");
}

Outcome RestoreSetup::write_data_lines(const TextLines& lines) {
  const std::size_t data_count = lines.size() - static_cast<std::size_t>(kSetupHeaderLines);
  session_.view().set_progress_range(0, static_cast<int>(data_count));
  session_.view().set_progress_value(0);
  session_.view().set_progress_visible(true);
  session_.show("******Beginning  Upload******");
  int current_profile = 0;
  int lines_done = 0;
  // Data lines that are written: all but unlisted registers the user did not want.
  const auto written = [this](const TextLine& line, const DataLine& d) {
    return d.kind == DataLine::Kind::Data &&
           (write_unlisted_ || !review_.unlisted_lines.contains(line.number));
  };
  for (std::size_t i = static_cast<std::size_t>(kSetupHeaderLines); i < lines.size(); ++i) {
    if (written(lines[i], parse_data_line(lines[i].text))) ++progress_.total;
  }
  for (std::size_t i = static_cast<std::size_t>(kSetupHeaderLines); i < lines.size(); ++i) {
    const DataLine d = parse_data_line(lines[i].text);
    if (d.kind == DataLine::Kind::Invalid) {
      session_.show("Line " + std::to_string(lines[i].number) +
                    " skipped, not a register and a value: " + quoted_line(lines[i].text));
      ++skipped_;
    } else if (d.kind == DataLine::Kind::Data && !written(lines[i], d)) {
      session_.show("Line " + std::to_string(lines[i].number) + " skipped, register " +
                    std::to_string(d.register_no) +
                    " is not in the sequence files: " + quoted_line(lines[i].text));
      ++skipped_;
    } else if (d.kind == DataLine::Kind::Data) {
      if (auto e = write_data_line(d, current_profile)) return *e;
      ++progress_.written;
    }
    session_.view().set_progress_value(++lines_done);
  }
  remove_placeholders();
  const Verified verified = verify(lines);
  if (session_.refusals() < 1) {
    session_.remove_error_file();
  } else {
    session_.close_error_file();
  }
  session_.show("*******Upload Complete*******");
  session_.view().set_progress_visible(false);
  session_.view().set_progress_value(0);
  std::string text = "Upload Complete";
  if (session_.refusals() > 0 || skipped_ > 0) {
    text += "\r" + std::to_string(session_.refusals()) + " write(s) refused by the controller, " +
            std::to_string(skipped_) + " line(s) skipped: see the history and Read/Write Errors.";
  }
  if (!verified.text.empty()) text += "\r" + verified.text;
  prompts_.message(text, "Upload Complete",
                   session_.refusals() > 0 || skipped_ > 0 || verified.ending != Ending::Completed
                       ? Icon::Exclamation
                       : Icon::Information);
  Outcome o = end(verified.ending, false);
  o.differences = static_cast<int>(differences_.size());
  if (!o.completed()) o.step = "Verify";
  return o;
}

// Registers the controller changes by itself during a restore would have to be
// left out here; the simulated controller's round trip (save, restore, save)
// shows none. Registers the file does not list are no differences: they stay
// at the defaults the restore began with.
RestoreSetup::Verified RestoreSetup::verify(const TextLines& lines) {
  if (!verify_) return {Ending::Completed, {}};
  const std::string model = std::to_string(model_);
  std::error_code ec;
  if (!std::filesystem::exists(program_dir_.sequences_dir() / (model + ".cds"), ec)) {
    const std::string text = "Not verified: no " + model + ".cds file to read the controller with.";
    session_.show(text);
    return {Ending::Completed, text};
  }
  session_.show("******Verifying Upload******");
  // A save does not read the unlisted registers: they cannot be compared.
  TextLines compared;
  for (const TextLine& line : lines) {
    if (!review_.unlisted_lines.contains(line.number)) compared.push_back(line);
  }
  SetupComparison comparison(access_, prompts_, session_, program_dir_);
  const Outcome o = comparison.run(compared, model, CompareScope::FileRegisters);
  differences_ = comparison.differences();
  for (const SetupDifference& d : differences_)
    session_.show(difference_line(d));
  if (o.completed()) {
    return {Ending::Completed, "Verified: the controller holds the file's setup." + verify_notes()};
  }
  if (o.ending == Ending::Differs) {
    return {Ending::Failed, "Not verified: " + std::to_string(differences_.size()) +
                                " difference(s) between the file and the controller: see the "
                                "history." +
                                verify_notes()};
  }
  return {Ending::Failed, "Not verified: the controller could not be read back."};
}

// What the verify compared otherwise than the file's lines say.
std::string RestoreSetup::verify_notes() const {
  std::string text;
  if (!review_.rounded.empty()) {
    text += "\r" + std::to_string(review_.rounded.count) +
            " value(s) that are not whole numbers were compared as written (rounded).";
  }
  if (write_unlisted_ && !review_.unlisted.empty()) {
    text += "\r" + std::to_string(review_.unlisted.count) +
            " line(s) for registers outside the sequence files were written but cannot be read "
            "back.";
  }
  return text;
}

std::optional<Outcome> RestoreSetup::write_data_line(const DataLine& d, int& current_profile) {
  if (d.register_no == reg::kProfileSelect) current_profile = d.value;
  if (d.register_no == reg::kProfileCommand && d.value == reg::kProfileCreate) {
    if (auto e = ensure_placeholders(current_profile)) return e;
  }
  if (d.register_no == reg::kRestart) {
    // The controller stores its setup when 25 is written: it is written once,
    // given 13 s, and written again.
    access_.write_value(d.register_no, d.value);
    session_.view().begin_wait("Waiting for the controller to store its settings", kRestartPauseMs);
    clock_.sleep_ms(kRestartPauseMs);
    session_.view().end_wait();
  }
  const WriteResult written = access_.write_value(d.register_no, d.value);
  const std::string text = std::to_string(d.register_no) + " " + std::to_string(d.value);
  if (written == WriteResult::Acknowledged) {
    session_.show(text + " Successful");
    return std::nullopt;
  }
  if (written == WriteResult::Refused) {  // listed under Read/Write Errors
    session_.show(text + " ***UNSUCCESSFUL***");
    return std::nullopt;
  }
  session_.show(text + " ***UNSUCCESSFUL***");
  if (access_.ask_write_retry(d.register_no, d.value)) {
    session_.show("*******Upload Canceled*******");
    prompts_.message("Upload Canceled!", "Upload Canceled", Icon::Exclamation);
    return end(Ending::Cancelled, true);
  }
  session_.show(text + " Successful");
  return std::nullopt;
}

// Before a profile is created, every lower profile number that does not exist
// gets a placeholder, so that the profile keeps its number.
std::optional<Outcome> RestoreSetup::ensure_placeholders(int current_profile) {
  for (int k = 1; k <= kMaxPlaceholderProfile && k != current_profile; ++k) {
    std::optional<ValueRead> type;
    if (!access_.write_given_up(reg::kProfileSelect, k) &&
        !access_.write_given_up(reg::kStepSelect, 1)) {
      type = access_.read_value_or_ask(reg::kStepType);
    }
    if (!type || !type->answered()) {
      session_.show("Download Canceled ");
      return end(Ending::Cancelled, false);
    }
    // A step type of 0 or more: profile k exists (a refused read: it does not).
    if (type->has_value() && type->value >= 0) continue;
    if (!make_placeholder_profile(current_profile)) {
      session_.show("*******Upload Canceled*******");
      prompts_.message("Comm Error when creating the Delete Profile. Upload Canceled!",
                       "Communication Error", Icon::Critical);
      return end(Ending::Failed, true);
    }
    if (placeholders_.size() < kMaxPlaceholders) placeholders_.push_back(k);
  }
  return std::nullopt;
}

bool RestoreSetup::make_placeholder_profile(int profile) {
  bool answered = false;
  for (const ProfileWrite& w : kPlaceholderWrites) {
    const int value = w.profile_number ? profile : w.value;
    answered = access_.write_value(w.register_no, value) != WriteResult::NoAnswer;
  }
  return answered;
}

// Once one erase was given up, every later placeholder is only reported (its
// selection is still written).
void RestoreSetup::remove_placeholders() {
  bool erase_refused = false;
  for (const int n : placeholders_) {
    if (access_.write_given_up(reg::kProfileSelect, n)) erase_refused = true;
    if (erase_refused) {
      prompts_.message(erase_refused_text(n), "Placeholder Profile", Icon::Exclamation);
      continue;
    }
    if (access_.write_given_up(reg::kProfileCommand, reg::kProfileErase)) {
      erase_refused = true;
      prompts_.message(erase_refused_text(n), "Placeholder Profile", Icon::Exclamation);
    }
  }
}

Outcome RestoreSetup::end(Ending ending_kind, bool hide_progress) {
  if (hide_progress) {
    session_.view().set_progress_visible(false);
    session_.view().set_progress_value(0);
  }
  session_.close_error_file();
  prompts_.set_busy(false);
  session_.lock(false);
  Outcome o(ending_kind);
  o.refused = session_.refusals();
  o.skipped = skipped_;
  return o;
}

}  // namespace r7
