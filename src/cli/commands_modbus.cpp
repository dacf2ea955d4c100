#include "cli/cli_context.h"

namespace r7::cli {

void register_modbus_commands(CLI::App& app, CliContext& /*ctx*/, int& exit_code) {
  add_unavailable(app, "read", "read holding registers at --address", exit_code);
  add_unavailable(app, "write", "write one register at --address", exit_code);
}

}  // namespace r7::cli
