#include "sim/simulation.h"

namespace r7::sim {

Simulation::Simulation(int model) : Simulation(default_config(model)) {}

Simulation::Simulation(ControllerConfig config)
    : fake_clock_(std::make_unique<FakeClock>()),
      clock_(*fake_clock_),
      controller_(std::make_unique<Controller>(std::move(config), clock_)),
      factory_(std::make_unique<SimulatedPortFactory>(*controller_)) {}

Simulation::Simulation(int model, Clock& clock) : Simulation(default_config(model), clock) {}

Simulation::Simulation(ControllerConfig config, Clock& clock)
    : clock_(clock),
      controller_(std::make_unique<Controller>(std::move(config), clock_)),
      factory_(std::make_unique<SimulatedPortFactory>(*controller_)) {}

}  // namespace r7::sim
