// r7sim: one simulated R7 controller on a pseudo-terminal.
//
//   r7sim [--link PATH] [--model 6180|6170] [--revision N] [--software N]
//         [--serial A B] [--state FILE] [--pace] [--chunk BYTES:MS] [--echo]
//         [--fault SPEC]... [--timing NAME:MS]... [--address N] [--seed N]
//         [--defaults] [--stuck-in-bootloader]
//
// The first line of standard output is the device path (a new line follows
// each time a hangup fault replaces the pseudo-terminal). SIGTERM or SIGINT
// end it with status 0; SIGUSR1 cycles the controller's power.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/system_clock.h"
#include "sim/catalog.h"
#include "sim/config.h"
#include "sim/controller.h"
#include "sim/pty_server.h"
#include "sim/state_file.h"

namespace {

struct Options {
  std::string link;
  int model = 0;
  std::optional<int> revision;
  std::optional<int> software;
  std::vector<int> serial;
  std::string state;
  bool pace = false;
  bool echo = false;
  std::string chunk;
  std::vector<std::string> faults;
  std::vector<std::string> timings;
  std::optional<int> address;
  std::uint32_t seed = 1;
  bool defaults = false;
  bool stuck_in_bootloader = false;
};

int serve(const Options& o) {
  using namespace r7::sim;
  std::optional<StateFile> saved;
  if (!o.state.empty()) saved = load_state_file(o.state);
  const int model = o.model != 0 ? o.model : (saved ? saved->model : kModel6180);
  ControllerConfig config = default_config(model);
  if (saved) apply_identity(*saved, config);
  if (o.revision) config.revision = *o.revision;
  if (o.software) config.software = *o.software;
  if (o.serial.size() == 2) {
    config.serial_a = o.serial[0];
    config.serial_b = o.serial[1];
  }
  if (o.address) config.address = *o.address;
  config.seed = o.seed;
  config.demo_setup = !o.defaults;
  // A controller answers Modbus only at its own baud rate, so a line left at
  // the download application's 38400 finds no answer.
  config.modbus_baud = 9600;
  config.line.pace = o.pace;
  config.line.echo = o.echo;
  if (!o.chunk.empty()) set_chunking(config.line, o.chunk);
  for (const std::string& spec : o.faults)
    add_fault(config.faults, spec);
  for (const std::string& spec : o.timings)
    set_timing(config.timing, spec);

  r7::SystemClock clock;
  Controller controller(config, clock);
  if (saved && saved->model == model) {
    controller.load(saved->state);
  } else if (saved) {
    std::fprintf(stderr, "r7sim: %s holds a %d; starting a %d without it\n", o.state.c_str(),
                 saved->model, model);
  }
  if (o.stuck_in_bootloader) controller.break_off_download();

  PtyServer::Options server_options;
  if (!o.link.empty()) server_options.link = o.link;
  if (!o.state.empty()) server_options.state_file = o.state;
  PtyServer server(controller, server_options);
  const auto announce = [](const std::string& path) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
  };
  announce(server.open());
  std::fprintf(stderr, "r7sim: %d at address %d, software %d, revision %d%s\n", model,
               config.address, config.software, config.revision,
               controller.mode() == Mode::Bootloader ? ", only its bootloader answers" : "");
  server.run(announce);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else, so that a stop signal is never lost.
  r7::sim::PtyServer::block_signals();

  Options o;
  CLI::App app{"Simulated R7 controller on a pseudo-terminal", "r7sim"};
  app.add_option("--link", o.link, "make PATH a symbolic link to the device");
  app.add_option("--model", o.model, "6180 or 6170 (default 6180, or the state file's)")
      ->check(CLI::IsMember({6180, 6170}));
  app.add_option("--revision", o.revision, "software revision (register 4)")
      ->check(CLI::Range(0, 32767));
  app.add_option("--software", o.software, "software number (register 3)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--serial", o.serial, "serial number, registers 1 and 2")
      ->expected(2)
      ->check(CLI::Range(0, 32767));
  app.add_option("--state", o.state, "load and save registers, profiles and firmware (JSON)");
  app.add_flag("--pace", o.pace, "send replies at the line rate of the baud rate");
  app.add_flag("--echo", o.echo,
               "send every byte received back first (an RS-485 adapter hearing itself)");
  app.add_option("--chunk", o.chunk, "deliver replies in chunks, BYTES:MS (as USB adapters)");
  app.add_option("--fault", o.faults,
                 "drop:P, crc:P, garbage[:P], late:MS, refuse:REG[:CODE], forget:REG, hangup:N, "
                 "powercut:N");
  app.add_option("--timing", o.timings,
                 "a silence in ms, NAME:MS: defaults, store, bootloader, erase, power-up");
  app.add_option("--address", o.address, "Modbus address (default 1)")->check(CLI::Range(1, 247));
  app.add_option("--seed", o.seed, "seed of the fault generator (default 1)");
  app.add_flag("--defaults", o.defaults,
               "start at the defaults instead of the demonstration setup");
  app.add_flag("--stuck-in-bootloader", o.stuck_in_bootloader,
               "only the bootloader answers until a download completes (one broke off)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  try {
    return serve(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "r7sim: %s\n", e.what());
    return 1;
  }
}
