// slots, ports and exchange: the serial link on its own.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "cli/cli_context.h"
#include "platform/qt_serial_port.h"

namespace r7::cli {

namespace {

void list_slots(CliContext& ctx) {
  Comms& comms = ctx.comms();
  std::printf("%s\n", ctx.program_dir().description().c_str());
  std::printf("%-5s %-16s %-5s %-20s %-12s %s\n", "slot", "protocol", "port", "device", "settings",
              "wait");
  // The three slots the program uses, and any further one the file defines.
  for (int slot = 0; slot <= std::max(comms.highest_slot(), kXonSlot); ++slot) {
    if (comms.port_number(slot) == 0) {  // not in the settings file, or its port was not valid
      std::printf("%-5d %-16s %-5s %s\n", slot, protocol_name(slot), "-",
                  slot == 0 ? "(not defined: nothing can be sent)"
                            : "(not defined: its exchanges use slot 0)");
      continue;
    }
    std::printf("%-5d %-16s %-5d %-20s %-12s %d ms\n", slot, protocol_name(slot),
                comms.port_number(slot), comms.device_name(slot).c_str(),
                comms.port_settings(slot).c_str(), comms.char_gap_ms(slot));
  }
}

void list_ports() {
  const auto ports = platform::available_ports();
  if (ports.empty()) std::fprintf(stderr, "no serial ports found\n");
  for (const auto& p : ports) {
    std::string line = p.location.empty() ? p.name : p.location;
    if (!p.description.empty()) line += "  " + p.description;
    if (!p.manufacturer.empty()) line += "  (" + p.manufacturer + ")";
    if (!p.usb_id.empty()) line += "  USB " + p.usb_id;
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace

int exit_status_of(CliContext& ctx, const Outcome& outcome) {
  ctx.note_outcome(outcome);
  return exit_status(outcome, !ctx.comms().port_available());
}

void register_serial_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  auto* slots_cmd =
      app.add_subcommand("slots", "the protocol slots as read from the settings file");
  slots_cmd->callback([&ctx, &exit_code] {
    list_slots(ctx);
    exit_code = kExitOk;
  });

  auto* ports = app.add_subcommand("ports", "the serial ports found on this machine");
  ports->callback([&exit_code] {
    list_ports();
    exit_code = kExitOk;
  });

  struct ExchangeArgs {
    int slot = kModbusSlot;
    std::string hex;
    float timeout_ms = 250.0F;
  };
  auto args = std::make_shared<ExchangeArgs>();
  auto* exchange =
      app.add_subcommand("exchange", "send raw bytes on a slot and print the reply (hex)");
  exchange->add_option("SLOT", args->slot, "protocol slot")->required();
  exchange->add_option("HEX", args->hex, "the bytes to send, as hex digits")->required();
  exchange->add_option("--timeout", args->timeout_ms, "time-out in ms (default 250)")
      ->check(CLI::Range(0.0F, 600000.0F));
  exchange->callback([&ctx, &exit_code, args] {
    const auto bytes = parse_hex_bytes(args->hex);
    if (!bytes) {
      std::fprintf(stderr, "exchange: HEX must be pairs of hex digits\n");
      exit_code = kExitUsage;
      return;
    }
    Comms& comms = ctx.comms();
    ctx.begin_service_record("exchange", args->slot);
    const std::string reply = comms.transmit(args->slot, *bytes, args->timeout_ms).reply;
    std::printf("%s\n", hex_bytes(reply, false).c_str());
    exit_code =
        exit_status_of(ctx, Outcome{reply.empty() ? Ending::NoController : Ending::Completed});
  });
}

}  // namespace r7::cli
