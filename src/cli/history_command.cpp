// `history [--serial N] [--since DATE]`: the service log as a table, newest
// last, or with --json one object per entry.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_context.h"

namespace r7::cli {

namespace {

struct HistoryArgs {
  std::optional<std::string> serial;
  std::optional<std::string> since;
};

// The rows in columns as wide as their widest cell, two blanks apart.
std::string history_table(const std::vector<ServiceRecord>& records) {
  std::vector<std::array<std::string, kHistoryColumns.size()>> rows;
  rows.reserve(records.size() + 1);
  auto& heading = rows.emplace_back();
  for (std::size_t c = 0; c < kHistoryColumns.size(); ++c)
    heading[c] = kHistoryColumns[c];
  for (const ServiceRecord& r : records)
    rows.push_back(history_cells(r));
  std::array<std::size_t, kHistoryColumns.size()> width{};
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c)
      width[c] = std::max(width[c], row[c].size());
  }
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      text += row[c];
      if (c + 1 < row.size()) text.append(width[c] - row[c].size() + 2, ' ');
    }
    text += '\n';
  }
  return text;
}

int run_history(CliContext& ctx, const HistoryArgs& args) {
  HistoryFilter filter;
  filter.serial_number = args.serial;
  if (args.since) {
    filter.since = parse_since(*args.since);
    if (!filter.since) {
      std::fprintf(stderr,
                   "history: --since takes a date (2026-12-07) or a date and time "
                   "(\"2026-12-07 14:03\", 2026-12-07T14:03:59)\n");
      return kExitUsage;
    }
  }
  const std::filesystem::path file = ctx.program_dir().join(kServiceLogName);
  const ServiceLogEntries entries = read_service_log(file, filter);
  if (entries.unreadable) {
    std::fprintf(stderr, "history: the service log %s cannot be read\n", file.string().c_str());
    return kExitFile;
  }
  if (entries.missing) {
    std::fprintf(stderr, "history: no job has been logged yet (%s)\n", file.string().c_str());
  }
  std::string text;
  if (ctx.output().json()) {
    for (const ServiceRecord& r : entries.records) {
      const std::string object = service_record_json(r);
      text += "{\"type\":\"record\"," + object.substr(1) + "\n";
    }
  } else {
    text = history_table(entries.records);
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  if (entries.damaged > 0) {
    std::fprintf(stderr, "history: %zu damaged line(s) of %s skipped\n", entries.damaged,
                 file.string().c_str());
  }
  return kExitOk;
}

}  // namespace

void register_history_command(CLI::App& app, CliContext& ctx, int& exit_code) {
  auto args = std::make_shared<HistoryArgs>();
  auto* history = app.add_subcommand(
      "history", "the service log: every job that talked to a controller, newest last");
  history->add_option("--serial", args->serial,
                      "only the jobs on the controller of this serial number");
  history->add_option("--since", args->since,
                      "only the jobs begun at or after DATE (2026-12-07, \"2026-12-07 14:03\")");
  history->callback([&ctx, &exit_code, args] { exit_code = run_history(ctx, *args); });
}

}  // namespace r7::cli
