#include <cstdio>

#include "cli/cli_context.h"
#include "cli/console_flash_view.h"
#include "flash/bootloader.h"
#include "flash/firmware_download.h"
#include "modbus/modbus.h"

namespace r7::cli {

namespace {

// The firmware download's procedure objects on the terminal.
struct FlashJob {
  explicit FlashJob(CliContext& ctx)
      : view(ctx.options().quiet),
        boot(ctx.comms(), ctx.prompts(), view),
        download(ctx.comms(), modbus, boot, ctx.prompts(), view, ctx.clock(), ctx.program_dir()) {}

  ConsoleFlashView view;
  Modbus modbus;
  Bootloader boot;
  FirmwareDownload download;
};

int run_identify(CliContext& ctx) {
  FlashJob job(ctx);
  const FirmwareDownload::Identity id = job.download.identify();
  if (id.device_type == 0) {
    std::fprintf(
        stderr, "%s\n",
        id.answered ? "Controller is unrecognized !!" : "No response from controller received.");
    return kExitNoController;
  }
  const FirmwareSelection* s = firmware_selection(id.model_selection);
  ctx.say("Device type: " + std::to_string(id.device_type));
  ctx.say("Revision: " + std::to_string(id.revision));
  if (id.software_read) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(id.software_number) & 0xFFFFU);
    ctx.say("Software number: " + std::to_string(id.software_number) + " (hex " + hex + ")");
  } else {
    ctx.say("Software number: not read");
  }
  ctx.say("Selection: " + std::to_string(id.model_selection) + " (download application " +
          std::string(s->download_app + 1) + ", default firmware " + s->default_firmware +
          ", device code " + s->device_code + ", download-mode value " +
          std::to_string(s->download_mode_value) + ")");
  return kExitOk;
}

int run_flash(CliContext& ctx, const std::string& file) {
  FlashJob job(ctx);
  if (!file.empty()) {
    ctx.prompts().preset_open_file(std::filesystem::absolute(file).string());
  } else {
    // The selection's default firmware file in the program directory.
    ctx.prompts().set_open_resolver([&job](const FileDialog&) -> std::optional<std::string> {
      return job.download.firmware_path;
    });
  }
  job.download.cmd_Start_Click();
  using Outcome = FirmwareDownload::Outcome;
  switch (job.download.outcome()) {
    case Outcome::Completed:
      return kExitOk;
    case Outcome::NoResponse:
    case Outcome::Unrecognised:
      return kExitNoController;
    case Outcome::Cancelled:
      return kExitCancelled;
    case Outcome::FileMissing:
    case Outcome::SoftwareMismatch:
      return kExitFile;
    case Outcome::ModeFailed:
    case Outcome::TransferFailed:
    case Outcome::None:
      return kExitFailed;
  }
  return kExitFailed;
}

int run_online(CliContext& ctx) {
  FlashJob job(ctx);
  job.download.cmd_IsDeviceOnline_Click();
  return job.view.last_response() == "Device is online" ? kExitOk : kExitNoController;
}

int run_erase(CliContext& ctx) {
  FlashJob job(ctx);
  job.download.cmd_EraseSectors_Click({true, true, true, true, true, true, true});
  return job.view.last_response() == "Erase Successful" ? kExitOk : kExitFailed;
}

}  // namespace

void register_flash_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  app.add_subcommand("identify", "device type, revision, software number and selection")
      ->callback([&ctx, &exit_code] { exit_code = run_identify(ctx); });

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
  flash->callback([&ctx, &exit_code, firmware] { exit_code = run_flash(ctx, *firmware); });

  app.add_subcommand("online", "is the device's bootloader online (engineering)")
      ->callback([&ctx, &exit_code] { exit_code = run_online(ctx); });
  app.add_subcommand("erase", "erase the controller's flash at 38400 baud (engineering)")
      ->callback([&ctx, &exit_code] { exit_code = run_erase(ctx); });
}

}  // namespace r7::cli
