// r7flash-cli: the firmware download, setup save/restore and serial tools of
// r7flash on the command line.
#include <QCoreApplication>

#include <CLI/CLI.hpp>

#include <cstdio>

#include "app/version.h"
#include "cli/cli_context.h"
#include "modbus/modbus.h"
#include "os/os.h"

int main(int argc, char** argv) {
  QCoreApplication qt_app(argc, argv);  // the Qt serial port wants an application object
  using namespace r7::cli;

  CLI::App app{"r7flash-cli: R7P and R7RS firmware download and setup save/restore"};
  app.set_version_flag("--version", std::string("r7flash-cli ") + r7::kVersionText);
  app.require_subcommand(1);
  app.fallthrough();

  GlobalOptions options;
  app.add_option("--home", options.home,
                 "program directory (default: the executable's folder, or ~/.local/share/r7flash "
                 "when installed)");
  app.add_option("--port", options.ports,
                 "device behind every slot's port number for this run (also rfc2217://HOST:PORT, "
                 "socket://HOST:PORT); given more than once, one station per device, all at once")
      ->allow_extra_args(false);
  app.add_option("--simulate", options.simulate_model,
                 "talk to the built-in simulated controller (MODEL 6180 or 6170)")
      ->expected(0, 1)
      ->default_str("6180")
      ->check(CLI::IsMember({6180, 6170}));
  app.add_option("--address", options.address, "controller address (1 to 247, default 1)")
      ->check(CLI::Range(r7::kFirstAddress, r7::kLastAddress));
  app.add_option("--trace", options.trace, "append one line per exchange to FILE");
  app.add_option("--echo", options.echo,
                 "the line returns every byte sent (RS-485): auto (found out), on, off")
      ->check(CLI::IsMember({"auto", "on", "off"}));
  auto* yes = app.add_flag("--yes", options.yes, "answer every question Yes / Retry / OK");
  app.add_flag("--no", options.no, "answer every question No / Cancel")->excludes(yes);
  app.add_flag("--quiet", options.quiet, "only errors and the final result");
  app.add_flag("--json", options.json,
               "one JSON object per line on standard output instead of text");
  app.add_flag("--force", options.force,
               "flash a file whose check found errors; restore lines for registers that "
               "the sequence files do not list (never implied by --yes)");

  r7::os::stop_on_signals(CliContext::stop_signal());
  CliContext ctx(argv[0], options);
  int exit_code = kExitOk;
  register_serial_commands(app, ctx, exit_code);
  register_modbus_commands(app, ctx, exit_code);
  register_flash_commands(app, ctx, exit_code);
  register_setup_commands(app, ctx, exit_code);
  register_history_command(app, ctx, exit_code);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitOk : kExitUsage;
  } catch (...) {
    const int status = exit_after_exception(ctx, std::current_exception());
    std::fflush(stdout);
    return status;
  }
  ctx.finish_service_record(exit_code);
  // Several stations end with their summary object instead.
  if (options.ports.size() <= 1) ctx.output().outcome(ctx.last_outcome(), exit_code);
  std::fflush(stdout);
  return exit_code;
}
