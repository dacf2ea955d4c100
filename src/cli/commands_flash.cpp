#include "cli/cli_context.h"

namespace r7::cli {

void register_flash_commands(CLI::App& app, CliContext& /*ctx*/, int& exit_code) {
  add_unavailable(app, "identify", "device type, revision, software number and selection",
                  exit_code);
  add_unavailable(app, "check", "validate an S-record file without touching a controller",
                  exit_code);
  add_unavailable(app, "flash", "the whole firmware download", exit_code);
  add_unavailable(app, "online", "is the device's bootloader online", exit_code);
  add_unavailable(app, "erase", "erase the controller's flash (engineering)", exit_code);
}

}  // namespace r7::cli
