// Modbus-sized exchanges (8 bytes out, 7 back) through the real Qt serial port
// adapter against a peer on a pseudo-terminal that keeps the line's timing:
// it answers after the request's 8 characters have had their time on the wire
// and sends its 7 at 9600 baud, either byte by byte (a UART) or handed over in
// 16 ms chunks (a USB adapter).
//
// Figures:
//   exchanges_per_s  completed exchanges per second of wall time
//   ratio            mean exchange time / wire-time limit, where the limit is
//                    the moment the peer's last byte is on our side plus the
//                    slot's 1 ms char gap that any receiver must wait out
//                    (UART: 15 characters = 17.19 ms + 1 ms = 18.19 ms)
//   cpu_pct          CPU time of the exchanging thread / wall time
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

#include "errors/clock.h"
#include "errors/error_log.h"
#include "modbus/modbus.h"
#include "platform/qt_serial_port.h"
#include "serial/comms.h"
#include "serial/line_settings.h"
#include "support/modbus_frames.h"
#include "support/pty_peer.h"
#include "support/recording_prompts.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using r7::test::PtyPeer;

constexpr int kBaud = 9600;
constexpr std::size_t kRequestSize = 8;

void modbus_exchange(benchmark::State& state) {
  const int chunk_ms = static_cast<int>(state.range(0));
  r7::test::TempDir dir;
  r7::test::write_file(dir / "VARNEL FLASH R7.INI",
                       "[COMMS CONTROLS]\n"
                       "DEVICE 0 COMM PORT =2\nDEVICE 0 PORT SETTING =9600,N,8,1\n"
                       "DEVICE 1 COMM PORT =2\nDEVICE 1 PORT SETTING =9600,N,8,1\n");
  const std::string request = r7::test::read_request(1);
  const std::string reply = r7::with_modbus_crc({1, 3, 2, 0x04, static_cast<char>(0xD2)});

  PtyPeer peer;
  const double char_ms = r7::char_time_ms(kBaud);
  peer.start([&reply, chunk_ms, char_ms](PtyPeer& p) {
    const auto request_on_wire =
        std::chrono::microseconds(std::lround(kRequestSize * char_ms * 1000.0));
    while (!p.stopping()) {
      if (!p.read_exactly(kRequestSize, 100ms)) continue;
      p.pause(request_on_wire);
      p.send_paced(reply, kBaud, chunk_ms);
    }
  });

  r7::test::RecordingPrompts prompts;
  r7::SystemClock clock;
  r7::ErrorLog log(prompts, clock, dir / "Flash.ERR");
  r7::platform::QtPortFactory factory;
  r7::PortNames names(dir / "VARNEL FLASH R7.INI", peer.device());
  r7::Comms comms(dir / "VARNEL FLASH R7.INI", names, factory, clock, prompts, log);
  comms.init_comms();
  // Open the port before timing.
  if (comms.transmit(r7::kModbusSlot, request, 250, r7::modbus_reply_length) != reply) {
    state.SkipWithError("the peer did not answer");
    return;
  }

  const double reply_delivery = chunk_ms > 0
                                    ? std::ceil(reply.size() * char_ms / chunk_ms) * chunk_ms
                                    : static_cast<double>(reply.size()) * char_ms;
  const double limit_ms = kRequestSize * char_ms + reply_delivery + comms.char_gap_ms(1);

  std::int64_t exchanges = 0;
  const auto cpu_before = r7::test::thread_cpu_time();
  const auto started = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const std::string got = comms.transmit(r7::kModbusSlot, request, 250, r7::modbus_reply_length);
    if (got != reply) {
      state.SkipWithError("a reply was cut or lost");
      break;
    }
    ++exchanges;
  }
  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double cpu_s =
      std::chrono::duration<double>(r7::test::thread_cpu_time() - cpu_before).count();
  if (exchanges == 0) return;
  const double mean_ms = wall_s * 1000.0 / static_cast<double>(exchanges);
  state.counters["exchanges_per_s"] = static_cast<double>(exchanges) / wall_s;
  state.counters["mean_ms"] = mean_ms;
  state.counters["limit_ms"] = limit_ms;
  state.counters["ratio"] = mean_ms / limit_ms;
  state.counters["cpu_pct"] = 100.0 * cpu_s / wall_s;
}

// Argument: 0 = paced byte by byte, 16 = handed over in 16 ms chunks.
BENCHMARK(modbus_exchange)
    ->Arg(0)
    ->Arg(16)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
