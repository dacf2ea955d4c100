// read and write: Modbus register access at --address on the Modbus slot.
#include <cstdio>
#include <memory>

#include "cli/cli_context.h"
#include "modbus/register_client.h"

namespace r7::cli {

namespace {

// A reply that does not come, or comes damaged, is asked for this often.
constexpr int kModbusTries = 3;

// Reports a failed request on the terminal and gives its exit status.
// `mismatch` tells what a reply that does not fit the request means
// ("does not answer a read of 2 registers") and `mismatch_status` its status.
int report_failure(CliContext& ctx, const RegisterError& e, const std::string& mismatch,
                   int mismatch_status) {
  switch (e.failure) {
    case RegisterFailure::NoReply:
    case RegisterFailure::PortFailure:
      std::fprintf(stderr, "no reply from the controller at address %d\n", ctx.options().address);
      return exit_status_of(ctx, Outcome{Ending::NoController});
    case RegisterFailure::Refused:
      std::printf("%s\n", e.text().c_str());
      std::fprintf(stderr, "the controller refused the request: exception %d (%d)\n",
                   e.exception_code, -32000 - e.exception_code);
      return kExitFailed;
    case RegisterFailure::Damaged:
      break;
  }
  std::printf("%s\n", e.text().c_str());
  using Status = DecodedReply::Status;
  const Status status = decode_modbus_reply(e.reply).status;
  if (status == Status::BadCrc) {
    std::fprintf(stderr, "the reply's CRC does not match\n");
  } else if (status == Status::WrongLength) {
    std::fprintf(stderr, "the reply has the wrong length\n");
  } else {
    std::fprintf(stderr, "%s\n", mismatch.c_str());
    return mismatch_status;
  }
  return kExitNoController;
}

int run_read(CliContext& ctx, int reg, int count) {
  RegisterClient client(ctx.comms());
  ctx.begin_service_record("read", kModbusSlot);
  const auto r = client.read_registers(ctx.options().address, reg, count, kModbusTries,
                                       Repeat::WhenSilentOrDamaged);
  if (!r) {
    return report_failure(
        ctx, r.error(),
        "the reply does not answer a read of " + std::to_string(count) + " registers",
        kExitNoController);
  }
  std::printf("%s\n", decode_modbus_reply(client.last_reply()).text.c_str());
  for (int i = 0; i < count; ++i) {
    std::printf("register %d: %d\n", reg + i, (*r)[static_cast<std::size_t>(i)]);
  }
  return kExitOk;
}

int run_write(CliContext& ctx, int reg, int value) {
  RegisterClient client(ctx.comms());
  ctx.begin_service_record("write", kModbusSlot);
  const auto r = client.write_register(ctx.options().address, reg, static_cast<std::int16_t>(value),
                                       kModbusTries, Repeat::WhenSilentOrDamaged);
  if (!r) {
    return report_failure(ctx, r.error(), "the controller's echo does not match the request",
                          kExitFailed);
  }
  std::printf("%s\n", decode_modbus_reply(client.last_reply()).text.c_str());
  return kExitOk;
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
  read->add_option("COUNT", read_args->count, "number of registers (1 to 49, default 1)")
      ->check(CLI::Range(1, kMaxReadRegisters));
  read->callback([&ctx, &exit_code, read_args] {
    exit_code = run_read(ctx, read_args->reg, read_args->count);
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
    exit_code = run_write(ctx, write_args->reg, write_args->value);
  });
}

}  // namespace r7::cli
