#include "cli/cli_context.h"

namespace r7::cli {

void register_serial_commands(CLI::App& app, CliContext& /*ctx*/, int& exit_code) {
  add_unavailable(app, "slots", "the protocol slots as read from the settings file", exit_code);
  add_unavailable(app, "ports", "the serial ports found on this machine", exit_code);
  add_unavailable(app, "exchange", "send raw bytes on a slot and print the reply (hex)", exit_code);
}

}  // namespace r7::cli
