// The restore ("Upload": file to controller): return the controller to its
// defaults, check the model, write every data line of the setup file, making
// placeholder profiles where the file skips profile numbers and erasing them
// at the end.
#include <system_error>

#include "modbus/registers.h"
#include "setup/sequence_files.h"
#include "setup/setup_text.h"
#include "setup/setup_transfer.h"

namespace r7 {

namespace {

constexpr std::size_t kMaxPlaceholders = 41;

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

void SetupTransfer::cmdUpload_Click() {
  outcome_ = Outcome::None;
  error_number_ = 0;
  skipped_lines_ = 0;
  placeholders_.clear();
  try {
    run_restore();
  } catch (const RunError& e) {
    // Only a request that cannot be framed gets here (an address that is not
    // a number, for instance); nothing else in the restore throws.
    error_number_ = e.number();
    error_messages_.show_error_message(e.number(), e.file());
    ErrorFile.close();
    view_.set_progress_visible(false);
    view_.set_progress_value(0);
    EnableButtons();
    outcome_ = Outcome::Failed;
  }
}

void SetupTransfer::restore_ending(bool hide_progress) {
  if (hide_progress) {
    view_.set_progress_visible(false);
    view_.set_progress_value(0);
  }
  ErrorFile.close();
  EnableButtons();
}

void SetupTransfer::run_restore() {
  const Answer go =
      prompts_.message_box(MessageBox{"This erase all current settings. Do you want to continue?",
                                      {},
                                      Icon::None,
                                      Buttons::YesNo,
                                      std::nullopt});
  if (go != Answer::Yes) {
    outcome_ = Outcome::Declined;
    return;
  }
  cmdClearList2_Click();

  const std::string old_value = read_checked(reg::kDefaultsFlag);
  if (old_value == "ERROR") {
    outcome_ = Outcome::NoController;
    return;
  }

  // Erase.
  DisableButtons();
  ShowLogLine("******Erasing Old Settings******");
  bool at_defaults = DefaultControl(old_value);
  if (!at_defaults) {
    Answer answer = comm_error_box("Comm Error!");
    while (answer == Answer::Retry) {
      at_defaults = DefaultControl(old_value);
      if (at_defaults) break;
      answer = comm_error_box("Comm Error!, Retry or Cancel");
    }
  }
  EnableButtons();
  if (!at_defaults) {
    prompts_.message("Communication Error,Upload Canceled.");
    outcome_ = Outcome::NoController;
    return;
  }

  // The setup file. It is read whole and checked before anything more is
  // written: a file without its seven header lines ends the restore here.
  FileDialog dialog;
  dialog.filter = kSetupFileFilter;
  dialog.initial_dir = program_dir_.setups_dir().string();
  dialog.must_exist = true;
  const auto chosen = prompts_.open_file(dialog);
  if (!chosen) {
    outcome_ = Outcome::Cancelled;
    return;
  }
  TextLines lines;
  try {
    lines = read_text_lines(*chosen);
  } catch (const RunError&) {
    prompts_.message("Can not read the file " + *chosen + ". Upload Canceled!");
    outcome_ = Outcome::BadFile;
    return;
  }
  if (lines.size() < static_cast<std::size_t>(kSetupHeaderLines)) {
    prompts_.message("The file " + *chosen +
                     " is not a setup file: it has fewer than seven lines. Upload Canceled!");
    outcome_ = Outcome::BadFile;
    return;
  }

  // Model.
  const std::string model_text = read_checked(reg::kDeviceType);
  if (model_text == "ERROR") {
    prompts_.message("Download has been canceled. Need to check Comm Port Settings.");
    outcome_ = Outcome::NoController;
    return;
  }
  const auto model_number = static_cast<float>(parse_number(model_text).value_or(0));
  const std::string model = number_text(model_number);

  try {
    std::error_code ignored;
    std::filesystem::create_directories(program_dir_.setups_dir(), ignored);
    ErrorFile.create(program_dir_.setups_dir() / (model + "_Upload_Error.TXT"));
  } catch (const RunError&) {
    // Without the file, refusals are still listed in the window.
  }
  DisableButtons();
  yield();

  // Profiles?
  const auto cds_path = program_dir_.sequences_dir() / (model + ".cds");
  std::error_code ec;
  if (std::filesystem::exists(cds_path, ec)) {
    try {
      const TextLines cds = read_text_lines(cds_path);
      HasProfiles = !cds.empty() && profile_flag(cds.front().text);
    } catch (const RunError&) {
      HasProfiles = false;
    }
  } else {
    const Answer carry_on = prompts_.message_box(
        MessageBox{"Can not find the " + model + ".cds" +
                       " file to check whether this model has Profiles. Do you want to continue "
                       "with the upload?",
                   {},
                   Icon::None,
                   Buttons::YesNo,
                   std::nullopt});
    if (carry_on != Answer::Yes) {  // ending A
      ShowLogLine("*******Upload Canceled*******");
      prompts_.message("Upload Canceled!");
      restore_ending(true);
      outcome_ = Outcome::Cancelled;
      return;
    }
    HasProfiles = prompts_.message_box(MessageBox{"Does model " + model + " have Profiles?",
                                                  {},
                                                  Icon::None,
                                                  Buttons::YesNo,
                                                  std::nullopt}) == Answer::Yes;
  }

  if (HasProfiles) {  // erase profile 1
    if (write_given_up(reg::kProfileSelect, 1) ||
        write_given_up(reg::kProfileCommand, reg::kProfileErase)) {  // ending B
      restore_ending(false);
      outcome_ = Outcome::Cancelled;
      return;
    }
  }

  const float file_model =
      static_cast<float>(setup_file_model(lines[1].text).value_or(0));  // 0: unreadable
  if (file_model != model_number) {                                     // ending C
    prompts_.message(
        "Model number from the controller does not match the model number from the text file so "
        "Upload of values is canceled.");
    restore_ending(false);
    outcome_ = Outcome::ModelMismatch;
    return;
  }

  // Data lines.
  const std::size_t data_count = lines.size() - static_cast<std::size_t>(kSetupHeaderLines);
  view_.set_progress_range(0, static_cast<int>(data_count));
  view_.set_progress_value(0);
  view_.set_progress_visible(true);
  int lines_done = 0;
  ShowLogLine("******Beginning  Upload******");
  yield();

  float current_profile = 0;
  for (std::size_t i = static_cast<std::size_t>(kSetupHeaderLines); i < lines.size(); ++i) {
    const DataLine d = parse_data_line(lines[i].text);
    if (d.kind == DataLine::Kind::Invalid) {
      ShowLogLine("Line " + std::to_string(lines[i].number) +
                  " skipped, not a register and a value: " + lines[i].text);
      ++skipped_lines_;
    } else if (d.kind == DataLine::Kind::Data) {
      if (d.register_no == reg::kProfileSelect) current_profile = d.value;
      if (d.register_no == reg::kProfileCommand && d.value == reg::kProfileCreate) {
        const Ending e = ensure_placeholders(current_profile);
        if (e != Ending::Carry) {
          outcome_ = e == Ending::Cancel ? Outcome::Cancelled : Outcome::Failed;
          return;
        }
      }
      if (d.register_no == reg::kRestart) {
        WriteDataToControl(d.register_no, d.value, ErrorFile);
        clock_.sleep_ms(kRestartPauseMs);
      }
      const bool ok = WriteDataToControl(d.register_no, d.value, ErrorFile);
      yield();
      const std::string text = number_text(d.register_no) + " " + number_text(d.value);
      if (ok) {
        ShowLogLine(text + " Successful");
      } else {
        ShowLogLine(text + " ***UNSUCCESSFUL***");
        yield();
        if (CheckCommErrorWrite(d.register_no, d.value, false)) {  // ending D
          ShowLogLine("*******Upload Canceled*******");
          prompts_.message("Upload Canceled!");
          restore_ending(true);
          outcome_ = Outcome::Cancelled;
          return;
        }
        ShowLogLine(text + " Successful");
        yield();
      }
    }
    ++lines_done;
    view_.set_progress_value(lines_done);
    yield();
  }

  yield();
  remove_placeholders();

  if (ErrorListCount < 1) {
    ErrorFile.close();
    yield();
    ErrorFile.remove();
  } else {
    ErrorFile.close();
  }
  ShowLogLine("*******Upload Complete*******");
  yield();
  view_.set_progress_visible(false);
  view_.set_progress_value(0);
  prompts_.message("Upload Complete");
  EnableButtons();
  outcome_ = Outcome::Completed;
}

SetupTransfer::Ending SetupTransfer::ensure_placeholders(float current_profile) {
  for (int k = 1; k <= kMaxPlaceholderProfile; ++k) {
    if (static_cast<float>(k) == current_profile) break;
    const auto profile = static_cast<float>(k);
    bool answered = WriteDataToControl(reg::kProfileSelect, profile, ErrorFile);
    const bool select_given_up = CheckCommErrorWrite(reg::kProfileSelect, profile, answered);
    bool step_given_up = false;
    std::string type_text;
    if (!select_given_up) {
      answered = WriteDataToControl(reg::kStepSelect, 1, ErrorFile);
      step_given_up = CheckCommErrorWrite(reg::kStepSelect, 1, answered);
      if (!step_given_up) type_text = read_checked(reg::kStepType);
    }
    if (select_given_up || step_given_up || type_text == "ERROR") {  // endings E, F
      ShowLogLine("Download Canceled ");
      restore_ending(false);
      return Ending::Cancel;
    }
    const auto type = parse_number(type_text);
    if (type && *type < 0) {
      if (!CreateDeleteProfile(current_profile, ErrorFile)) {  // ending G
        ShowLogLine("*******Upload Canceled*******");
        prompts_.message("Comm Error when creating the Delete Profile. Upload Canceled!");
        restore_ending(true);
        return Ending::Fail;
      }
      if (placeholders_.size() < kMaxPlaceholders) placeholders_.push_back(k);
    }
  }
  return Ending::Carry;
}

void SetupTransfer::remove_placeholders() {
  bool erase_refused = false;
  for (const int n : placeholders_) {
    const auto profile = static_cast<float>(n);
    if (!WriteDataToControl(reg::kProfileSelect, profile, ErrorFile) &&
        CheckCommErrorWrite(reg::kProfileSelect, profile, false)) {
      erase_refused = true;
    }
    if (erase_refused) {
      prompts_.message(erase_refused_text(n));
      continue;
    }
    if (!WriteDataToControl(reg::kProfileCommand, reg::kProfileErase, ErrorFile) &&
        CheckCommErrorWrite(reg::kProfileCommand, reg::kProfileErase, false)) {
      erase_refused = true;
      prompts_.message(erase_refused_text(n));
    }
  }
}

}  // namespace r7
