#include "cli/cli_context.h"

#include <cstdio>
#include <stdexcept>

#include "platform/qt_serial_port.h"

namespace r7::cli {

struct CliContext::Impl {
  std::optional<ProgramDir> program_dir;
  std::unique_ptr<ConsolePrompts> prompts;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<ErrorLog> error_log;
  std::unique_ptr<PortNames> port_names;
  // Qt's serial ports; --simulate puts the simulated controller's factory here.
  std::unique_ptr<PortFactory> port_factory;
  std::unique_ptr<TraceSink> trace;
  std::unique_ptr<Comms> comms;
};

CliContext::CliContext(const char* argv0, GlobalOptions& options)
    : argv0_(argv0), options_(options), impl_(std::make_unique<Impl>()) {}

CliContext::~CliContext() = default;

CliContext::Impl& CliContext::impl() {
  return *impl_;
}

const ProgramDir& CliContext::program_dir() {
  if (!impl_->program_dir) impl_->program_dir = ProgramDir::resolve(argv0_, options_.home);
  return *impl_->program_dir;
}

ConsolePrompts& CliContext::prompts() {
  if (!impl_->prompts) {
    const AnswerPolicy policy = options_.yes  ? AnswerPolicy::Yes
                                : options_.no ? AnswerPolicy::No
                                              : AnswerPolicy::Ask;
    impl_->prompts = std::make_unique<ConsolePrompts>(policy);
  }
  return *impl_->prompts;
}

Clock& CliContext::clock() {
  if (!impl_->clock) impl_->clock = std::make_unique<SystemClock>();
  return *impl_->clock;
}

ErrorLog& CliContext::error_log() {
  if (!impl_->error_log) impl_->error_log = std::make_unique<ErrorLog>(prompts(), clock());
  return *impl_->error_log;
}

const PortNames& CliContext::port_names() {
  if (!impl_->port_names) {
    impl_->port_names = std::make_unique<PortNames>(program_dir().settings_file(), options_.port);
  }
  return *impl_->port_names;
}

PortFactory* CliContext::port_factory() {
  if (!impl_->port_factory && !simulated()) {
    impl_->port_factory = std::make_unique<platform::QtPortFactory>();
  }
  return impl_->port_factory.get();
}

bool CliContext::serial_available(const std::string& command, int& exit_code) {
  if (port_factory() != nullptr) return true;
  std::fprintf(stderr, "%s: not available yet\n", command.c_str());
  exit_code = kExitUsage;
  return false;
}

Comms& CliContext::comms() {
  if (!impl_->comms) {
    PortFactory* factory = port_factory();
    if (factory == nullptr) throw std::logic_error("no serial ports to talk through");
    impl_->comms = std::make_unique<Comms>(program_dir().settings_file(), port_names(), *factory,
                                           clock(), prompts(), error_log());
    if (options_.trace) {
      impl_->trace = std::make_unique<FileTrace>(*options_.trace, clock());
      impl_->comms->set_trace(impl_->trace.get());
    }
    impl_->comms->init_comms();
  }
  return *impl_->comms;
}

void CliContext::say(const std::string& line) {
  if (options_.quiet) return;
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
}

void add_unavailable(CLI::App& app, const std::string& name, const std::string& description,
                     int& exit_code) {
  auto* cmd = app.add_subcommand(name, description);
  cmd->allow_extras();
  cmd->callback([name, &exit_code] {
    std::fprintf(stderr, "%s: not available yet\n", name.c_str());
    exit_code = kExitUsage;
  });
}

}  // namespace r7::cli
