// read and write: Modbus register access at --address on the Modbus slot.
#include <cstdio>
#include <memory>

#include "cli/cli_context.h"
#include "modbus/modbus.h"

namespace r7::cli {

namespace {

constexpr float kModbusTimeoutMs = 250.0F;
// A reply that does not come, or comes garbled, is asked for this often.
constexpr int kModbusTries = 3;
constexpr int kReadHolding = 3;
constexpr int kWriteSingle = 6;

struct Outcome {
  std::string request;
  std::string reply;
  std::string text;
  int exit_code = kExitOk;
};

bool garbled(float status) {
  return status == kWrongLength || status == kBadCrc;
}

// Sends `request` until a reply that decodes comes back (three tries at most).
Outcome exchange(CliContext& ctx, Modbus& modbus, const std::string& request) {
  Comms& comms = ctx.comms();
  Outcome out;
  for (int attempt = 0; attempt < kModbusTries; ++attempt) {
    out.reply = comms.transmit(kModbusSlot, request, kModbusTimeoutMs, modbus_reply_length);
    out.text = modbus.decode_modbus_reply(0, out.reply);
    if (out.reply.empty() && comms.last_result() == ExchangeResult::PortUnavailable) break;
    if (!out.reply.empty() && !garbled(modbus.reply_values[1])) return out;
  }
  if (out.reply.empty()) {
    std::fprintf(stderr, "no reply from the controller at address %d\n", ctx.options().address);
    out.exit_code = exit_code_for_silence(comms);
  } else {
    std::printf("%s\n", out.text.c_str());
    std::fprintf(stderr, "%s\n",
                 modbus.reply_values[1] == kBadCrc ? "the reply's CRC does not match"
                                                   : "the reply has the wrong length");
    out.exit_code = kExitNoController;
  }
  return out;
}

// An exception reply (function code with its top bit set): reports it and
// gives its exit status.
bool refused(const Outcome& out, const Modbus& modbus) {
  if (out.reply.size() < 3 || (static_cast<unsigned char>(out.reply[1]) & 0x80U) == 0) {
    return false;
  }
  std::printf("%s\n", out.text.c_str());
  std::fprintf(stderr, "the controller refused the request: exception %d (%g)\n",
               static_cast<unsigned char>(out.reply[2]),
               static_cast<double>(modbus.reply_values[1]));
  return true;
}

// Frames one request at --address, exchanges it and prints the decoded text.
// Sets `exit_code`; false when the reply is missing, garbled or refused.
bool run_request(CliContext& ctx, Modbus& modbus, int function, int reg, int value, Outcome& out,
                 int& exit_code) {
  const std::string request = modbus.build_modbus_request(function, ctx.options().address, reg,
                                                          {static_cast<float>(value)});
  out = exchange(ctx, modbus, request);
  out.request = request;
  exit_code = out.exit_code;
  if (out.exit_code != kExitOk) return false;
  if (refused(out, modbus)) {
    exit_code = kExitFailed;
    return false;
  }
  std::printf("%s\n", out.text.c_str());
  return true;
}

}  // namespace

void register_modbus_commands(CLI::App& app, CliContext& ctx, int& exit_code) {
  struct ReadArgs {
    int reg = 0;
    int count = 1;
  };
  auto read_args = std::make_shared<ReadArgs>();
  auto* read = app.add_subcommand("read", "read holding registers at --address");
  read->add_option("REG", read_args->reg, "first register")
      ->required()
      ->check(CLI::Range(0, 65535));
  // The decoded values hold 49 registers and the CRC word at most.
  read->add_option("COUNT", read_args->count, "number of registers (1 to 49, default 1)")
      ->check(CLI::Range(1, 49));
  read->callback([&ctx, &exit_code, read_args] {
    Modbus modbus;
    Outcome out;
    if (!run_request(ctx, modbus, kReadHolding, read_args->reg, read_args->count, out, exit_code)) {
      return;
    }
    const auto byte_count = static_cast<unsigned char>(out.reply[2]);
    if (static_cast<unsigned char>(out.reply[1]) != kReadHolding ||
        byte_count != 2 * read_args->count) {
      std::fprintf(stderr, "the reply does not answer a read of %d registers\n", read_args->count);
      exit_code = kExitNoController;
      return;
    }
    for (int i = 0; i < read_args->count; ++i) {
      std::printf("register %d: %g\n", read_args->reg + i,
                  static_cast<double>(modbus.reply_values[static_cast<std::size_t>(i) + 1]));
    }
  });

  struct WriteArgs {
    int reg = 0;
    int value = 0;
  };
  auto write_args = std::make_shared<WriteArgs>();
  auto* write = app.add_subcommand("write", "write one register at --address");
  write->add_option("REG", write_args->reg, "register")->required()->check(CLI::Range(0, 65535));
  write->add_option("VALUE", write_args->value, "value (-32768 to 32767)")
      ->required()
      ->check(CLI::Range(-32768, 32767));
  write->callback([&ctx, &exit_code, write_args] {
    if (static_cast<float>(write_args->value) == kEndMarker) {
      std::fprintf(stderr, "write: -30000 cannot be sent, it ends the value list\n");
      exit_code = kExitUsage;
      return;
    }
    Modbus modbus;
    Outcome out;
    if (!run_request(ctx, modbus, kWriteSingle, write_args->reg, write_args->value, out,
                     exit_code)) {
      return;
    }
    // The echo repeats the request's register and value.
    if (out.reply.substr(0, 6) != out.request.substr(0, 6)) {
      std::fprintf(stderr, "the controller's echo does not match the request\n");
      exit_code = kExitFailed;
    }
  });
}

}  // namespace r7::cli
