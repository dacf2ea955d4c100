// Everything a front end needs to run on the simulated controller: a clock, the
// controller and the factory of its ports.
//
//   r7::sim::Simulation sim(6180);           // fake clock: waits cost nothing
//   Comms comms(settings, names, sim.port_factory(), sim.clock(), ...);
//
//   r7::sim::Simulation live(6180, system_clock);  // runs in real time
#pragma once

#include <memory>

#include "seams/clock.h"
#include "sim/config.h"
#include "sim/controller.h"
#include "sim/fake_clock.h"
#include "sim/simulated_port.h"

namespace r7::sim {

class Simulation {
 public:
  // A controller of `model` (6180 or 6170; std::invalid_argument otherwise)
  // with its default configuration, on a FakeClock of its own.
  explicit Simulation(int model = kModel6180);
  explicit Simulation(ControllerConfig config);
  // The same on a clock the caller owns (it must outlive the Simulation).
  Simulation(int model, Clock& clock);
  Simulation(ControllerConfig config, Clock& clock);

  Clock& clock() { return clock_; }
  // The own FakeClock, or nullptr when running on a given clock.
  FakeClock* fake_clock() { return fake_clock_.get(); }
  Controller& controller() { return *controller_; }
  PortFactory& port_factory() { return *factory_; }

 private:
  std::unique_ptr<FakeClock> fake_clock_;
  Clock& clock_;
  std::unique_ptr<Controller> controller_;
  std::unique_ptr<SimulatedPortFactory> factory_;
};

}  // namespace r7::sim
