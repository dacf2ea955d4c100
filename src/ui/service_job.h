// A job of the windows in the service log: its record begun before the job
// runs and appended when it ends. A log that cannot be written is a warning;
// the job's own outcome stands.
#pragma once

#include <functional>

#include "app/service_log.h"
#include "base/outcome.h"
#include "seams/prompts.h"
#include "ui/ui_services.h"

namespace r7 {

// Runs `body` (on the job's thread) as job `job` through protocol slot `slot`;
// `body` fills in what the job read and returns its outcome.
Outcome run_recorded_job(const UiServices& services, Prompts& prompts, const char* job, int slot,
                         const std::function<Outcome(ServiceRecord&)>& body);

}  // namespace r7
