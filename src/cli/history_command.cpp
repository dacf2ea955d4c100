// `history [--serial N] [--since DATE]`: the service log as a table, newest
// last, or with --json one object per entry.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"

namespace r7::cli {

namespace {

struct HistoryArgs {
  std::optional<std::string> serial;
  std::optional<std::string> since;
};

// The table's rows, kept as one string each (cells ended by '\0') while the
// widest cell of every column is found, then printed padded, two blanks apart.
class HistoryTable {
 public:
  HistoryTable() {
    std::array<std::string, kHistoryColumns.size()> heading;
    for (std::size_t c = 0; c < heading.size(); ++c)
      heading[c] = kHistoryColumns[c];
    add(heading);
  }
  void add(const std::array<std::string, kHistoryColumns.size()>& cells) {
    std::string& row = rows_.emplace_back();
    for (std::size_t c = 0; c < cells.size(); ++c) {
      width_[c] = std::max(width_[c], cells[c].size());
      row += cells[c];
      row += '\0';
    }
  }
  std::string text() const {
    std::string out;
    std::size_t line = 0;
    for (const std::size_t w : width_)
      line += w + 2;
    out.reserve(line * rows_.size());
    for (const std::string& row : rows_) {
      std::size_t from = 0;
      for (std::size_t c = 0; c < width_.size(); ++c) {
        const std::size_t end = row.find('\0', from);
        out.append(row, from, end - from);
        if (c + 1 < width_.size()) out.append(width_[c] - (end - from) + 2, ' ');
        from = end + 1;
      }
      out += '\n';
    }
    return out;
  }

 private:
  std::vector<std::string> rows_;
  std::array<std::size_t, kHistoryColumns.size()> width_{};
};

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
  const bool json = ctx.output().json();
  HistoryTable table;
  std::string text;  // --json: the entries' lines as written, each marked as a record
  const ServiceLogEntries entries =
      scan_service_log(file, filter, [&](ServiceRecord&& r, std::string_view line) {
        if (!json) return table.add(history_cells(r));
        text += "{\"type\":\"record\",";
        text.append(line.substr(line.find('{') + 1));
        text += '\n';
      });
  if (entries.unreadable) {
    std::fprintf(stderr, "history: the service log %s cannot be read\n", file.string().c_str());
    return kExitFile;
  }
  if (entries.missing) {
    std::fprintf(stderr, "history: no job has been logged yet (%s)\n", file.string().c_str());
  }
  if (!json) text = table.text();
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
