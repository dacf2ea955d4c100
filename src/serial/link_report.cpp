#include "serial/link_report.h"

#include <string>

#include "app/settings_file.h"
#include "base/error_messages.h"

namespace r7 {

std::string late_reply_advice(bool late_replies_seen) {
  if (!late_replies_seen) return {};
  return "\rReplies came, but after the time-out: the controller answers too late. Check the "
         "line, the baud rate and the delay of a converter on the way.";
}

void PromptedLinkReport::slot_problem(SlotProblem problem) {
  prompts_.message(problem == SlotProblem::PortNumber
                       ? "Port number is not valid in sub init_comms"
                       : "Port settings are not valid in sub init_comms",
                   "Port Settings", Icon::Exclamation);
}

void PromptedLinkReport::slot_not_initialized(int requested, const std::string& stand_in) {
  const std::string name = protocol_name(requested);
  const std::string slot =
      "Slot " + std::to_string(requested) + (name.empty() ? "" : " (" + name + ")");
  prompts_.message(std::string("This device/protocol has not been initialized. Check ") +
                       kSettingsFileName + "\r" + slot + " is not defined there" +
                       (!stand_in.empty() ? "; its exchanges use slot 0: " + stand_in + "."
                        : requested == 0  ? ": nothing is sent."
                                          : "; slot 0 is not defined either: nothing is sent."),
                   "Port Settings", Icon::Exclamation);
}

void PromptedLinkReport::port_unavailable(int port_number, const std::string& cause) {
  prompts_.message_box(MessageBox{"Cannot open comm port #" + std::to_string(port_number) +
                                      ", it is not available" + (cause.empty() ? "" : "\r" + cause),
                                  "WARNING", Icon::Exclamation, Buttons::Ok, std::nullopt});
}

void PromptedLinkReport::error_trapped(const char* procedure, int number) {
  log_.log_error(procedure, number);
}

void PromptedLinkReport::error_not_handled(int number) {
  show_error_message(prompts_, number);
}

void PromptedLinkReport::line_given_up(int failing_exchanges) {
  prompts_.message("The serial line keeps failing: the port was lost in " +
                       std::to_string(failing_exchanges) +
                       " exchanges close together. Check the cable and the adapter; the job is "
                       "given up.",
                   "Serial Port", Icon::Critical);
}

}  // namespace r7
