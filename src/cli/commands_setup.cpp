#include "cli/cli_context.h"

namespace r7::cli {

void register_setup_commands(CLI::App& app, CliContext& /*ctx*/, int& exit_code) {
  add_unavailable(app, "save", "save the controller's setup to a file", exit_code);
  add_unavailable(app, "restore", "restore a setup file into the controller", exit_code);
}

}  // namespace r7::cli
