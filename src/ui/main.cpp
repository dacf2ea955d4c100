// r7flash: the GUI. Start-up order: the main window's title, the settings
// file in the program directory, init_comms; then the window shows.
#include <QApplication>

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "app/version.h"
#include "base/error_log.h"
#include "os/system_clock.h"
#include "platform/qt_prompts.h"
#include "platform/qt_serial_port.h"
#include "serial/comms.h"
#include "sim/simulation.h"
#include "ui/frm_comms_settings.h"
#include "ui/frm_flash.h"

namespace {

struct Options {
  std::optional<std::string> home;
  std::optional<int> simulate_model;
  std::optional<std::string> trace;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication qt_app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("r7flash"));
  QApplication::setApplicationVersion(QString::fromLatin1(r7::kVersionText));
  QApplication::setDesktopFileName(QStringLiteral("r7flash"));  // r7flash.desktop: menu name, icon

  CLI::App cli{"r7flash: R7P and R7RS firmware download and setup save/restore"};
  cli.set_version_flag("--version", std::string("r7flash ") + r7::kVersionText);
  Options options;
  cli.add_option("--home", options.home,
                 "program directory (default: the executable's folder, or ~/.local/share/r7flash "
                 "when installed)");
  cli.add_option("--simulate", options.simulate_model,
                 "talk to the built-in simulated controller (MODEL 6180 or 6170)")
      ->expected(0, 1)
      ->default_str("6180")
      ->check(CLI::IsMember({6180, 6170}));
  cli.add_option("--trace", options.trace, "append one line per exchange to FILE");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? 0 : 1;
  }

  const r7::ProgramDir program_dir = r7::ProgramDir::resolve(argv[0], options.home);
  r7::QtPrompts prompts(QString::fromLatin1(r7::kMainWindowTitle));
  r7::SystemClock clock;
  r7::ErrorLog errors(clock, program_dir.join(r7::kErrorLogName));
  r7::PromptedLinkReport link_report(prompts, errors);
  // With --simulate every port number leads to the simulated controller, which
  // runs on the real clock so that a demo download visibly progresses.
  std::unique_ptr<r7::sim::Simulation> simulation;  // outlives the ports
  r7::platform::QtPortFactory qt_ports;
  r7::PortFactory* factory = &qt_ports;
  std::optional<std::string> simulated_device;
  if (options.simulate_model) {
    simulation = std::make_unique<r7::sim::Simulation>(*options.simulate_model, clock);
    factory = &simulation->port_factory();
    simulated_device = "simulated controller " + std::to_string(*options.simulate_model);
  }
  const r7::PortNames port_names(program_dir.settings_file(), simulated_device);

  r7::Comms comms(port_names, *factory, clock, link_report);
  std::unique_ptr<r7::FileTrace> trace;
  if (options.trace) {
    trace = std::make_unique<r7::FileTrace>(*options.trace, clock);
    // Told from the job's thread, as the link's own messages are.
    trace->set_on_lost([&prompts](const std::string& why) {
      prompts.message("The trace file cannot be written (" + why + "); its lines are lost.",
                      "Trace File", r7::Icon::Exclamation);
    });
    comms.set_trace(trace.get());
  }

  r7::FrmFlash window(
      r7::UiServices{program_dir, port_names, comms, clock, prompts, options.simulate_model});
  window.setWindowTitle(QString::fromLatin1(r7::kMainWindowTitle));
  if (simulated_device) {
    window.comms_settings().set_port_devices_note(
        QStringLiteral("Every port number leads to the ") + r7::to_qt(*simulated_device) +
        QStringLiteral(" (--simulate)."));
  }
  comms.init_comms(r7::read_protocol_slots(program_dir.settings_file()));
  window.show();
  return QApplication::exec();
}
