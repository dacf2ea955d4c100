// A 256 KiB firmware image written through the real Qt serial port into r7sim
// on a pseudo-terminal, the simulated line paced at 38400 baud.
//
// Figures:
//   seconds  wall time of the firmware file transfer (8192 S2 records)
//   limit_s  the wire-time limit: for every record its frame and the two-byte
//            acknowledgement on the wire (11 bits a character: 38400 baud =
//            0.286 ms a character), the controller's 2 ms turnaround and the
//            slot's 1 ms char gap that the receiver must wait out
//   ratio    seconds / limit_s (target 1.08 or less)
//   cpu_pct  CPU time of the transferring thread / wall time (target 5 % or less)
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "app/program_dir.h"
#include "errors/clock.h"
#include "errors/error_log.h"
#include "flash/bootloader.h"
#include "flash/srecord.h"
#include "modbus/modbus.h"
#include "modbus/registers.h"
#include "platform/qt_serial_port.h"
#include "serial/comms.h"
#include "serial/line_settings.h"
#include "support/demo_program_dir.h"
#include "support/modbus_frames.h"
#include "support/pty_peer.h"
#include "support/recording_flash_view.h"
#include "support/recording_prompts.h"
#include "support/subprocess.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr int kBaud = 38400;
constexpr double kTurnaroundMs = 2.0;  // the simulator's default
constexpr double kCharGapMs = 1.0;

double wire_limit_ms(const std::vector<std::string>& lines) {
  const double char_ms = r7::char_time_ms(kBaud);
  double total = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 2, "S2") != 0 && line.compare(0, 2, "S1") != 0) continue;
    const double frame = 3.0 + static_cast<double>(line.size() - 6) / 2.0 + 1.0;
    total += (frame + 2.0) * char_ms + kTurnaroundMs + kCharGapMs;
  }
  return total;
}

void firmware_transfer(benchmark::State& state) {
  r7::test::TempDir dir;
  r7::test::write_demo_program_dir(dir.path());
  const std::string link = (dir / "r7").string();
  r7::test::Process sim(R7SIM_EXE, {"--link", link, "--pace"});
  if (sim.read_line(10000).empty()) {
    state.SkipWithError("r7sim did not start");
    return;
  }

  r7::test::RecordingPrompts prompts;
  r7::SystemClock clock;
  r7::ErrorLog log(prompts, clock, dir / "Flash.ERR");
  r7::ProgramDir program(dir.path());
  r7::PortNames names(program.settings_file(), link);
  r7::platform::QtPortFactory factory;
  r7::Comms comms(program.settings_file(), names, factory, clock, prompts, log);
  comms.init_comms();
  r7::test::RecordingFlashView view;
  r7::Bootloader boot(comms, prompts, view);

  // Into the download application, as a download gets there.
  for (int value : {r7::reg::kDownloadModeArm, r7::reg::kDownloadModeLoader}) {
    comms.transmit(r7::kModbusSlot, r7::test::write_request(r7::reg::kDownloadMode, value), 250,
                   r7::modbus_reply_length);
  }
  std::this_thread::sleep_for(5s);
  if (!boot.transfer_srecord_file(program.join("Dnld_R7.s19")) || !boot.download_completed() ||
      !boot.execute_download_app(r7::kDownloadAppAddress)) {
    state.SkipWithError("the download application did not start");
    return;
  }
  comms.set_port_settings(r7::kXonSlot, r7::kBootloaderSettings);
  if (boot.erase_flash() != 1) {
    state.SkipWithError("the erase was not acknowledged");
    return;
  }

  const auto firmware = program.join("8830-0000.S19");
  const double limit_ms = wire_limit_ms(r7::read_srecord_lines(firmware));
  double seconds = 0;
  double cpu_s = 0;
  int result = 0;
  for (auto _ : state) {
    const auto cpu0 = r7::test::thread_cpu_time();
    const auto t0 = std::chrono::steady_clock::now();
    result = boot.transfer_srecord_file(firmware);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu_s = std::chrono::duration<double>(r7::test::thread_cpu_time() - cpu0).count();
  }
  if (result != 1) state.SkipWithError("the firmware transfer failed");
  state.counters["seconds"] = seconds;
  state.counters["limit_s"] = limit_ms / 1000.0;
  state.counters["ratio"] = seconds / (limit_ms / 1000.0);
  state.counters["cpu_pct"] = 100.0 * cpu_s / seconds;
}

BENCHMARK(firmware_transfer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
