#include "setup/setup_reading.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "base/run_error.h"
#include "modbus/registers.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

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

bool is_sequence_file(const std::string& file) {
  std::string ext = std::filesystem::path(file).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".cds" || ext == ".pds";
}

bool is_digital_input(int register_no) {
  return std::find(reg::kDigitalInputs.begin(), reg::kDigitalInputs.end(), register_no) !=
         reg::kDigitalInputs.end();
}

SetupReading::SetupReading(RegisterAccess& access, Prompts& prompts, SetupSession& session,
                           const ProgramDir& program_dir, Purpose purpose)
    : access_(access),
      prompts_(prompts),
      session_(session),
      program_dir_(program_dir),
      purpose_(purpose) {}

void SetupReading::note_refused_read(int register_no, const ValueRead& read) {
  refused_reads_.push_back(register_no);
  // A verify or a compare leaves such registers out of its comparison.
  if (purpose_ == Purpose::Save) session_.log_refused_read(read.text(), register_no);
}

void SetupReading::show_read(const std::string& line) {
  if (purpose_ == Purpose::Save) session_.show(line);
}

SetupReading::Walk SetupReading::read(const DownloadSequence& cds, const std::string& model,
                                      SetupLineSink& sink) {
  outcome_ = Outcome{};
  refused_reads_.clear();
  if (read_registers(cds, sink) == Walk::Cancelled) return Walk::Cancelled;
  show_read("*******Download Sequence Complete*******");
  session_.view().set_progress_value(0);
  bool cancelled = false;
  if (cds.has_profiles()) cancelled = read_profiles(sink, model) == Walk::Cancelled;
  for (const std::string& line : digital_lines_)
    sink.write_line(line);
  sink.write_line("25 0");
  return cancelled ? Walk::Cancelled : Walk::Done;
}

SetupReading::Walk SetupReading::read_registers(const DownloadSequence& cds, SetupLineSink& sink) {
  int count = 0;
  int digital_count = 0;
  // Slots this walk does not fill come out as empty lines, never as lines
  // left from an earlier save of another controller.
  digital_lines_.fill(std::string());
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
      note_refused_read(r, read);  // a register the controller does not hold
    } else if (is_digital_input(r)) {
      if (digital_count == static_cast<int>(digital_lines_.size())) {
        prompts_.message("Error in digital input text array.", "Download Sequence File",
                         Icon::Critical);
        prompts_.message("Download canceled!", "Download Canceled", Icon::Exclamation);
        outcome_ = Outcome(Ending::FileProblem);
        return Walk::Cancelled;
      }
      digital_lines_[static_cast<std::size_t>(digital_count++)] = data_line(r, read.text());
    } else {
      sink.write_line(data_line(r, read.text()));
      show_read(data_line(r, read.text()) + " Successful");
    }
    session_.view().set_progress_value(++count);
  }
  return Walk::Done;
}

SetupReading::Walk SetupReading::read_profiles(SetupLineSink& sink, const std::string& model) {
  const auto pds_path = program_dir_.sequences_dir() / (model + ".pds");
  std::error_code ec;
  if (!std::filesystem::exists(pds_path, ec)) {
    prompts_.message("Can not find the Profile Download Sequence file, " + model + ".pds" + ".",
                     "Profile Sequence File", Icon::Critical);
    session_.show("Download Canceled ");
    outcome_ = Outcome(Ending::FileProblem);
    return Walk::Cancelled;
  }
  try {
    const ProfileSequence pds(read_text_lines(pds_path), pds_path.string());
    return walk_profiles(sink, pds, model);
  } catch (const RunError& e) {
    show_error_message(prompts_, e.number(), e.file());
    if (purpose_ == Purpose::Save) session_.close_error_file();
    outcome_ = Outcome(is_sequence_file(e.file()) ? Ending::FileProblem : Ending::Failed);
    outcome_.error_number = e.number();
    return Walk::Cancelled;
  }
}

SetupReading::Walk SetupReading::walk_profiles(SetupLineSink& sink, const ProfileSequence& pds,
                                               const std::string& model) {
  const int profiles = pds.profile_count();
  show_read("***Starting Profile Download***");
  session_.view().set_progress_range(0, profiles);
  deferred_lines_.clear();
  const bool error_file = purpose_ == Purpose::Save;
  if (error_file) {
    std::error_code ignored;
    std::filesystem::create_directories(program_dir_.setups_dir(), ignored);
    session_.create_error_file(program_dir_.setups_dir() / (model + "_Download_Error.TXT"));
  }
  for (int p = 1; p <= profiles; ++p) {
    session_.view().set_progress_value(p);
    if (read_profile(sink, pds, model, p) == Walk::Cancelled) {
      if (error_file) session_.close_error_file();
      return Walk::Cancelled;
    }
  }
  for (const std::string& line : deferred_lines_)
    sink.write_line(line);
  show_read("***********Ending Profile Download*********");
  if (!error_file) return Walk::Done;
  if (session_.refusals() == 0) {
    session_.remove_error_file();
  } else {
    session_.close_error_file();
  }
  return Walk::Done;
}

// One profile: its steps until the end step (type 5) or a step type below 0
// (no such profile). The profile's name and the lines that rebuild it are
// written once its end step has been read.
SetupReading::Walk SetupReading::read_profile(SetupLineSink& sink, const ProfileSequence& pds,
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
    // A refused read of the step type, like a type below 0: no such profile.
    if (!type_read.has_value() || type_read.value < 0) {
      show_read("Profile " + std::to_string(p) + " **NONE**");
      break;
    }
    const int type = type_read.value;
    if (!pds.section_name(std::to_string(type))) {
      prompts_.message(
          "Step Type is not entered in the Profile download file. Need to make sure that all "
          "step types are entered in the Profile Download Sequence File correctly.",
          "Profile Sequence File", Icon::Critical);
      session_.show("Error in " + model + ".pds file.");
      session_.show("Download Canceled");
      outcome_ = Outcome(Ending::FileProblem);
      return Walk::Cancelled;
    }
    if (!name_written) {
      sink.write_line(command_line(reg::kProfileSelect, p));
      sink.write_line(command_line(reg::kProfileCommand, reg::kProfileCreate));
      sink.write_line(command_line(reg::kStepSelect, 1));
      if (read_profile_name(p) == Walk::Cancelled) return cancel();
      name_written = true;
    }
    if (read_step(sink, pds, p, s, type) == Walk::Cancelled) return cancel();
    if (type == reg::kStepTypeEnd) break;
  }
  return Walk::Done;
}

SetupReading::Walk SetupReading::read_profile_name(int p) {
  push_line(profile_lines_, kMaxProfileLines,
            command_line(reg::kProfileCommand, reg::kProfileEditA));
  push_line(profile_lines_, kMaxProfileLines,
            command_line(reg::kProfileCommand, reg::kProfileEditB));
  show_read("Saving Profile Name " + std::to_string(p));
  for (int k = 0; k < reg::kProfileNameLength; ++k) {
    const int r = reg::profile_name_register(p, k);
    const ValueRead read = access_.read_value_or_ask(r);
    if (!read.answered()) return Walk::Cancelled;
    push_line(profile_lines_, kMaxProfileLines, data_line(r, read.text()));
  }
  return Walk::Done;
}

// The registers of one step, read as its section of the .pds file lists them.
// An end step's lines go to the sink at once, followed by the profile's lines;
// other steps' lines are kept for the profile (and type-4 steps once more for
// the end of the lines).
SetupReading::Walk SetupReading::read_step(SetupLineSink& sink, const ProfileSequence& pds, int p,
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
    if (!announced) show_read("Downloading Step " + std::to_string(s));
    announced = true;
    const ValueRead read = access_.read_value_or_ask(r);
    if (!read.answered()) return Walk::Cancelled;
    if (read.nothing_to_save()) note_refused_read(r, read);
    if (end_step) {
      if (!read.nothing_to_save()) sink.write_line(data_line(r, read.text()));
      // 4060 holding 3 means the end step's section goes on.
      const bool goes_on = read.has_value() && read.value == 3;
      if (r == reg::kEndStepLast && !goes_on) break;
      continue;
    }
    if (read.nothing_to_save()) continue;
    if (deferred) push_line(deferred_lines_, kMaxDeferredLines, data_line(r, read.text()));
    push_line(profile_lines_, kMaxProfileLines, data_line(r, read.text()));
  }
  if (end_step) {
    for (const std::string& line : profile_lines_)
      sink.write_line(line);
  }
  return Walk::Done;
}

}  // namespace r7
