// The setup saved before a firmware download: the normal save, without a
// file dialog, into "Reg Downloads" as "<serial>-before-<date>_<time>.txt".
#pragma once

#include <functional>
#include <string>

#include "app/program_dir.h"
#include "base/expected.h"
#include "base/outcome.h"
#include "seams/clock.h"
#include "seams/prompts.h"
#include "serial/comms.h"

namespace r7 {

// The file written, or why there is none (the message the save would have shown).
using BackupResult = Expected<WrittenFile, std::string>;

// "123456-before-2026-12-07_14-03-59.txt" for the save's proposed name "123456.txt".
std::string backup_file_name(const std::string& proposed_name, const LocalTime& t);

// Saves the setup of the controller at `address`. Comm-error questions go to
// `prompts` (Retry at most `retries` times in all); every other box of the save
// is kept back, and an existing file is never overwritten.
BackupResult save_setup_backup(Comms& comms, Prompts& prompts, Clock& clock,
                               const ProgramDir& program_dir, int address, int retries = 3);

}  // namespace r7
