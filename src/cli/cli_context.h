// What every r7flash-cli command works with: the global options and, built on
// first use, the program directory, prompts, clock, error log and serial link
// (on the real serial port, or on the built-in simulated controller).
#pragma once

#include <CLI/CLI.hpp>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "app/service_log.h"
#include "base/error_log.h"
#include "base/outcome.h"
#include "cli/console_output.h"
#include "cli/console_prompts.h"
#include "cli/exit_codes.h"
#include "cli/station_board.h"
#include "seams/clock.h"
#include "serial/comms.h"
#include "serial/link_report.h"

namespace r7::cli {

struct GlobalOptions {
  std::optional<std::string> home;
  std::vector<std::string> ports;  // --port, once per station
  std::optional<std::string> trace;
  std::optional<int> simulate_model;  // set when --simulate is given
  int address = 1;
  bool yes = false;
  bool no = false;
  bool quiet = false;
  bool force = false;         // flash a file whose check found errors
  bool json = false;          // one JSON object per line on standard output
  std::string echo = "auto";  // --echo auto|on|off

  // The one device of this run, if --port names one.
  std::optional<std::string> port() const {
    return ports.empty() ? std::nullopt : std::optional<std::string>(ports.front());
  }
};

class NameClaims;

// One station of a run on several: where its lines go and the file names the
// stations share out.
struct Station {
  StationBoard* board = nullptr;
  std::size_t index = 0;
  NameClaims* claims = nullptr;
};

class CliContext {
 public:
  CliContext(const char* argv0, GlobalOptions& options, std::optional<Station> station = {});
  ~CliContext();

  const char* argv0() const { return argv0_; }
  GlobalOptions& options() { return options_; }
  // Set when this context is one station of several.
  const std::optional<Station>& station() const { return station_; }
  // The station's name for file names ("ttyUSB0"); "" when there is one station.
  std::string station_tag() const;
  // Runs a controller job: on this context, or with --port given more than
  // once on every station at once (run_on_stations). Its exit status.
  int run_job(const std::function<int(CliContext&)>& job);
  const ProgramDir& program_dir();
  ConsolePrompts& prompts();
  ConsoleOutput& output();
  Clock& clock();
  ErrorLog& error_log();
  const PortNames& port_names();
  // The serial link with init_comms done (slots read from the settings file),
  // with --trace attached.
  Comms& comms();
  // Makes the ports: Qt's serial ports, or the simulated controller's with
  // --simulate.
  PortFactory* port_factory();
  bool simulated() const { return options_.simulate_model.has_value(); }
  // Prints unless --quiet.
  void say(const std::string& line);
  // A line on standard error (led by the station's name when there are several).
  void warn(const std::string& line);
  // The outcome of the command's job, for the last line of --json output.
  void note_outcome(const Outcome& outcome) { last_outcome_ = outcome; }
  const std::optional<Outcome>& last_outcome() const { return last_outcome_; }

  // Set by SIGINT, SIGTERM and SIGHUP; the link stops the job at the next exchange.
  static std::atomic<int>& stop_signal();
  // What the stopped job left in the controller (run_noting_stop), for the
  // message that ends the program.
  void note_stop_state(std::string state) { stop_state_ = std::move(state); }
  const std::string& stop_state() const { return stop_state_; }

  // The service log's record of this run's job: begun by a command before it
  // talks to the controller on `slot`, filled in as the job learns, written
  // by main when the command has ended, however it ended.
  ServiceRecord& begin_service_record(const std::string& job, int slot);
  // Writes the record, when a command began one, with `exit_status` and,
  // unless `ending` names how it ended ("stopped by SIGTERM"), the noted
  // outcome. A log that cannot be written is a warning on standard error.
  void finish_service_record(int exit_status, const std::string& ending = {});
  // The record finish_service_record wrote (or tried to).
  const std::optional<ServiceRecord>& finished_record() const { return finished_record_; }

 private:
  // What the accessors build on first use, in the order it must be destroyed.
  struct Impl;

  const char* argv0_;
  GlobalOptions& options_;
  std::unique_ptr<Impl> impl_;
  std::optional<Outcome> last_outcome_;
  std::string stop_state_ = "Nothing was left half done.";
  std::optional<ServiceRecord> service_record_;
  std::optional<ServiceRecord> finished_record_;
  std::optional<Station> station_;
};

// The exit status of a command that ended with the exception `ended` (a
// signal's stop, a ProgramEnd, a file system or internal error), said once
// and written to the service log.
int exit_after_exception(CliContext& ctx, std::exception_ptr ended);

// Runs `job`; when a signal stops it, what `state` says then (while the job's
// objects still live) is noted before the stop goes on to main.
template <class Job, class State>
auto run_noting_stop(CliContext& ctx, Job&& job, State&& state) {
  try {
    return job();
  } catch (const JobStopped&) {
    ctx.note_stop_state(state());
    throw;
  }
}

// Each group adds its subcommands; a command sets `exit_code` when it runs.
void register_serial_commands(CLI::App& app, CliContext& ctx, int& exit_code);
void register_modbus_commands(CLI::App& app, CliContext& ctx, int& exit_code);
void register_flash_commands(CLI::App& app, CliContext& ctx, int& exit_code);
void register_setup_commands(CLI::App& app, CliContext& ctx, int& exit_code);
void register_history_command(CLI::App& app, CliContext& ctx, int& exit_code);

// `check FILE`: the whole-file check of an S-record file, printed; kExitFile
// when the file has errors or cannot be read.
int run_check(CliContext& ctx, const std::string& file);

// The exit status of a job's outcome (see exit_status), with what the last
// exchange found of the port.
int exit_status_of(CliContext& ctx, const Outcome& outcome);

}  // namespace r7::cli
