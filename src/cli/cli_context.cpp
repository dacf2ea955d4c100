#include "cli/cli_context.h"

#include <cstdio>
#include <stdexcept>

namespace r7::cli {

struct CliContext::Impl {
  std::optional<ProgramDir> program_dir;
  std::unique_ptr<ConsolePrompts> prompts;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<ErrorLog> error_log;
  std::unique_ptr<PortNames> port_names;
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

Comms& CliContext::comms() {
  throw std::logic_error("the serial link is not available yet");
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
