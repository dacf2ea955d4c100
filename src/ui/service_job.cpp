#include "ui/service_job.h"

namespace r7 {

Outcome run_recorded_job(const UiServices& services, Prompts& prompts, const char* job, int slot,
                         const std::function<Outcome(ServiceRecord&)>& body) {
  // A slot the settings file does not define talks through slot 0.
  std::string station = services.comms.device_name(slot);
  if (station.empty()) station = services.comms.device_name(0);
  if (station.empty()) station = "(no port)";
  ServiceLog log(services.clock, services.program_dir);
  ServiceRecord record = log.begin(job, station);
  const Outcome outcome = body(record);
  record.set_outcome(outcome);
  if (const std::string why = log.finish(record); !why.empty()) {
    // "the service log PATH cannot be written: why"
    prompts.message("The job has ended, but " + why + ".", "Service Log", Icon::Exclamation);
  }
  return outcome;
}

}  // namespace r7
