#include "setup/setup_save.h"

#include <system_error>

#include "modbus/registers.h"
#include "setup/setup_text.h"

namespace r7 {

namespace {

constexpr const char* kCommPortsCanceled =
    "Download has been canceled. Need to check Comm Port Settings.";

}  // namespace

SaveSetup::SaveSetup(Comms& comms, Prompts& prompts, SetupSession& session, Clock& clock,
                     const ProgramDir& program_dir, int address)
    : prompts_(prompts),
      session_(session),
      clock_(clock),
      program_dir_(program_dir),
      access_(comms, prompts, session, address) {}

Outcome SaveSetup::save_setup() {
  outcome_ = Outcome{};
  session_.clear_errors();
  std::unique_ptr<SetupFileWriter> file;
  SetupReading reading(access_, prompts_, session_, program_dir_, SetupReading::Purpose::Save);
  try {
    const ValueRead model_read = access_.read_value_or_ask(reg::kDeviceType);
    if (!model_read.answered()) {
      prompts_.message(access_.no_answer_text(kCommPortsCanceled), "Communication Error",
                       Icon::Critical);
      return Outcome(Ending::NoController);
    }
    const std::string model = model_read.text();
    const auto cds_path = program_dir_.sequences_dir() / (model + ".cds");
    std::error_code ec;
    if (!std::filesystem::exists(cds_path, ec)) {
      prompts_.message("Do not have correct download file sequence for this model of control!",
                       "Download Sequence File", Icon::Critical);
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
    const bool cancelled = reading.read(cds, model, *file) == SetupReading::Walk::Cancelled;
    if (!reading.outcome().completed()) outcome_ = reading.outcome();
    return finish(file, cancelled, reading.refused_reads());
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
      prompts_.message(access_.no_answer_text(kCommPortsCanceled), "Communication Error",
                       Icon::Critical);
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
      !prompts_.ask_yes("File already exists. Do you want to overwrite this file?",
                        "Overwrite Setup File", std::nullopt, Icon::Exclamation)) {
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

Outcome SaveSetup::finish(std::unique_ptr<SetupFileWriter>& file, bool cancelled,
                          const std::vector<int>& refused_reads) {
  if (!cancelled) file->commit();
  if (cancelled) {
    file.reset();  // removes this save's file; an earlier file of that name stays
    prompts_.message("Download was Canceled.", "Download Canceled", Icon::Information);
    if (outcome_.completed()) outcome_ = Outcome(Ending::Cancelled);
  } else {
    prompts_.message(
        "Downloading Process Complete." + refused_reads_text(refused_reads), "Download Complete",
        refused_reads.empty() && session_.refusals() == 0 ? Icon::Information : Icon::Exclamation);
    outcome_ = Outcome(Ending::Completed);
    outcome_.refused = session_.refusals();
    refused_values_ = static_cast<int>(refused_reads.size()) + session_.refusals();
  }
  session_.view().set_progress_visible(false);
  prompts_.set_busy(false);
  session_.view().set_progress_value(0);
  session_.lock(false);
  return outcome_;
}

// A second line for the closing box when the controller refused reads (the
// registers are not in the file) or writes.
std::string SaveSetup::refused_reads_text(const std::vector<int>& refused_reads) const {
  std::string text;
  if (!refused_reads.empty()) {
    text += "\r" + std::to_string(refused_reads.size()) +
            " register read(s) refused by the controller, not in the file:";
    for (std::size_t i = 0; i < refused_reads.size() && i < kSetupLinesListed; ++i)
      text += " " + std::to_string(refused_reads[i]);
    if (refused_reads.size() > kSetupLinesListed) text += " ...";
  }
  if (session_.refusals() > 0) {
    text += "\r" + std::to_string(session_.refusals()) +
            " write(s) refused by the controller: see Read/Write Errors.";
  }
  return text;
}

Outcome SaveSetup::failed(const RunError& e) {
  // A file that cannot be written is named, with the system's reason.
  const bool setup_file = !e.file().empty() && !is_sequence_file(e.file());
  show_error_message(prompts_, e.number(), e.file(), setup_file ? e.what() : std::string());
  prompts_.message("Download was Canceled.", "Download Canceled", Icon::Exclamation);
  prompts_.set_busy(false);
  session_.lock(false);
  Outcome o(is_sequence_file(e.file()) ? Ending::FileProblem : Ending::Failed);
  o.error_number = e.number();
  return o;
}

}  // namespace r7
