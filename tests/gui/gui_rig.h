// What every GUI test builds the windows on: a program directory of its own,
// the scripted prompts, a fake clock and a serial link.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "errors/error_log.h"
#include "serial/comms.h"
#include "serial/serial_port.h"
#include "sim/fake_clock.h"
#include "support/recording_prompts.h"
#include "support/temp_dir.h"
#include "ui/ui_services.h"

namespace r7::test {

// Scripted prompts that can look at the windows while a procedure yields.
class HookedPrompts final : public RecordingPrompts {
 public:
  void process_events() override {
    RecordingPrompts::process_events();
    if (on_events) on_events();
  }
  std::function<void()> on_events;
};

// A line with nothing at the other end: every wait runs out on the fake clock.
class SilentPort final : public SerialPort {
 public:
  explicit SilentPort(sim::FakeClock& clock, std::vector<std::string>& written)
      : clock_(clock), written_(written) {}
  void set_device(const std::string&) override {}
  void set_settings(const std::string& settings) override { settings_ = settings; }
  void open() override { open_ = true; }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }
  std::size_t bytes_waiting() override { return 0; }
  void clear_input() override {}
  void write(std::string_view bytes) override { written_.emplace_back(bytes); }
  int read_byte() override { return -1; }
  bool wait_for_input(std::uint32_t ms) override {
    clock_.advance(ms == 0 ? 1 : ms);
    return false;
  }

 private:
  sim::FakeClock& clock_;
  std::vector<std::string>& written_;
  std::string settings_;
  bool open_ = false;
};

class SilentFactory final : public PortFactory {
 public:
  explicit SilentFactory(sim::FakeClock& clock) : clock_(clock) {}
  std::unique_ptr<SerialPort> create_port() override {
    return std::make_unique<SilentPort>(clock_, written);
  }
  std::vector<std::string> written;

 private:
  sim::FakeClock& clock_;
};

struct Rig {
  TempDir dir;
  HookedPrompts prompts;
  sim::FakeClock clock;
  ErrorLog errors{prompts, clock, dir / "Flash.ERR"};
  ProgramDir program_dir{dir.path()};
  PortNames names{program_dir.settings_file()};
  SilentFactory silent{clock};
  std::unique_ptr<Comms> comms;

  // On a silent line unless `factory` is given.
  explicit Rig(PortFactory* factory = nullptr);
  UiServices services() { return UiServices{program_dir, names, *comms, clock, prompts}; }
  std::filesystem::path ini() const { return program_dir.settings_file(); }
  void write_settings(const std::string& body);
  std::string setting(const std::string& key) const;
};

// The lines of a list widget (or of every widget named `name` under `root`).
QStringList list_lines(const QWidget* root, const QString& name);

// Runs `action` on the modal dialog once it is up (from a timer, since exec()
// does not return until the dialog closes); gives up after about 3 s.
void when_modal(const std::function<void(QWidget*)>& action);

}  // namespace r7::test
