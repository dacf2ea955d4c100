// The save ("Download": controller to file): the registers listed in the
// model's .cds file, then the profiles walked with its .pds file, then the
// digital-input lines and "25 0".
#include <algorithm>
#include <cctype>
#include <system_error>

#include "modbus/registers.h"
#include "setup/sequence_files.h"
#include "setup/setup_text.h"
#include "setup/setup_transfer.h"

namespace r7 {

namespace {

constexpr const char* kCommPortsCanceled =
    "Download has been canceled. Need to check Comm Port Settings.";

double number_or_throw(const std::string& text) {
  const auto v = parse_number(text);
  if (!v) throw RunError(err::kTypeMismatch, "not a number: " + text);
  return *v;
}

bool is_sequence_file(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".cds" || ext == ".pds";
}

SetupTransfer::Outcome failure_outcome(const RunError& e) {
  return is_sequence_file(e.file()) ? SetupTransfer::Outcome::BadFile
                                    : SetupTransfer::Outcome::Failed;
}

std::string data_line(float register_no, const std::string& value) {
  return number_text(register_no) + " " + value;
}

std::string command_line(int register_no, double value) {
  return std::to_string(register_no) + " " + number_text(value);
}

// A line buffer of fixed capacity; one more line is a run-time error.
void push_line(std::vector<std::string>& buffer, std::size_t capacity, std::string line) {
  if (buffer.size() >= capacity) throw RunError(err::kSubscriptOutOfRange, "line buffer full");
  buffer.push_back(std::move(line));
}

}  // namespace

std::unique_ptr<SetupFileWriter> SetupTransfer::CreateTextFile() {
  SetupFileCreated = true;
  std::string serial_high;
  std::string serial_low;
  for (;;) {  // as long as the user answers Retry
    serial_high = ReadDataFromControl(reg::kSerialHigh);
    serial_low = ReadDataFromControl(reg::kSerialLow);
    if (serial_high != "ERROR" && serial_low != "ERROR") break;
    if (comm_error_box("Comm error!") != Answer::Retry) {
      prompts_.message(kCommPortsCanceled);
      SetupFileCreated = false;
      outcome_ = Outcome::NoController;
      return nullptr;
    }
  }

  FileDialog dialog;
  dialog.file_name = serial_high + serial_low + ".txt";
  dialog.filter = kSetupFileFilter;
  dialog.initial_dir = program_dir_.setups_dir().string();
  const auto chosen = prompts_.save_file(dialog);
  if (!chosen) {
    SetupFileCreated = false;
    outcome_ = Outcome::Cancelled;
    return nullptr;
  }
  const std::string name = with_default_extension(*chosen);
  SetupFilePath = name;
  std::error_code ec;
  if (std::filesystem::exists(name, ec)) {
    const Answer a =
        prompts_.message_box(MessageBox{"File already exists. Do you want to overwrite this file?",
                                        {},
                                        Icon::None,
                                        Buttons::YesNo,
                                        std::nullopt});
    if (a != Answer::Yes) {
      SetupFileCreated = false;
      outcome_ = Outcome::Cancelled;
      return nullptr;
    }
  }

  // The new content goes beside the chosen name; the save puts it in place.
  auto file = std::make_unique<SetupFileWriter>(name);
  SetupHeader header;
  file->write_line(kSetupFileBanner);
  header.model = ReadDataFromControl(reg::kDeviceType);
  const auto lines = [&] { return setup_header_lines(header); };
  file->write_line(lines()[1]);
  header.serial_high = ReadDataFromControl(reg::kSerialHigh);
  header.serial_low = ReadDataFromControl(reg::kSerialLow);
  file->write_line(lines()[2]);
  header.software = ReadDataFromControl(reg::kSoftwareNumber);
  file->write_line(lines()[3]);
  header.revision = ReadDataFromControl(reg::kRevision);
  file->write_line(lines()[4]);
  header.date = clock_.local_time();
  file->write_line(lines()[5]);
  file->write_line(lines()[6]);
  return file;
}

void SetupTransfer::cmdDownload_Click() {
  outcome_ = Outcome::None;
  error_number_ = 0;
  cmdClearList2_Click();
  run_save();
}

void SetupTransfer::run_save() {
  std::unique_ptr<SetupFileWriter> setup;
  try {
    std::string model_text = read_checked(reg::kDeviceType);
    if (model_text.empty() || model_text == "ERROR") {
      prompts_.message(kCommPortsCanceled);
      outcome_ = Outcome::NoController;
      return;
    }
    const double model = number_or_throw(model_text);
    const auto cds_path = program_dir_.sequences_dir() / (model_text + ".cds");
    std::error_code ec;
    if (!std::filesystem::exists(cds_path, ec)) {
      prompts_.message("Do not have correct download file sequence for this model of control!");
      outcome_ = Outcome::NoSequenceFile;
      return;
    }
    const DownloadSequence cds(read_text_lines(cds_path), cds_path.string());
    view_.set_progress_range(0, static_cast<int>(cds.line_count()));
    yield();

    setup = CreateTextFile();
    if (!SetupFileCreated) return;

    prompts_.set_busy(true);
    view_.set_progress_visible(true);
    DisableButtons();
    ShowLogLine("******Beginning  Download******");
    yield();

    int count = 0;
    int digital_count = 0;
    // Slots this save does not fill come out as empty lines, never as lines
    // left from an earlier save of another controller.
    DigitalInputLines.fill(std::string());
    HasProfiles = cds.has_profiles();
    const auto registers = cds.register_lines();
    Cancelled = false;
    for (const TextLine& line : registers) {
      const float r = cds.register_of(line);
      std::string value = ReadDataFromControl(r);
      if (value == "ERROR") {
        ShowLogLine(data_line(r, value) + " ***UNSUCCESSFUL***");
        yield();
        value = CheckCommErrorRead(r, value);
        if (value == "ERROR") {
          ShowLogLine("*******Download Canceled*******");
          Cancelled = true;
          break;
        }
      }
      const double v = number_or_throw(value);
      const std::string r_text = number_text(r);
      if (is_skipped_value(v)) {
        // nothing to save
      } else if (std::find(DigitalInputRegisters.begin(), DigitalInputRegisters.end(), r_text) !=
                 DigitalInputRegisters.end()) {
        DigitalInputLines[static_cast<std::size_t>(digital_count)] = data_line(r, value);
        ++digital_count;
        if (digital_count > kDigitalInputSlots) {
          prompts_.message("Error in digital input text array.");
          prompts_.message("Download canceled!");
          Cancelled = true;
          outcome_ = Outcome::BadFile;
          break;
        }
      } else {
        setup->write_line(data_line(r, value));
        ShowLogLine(data_line(r, value) + " Successful");
        yield();
      }
      ++count;
      view_.set_progress_value(count);
    }

    if (!Cancelled) {
      ShowLogLine("*******Download Sequence Complete*******");
      view_.set_progress_value(0);
      yield();
      if (HasProfiles) DownLoadProfiles(*setup, static_cast<float>(model));
      for (int i = 0; i < kDigitalInputSlots; ++i)
        setup->write_line(DigitalInputLines[static_cast<std::size_t>(i)]);
      setup->write_line("25 0");
      if (!Cancelled) setup->commit();
    }

    if (Cancelled) {
      setup.reset();  // removes this save's file; an earlier file of that name stays
      prompts_.message("Download was Canceled.", "Download Canceled");
      if (outcome_ == Outcome::None) outcome_ = Outcome::Cancelled;
    } else {
      prompts_.message("Downloading Process Complete.", "Download Complete");
      outcome_ = Outcome::Completed;
    }
    view_.set_progress_visible(false);
    prompts_.set_busy(false);
    view_.set_progress_value(0);
    EnableButtons();
  } catch (const RunError& e) {
    setup.reset();
    save_failed(e);
  }
}

void SetupTransfer::save_failed(const RunError& e) {
  error_number_ = e.number();
  error_messages_.show_error_message(e.number(), e.file());
  prompts_.message("Download was Canceled.", "Download Canceled");
  Cancelled = true;
  EnableButtons();
  outcome_ = failure_outcome(e);
}

void SetupTransfer::DownLoadProfiles(SetupFileWriter& TextFile, float ModelNumber) {
  Cancelled = false;
  const std::string model = number_text(ModelNumber);
  const auto pds_path = program_dir_.sequences_dir() / (model + ".pds");
  std::error_code ec;
  if (!std::filesystem::exists(pds_path, ec)) {
    prompts_.message("Can not find the Profile Download Sequence file, " + model + ".pds" + ".");
    ShowLogLine("Download Canceled ");
    Cancelled = true;
    outcome_ = Outcome::NoSequenceFile;
    return;
  }
  try {
    walk_profiles(TextFile, model);
  } catch (const RunError& e) {
    error_number_ = e.number();
    error_messages_.show_error_message(e.number(), e.file());
    Cancelled = true;
    ErrorFile.close();
    outcome_ = failure_outcome(e);
  }
}

void SetupTransfer::walk_profiles(SetupFileWriter& file, const std::string& model) {
  const auto pds_path = program_dir_.sequences_dir() / (model + ".pds");
  const ProfileSequence pds(read_text_lines(pds_path), pds_path.string());
  const int profiles = pds.profile_count();
  ShowLogLine("***Starting Profile Download***");
  view_.set_progress_range(0, profiles);

  std::vector<std::string> deferred;  // DeferredStepLines
  std::vector<std::string> profile;   // ProfileLines
  std::error_code ignored;
  std::filesystem::create_directories(program_dir_.setups_dir(), ignored);
  ErrorFile.create(program_dir_.setups_dir() / (model + "_Download_Error.TXT"));

  const auto cancel = [&](bool enable_now) {
    ShowLogLine("Download Canceled ");
    Cancelled = true;
    ErrorFile.close();
    if (enable_now) EnableButtons();
  };

  for (int p = 1; p <= profiles; ++p) {
    profile.clear();
    bool name_written = false;
    bool first_of_step = true;
    // A step register's value; the step's first register announces the step.
    const auto read_step_register = [&](float r, int s) {
      if (first_of_step) {
        ShowLogLine("Downloading Step " + std::to_string(s));
        first_of_step = false;
      }
      return read_checked(r);
    };
    view_.set_progress_value(p);
    if (write_given_up(reg::kProfileSelect, static_cast<float>(p))) return cancel(false);

    for (int s = 1; s <= kMaxStepsPerProfile; ++s) {
      if (write_given_up(reg::kStepSelect, static_cast<float>(s))) return cancel(true);
      const std::string type_text = read_checked(reg::kStepType);
      if (type_text == "ERROR") return cancel(true);
      const double type = number_or_throw(type_text);
      if (type < 0) {
        ShowLogLine("Profile " + std::to_string(p) + " **NONE**");
        break;
      }
      const auto section = pds.section_name(type_text);
      if (!section) {
        prompts_.message(
            "Step Type is not entered in the Profile download file. Need to make sure that all "
            "step types are entered in the Profile Download Sequence File correctly.");
        ShowLogLine("Error in " + model + ".pds file.");
        ShowLogLine("Download Canceled");
        Cancelled = true;
        ErrorFile.close();
        outcome_ = Outcome::BadFile;
        return;
      }

      if (!name_written) {
        file.write_line(command_line(reg::kProfileSelect, p));
        file.write_line(command_line(reg::kProfileCommand, reg::kProfileCreate));
        file.write_line(command_line(reg::kStepSelect, 1));
        push_line(profile, kMaxProfileLines,
                  command_line(reg::kProfileCommand, reg::kProfileEditA));
        push_line(profile, kMaxProfileLines,
                  command_line(reg::kProfileCommand, reg::kProfileEditB));
        ShowLogLine("Saving Profile Name " + std::to_string(p));
        for (int k = 0; k < reg::kProfileNameLength; ++k) {
          const auto r = static_cast<float>(reg::profile_name_register(p, k));
          const std::string value = read_checked(r);
          if (value == "ERROR") return cancel(true);
          number_or_throw(value);  // a damaged reply is no name character
          push_line(profile, kMaxProfileLines, data_line(r, value));
        }
        name_written = true;
      }

      const std::size_t start = pds.section_start(*section);
      if (type == reg::kStepTypeEnd) {
        for (const TextLine& line : pds.end_step_lines(start)) {
          const float r = pds.register_of(line);
          const std::string value = read_step_register(r, s);
          if (value == "ERROR") return cancel(false);
          const double v = number_or_throw(value);
          if (!is_skipped_value(v)) file.write_line(data_line(r, value));
          if (r == reg::kEndStepLast && v != 3) break;
        }
        for (const std::string& line : profile)
          file.write_line(line);
        break;
      }

      const bool deferred_step = type == reg::kStepTypeDeferred;
      if (deferred_step) {
        push_line(deferred, kMaxDeferredLines, command_line(reg::kProfileSelect, p));
        push_line(deferred, kMaxDeferredLines, command_line(reg::kStepSelect, s));
        push_line(deferred, kMaxDeferredLines, data_line(reg::kStepType, type_text));
      }
      push_line(profile, kMaxProfileLines, command_line(reg::kStepSelect, s));
      push_line(profile, kMaxProfileLines, command_line(reg::kProfileCommand, reg::kProfileEditA));
      push_line(profile, kMaxProfileLines, data_line(reg::kStepType, type_text));
      for (const TextLine& line : pds.ordinary_step_lines(start)) {
        const float r = pds.register_of(line);
        const std::string value = read_step_register(r, s);
        if (value == "ERROR") return cancel(false);
        if (is_skipped_value(number_or_throw(value))) continue;
        if (deferred_step) push_line(deferred, kMaxDeferredLines, data_line(r, value));
        push_line(profile, kMaxProfileLines, data_line(r, value));
      }
      first_of_step = true;
    }
  }

  for (const std::string& line : deferred)
    file.write_line(line);
  ShowLogLine("***********Ending Profile Download*********");
  if (ErrorListCount == 0) {
    ErrorFile.remove();
  } else {
    ErrorFile.close();
  }
}

}  // namespace r7
