// r7_bench: three measurements through the real Qt serial port on
// pseudo-terminals. Wire times count 11 bits a character; the limit is what
// the line itself takes (every byte on the wire, per exchange the slot's 1 ms
// char gap and r7sim's 2 ms turnaround), the ratio the time taken over it, and
// cpu_pct the CPU time of the working thread (or program) over the wall time.
//   modbus_exchange/0, /16  8-byte requests, 7-byte replies at 9600 baud from a
//       peer that replies byte by byte (a UART) or in 16 ms chunks (USB).
//   firmware_transfer  a 256 KiB image (8192 S2 records) into `r7sim --pace`
//       at 38400 baud (targets: ratio 1.08, cpu_pct 5).
//   setup_save_paced  r7flash-cli saving the 6180 demonstration setup from
//       `r7sim --pace` at 9600 baud, start-up included; the exchanges counted on
//       the same save in-process (targets: ratio 1.10, cpu_pct 5).
//   service_log_history/0, /1, /2  `r7flash-cli history` on a service log of
//       100,000 entries: the whole table, one controller's (--serial), the
//       whole log with --json; start-up included, output to /dev/null
//       (target: 0.5 s).
#include <sys/resource.h>

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "app/line_settings.h"
#include "app/service_log.h"
#include "flash/bootloader.h"
#include "flash/file_transfer.h"
#include "flash/srecord.h"
#include "modbus/registers.h"
#include "support/modbus_frames.h"
#include "support/pty_peer.h"
#include "support/qt_rig.h"
#include "support/recording_flash_view.h"
#include "support/setup_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace r7;

const double kPerExchangeMs = sim::LineModel{}.turnaround_ms + 1.0;  // and the char gap

// Wall time and this thread's CPU time since construction, in seconds.
struct Stopwatch {
  double wall_s() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  }
  double cpu_s() const {
    return std::chrono::duration<double>(test::thread_cpu_time() - cpu).count();
  }
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::chrono::microseconds cpu = test::thread_cpu_time();
};

// The time taken and the wire-time limit (in `unit`s), their ratio, the CPU share.
void figures(benchmark::State& state, const std::string& unit, double time, double limit,
             double cpu_pct) {
  state.counters.insert({{"time_" + unit, time},
                         {"limit_" + unit, limit},
                         {"ratio", time / limit},
                         {"cpu_pct", cpu_pct}});
}

void modbus_exchange(benchmark::State& state) {
  const int chunk_ms = static_cast<int>(state.range(0));
  const std::string request = test::read_request(1);
  const std::string reply = test::value_reply(1234);
  const double char_ms = char_time_ms(9600);
  test::PtyPeer peer;
  peer.start([&reply, chunk_ms, char_ms, n = request.size()](test::PtyPeer& p) {
    while (!p.stopping()) {
      if (!p.read_exactly(n, 100ms)) continue;
      std::this_thread::sleep_for(std::chrono::microseconds(std::lround(n * char_ms * 1000.0)));
      p.send_paced(reply, 9600, chunk_ms);
    }
  });
  test::QtRig rig(peer.device());
  const auto exchange = [&] {
    return rig.comms.transmit(kModbusSlot, request, 250, modbus_reply_length).reply == reply;
  };
  if (!exchange()) return state.SkipWithError("the peer did not answer");  // opens the port

  const double reply_ms = chunk_ms > 0 ? std::ceil(reply.size() * char_ms / chunk_ms) * chunk_ms
                                       : static_cast<double>(reply.size()) * char_ms;
  const double limit_ms = request.size() * char_ms + reply_ms + rig.comms.char_gap_ms(1);
  std::int64_t exchanges = 0;
  const Stopwatch watch;
  for (auto _ : state) {
    if (!exchange()) return state.SkipWithError("a reply was cut or lost");
    ++exchanges;
  }
  const double wall_s = watch.wall_s();
  const double mean_ms = wall_s * 1000.0 / static_cast<double>(exchanges);
  state.counters["exchanges_per_s"] = static_cast<double>(exchanges) / wall_s;
  figures(state, "ms", mean_ms, limit_ms, 100.0 * watch.cpu_s() / wall_s);
}
BENCHMARK(modbus_exchange)->DenseRange(0, 16, 16)->Iterations(300)->UseRealTime();

void firmware_transfer(benchmark::State& state) {
  test::QtRig rig;
  if (!rig.start_sim(R7SIM_EXE, {"--pace"})) return state.SkipWithError("r7sim did not start");
  test::RecordingFlashView view;
  Bootloader boot(rig.comms, rig.prompts, view);
  for (int value : {reg::kDownloadModeArm, reg::kDownloadModeLoader}) {  // as a download does
    rig.comms.transmit(kModbusSlot, test::write_request(reg::kDownloadMode, value), 250,
                       modbus_reply_length);
  }
  std::this_thread::sleep_for(5s);
  if (!transfer_srecord_file(boot, rig.prompts, rig.program.join("Dnld_R7.s19")) ||
      !boot.download_completed() || !boot.execute_download_app(kDownloadAppAddress)) {
    return state.SkipWithError("the download application did not start");
  }
  rig.comms.set_port_settings(kXonSlot, kBootloaderSettings);
  if (boot.erase_flash() != 1) return state.SkipWithError("the erase was not acknowledged");

  const auto firmware = rig.program.join("8830-0000.S19");
  double limit_s = 0;
  for (const SRecord& record : read_srecords(firmware)) {
    if (!record.sent()) continue;
    const double frame = 3.0 + static_cast<double>(record.length() - 6) / 2.0 + 1.0;
    limit_s += ((frame + 2.0) * char_time_ms(38400) + kPerExchangeMs) / 1000.0;
  }
  for (auto _ : state) {
    const Stopwatch watch;
    if (!transfer_srecord_file(boot, rig.prompts, firmware)) {
      return state.SkipWithError("the firmware transfer failed");
    }
    const double seconds = watch.wall_s();
    figures(state, "s", seconds, limit_s, 100.0 * watch.cpu_s() / seconds);
  }
}
BENCHMARK(firmware_transfer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The same save in-process on the simulated controller, counting what goes
// over the line.
struct ReferenceSave final : test::SetupFixture, TraceSink {
  ReferenceSave() {
    comms.set_trace(this);
    save(dir / "reference.txt");
  }
  void TestBody() override {}
  void record(int, const std::string&, bool transmitted, std::string_view bytes,
              std::uint32_t) override {
    exchanges += transmitted ? 1 : 0;
    characters += bytes.size();
  }
  std::size_t exchanges = 0;
  std::size_t characters = 0;
};

// CPU time (user + system) of the children waited for so far.
double children_cpu_s() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void setup_save_paced(benchmark::State& state) {
  test::QtRig rig;
  const fs::path& home = rig.dir.path();
  const ReferenceSave reference;
  const double limit_s = (static_cast<double>(reference.characters) * char_time_ms(9600) +
                          static_cast<double>(reference.exchanges) * kPerExchangeMs) /
                         1000.0;
  if (!rig.start_sim(R7SIM_EXE, {"--pace"})) return state.SkipWithError("r7sim did not start");

  const std::string cli = (fs::path(R7SIM_EXE).parent_path() / "r7flash-cli").string();
  for (auto _ : state) {
    const double cpu_before = children_cpu_s();
    const Stopwatch watch;
    const test::ProcessResult run =
        test::run_process({cli, "--home", home.string(), "--port", rig.link(), "--yes", "--quiet",
                           "save", (home / "paced.txt").string()},
                          600s);
    const double wall_s = watch.wall_s();
    if (run.exit_code != 0) return state.SkipWithError("the save did not complete");
    state.SetIterationTime(wall_s);
    state.counters["exchanges"] = static_cast<double>(reference.exchanges);
    figures(state, "s", wall_s, limit_s, 100.0 * (children_cpu_s() - cpu_before) / wall_s);
  }
}
BENCHMARK(setup_save_paced)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// 100,000 jobs on 2,000 controllers, each line as long as a download's.
void write_service_log(const fs::path& file) {
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    ServiceRecord r;
    r.start = {2026, 1 + i / 10000, 1 + i % 28, i % 24, i % 60, i % 60, 60};
    r.end = r.start;
    r.version = "2.00";
    r.user = "service";
    r.station = "/dev/ttyUSB" + std::to_string(i % 16);
    r.job = i % 3 == 0 ? "flash" : i % 3 == 1 ? "save" : "identify";
    r.model = 6180;
    r.serial_number = std::to_string(2130000 + i % 2000);
    r.software_number = 2;
    r.revision = 1850;
    r.file = ServiceFile{"/home/service/.local/share/r7flash/731-0000.S19", 479274,
                         std::string(64, 'e')};
    r.backup = "/home/service/.local/share/r7flash/Reg Downloads/2130517-before-2026-12-07.txt";
    r.set_outcome(Outcome(Ending::Completed));
    r.exit_status = 0;
    text += service_record_json(r) + "\n";
  }
  test::write_file(file, text);
}

void service_log_history(benchmark::State& state) {
  const test::TempDir home;
  write_service_log(home / kServiceLogName);
  const std::string cli = (fs::path(R7SIM_EXE).parent_path() / "r7flash-cli").string();
  // The output goes to /dev/null, as into a file: the time is the command's,
  // not that of a pipe read by this program.
  std::vector<std::string> argv = {"/bin/sh", "-c",     "exec \"$0\" \"$@\" > /dev/null",
                                   cli,       "--home", home.path().string(),
                                   "history"};
  if (state.range(0) == 1) argv.insert(argv.end(), {"--serial", "2130517"});
  if (state.range(0) == 2) argv.push_back("--json");
  for (auto _ : state) {
    const Stopwatch watch;
    const test::ProcessResult run = test::run_process(argv, 60s);
    state.SetIterationTime(watch.wall_s());
    if (run.exit_code != 0) return state.SkipWithError("history failed");
  }
}
BENCHMARK(service_log_history)->DenseRange(0, 2)->Iterations(3)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the Qt serial port wants one
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
