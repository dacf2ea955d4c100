// What every GUI test builds the windows on: a program directory of its own,
// the scripted prompts, a fake clock and a serial link.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/port_names.h"
#include "app/program_dir.h"
#include "app/settings_file.h"
#include "base/error_log.h"
#include "serial/comms.h"
#include "sim/fake_clock.h"
#include "sim/simulation.h"
#include "support/port_helpers.h"
#include "support/recording_prompts.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"
#include "ui/ui_services.h"

class QLineEdit;

namespace r7::test {

// A clock whose long sleeps (the restore's pause) hold the job until the
// test lets it go; everything else is the rig's fake clock.
class GatedClock final : public Clock {
 public:
  explicit GatedClock(sim::FakeClock& clock) : clock_(clock) {}
  std::uint32_t tick_ms() override { return clock_.tick_ms(); }
  LocalTime local_time() override { return clock_.local_time(); }
  void sleep_ms(std::uint32_t ms) override {
    if (ms >= 10000) {
      holding_ = true;
      released_.wait(false);
      holding_ = false;
    }
    clock_.sleep_ms(ms);
  }
  // True while a job waits in a sleep of 10 s or more.
  bool holding() const { return holding_; }
  void release() {
    released_ = true;
    released_.notify_all();
  }

 private:
  sim::FakeClock& clock_;
  std::atomic<bool> holding_{false};
  std::atomic<bool> released_{false};
};

struct Rig {
  TempDir dir;
  RecordingPrompts prompts;
  sim::FakeClock clock;
  ErrorLog errors{clock, dir / "Flash.ERR"};
  PromptedLinkReport link_report{prompts, errors};
  ProgramDir program_dir{dir.path()};
  PortNames names{program_dir.settings_file()};
  ScriptedLine line{clock};  // nothing answers unless a test scripts it
  ScriptedPortFactory scripted{line};
  std::unique_ptr<sim::Simulation> simulation;          // outlives the ports
  std::unique_ptr<UnpluggablePortFactory> unpluggable;  // the simulated controller's line
  std::unique_ptr<Comms> comms;
  std::optional<int> simulated_model;

  // On the scripted line, or with `simulated_model` (6180, 6170) on a simulated
  // controller on the fake clock in the demo program directory.
  explicit Rig(int simulated_model = 0);
  UiServices services() {
    return UiServices{program_dir, names, *comms, clock, prompts, simulated_model};
  }
  std::filesystem::path ini() const { return program_dir.settings_file(); }
  void write_settings(const std::string& body) { write_file(ini(), body); }
  std::string setting(const std::string& key) const {
    return read_profile_string(kCommsSection, key, "(missing)", ini());
  }
};

// The three protocol slots on port 2 as a first run writes them.
inline constexpr const char* kThreeSlots =
    "[COMMS CONTROLS]\r\n"
    "DEVICE 0 COMM PORT =2\r\nDEVICE 0 PORT SETTING =9600,N,8,1\r\n"
    "DEVICE 1 COMM PORT =2\r\nDEVICE 1 PORT SETTING =9600,n,8,1\r\n"
    "DEVICE 2 COMM PORT =2\r\nDEVICE 2 PORT SETTING =38400,n,8,1\r\n";

// The child of `root` named `name` (a warning when there is none).
template <class T = QWidget>
T* child(const QWidget& root, const char* name) {
  T* w = root.findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no child %s", name);
  return w;
}

// The lines of the list widget named `name` under `root`.
QStringList list_lines(const QWidget* root, const QString& name);

// Replaces a line edit's text by typing, as a user does.
void type_into(QLineEdit* edit, const QString& text);

// Runs `action` on the modal dialog once it is up (from a timer, since exec()
// does not return until the dialog closes); gives up after about 3 s.
void when_modal(const std::function<void(QWidget*)>& action);

}  // namespace r7::test
