// `save [FILE]` and `restore FILE`: the setup window's Download and Upload.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/cli_context.h"
#include "cli/setup_console.h"
#include "modbus/modbus.h"
#include "setup/setup_transfer.h"

namespace r7::cli {

namespace {

int exit_status(const SetupTransfer& setup, const SetupCommandPrompts& prompts,
                const Comms& comms) {
  using Outcome = SetupTransfer::Outcome;
  switch (setup.outcome()) {
    case Outcome::Completed:
      if (setup.ErrorListCount > 0) return kExitFailed;  // the controller refused writes
      return setup.skipped_lines() > 0 ? kExitFile : kExitOk;
    case Outcome::Declined:
    case Outcome::Cancelled:
      return prompts.retries_exhausted() ? exit_code_for_silence(comms) : kExitCancelled;
    case Outcome::NoController:
      return exit_code_for_silence(comms);
    case Outcome::NoSequenceFile:
    case Outcome::BadFile:
    case Outcome::ModelMismatch:
      return kExitFile;
    case Outcome::Failed:
    case Outcome::None:
      return kExitFailed;
  }
  return kExitFailed;
}

enum class Job { Save, Restore };

int run_setup(CliContext& ctx, Job job, const std::optional<std::string>& file) {
  GlobalOptions& options = ctx.options();
  if (job == Job::Restore) {
    // The open dialog accepts only existing files; nothing is sent (and the
    // controller is not erased) for a FILE that is not there.
    std::error_code ec;
    if (!file || !std::filesystem::is_regular_file(*file, ec)) {
      std::fprintf(stderr, "restore: %s: no such file\n", file ? file->c_str() : "");
      return kExitFile;
    }
  }
  if (job == Job::Save && !file) {
    // The default name goes into "Reg Downloads"; make sure it is there.
    std::error_code ignored;
    std::filesystem::create_directories(ctx.program_dir().setups_dir(), ignored);
  }
  ConsoleSetupView view(std::to_string(options.address), options.quiet);
  SetupCommandPrompts prompts(ctx.prompts(), view, file, options.yes);
  Modbus modbus;
  SetupTransfer setup(ctx.comms(), modbus, prompts, view, ctx.clock(), ctx.program_dir());
  setup.Form_Load();
  if (job == Job::Save) {
    setup.cmdDownload_Click();
  } else {
    setup.cmdUpload_Click();
  }
  view.clear_progress_line();
  const int status = exit_status(setup, prompts, ctx.comms());
  if (job == Job::Save && setup.outcome() == SetupTransfer::Outcome::Completed) {
    ctx.say("Setup file: " + setup.SetupFilePath);
  }
  if (setup.ErrorListCount > 0) {
    std::fprintf(stderr, "%d write(s) refused by the controller\n",
                 static_cast<int>(setup.ErrorListCount));
  }
  if (setup.skipped_lines() > 0) {
    std::fprintf(stderr, "%d line(s) of the setup file not written\n", setup.skipped_lines());
  }
  return status;
}

}  // namespace

void register_setup_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  auto save_file = std::make_shared<std::optional<std::string>>();
  auto* save = app.add_subcommand(
      "save",
      "save the controller's setup to FILE (default: serial number + .txt in \"Reg Downloads\")");
  save->add_option("FILE", *save_file, "setup file to write");
  save->callback(
      [&ctx, &exit_code, save_file] { exit_code = run_setup(ctx, Job::Save, *save_file); });

  auto restore_file = std::make_shared<std::string>();
  auto* restore = app.add_subcommand("restore", "restore a setup file into the controller");
  restore->add_option("FILE", *restore_file, "setup file to read")->required();
  restore->callback([&ctx, &exit_code, restore_file] {
    exit_code = run_setup(ctx, Job::Restore, *restore_file);
  });
}

}  // namespace r7::cli
