// A whole setup save of the demonstration 6180 controller: r7flash-cli talks
// through a pseudo-terminal to `r7sim --pace`, which sends every reply at the
// line rate of 9600 baud and lets every request take its own line time.
//
// Figures:
//   exchanges  requests of the save (counted on an in-process run of the same save)
//   wall_s     r7flash-cli's run from start to exit
//   limit_s    wire-time limit: every request and reply byte at 11 bits a
//              character (9600 baud: 1.146 ms), plus for each exchange the
//              controller's turnaround (2 ms) and the slot's 1 ms char gap
//   ratio      wall_s / limit_s (target <= 1.10; start-up of the program included)
//   cpu_pct    CPU time of r7flash-cli (user + system) / wall_s (target <= 5 %)
#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serial/line_settings.h"
#include "sim/config.h"
#include "support/demo_program_dir.h"
#include "support/setup_fixture.h"
#include "support/subprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kBaud = 9600;

class ByteCount final : public r7::TraceSink {
 public:
  void record(int, const std::string&, bool transmitted, std::string_view bytes,
              std::uint32_t) override {
    if (transmitted) ++exchanges;
    characters += bytes.size();
  }
  std::size_t exchanges = 0;
  std::size_t characters = 0;
};

// The same save in-process on the simulated controller: what goes over the line.
ByteCount reference_save(const fs::path& home) {
  r7::sim::Simulation sim(r7::sim::kModel6180);
  r7::test::RecordingPrompts prompts;
  r7::test::RecordingSetupView view;
  r7::ErrorLog log(prompts, sim.clock(), home / "bench.ERR");
  r7::PortNames names(home / "VARNEL FLASH R7.INI");
  r7::Comms comms(home / "VARNEL FLASH R7.INI", names, sim.port_factory(), sim.clock(), prompts,
                  log);
  comms.init_comms();
  ByteCount count;
  comms.set_trace(&count);
  const r7::ProgramDir dir(home);
  r7::SetupSession session(view);
  prompts.answer_save((home / "reference.txt").string());
  r7::SaveSetup(comms, prompts, session, sim.clock(), dir, 1).save_setup();
  return count;
}

// CPU time (user + system) of the children waited for so far.
double children_cpu_s() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void setup_save_paced(benchmark::State& state) {
  r7::test::TempDir home;
  r7::test::write_demo_program_dir(home.path());
  const ByteCount reference = reference_save(home.path());
  const double limit_ms =
      static_cast<double>(reference.characters) * r7::char_time_ms(kBaud) +
      static_cast<double>(reference.exchanges) * (r7::sim::LineModel{}.turnaround_ms + 1.0);

  const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
  const std::string link = (home / "r7").string();
  r7::test::Process sim((bin / "r7sim").string(), {"--pace", "--link", link});
  if (sim.read_line(10000).empty()) {
    state.SkipWithError("r7sim did not start");
    return;
  }

  for (auto _ : state) {
    const double cpu_before = children_cpu_s();
    const auto started = std::chrono::steady_clock::now();
    const r7::test::ProcessResult run = r7::test::run_process(
        {(bin / "r7flash-cli").string(), "--home", home.path().string(), "--port", link, "--yes",
         "--quiet", "save", (home / "paced.txt").string()},
        600s);
    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (run.exit_code != 0) {
      state.SkipWithError("the save did not complete");
      return;
    }
    state.SetIterationTime(wall_s);
    state.counters["exchanges"] = static_cast<double>(reference.exchanges);
    state.counters["wall_s"] = wall_s;
    state.counters["limit_s"] = limit_ms / 1000.0;
    state.counters["ratio"] = wall_s * 1000.0 / limit_ms;
    state.counters["cpu_pct"] = 100.0 * (children_cpu_s() - cpu_before) / wall_s;
  }
}

BENCHMARK(setup_save_paced)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
