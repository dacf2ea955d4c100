#include <cstdio>
#include <memory>
#include <optional>

#include "cli/cli_context.h"
#include "cli/console_flash_view.h"
#include "flash/firmware_download.h"
#include "setup/setup_backup.h"
#include "setup/setup_file.h"

namespace r7::cli {

namespace {

// The firmware download's job on the terminal.
struct FlashJob {
  explicit FlashJob(CliContext& ctx)
      : view(ctx.output()),
        download(ctx.comms(), ctx.prompts(), view, ctx.clock(), ctx.program_dir()) {}

  ConsoleFlashView view;
  FirmwareDownload download;
};

void print_identity(CliContext& ctx, const FirmwareDownload::Identity& id) {
  ctx.say("Device type: " + std::to_string(id.device_type.value_or(0)));
  if (!id.revision) {
    ctx.say("Revision: not read");
    return;
  }
  ctx.say("Revision: " + std::to_string(*id.revision));
  if (id.software_number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(*id.software_number) & 0xFFFFU);
    ctx.say("Software number: " + std::to_string(*id.software_number) + " (hex " + hex + ")");
  } else {
    ctx.say("Software number: not read");
  }
  ctx.say("Serial number: " + id.serial_number.value_or("not read"));
  const int selection = id.model_selection.value_or(0);
  const FirmwareSelection* s = firmware_selection(selection);
  if (s == nullptr) return;
  ctx.say("Selection: " + std::to_string(selection) + " (download application " +
          std::string(s->download_app + 1) + ", default firmware " + s->default_firmware +
          ", device code " + s->device_code + ", download-mode value " +
          std::to_string(s->download_mode_value) + ")");
}

int run_identify(CliContext& ctx) {
  FlashJob job(ctx);
  ServiceRecord& record = ctx.begin_service_record("identify", kModbusSlot);
  const FirmwareDownload::Identity id = job.download.identify();
  record.model = id.device_type;
  record.serial_number = id.serial_number;
  record.software_number = id.software_number;
  record.revision = id.revision;
  if (!id.device_type) {
    // A port that could not be opened has been reported with its cause.
    if (id.answered || !id.port_unavailable) {
      const std::string text = id.answered ? "Controller is unrecognized !!"
                                           : "No response from controller received." +
                                                 late_reply_advice(ctx.comms().late_replies_seen());
      std::string line;  // the message's lines joined as the boxes are printed
      for (const char c : text)
        line += c == '\r' ? std::string(" | ") : std::string(1, c);
      ctx.warn(line);
    }
    return exit_status_of(ctx, Outcome{id.answered ? Ending::Unrecognised : Ending::NoController});
  }
  print_identity(ctx, id);
  if (!id.revision) {
    ctx.warn("The revision could not be read: no selection.");
    return exit_status_of(ctx, Outcome(Ending::NoController));
  }
  return exit_status_of(ctx, Outcome{});
}

// What `flash` is told about a controller that answers only its bootloader.
struct FlashOptions {
  std::optional<int> model;  // for a controller that answers only its bootloader
  std::optional<int> revision;
  bool no_backup = false;
};

// The choice a bootloader-only controller asks for, answered from --model and
// --revision (option i is selection i + 1); unanswered without them.
void preset_recovery_choice(CliContext& ctx, const FlashOptions& options) {
  if (!options.model || !options.revision) return;
  if (const auto selection = selection_for(*options.model, *options.revision)) {
    ctx.prompts().preset_choice(*selection - 1);
  }
}

// A word for a shell: quoted when it holds anything but safe characters.
std::string shell_word(const std::string& word) {
  const bool safe = !word.empty() && word.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_-+=/.,:@%") == std::string::npos;
  if (safe) return word;
  std::string quoted = "'";
  for (const char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The command that finishes a download that broke off in the bootloader.
std::string recovery_command(CliContext& ctx, const FlashOptions& options,
                             const BrokenOffDownload& broken) {
  std::string command = "r7flash-cli";
  const GlobalOptions& o = ctx.options();
  if (o.home) command += " --home " + shell_word(*o.home);
  if (const auto port = o.port()) command += " --port " + shell_word(*port);
  if (o.echo != "auto") command += " --echo " + o.echo;
  const int revision = broken.revision.value_or(options.revision.value_or(0));
  command += " flash --model " + std::to_string(broken.device_type) + " --revision " +
             std::to_string(revision) + " " + shell_word(broken.firmware);
  return command;
}

int run_flash(CliContext& ctx, const std::string& file, const FlashOptions& options) {
  FlashJob job(ctx);
  ServiceRecord& record = ctx.begin_service_record("flash", kModbusSlot);
  preset_recovery_choice(ctx, options);
  job.download.set_recovery_advice([&ctx, &options](const BrokenOffDownload& broken) {
    return "To finish the download: " + recovery_command(ctx, options, broken);
  });
  const auto stop_state = [&ctx, &options, &job, &record]() -> std::string {
    job.download.note_in(record);
    if (!job.download.bootloader_may_run()) {
      return "The controller still runs its application: nothing was downloaded.";
    }
    if (const auto broken = job.download.broken_off()) {
      return std::string(kBrokenOffText) +
             "To finish the download: " + recovery_command(ctx, options, *broken);
    }
    return std::string(kBrokenOffText) +
           "Name its model and revision to download the firmware again: flash --model "
           "6180|6170 --revision N [FILE]";
  };
  if (!options.no_backup) {
    job.download.set_setup_backup([&ctx] {
      return save_setup_backup(ctx.comms(), ctx.prompts(), ctx.clock(), ctx.program_dir(),
                               kFirmwareAddress);
    });
  }
  // --yes answers questions; a file with errors is flashed only with --force.
  job.download.set_file_errors(ctx.options().force ? FileErrors::Accept : FileErrors::Refuse);
  if (!file.empty()) {
    ctx.prompts().preset_open_file(std::filesystem::absolute(file).string());
  } else {
    // The selection's default firmware file in the program directory.
    ctx.prompts().set_open_resolver([&job](const FileDialog&) -> std::optional<std::string> {
      return job.download.firmware_path();
    });
  }
  const Outcome outcome = run_noting_stop(
      ctx, [&job] { return job.download.download_firmware(); }, stop_state);
  job.download.note_in(record);
  if (ctx.prompts().choice_unanswered()) {
    // Model and revision cannot be read from a bootloader, and are not guessed.
    ctx.warn(
        "The controller does not answer over Modbus, but its bootloader answers. Name its model "
        "and revision to download the firmware again: flash --model 6180|6170 --revision N "
        "[FILE]");
    return exit_status_of(ctx, Outcome(Ending::NoController, "Bootloader answers"));
  }
  return exit_status_of(ctx, outcome);
}

int run_online(CliContext& ctx) {
  FlashJob job(ctx);
  ctx.begin_service_record("online", kXonSlot);
  const OnlineState state = job.download.probe_online();
  if (state == OnlineState::Online) return kExitOk;
  return exit_status_of(ctx, Outcome{Ending::NoController});
}

int run_erase(CliContext& ctx) {
  FlashJob job(ctx);
  ctx.begin_service_record("erase", kXonSlot);
  return exit_status_of(
      ctx, job.download.erase_flash_sectors({true, true, true, true, true, true, true}));
}

}  // namespace

void register_flash_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  app.add_subcommand("identify", "device type, revision, software number and selection")
      ->callback([&ctx, &exit_code] { exit_code = ctx.run_job(run_identify); });

  auto* check = app.add_subcommand(
      "check", "validate an S-record file without touching a controller (exit 3 on errors)");
  auto file = std::make_shared<std::string>();
  check->add_option("FILE", *file, "S-record file")->required();
  check->callback([&ctx, &exit_code, file] { exit_code = run_check(ctx, *file); });

  auto* flash = app.add_subcommand("flash", "the whole firmware download");
  auto firmware = std::make_shared<std::string>();
  flash->add_option(
      "FILE", *firmware,
      "firmware file (default: the selection's default file in the program directory)");
  auto options = std::make_shared<FlashOptions>();
  auto* model = flash
                    ->add_option("--model", options->model,
                                 "6180 or 6170: for a controller that answers only in its "
                                 "bootloader (a download broke off)")
                    ->check(CLI::IsMember({6180, 6170}));
  flash
      ->add_option("--revision", options->revision,
                   "its software revision (below 2000 or not decides the files)")
      ->check(CLI::Range(0, 32767))
      ->needs(model);
  model->needs("--revision");
  flash->add_flag("--no-backup", options->no_backup,
                  "do not save the controller's setup to \"Reg Downloads\" before download mode");
  flash->callback([&ctx, &exit_code, firmware, options] {
    exit_code = ctx.run_job([&firmware, &options](CliContext& station) {
      return run_flash(station, *firmware, *options);
    });
  });

  app.add_subcommand("online", "is the device's bootloader online (engineering)")
      ->callback([&ctx, &exit_code] { exit_code = run_online(ctx); });
  app.add_subcommand("erase", "erase the controller's flash at 38400 baud (engineering)")
      ->callback([&ctx, &exit_code] { exit_code = run_erase(ctx); });
}

}  // namespace r7::cli
