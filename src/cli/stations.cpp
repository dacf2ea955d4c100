#include "cli/stations.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

#include <QThread>

#include <nlohmann/json.hpp>

#include "base/text_table.h"
#include "cli/cli_context.h"
#include "os/os.h"
#include "serial/trace.h"

namespace r7::cli {

namespace {

using Json = nlohmann::ordered_json;

// What an exit status says, for a station that ended before its job had a
// record to show.
std::string exit_meaning(int status) {
  switch (status) {
    case kExitOk:
      return "completed";
    case kExitUsage:
      return "usage error";
    case kExitNoController:
      return "no controller";
    case kExitFile:
      return "file problem";
    case kExitCancelled:
      return "cancelled";
    case kExitFailed:
      return "failed";
    case kExitPort:
      return "port problem";
    case kExitDiffers:
      return "differs";
    default:
      return "stopped by a signal";
  }
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

// The cells of one row of the summary.
std::vector<std::string> row_cells(const StationResult& r) {
  std::vector<std::string> cells{r.station, "-", "-", "-", "-", exit_meaning(r.exit_status)};
  if (r.record) {
    const auto history = history_cells(*r.record);
    cells = {r.station, history[4], history[5], history[6], history[8], history[9]};
  }
  cells.push_back(seconds_text(r.seconds));
  cells.push_back(std::to_string(r.exit_status));
  return cells;
}

Json summary_json(const std::vector<StationResult>& results, int worst) {
  Json stations = Json::array();
  for (const StationResult& r : results) {
    Json s{{"station", r.station}};
    const auto put = [&s](const char* key, const auto& value) {
      s[key] = value ? Json(*value) : Json(nullptr);
    };
    const ServiceRecord none;
    const ServiceRecord& record = r.record ? *r.record : none;
    put("model", record.model);
    put("serial_number", record.serial_number);
    put("software_before", record.software_number);
    s["file"] = record.file ? Json(record.file->path) : Json(nullptr);
    s["outcome"] = r.record ? history_cells(record)[9] : exit_meaning(r.exit_status);
    s["seconds"] = static_cast<double>(static_cast<long long>(r.seconds * 10 + 0.5)) / 10;
    s["exit_status"] = r.exit_status;
    stations.push_back(std::move(s));
  }
  return Json{{"type", "summary"}, {"stations", std::move(stations)}, {"exit_status", worst}};
}

// One station's job, from its own context to its summary row. Nothing it
// throws leaves its thread.
StationResult run_station(const char* argv0, GlobalOptions options, const Station& station,
                          const std::function<int(CliContext&)>& job) {
  StationResult result;
  result.station = station.board->name(station.index);
  const auto started = std::chrono::steady_clock::now();
  try {
    CliContext ctx(argv0, options, station);
    try {
      result.exit_status = job(ctx);
      ctx.finish_service_record(result.exit_status);
      ctx.output().outcome(ctx.last_outcome(), result.exit_status);
    } catch (...) {
      result.exit_status = exit_after_exception(ctx, std::current_exception());
    }
    result.record = ctx.finished_record();
  } catch (const std::exception& e) {
    station.board->print(station.index, std::string("r7flash-cli: internal error: ") + e.what(),
                         true);
    result.exit_status = kExitFailed;
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  station.board->set_status(station.index, "ended: " + row_cells(result)[5] + ", exit status " +
                                               std::to_string(result.exit_status));
  return result;
}

}  // namespace

std::filesystem::path NameClaims::claim(const std::filesystem::path& wanted,
                                        const std::string& tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::filesystem::path name = wanted;
  // Ends: each turn tries a name not tried before, and only finitely many are taken.
  for (int n = 1; !claimed_.insert(name).second; ++n) {
    std::string alternative = wanted.stem().string() + "-" + tag;
    if (n > 1) alternative += "-" + std::to_string(n);
    name = wanted.parent_path() / (alternative + wanted.extension().string());
  }
  return name;
}

std::string station_name(const std::string& device) {
  return device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
}

std::vector<std::string> station_table(const std::vector<StationResult>& results) {
  std::vector<std::vector<std::string>> rows{{"Station", "Model", "Serial number",
                                              "Software before", "File", "Outcome", "Seconds",
                                              "Exit"}};
  for (const StationResult& r : results)
    rows.push_back(row_cells(r));
  return text_table(rows, 6);  // seconds and exit status to the right
}

std::string stations_refusal(const GlobalOptions& options) {
  if (!options.yes && !options.no) {
    return "--port is given more than once: nobody can answer the questions of several "
           "stations at once. Give --yes or --no.";
  }
  std::vector<std::string> names;
  for (const std::string& device : options.ports) {
    const std::string name = station_name(device);
    if (std::find(names.begin(), names.end(), name) != names.end())
      return "--port " + device + " is given twice: one station per device.";
    names.push_back(name);
  }
  if (options.trace) {
    if (auto problem = FileTrace::check(*options.trace)) return "--trace: " + *problem;
  }
  return {};
}

int run_on_stations(CliContext& ctx, const std::function<int(CliContext&)>& job) {
  GlobalOptions& options = ctx.options();
  if (const std::string why = stations_refusal(options); !why.empty()) {
    ctx.warn("r7flash-cli: " + why);
    return kExitUsage;
  }
  std::vector<std::string> names;
  for (const std::string& device : options.ports)
    names.push_back(station_name(device));
  StationBoard board(names, os::is_terminal(stdout) && !options.json && !options.quiet);
  NameClaims claims;
  std::vector<StationResult> results(names.size());
  // QThreads: the Qt serial port's notifiers work in no other thread.
  std::vector<std::unique_ptr<QThread>> threads;
  for (std::size_t i = 0; i < names.size(); ++i) {
    GlobalOptions own = options;
    own.ports = {options.ports[i]};
    threads.emplace_back(QThread::create([&results, &board, &claims, &ctx, &job, own, i] {
      results[i] = run_station(ctx.argv0(), own, Station{&board, i, &claims}, job);
    }));
    threads.back()->start();
  }
  for (const auto& thread : threads)
    thread->wait();
  board.close();

  int worst = kExitOk;
  for (const StationResult& r : results)
    worst = worst_exit_status(worst, r.exit_status);
  if (options.json) {
    board.print_plain(
        summary_json(results, worst).dump(-1, ' ', false, Json::error_handler_t::replace));
  } else {
    std::string table;
    for (const std::string& line : station_table(results))
      table += line + "\n";
    std::fputs(table.c_str(), stdout);
    std::fflush(stdout);
  }
  return worst;
}

}  // namespace r7::cli
