// Several stations in one run: --port given more than once runs the command
// on every device at once, each station a job of its own on its own thread,
// with its own port objects, prompts, clock and error log. One station's
// failure never stops another; the run's exit status is the worst station's.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/service_log.h"

namespace r7::cli {

class CliContext;
struct GlobalOptions;

// File names the stations of one run write: the first to claim a name gets
// it, a later one (a second controller with the same serial number) gets the
// name with its station's tag ("2130517-ttyUSB1.txt"), so that no station
// replaces another's file.
class NameClaims {
 public:
  std::filesystem::path claim(const std::filesystem::path& wanted, const std::string& tag);

 private:
  std::mutex mutex_;
  std::set<std::filesystem::path> claimed_;
};

// The station a device names: the device without "/dev/".
std::string station_name(const std::string& device);

// How one station's job ended, for the summary.
struct StationResult {
  std::string station;
  std::optional<ServiceRecord> record;  // unset when the job ended before it talked to a controller
  int exit_status = 0;
  double seconds = 0;
};

// The summary table's lines: station, model, serial number, software before,
// file, outcome, seconds, exit status.
std::vector<std::string> station_table(const std::vector<StationResult>& results);

// Why a run on several stations is refused before any port is opened, or ""
// when it may start: a question nobody could answer (neither --yes nor --no),
// a device named twice.
std::string stations_refusal(const GlobalOptions& options);

// Runs `job` on every station of `ctx`'s --port list at once, prints the
// summary (the table, or with --json a "summary" object) and returns the
// worst exit status.
int run_on_stations(CliContext& ctx, const std::function<int(CliContext&)>& job);

}  // namespace r7::cli
