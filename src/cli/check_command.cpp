// `check FILE`: the pre-flight check of an S-record file, no controller needed.
#include <cstdio>

#include "base/run_error.h"
#include "cli/cli_context.h"
#include "flash/srecord_check.h"

namespace r7::cli {

namespace {

std::string hex_address(std::uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", a);
  return buf;
}

std::string where(const SRecordMessage& m) {
  return m.line > 0 ? "line " + std::to_string(m.line) + ": " : std::string();
}

}  // namespace

int run_check(CliContext& ctx, const std::string& file) {
  SRecordReport report;
  try {
    report = check_srecord_file(file);
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitFile;
  }
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
  if (!report.software_field) {
    ctx.say(std::string("Software-number field: ") + kNoSoftwareField +
            " (no S2 record at 010000)");
  } else {
    const std::string& field = *report.software_field;
    ctx.say("Software-number field: " + field + " (device code " + field.substr(0, 8) +
            ", software " + (field.size() > 8 ? field.substr(8) : std::string()) + ")");
  }
  for (const SRecordError& e : report.errors) {
    std::printf("%s%s\n", where(e).c_str(), e.message.c_str());
  }
  if (report.errors_not_listed > 0) {
    std::printf("... and %zu more errors\n", report.errors_not_listed);
  }
  for (const SRecordMessage& n : report.notes) {
    ctx.say("note: " + where(n) + n.message);
  }
  if (report.notes_not_listed > 0) {
    ctx.say("note: ... and " + std::to_string(report.notes_not_listed) + " more notes");
  }
  std::printf("%s\n", report.ok() ? "No errors."
                                  : ("Errors: " + std::to_string(report.error_count())).c_str());
  return report.ok() ? kExitOk : kExitFile;
}

}  // namespace r7::cli
