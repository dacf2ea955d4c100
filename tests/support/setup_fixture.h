// The setup jobs on the in-process simulated controller: the demo program
// directory in a temporary folder (a test may write its own sequence files),
// the recording prompts and view, and a log of every request the jobs sent.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "base/error_log.h"
#include "samples/sample_files.h"
#include "seams/setup_view.h"
#include "serial/comms.h"
#include "setup/register_access.h"
#include "setup/setup_compare.h"
#include "setup/setup_restore.h"
#include "setup/setup_save.h"
#include "setup/setup_session.h"
#include "setup/setup_text.h"
#include "sim/catalog.h"
#include "sim/simulation.h"
#include "support/demo_program_dir.h"
#include "support/recording_prompts.h"
#include "support/sim_printers.h"
#include "support/temp_dir.h"

namespace r7::test {

// A SetupView that keeps what the window would show.
class RecordingSetupView : public SetupView {
 public:
  void add_history(const std::string& text) override { history.push_back(text); }
  void clear_history() override { history.clear(); }
  void add_error(const std::string& text) override { errors.push_back(text); }
  void clear_errors() override { errors.clear(); }
  void set_progress_visible(bool visible) override { progress_visible = visible; }
  void set_progress_range(int /*minimum*/, int maximum) override { progress_max = maximum; }
  void set_progress_value(int value) override { progress_peak = std::max(progress_peak, value); }
  void set_window_enabled(bool enabled) override { window_enabled = enabled; }
  void begin_wait(const std::string& what, std::uint32_t up_to_ms) override {
    waits.push_back(what + " " + std::to_string(up_to_ms));
  }
  void end_wait() override { waits.push_back("end"); }

  std::vector<std::string> history;
  std::vector<std::string> errors;
  bool progress_visible = false;
  int progress_max = 0;
  int progress_peak = 0;
  bool window_enabled = true;
  std::vector<std::string> waits;  // "what up_to_ms", then "end"
};

// One Modbus request as sent: function code, register, value (or count).
struct SentRequest {
  int function = 0;
  int register_no = 0;
  int value = 0;
  std::uint64_t at_ms = 0;  // fake time when it was written

  bool is_write(int reg, int v) const { return function == 6 && register_no == reg && value == v; }
  bool is_read(int reg) const { return function == 3 && register_no == reg; }
};

// Records every request written on the line; `on_request` runs after each one
// is recorded (tests use it to change the controller's faults mid-operation).
class RequestLog : public TraceSink {
 public:
  explicit RequestLog(sim::FakeClock& clock) : clock_(clock) {}
  void record(int /*slot*/, const std::string& /*device*/, bool transmitted, std::string_view bytes,
              std::uint32_t /*elapsed_ms*/) override {
    if (!transmitted || bytes.size() < 6) return;
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const int v = byte(4) * 256 + byte(5);
    requests.push_back(
        {byte(1), byte(2) * 256 + byte(3), v > 32767 ? v - 65536 : v, clock_.total_ms()});
    if (on_request) on_request(requests.size());
  }
  std::vector<SentRequest> writes() const {
    std::vector<SentRequest> w;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(w),
                 [](const SentRequest& r) { return r.function == 6; });
    return w;
  }

  std::vector<SentRequest> requests;
  std::function<void(std::size_t count)> on_request;

 private:
  sim::FakeClock& clock_;
};

class SetupFixture : public ::testing::Test {
 protected:
  explicit SetupFixture(sim::ControllerConfig config = sim::default_config(sim::kModel6180))
      : sim(std::move(config)) {
    write_demo_program_dir(dir.path());
    comms.init_comms(read_protocol_slots(settings));
    comms.set_trace(&log);
  }

  sim::Controller& controller() { return sim.controller(); }
  sim::FakeClock& clock() { return *sim.fake_clock(); }
  std::filesystem::path setups() const { return dir / "Reg Downloads"; }
  void write_sequence(const std::string& name, const std::string& content) {
    write_file(dir / "Download Sequences" / name, content);
  }

  // A save answered with `file` in the save dialog; the file's content afterwards.
  std::string save(const std::filesystem::path& file) {
    prompts.answer_save(file.string());
    SaveSetup job(comms, prompts, session, sim.clock(), program_dir, 1);
    last = job.save_setup();
    return std::filesystem::exists(file) ? read_file(file) : std::string();
  }
  // A restore of `file` (the open dialog's answer) with `answers` to its
  // questions in order (Yes to "This erase all current settings..."); its
  // verify only with `verify_restores`.
  void restore(const std::filesystem::path& file,
               std::initializer_list<Answer> answers = {Answer::Yes}) {
    for (Answer a : answers)
      prompts.answer(a);
    prompts.answer_open(file.string());
    RestoreSetup job(comms, prompts, session, sim.clock(), program_dir, 1);
    job.set_verify(verify_restores);
    last = job.restore_setup();
    placeholders = job.placeholder_profiles();
    differences = job.verify_differences();
  }
  // A compare of `file` (the open dialog's answer).
  void compare(const std::filesystem::path& file) {
    prompts.answer_open(file.string());
    CompareSetup job(comms, prompts, session, program_dir, 1);
    last = job.compare_setup();
    differences = job.differences();
  }
  // The files in "Reg Downloads", by name.
  std::vector<std::string> setup_folder() const {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(setups()))
      files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }

  TempDir dir;
  sim::Simulation sim;
  RecordingPrompts prompts;
  RecordingSetupView view;
  RequestLog log{*sim.fake_clock()};
  ErrorLog error_log{sim.clock(), dir / "Flash.ERR"};
  PromptedLinkReport link_report{prompts, error_log};
  std::filesystem::path settings = dir / "VARNEL FLASH R7.INI";
  PortNames port_names{settings};
  Comms comms{port_names, sim.port_factory(), sim.clock(), link_report};
  ProgramDir program_dir{dir.path()};
  SetupSession session{view};
  RegisterAccess access{comms, prompts, session, 1};
  Outcome last;                   // of the last save, restore or compare
  std::vector<int> placeholders;  // the last restore's placeholder profiles
  bool verify_restores = false;
  std::vector<SetupDifference> differences;  // the last compare's or restore's verify's
};

inline void PrintTo(const SetupDifference& d, std::ostream* os) {
  *os << difference_line(d);
}

// A controller configuration at its defaults (no demonstration setup).
inline sim::ControllerConfig defaults_config() {
  sim::ControllerConfig c = sim::default_config(sim::kModel6180);
  c.demo_setup = false;
  return c;
}

// The lines of a file from line `first` (1-based) on, CR LF or LF.
inline std::vector<std::string> file_lines(const std::string& content, std::size_t first = 1) {
  std::vector<std::string> out;
  for (const TextLine& l : split_text_lines(content))
    if (static_cast<std::size_t>(l.number) >= first) out.push_back(l.text);
  return out;
}

}  // namespace r7::test
