#include <cstdio>

#include "cli/cli_context.h"
#include "errors/run_error.h"
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
    std::fprintf(stderr, "%s: %s\n", file.c_str(),
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

}  // namespace

void register_flash_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  add_unavailable(app, "identify", "device type, revision, software number and selection",
                  exit_code);

  auto* check = app.add_subcommand(
      "check", "validate an S-record file without touching a controller (exit 3 on errors)");
  auto file = std::make_shared<std::string>();
  check->add_option("FILE", *file, "S-record file")->required();
  check->callback([&ctx, &exit_code, file] { exit_code = run_check(ctx, *file); });

  add_unavailable(app, "flash", "the whole firmware download", exit_code);
  add_unavailable(app, "online", "is the device's bootloader online", exit_code);
  add_unavailable(app, "erase", "erase the controller's flash (engineering)", exit_code);
}

}  // namespace r7::cli
