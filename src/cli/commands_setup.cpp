// `save [FILE]` and `restore FILE`: the setup window's Download and Upload.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/cli_context.h"
#include "cli/setup_console.h"
#include "setup/setup_restore.h"
#include "setup/setup_save.h"
#include "setup/setup_session.h"

namespace r7::cli {

namespace {

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
  ConsoleSetupView view(ctx.output());
  SetupCommandPrompts prompts(ctx.prompts(), ctx.output(), file, options.yes);
  SetupSession session(view);
  Outcome outcome;
  std::string saved_file;
  if (job == Job::Save) {
    SaveSetup save(ctx.comms(), prompts, session, ctx.clock(), ctx.program_dir(), options.address);
    outcome = save.save_setup();
    saved_file = save.file_path();
  } else {
    RestoreSetup restore(ctx.comms(), prompts, session, ctx.clock(), ctx.program_dir(),
                         options.address);
    outcome = restore.restore_setup();
  }
  ctx.output().end_progress();
  // A Retry question given up because --yes ran out of retries: the
  // controller did not answer.
  if (outcome.ending == Ending::Cancelled && prompts.retries_exhausted()) {
    outcome.ending = Ending::NoController;
  }
  if (job == Job::Save && outcome.completed()) ctx.say("Setup file: " + saved_file);
  if (session.refusals() > 0) {
    std::fprintf(stderr, "%d write(s) refused by the controller\n", session.refusals());
  }
  if (outcome.skipped > 0) {
    std::fprintf(stderr, "%d line(s) of the setup file not written\n", outcome.skipped);
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
