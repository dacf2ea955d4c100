#include "setup/setup_save.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "modbus/registers.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

constexpr const char* kCommPortsCanceled =
    "Download has been canceled. Need to check Comm Port Settings.";

bool is_sequence_file(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".cds" || ext == ".pds";
}

std::string data_line(int register_no, const std::string& value) {
  return std::to_string(register_no) + " " + value;
}

std::string command_line(int register_no, int value) {
  return std::to_string(register_no) + " " + std::to_string(value);
}

// A line buffer of fixed capacity; one more line is a run-time error.
void push_line(std::vector<std::string>& buffer, std::size_t capacity, std::string line) {
  if (buffer.size() >= capacity) throw RunError(err::kSubscriptOutOfRange, "line buffer full");
  buffer.push_back(std::move(line));
}

}  // namespace

bool is_digital_input(int register_no) {
  return std::find(reg::kDigitalInputs.begin(), reg::kDigitalInputs.end(), register_no) !=
         reg::kDigitalInputs.end();
}

SaveSetup::SaveSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
                     const ProgramDir& program_dir, int address)
    : prompts_(prompts),
      session_(session),
      clock_(clock),
      program_dir_(program_dir),
      access_(comms, prompts, session, address),
      error_messages_(prompts, clock) {}

int SaveSetup::value_of(const ValueRead& read) {
  return read.kind == ValueRead::Kind::Value ? read.value : -32000 - read.exception_code;
}

Outcome SaveSetup::save_setup() {
  outcome_ = Outcome{};
  refused_reads_.clear();
  session_.clear_errors();
  std::unique_ptr<SetupFileWriter> file;
  try {
    const ValueRead model_read = access_.read_value_or_ask(reg::kDeviceType);
    if (!model_read.answered()) {
      prompts_.message(kCommPortsCanceled);
      return Outcome(Ending::NoController);
    }
    const std::string model = model_read.text();
    const auto cds_path = program_dir_.sequences_dir() / (model + ".cds");
    std::error_code ec;
    if (!std::filesystem::exists(cds_path, ec)) {
      prompts_.message("Do not have correct download file sequence for this model of control!");
      return Outcome(Ending::FileProblem);
    }
    const DownloadSequence cds(read_text_lines(cds_path), cds_path.string());
    session_.view().set_progress_range(0, static_cast<int>(cds.line_count()));

    file = create_setup_file();
    if (!file) return outcome_;

    prompts_.set_busy(true);
    session_.view().set_progress_visible(true);
    session_.lock(true);
    session_.show("******Beginning  Download******");
    bool cancelled = save_registers(cds, *file) == Walk::Cancelled;
    if (!cancelled) {
      session_.show("*******Download Sequence Complete*******");
      session_.view().set_progress_value(0);
      if (cds.has_profiles()) cancelled = save_profiles(*file, model) == Walk::Cancelled;
      for (const std::string& line : session_.digital_input_lines())
        file->write_line(line);
      file->write_line("25 0");
    }
    return finish(file, cancelled);
  } catch (const RunError& e) {
    file.reset();
    return failed(e);
  }
}

std::unique_ptr<SetupFileWriter> SaveSetup::create_setup_file() {
  ValueRead high;
  ValueRead low;
  for (;;) {  // as long as the user answers Retry
    high = access_.read_value(reg::kSerialHigh);
    low = access_.read_value(reg::kSerialLow);
    if (high.answered() && low.answered()) break;
    if (access_.ask_comm_error("Comm error!") != Answer::Retry) {
      prompts_.message(kCommPortsCanceled);
      outcome_ = Outcome(Ending::NoController);
      return nullptr;
    }
  }
  FileDialog dialog;
  dialog.file_name = high.text() + low.text() + ".txt";
  dialog.filter = kSetupFileFilter;
  dialog.initial_dir = program_dir_.setups_dir().string();
  const auto chosen = prompts_.save_file(dialog);
  if (!chosen) {
    outcome_ = Outcome(Ending::Cancelled);
    return nullptr;
  }
  file_path_ = with_default_extension(*chosen);
  std::error_code ec;
  if (std::filesystem::exists(file_path_, ec) &&
      !prompts_.ask_yes("File already exists. Do you want to overwrite this file?")) {
    outcome_ = Outcome(Ending::Cancelled);
    return nullptr;
  }
  // The new content goes beside the chosen name; the save puts it in place.
  auto file = std::make_unique<SetupFileWriter>(file_path_);
  SetupHeader header;
  header.model = access_.read_value(reg::kDeviceType).text();
  header.serial_high = access_.read_value(reg::kSerialHigh).text();
  header.serial_low = access_.read_value(reg::kSerialLow).text();
  header.software = access_.read_value(reg::kSoftwareNumber).text();
  header.revision = access_.read_value(reg::kRevision).text();
  header.date = clock_.local_time();
  for (const std::string& line : setup_header_lines(header))
    file->write_line(line);
  return file;
}

SaveSetup::Walk SaveSetup::save_registers(const DownloadSequence& cds, SetupFileWriter& file) {
  int count = 0;
  int digital_count = 0;
  // Slots this save does not fill come out as empty lines, never as lines
  // left from an earlier save of another controller.
  session_.digital_input_lines().fill(std::string());
  for (const TextLine& line : cds.register_lines()) {
    const int r = cds.register_of(line);
    ValueRead read = access_.read_value(r);
    if (!read.answered()) {
      session_.show(data_line(r, read.text()) + " ***UNSUCCESSFUL***");
      read = access_.ask_and_read_again(r);
      if (!read.answered()) {
        session_.show("*******Download Canceled*******");
        return Walk::Cancelled;
      }
    }
    if (read.nothing_to_save()) {
      refused_reads_.push_back(r);  // a register the controller does not hold
    } else if (is_digital_input(r)) {
      if (digital_count == kDigitalInputSlots) {
        prompts_.message("Error in digital input text array.");
        prompts_.message("Download canceled!");
        outcome_ = Outcome(Ending::FileProblem);
        return Walk::Cancelled;
      }
      session_.digital_input_lines()[static_cast<std::size_t>(digital_count++)] =
          data_line(r, read.text());
    } else {
      file.write_line(data_line(r, read.text()));
      session_.show(data_line(r, read.text()) + " Successful");
    }
    session_.view().set_progress_value(++count);
  }
  return Walk::Done;
}

Outcome SaveSetup::finish(std::unique_ptr<SetupFileWriter>& file, bool cancelled) {
  if (!cancelled) file->commit();
  if (cancelled) {
    file.reset();  // removes this save's file; an earlier file of that name stays
    prompts_.message("Download was Canceled.", "Download Canceled");
    if (outcome_.completed()) outcome_ = Outcome(Ending::Cancelled);
  } else {
    prompts_.message("Downloading Process Complete." + refused_reads_text(), "Download Complete");
    outcome_ = Outcome(Ending::Completed);
    outcome_.refused = session_.refusals();
  }
  session_.view().set_progress_visible(false);
  prompts_.set_busy(false);
  session_.view().set_progress_value(0);
  session_.lock(false);
  return outcome_;
}

// A second line for the closing box when the controller refused reads (the
// registers are not in the file) or writes.
std::string SaveSetup::refused_reads_text() const {
  std::string text;
  if (!refused_reads_.empty()) {
    text += "\r" + std::to_string(refused_reads_.size()) +
            " register read(s) refused by the controller, not in the file:";
    for (std::size_t i = 0; i < refused_reads_.size() && i < kSetupLinesListed; ++i)
      text += " " + std::to_string(refused_reads_[i]);
    if (refused_reads_.size() > kSetupLinesListed) text += " ...";
  }
  if (session_.refusals() > 0) {
    text += "\r" + std::to_string(session_.refusals()) +
            " write(s) refused by the controller: see Read/Write Errors.";
  }
  return text;
}

Outcome SaveSetup::failed(const RunError& e) {
  error_messages_.show_error_message(e.number(), e.file());
  prompts_.message("Download was Canceled.", "Download Canceled");
  prompts_.set_busy(false);
  session_.lock(false);
  Outcome o(is_sequence_file(e.file()) ? Ending::FileProblem : Ending::Failed);
  o.error_number = e.number();
  return o;
}

SaveSetup::Walk SaveSetup::save_profiles(SetupFileWriter& file, const std::string& model) {
  const auto pds_path = program_dir_.sequences_dir() / (model + ".pds");
  std::error_code ec;
  if (!std::filesystem::exists(pds_path, ec)) {
    prompts_.message("Can not find the Profile Download Sequence file, " + model + ".pds" + ".");
    session_.show("Download Canceled ");
    outcome_ = Outcome(Ending::FileProblem);
    return Walk::Cancelled;
  }
  try {
    const ProfileSequence pds(read_text_lines(pds_path), pds_path.string());
    return walk_profiles(file, pds, model);
  } catch (const RunError& e) {
    error_messages_.show_error_message(e.number(), e.file());
    session_.error_file().close();
    outcome_ = Outcome(is_sequence_file(e.file()) ? Ending::FileProblem : Ending::Failed);
    outcome_.error_number = e.number();
    return Walk::Cancelled;
  }
}

SaveSetup::Walk SaveSetup::walk_profiles(SetupFileWriter& file, const ProfileSequence& pds,
                                         const std::string& model) {
  const int profiles = pds.profile_count();
  session_.show("***Starting Profile Download***");
  session_.view().set_progress_range(0, profiles);
  deferred_lines_.clear();
  std::error_code ignored;
  std::filesystem::create_directories(program_dir_.setups_dir(), ignored);
  session_.error_file().create(program_dir_.setups_dir() / (model + "_Download_Error.TXT"));
  for (int p = 1; p <= profiles; ++p) {
    session_.view().set_progress_value(p);
    if (save_profile(file, pds, model, p) == Walk::Cancelled) {
      session_.error_file().close();
      return Walk::Cancelled;
    }
  }
  for (const std::string& line : deferred_lines_)
    file.write_line(line);
  session_.show("***********Ending Profile Download*********");
  if (session_.refusals() == 0) {
    session_.error_file().remove();
  } else {
    session_.error_file().close();
  }
  return Walk::Done;
}

// One profile: its steps until the end step (type 5) or a step type below 0
// (no such profile). The profile's name and the lines that rebuild it are
// written once its end step has been read.
SaveSetup::Walk SaveSetup::save_profile(SetupFileWriter& file, const ProfileSequence& pds,
                                        const std::string& model, int p) {
  profile_lines_.clear();
  bool name_written = false;
  const auto cancel = [this] {
    session_.show("Download Canceled ");
    return Walk::Cancelled;
  };
  if (access_.write_given_up(reg::kProfileSelect, p)) return cancel();
  for (int s = 1; s <= kMaxStepsPerProfile; ++s) {
    if (access_.write_given_up(reg::kStepSelect, s)) return cancel();
    const ValueRead type_read = access_.read_value_or_ask(reg::kStepType);
    if (!type_read.answered()) return cancel();
    const int type = value_of(type_read);
    if (type < 0) {
      session_.show("Profile " + std::to_string(p) + " **NONE**");
      break;
    }
    if (!pds.section_name(std::to_string(type))) {
      prompts_.message(
          "Step Type is not entered in the Profile download file. Need to make sure that all "
          "step types are entered in the Profile Download Sequence File correctly.");
      session_.show("Error in " + model + ".pds file.");
      session_.show("Download Canceled");
      outcome_ = Outcome(Ending::FileProblem);
      return Walk::Cancelled;
    }
    if (!name_written) {
      file.write_line(command_line(reg::kProfileSelect, p));
      file.write_line(command_line(reg::kProfileCommand, reg::kProfileCreate));
      file.write_line(command_line(reg::kStepSelect, 1));
      if (save_profile_name(p) == Walk::Cancelled) return cancel();
      name_written = true;
    }
    if (save_step(file, pds, p, s, type) == Walk::Cancelled) return cancel();
    if (type == reg::kStepTypeEnd) break;
  }
  return Walk::Done;
}

SaveSetup::Walk SaveSetup::save_profile_name(int p) {
  push_line(profile_lines_, kMaxProfileLines,
            command_line(reg::kProfileCommand, reg::kProfileEditA));
  push_line(profile_lines_, kMaxProfileLines,
            command_line(reg::kProfileCommand, reg::kProfileEditB));
  session_.show("Saving Profile Name " + std::to_string(p));
  for (int k = 0; k < reg::kProfileNameLength; ++k) {
    const int r = reg::profile_name_register(p, k);
    const ValueRead read = access_.read_value_or_ask(r);
    if (!read.answered()) return Walk::Cancelled;
    push_line(profile_lines_, kMaxProfileLines, data_line(r, read.text()));
  }
  return Walk::Done;
}

// The registers of one step, read as its section of the .pds file lists them.
// An end step's lines go to the file at once, followed by the profile's lines;
// other steps' lines are kept for the profile (and type-4 steps once more for
// the end of the file).
SaveSetup::Walk SaveSetup::save_step(SetupFileWriter& file, const ProfileSequence& pds, int p,
                                     int s, int type) {
  const std::size_t start = pds.section_start(*pds.section_name(std::to_string(type)));
  const std::string type_line = data_line(reg::kStepType, std::to_string(type));
  const bool end_step = type == reg::kStepTypeEnd;
  const bool deferred = type == reg::kStepTypeDeferred;
  if (deferred) {
    push_line(deferred_lines_, kMaxDeferredLines, command_line(reg::kProfileSelect, p));
    push_line(deferred_lines_, kMaxDeferredLines, command_line(reg::kStepSelect, s));
    push_line(deferred_lines_, kMaxDeferredLines, type_line);
  }
  if (!end_step) {
    push_line(profile_lines_, kMaxProfileLines, command_line(reg::kStepSelect, s));
    push_line(profile_lines_, kMaxProfileLines,
              command_line(reg::kProfileCommand, reg::kProfileEditA));
    push_line(profile_lines_, kMaxProfileLines, type_line);
  }
  const std::vector<TextLine> lines = end_step
                                          ? std::vector<TextLine>(pds.end_step_lines(start).begin(),
                                                                  pds.end_step_lines(start).end())
                                          : pds.ordinary_step_lines(start);
  bool announced = false;
  for (const TextLine& line : lines) {
    const int r = pds.register_of(line);
    if (!announced) session_.show("Downloading Step " + std::to_string(s));
    announced = true;
    const ValueRead read = access_.read_value_or_ask(r);
    if (!read.answered()) return Walk::Cancelled;
    const int v = value_of(read);
    if (read.nothing_to_save()) refused_reads_.push_back(r);
    if (end_step) {
      if (!read.nothing_to_save()) file.write_line(data_line(r, read.text()));
      if (r == reg::kEndStepLast && v != 3) break;
      continue;
    }
    if (read.nothing_to_save()) continue;
    if (deferred) push_line(deferred_lines_, kMaxDeferredLines, data_line(r, read.text()));
    push_line(profile_lines_, kMaxProfileLines, data_line(r, read.text()));
  }
  if (end_step) {
    for (const std::string& line : profile_lines_)
      file.write_line(line);
  }
  return Walk::Done;
}

}  // namespace r7
