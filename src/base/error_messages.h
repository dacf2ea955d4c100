// Messages for run-time error numbers.
#pragma once

#include <optional>
#include <string>

#include "seams/prompts.h"

namespace r7 {

// The message for a listed error number; nullopt for numbers outside the table.
// `file` fills the name part of error 53.
std::optional<std::string> error_message_text(int number, const std::string& file = {});

// Shows the message for `number` in an OK-only box without a title of its own.
// Numbers outside the table show "ERROR NUMBER n CHECK VB MANUAL FOR
// DESCRIPTION" and then throw ProgramEnd: the program cannot go on.
// `detail`, when given, follows the message on a line of its own (what failed,
// on which path, and the system's reason).
void show_error_message(Prompts& prompts, int number, const std::string& file = {},
                        const std::string& detail = {});

}  // namespace r7
