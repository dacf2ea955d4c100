#include "flash/engineering.h"

#include <cstdint>

#include "serial/trace.h"

namespace r7 {

void add_history(FlashView& view, const std::string& command, const std::string& response) {
  view.add_command(command);
  view.add_response(response);
  view.scroll_histories_to_end();
}

namespace {

// Why the erase was not acknowledged, from its last reply.
std::string erase_failure(const Bootloader& boot) {
  const std::string tries = std::to_string(boot.tries()) + " tries of " +
                            std::to_string(static_cast<int>(kEraseTimeoutMs / 1000)) + " s";
  if (boot.last_reply().empty()) {
    return "No acknowledgement came in " + tries +
           ". Only the download application erases the flash: it runs once a download has "
           "loaded and started it (Start). Otherwise check the line.";
  }
  return "The controller answered " + hex_bytes(boot.last_reply()) +
         " instead of the acknowledgement FF 10 (" + tries +
         "): what runs there does not erase. Only the download application erases the flash; "
         "it runs once a download has loaded and started it (Start).";
}

}  // namespace

bool erase_with_wait(Bootloader& boot, FlashView& view) {
  view.begin_wait("Erasing the flash", kCommandTries * static_cast<std::uint32_t>(kEraseTimeoutMs));
  const bool erased = boot.erase_flash();
  view.end_wait();
  return erased;
}

OnlineState EngineeringFunctions::probe_online() {
  const OnlineState state = online_state(boot_.online_probe());
  // Erase Sectors is for a controller whose bootloader answered just now.
  view_.set_erase_enabled(state == OnlineState::Online);
  if (state == OnlineState::NoResponse) {
    prompts_.message("No response from device.", "Is Device Online", Icon::Exclamation);
    add_history(view_, "Is Device Online", "No response from device");
    return OnlineState::NoResponse;
  }
  if (state == OnlineState::Online) {
    add_history(view_, "Is Device Online", "Device is online");
    return OnlineState::Online;
  }
  prompts_.message("Unknown command error.", "Is Device Online", Icon::Exclamation);
  add_history(view_, "Is Device Online", "Unknown error");
  return OnlineState::UnknownReply;
}

Outcome EngineeringFunctions::erase_flash_sectors(const std::array<bool, 7>& sectors) {
  int mask = 0;
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    if (sectors[i]) mask += 1 << i;
  }
  if (prompts_.message_box({"Erase Sectors erases the whole flash of the controller: the erase "
                            "command carries no sectors, the selection only goes into the "
                            "history. Do you want to erase the flash?",
                            "Erase Sectors", Icon::Exclamation, Buttons::YesNo, Answer::No}) !=
      Answer::Yes) {
    return Outcome(Ending::Declined);
  }
  prompts_.set_busy(true);
  view_.add_command("Erase Sectors  " + std::to_string(mask));
  bool erased = false;
  {
    const SlotSettingsOverride download_app_rate(comms_, kXonSlot, kBootloaderSettings);
    view_.set_warning_visible(true);  // the flash is going: no power cycle now
    erased = erase_with_wait(boot_, view_);
    view_.set_warning_visible(false);
    if (!erased) {
      prompts_.message("Sector Erase failed.\r" + erase_failure(boot_), "Erase Sectors",
                       Icon::Critical);
    }
    prompts_.set_busy(false);
  }
  view_.add_response(erased ? "Erase Successful" : "Erase Failed");
  view_.scroll_histories_to_end();
  return erased ? Outcome{} : Outcome(Ending::Failed, "Erase Sectors");
}

}  // namespace r7
