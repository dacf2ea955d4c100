// `save [FILE]`, `restore FILE` and `compare FILE`: the setup window's
// Download, Upload and Compare.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "base/input_file.h"
#include "base/run_error.h"
#include "cli/cli_context.h"
#include "cli/setup_console.h"
#include "flash/controller_identity.h"
#include "modbus/register_client.h"
#include "modbus/registers.h"
#include "setup/setup_compare.h"
#include "setup/setup_file.h"
#include "setup/setup_restore.h"
#include "setup/setup_save.h"
#include "setup/setup_session.h"

namespace r7::cli {

namespace {

enum class Job { Save, Restore, Compare };

// The differences as a table, and the count on the last line.
// The table of differences (printed even with --quiet) and a count.
void print_differences(CliContext& ctx, const std::vector<SetupDifference>& differences) {
  ConsoleOutput& out = ctx.output();
  if (out.json()) {
    for (const SetupDifference& d : differences)
      out.difference(d.what, d.register_no, d.name, d.file_value, d.controller_value);
    return;
  }
  if (differences.empty()) {
    out.line("result", "No differences.");
    return;
  }
  for (const std::string& line : difference_table(differences))
    out.line("result", line);
  out.line("result", std::to_string(differences.size()) + " difference(s).");
}

// The controller a restore wrote (or a compare read), as it says it is: one
// file may be restored into many controllers, and the service log names the
// one that got it. Left as the file's header says when it does not answer.
void note_controller(CliContext& ctx, ServiceRecord& record) {
  RegisterClient client(ctx.comms());
  const auto r = client.read_registers(ctx.options().address, reg::kDeviceType, 5, kModbusTries,
                                       Repeat::WhenSilentOrDamaged);
  if (!r || r->size() != 5) return;
  const std::vector<std::int16_t>& v = *r;
  record.model = v[0];
  record.serial_number = std::to_string(v[1]) + std::to_string(v[2]);
  record.software_number = v[3];
  record.revision = v[4];
}

// What a restore stopped half way leaves in the controller.
std::string restore_stop_state(const RestoreProgress& p) {
  if (!p.changed) return "The restore had not changed the controller yet.";
  const std::string again = " Restore the file again.";
  if (p.written == 0) {
    return "The restore returned the controller to its defaults and wrote none of the file's " +
           std::to_string(p.total) + " lines." + again;
  }
  return "The restore wrote " + std::to_string(p.written) + " of " + std::to_string(p.total) +
         " lines: the controller holds a partial setup." + again;
}

int run_setup(CliContext& ctx, Job job, const std::optional<std::string>& file,
              bool verify = true) {
  GlobalOptions& options = ctx.options();
  if (job != Job::Save) {
    // The open dialog accepts only existing files; nothing is sent (and the
    // controller is not erased) for a FILE that is not there.
    try {
      open_input_file(file.value_or(std::string()));
    } catch (const RunError& e) {
      ctx.warn(std::string(job == Job::Restore ? "restore" : "compare") + ": " + e.what());
      return kExitFile;
    }
  }
  if (job == Job::Save && file && file->empty()) {
    ctx.warn("save: no file name given");
    return kExitFile;
  }
  if (job == Job::Save && !file) {
    // The default name goes into "Reg Downloads"; make sure it is there.
    std::error_code ignored;
    std::filesystem::create_directories(ctx.program_dir().setups_dir(), ignored);
  }
  ServiceRecord& record = ctx.begin_service_record(job == Job::Save      ? "save"
                                                   : job == Job::Restore ? "restore"
                                                                         : "compare",
                                                   kModbusSlot);
  // The file's header names the controller: the one just read for a save; for
  // a restore or a compare, the one the file was saved from.
  if (job != Job::Save) note_setup_file(record, *file);
  ConsoleSetupView view(ctx.output());
  SetupCommandPrompts prompts(ctx.prompts(), ctx.output(), file, options.yes);
  if (ctx.station()) prompts.share_names(*ctx.station()->claims, ctx.station_tag());
  SetupSession session(view);
  Outcome outcome;
  std::string saved_file;
  std::optional<std::vector<SetupDifference>> compared;
  if (job == Job::Save) {
    SaveSetup save(ctx.comms(), prompts, session, ctx.clock(), ctx.program_dir(), options.address);
    outcome = run_noting_stop(
        ctx, [&save] { return save.save_setup(); },
        [] {
          return std::string(
              "The save changed nothing in the controller and wrote no setup file (an "
              "earlier file of that name is as it was).");
        });
    saved_file = save.file_path();
  } else if (job == Job::Restore) {
    RestoreSetup restore(ctx.comms(), prompts, session, ctx.clock(), ctx.program_dir(),
                         options.address);
    restore.set_verify(verify);
    // Registers the model's sequence files do not list: written only with --force.
    restore.set_unlisted_lines(ctx.options().force ? UnlistedLines::Write : UnlistedLines::Skip);
    outcome = run_noting_stop(
        ctx, [&restore] { return restore.restore_setup(); },
        [&restore] { return restore_stop_state(restore.progress()); });
    if (outcome.differences > 0) compared = restore.verify_differences();
  } else {
    CompareSetup compare(ctx.comms(), prompts, session, ctx.program_dir(), options.address);
    outcome = run_noting_stop(
        ctx, [&compare] { return compare.compare_setup(); },
        [] { return std::string("The compare changed nothing in the controller."); });
    if (outcome.completed() || outcome.ending == Ending::Differs) compared = compare.differences();
  }
  ctx.output().end_progress();
  if (compared) print_differences(ctx, *compared);
  // A Retry question given up because --yes ran out of retries, or not asked
  // over a line given up: the controller did not answer.
  if (outcome.ending == Ending::Cancelled &&
      (prompts.retries_exhausted() || ctx.comms().line_given_up())) {
    outcome.ending = Ending::NoController;
  }
  const bool reached = outcome.ending != Ending::NoController &&
                       outcome.ending != Ending::Unrecognised &&
                       outcome.ending != Ending::FileProblem && !ctx.comms().line_given_up();
  if (job != Job::Save && reached) note_controller(ctx, record);
  if (job == Job::Save && outcome.completed()) {
    ctx.say("Setup file: " + saved_file);
    note_setup_file(record, saved_file);
  }
  if (session.refusals() > 0) {
    ctx.warn(std::to_string(session.refusals()) + " write(s) refused by the controller");
  }
  if (outcome.skipped > 0) {
    ctx.warn(std::to_string(outcome.skipped) + " line(s) of the setup file not written");
  }
  return exit_status_of(ctx, outcome);
}

}  // namespace

void register_setup_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  auto save_file = std::make_shared<std::optional<std::string>>();
  auto* save = app.add_subcommand(
      "save",
      "save the controller's setup to FILE (default: serial number + .txt in \"Reg Downloads\")");
  save->add_option("FILE", *save_file, "setup file to write");
  save->callback([&ctx, &exit_code, save_file] {
    // Several stations would overwrite each other's FILE: only a folder is taken.
    std::error_code ec;
    if (ctx.options().ports.size() > 1 && *save_file &&
        !std::filesystem::is_directory(**save_file, ec)) {
      ctx.warn(
          "save: --port is given more than once: FILE must name a folder, into which each "
          "controller is saved under its serial number");
      exit_code = kExitUsage;
      return;
    }
    exit_code = ctx.run_job(
        [&save_file](CliContext& station) { return run_setup(station, Job::Save, *save_file); });
  });

  auto restore_file = std::make_shared<std::string>();
  auto no_verify = std::make_shared<bool>(false);
  auto* restore = app.add_subcommand(
      "restore", "restore a setup file into the controller, then read it back and compare");
  restore->add_option("FILE", *restore_file, "setup file to read")->required();
  restore->add_flag("--no-verify", *no_verify, "do not read the controller back after the restore");
  restore->callback([&ctx, &exit_code, restore_file, no_verify] {
    exit_code = ctx.run_job([&restore_file, &no_verify](CliContext& station) {
      return run_setup(station, Job::Restore, *restore_file, !*no_verify);
    });
  });

  auto compare_file = std::make_shared<std::string>();
  auto* compare = app.add_subcommand(
      "compare", "compare a setup file with the controller (exit 7 when they differ)");
  compare->add_option("FILE", *compare_file, "setup file to read")->required();
  compare->callback([&ctx, &exit_code, compare_file] {
    exit_code = ctx.run_job([&compare_file](CliContext& station) {
      return run_setup(station, Job::Compare, *compare_file);
    });
  });
}

}  // namespace r7::cli
