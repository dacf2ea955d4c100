#include <cstdio>

#include "cli/cli_context.h"
#include "cli/console_flash_view.h"
#include "errors/run_error.h"
#include "flash/firmware_download.h"
#include "flash/srecord.h"

namespace r7::cli {

namespace {

std::string hex_address(std::uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", a);
  return buf;
}

// `check FILE`: the pre-flight check of an S-record file, no controller needed.
int run_check(CliContext& ctx, const std::string& file) {
  std::vector<std::string> lines;
  try {
    lines = read_srecord_lines(file);
  } catch (const RunError& e) {
    std::fprintf(
        stderr, "%s: %s\n", file.c_str(),
        e.number() == err::kFileNotFound ? "cannot open the file" : "cannot read the file");
    return kExitFile;
  }
  const SRecordReport report = check_srecord_lines(lines);
  ctx.say("File: " + file);
  ctx.say("Lines: " + std::to_string(report.lines));
  std::string types;
  for (const auto& [type, count] : report.records_by_type) {
    types += (types.empty() ? "" : ", ") + type + " " + std::to_string(count);
  }
  ctx.say("Records: " + (types.empty() ? std::string("none") : types));
  if (report.first_address && report.last_address) {
    ctx.say("Address range: " + hex_address(*report.first_address) + "-" +
            hex_address(*report.last_address));
  } else {
    ctx.say("Address range: none");
  }
  ctx.say("Data bytes: " + std::to_string(report.data_bytes));
  const std::string& field = report.software_field;
  if (field == kNoSoftwareField) {
    ctx.say("Software-number field: " + field + " (no S2 record at 010000)");
  } else {
    ctx.say("Software-number field: " + field + " (device code " + field.substr(0, 8) +
            ", software " + (field.size() > 8 ? field.substr(8) : std::string()) + ")");
  }
  for (const SRecordError& e : report.errors) {
    std::printf("line %d: %s\n", e.line, e.message.c_str());
  }
  std::printf("%s\n", report.ok() ? "No errors."
                                  : ("Errors: " + std::to_string(report.errors.size())).c_str());
  return report.ok() ? kExitOk : kExitFile;
}

// The firmware download's job on the terminal.
struct FlashJob {
  explicit FlashJob(CliContext& ctx)
      : view(ctx.options().quiet),
        download(ctx.comms(), ctx.prompts(), view, ctx.clock(), ctx.program_dir()) {}

  ConsoleFlashView view;
  FirmwareDownload download;
};

void print_identity(CliContext& ctx, const FirmwareDownload::Identity& id) {
  const FirmwareSelection* s = firmware_selection(id.model_selection);
  ctx.say("Device type: " + std::to_string(id.device_type));
  ctx.say("Revision: " + std::to_string(id.revision));
  if (id.software_number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(*id.software_number) & 0xFFFFU);
    ctx.say("Software number: " + std::to_string(*id.software_number) + " (hex " + hex + ")");
  } else {
    ctx.say("Software number: not read");
  }
  ctx.say("Selection: " + std::to_string(id.model_selection) + " (download application " +
          std::string(s->download_app + 1) + ", default firmware " + s->default_firmware +
          ", device code " + s->device_code + ", download-mode value " +
          std::to_string(s->download_mode_value) + ")");
}

int run_identify(CliContext& ctx) {
  FlashJob job(ctx);
  const FirmwareDownload::Identity id = job.download.identify();
  if (id.device_type == 0) {
    std::fprintf(
        stderr, "%s\n",
        id.answered ? "Controller is unrecognized !!" : "No response from controller received.");
    return exit_status_of(ctx, Outcome{id.answered ? Ending::Unrecognised : Ending::NoController});
  }
  print_identity(ctx, id);
  return kExitOk;
}

int run_flash(CliContext& ctx, const std::string& file) {
  FlashJob job(ctx);
  if (!file.empty()) {
    ctx.prompts().preset_open_file(std::filesystem::absolute(file).string());
  } else {
    // The selection's default firmware file in the program directory.
    ctx.prompts().set_open_resolver([&job](const FileDialog&) -> std::optional<std::string> {
      return job.download.firmware_path();
    });
  }
  return exit_status_of(ctx, job.download.download_firmware());
}

int run_online(CliContext& ctx) {
  FlashJob job(ctx);
  const OnlineState state = job.download.probe_online();
  if (state == OnlineState::Online) return kExitOk;
  return exit_status_of(ctx, Outcome{Ending::NoController});
}

int run_erase(CliContext& ctx) {
  FlashJob job(ctx);
  return exit_status_of(
      ctx, job.download.erase_flash_sectors({true, true, true, true, true, true, true}));
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
