#include "cli/cli_context.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "base/run_error.h"
#include "cli/stations.h"
#include "os/system_clock.h"
#include "platform/qt_serial_port.h"
#include "sim/fake_clock.h"
#include "sim/simulation.h"

namespace r7::cli {

namespace {

// With --simulate nothing real waits on the line: time moves only when the
// procedures wait, so a download or a restore runs in moments. Dates in log
// lines and setup files are still today's.
class VirtualClock final : public Clock {
 public:
  std::uint32_t tick_ms() override { return ticks_.tick_ms(); }
  void sleep_ms(std::uint32_t ms) override { ticks_.sleep_ms(ms); }
  LocalTime local_time() override { return wall_.local_time(); }

 private:
  sim::FakeClock ticks_;
  SystemClock wall_;
};

}  // namespace

struct CliContext::Impl {
  std::optional<ProgramDir> program_dir;
  std::unique_ptr<ConsoleOutput> output;
  std::unique_ptr<ConsolePrompts> prompts;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<ErrorLog> error_log;
  std::unique_ptr<LinkReport> link_report;
  std::unique_ptr<PortNames> port_names;
  // With --simulate; declared before the port objects' owners so it outlives them.
  std::unique_ptr<sim::Simulation> simulation;
  // Qt's serial ports; --simulate puts the simulated controller's factory here.
  std::unique_ptr<PortFactory> port_factory;
  std::unique_ptr<TraceSink> trace;
  std::unique_ptr<Comms> comms;
};

CliContext::CliContext(const char* argv0, GlobalOptions& options, std::optional<Station> station)
    : argv0_(argv0), options_(options), impl_(std::make_unique<Impl>()), station_(station) {}

CliContext::~CliContext() = default;

const ProgramDir& CliContext::program_dir() {
  if (!impl_->program_dir) impl_->program_dir = ProgramDir::resolve(argv0_, options_.home);
  return *impl_->program_dir;
}

ConsolePrompts& CliContext::prompts() {
  if (!impl_->prompts) {
    const AnswerPolicy policy = options_.yes  ? AnswerPolicy::Yes
                                : options_.no ? AnswerPolicy::No
                                              : AnswerPolicy::Ask;
    impl_->prompts = std::make_unique<ConsolePrompts>(policy, output());
  }
  return *impl_->prompts;
}

ConsoleOutput& CliContext::output() {
  if (!impl_->output) {
    impl_->output = std::make_unique<ConsoleOutput>(options_.json, options_.quiet);
    if (station_) impl_->output->attach(*station_->board, station_->index);
  }
  return *impl_->output;
}

Clock& CliContext::clock() {
  if (!impl_->clock) {
    if (simulated()) {
      impl_->clock = std::make_unique<VirtualClock>();
    } else {
      impl_->clock = std::make_unique<SystemClock>();
    }
  }
  return *impl_->clock;
}

ErrorLog& CliContext::error_log() {
  if (!impl_->error_log) {
    impl_->error_log = std::make_unique<ErrorLog>(clock(), program_dir().join(kErrorLogName));
  }
  return *impl_->error_log;
}

const PortNames& CliContext::port_names() {
  if (!impl_->port_names) {
    if (options_.ports.size() > 1) {
      // A usage error (exit status 1) before any port is opened.
      throw CLI::ValidationError(
          "--port",
          "is given more than once: only identify, flash, save, restore and compare "
          "run on several stations");
    }
    std::optional<std::string> device = options_.port();
    if (simulated()) device = "simulated controller " + std::to_string(*options_.simulate_model);
    impl_->port_names = std::make_unique<PortNames>(program_dir().settings_file(), device);
  }
  return *impl_->port_names;
}

PortFactory* CliContext::port_factory() {
  if (simulated()) {
    if (!impl_->simulation) {
      impl_->simulation = std::make_unique<sim::Simulation>(*options_.simulate_model, clock());
    }
    return &impl_->simulation->port_factory();
  }
  if (!impl_->port_factory) impl_->port_factory = std::make_unique<platform::QtPortFactory>();
  return impl_->port_factory.get();
}

Comms& CliContext::comms() {
  if (!impl_->comms) {
    PortFactory* factory = port_factory();
    if (factory == nullptr) throw std::logic_error("no serial ports to talk through");
    if (options_.trace) {
      if (auto problem = FileTrace::check(*options_.trace)) {
        throw CLI::ValidationError("--trace", *problem);  // a usage error: exit status 1
      }
    }
    impl_->link_report = std::make_unique<PromptedLinkReport>(prompts(), error_log());
    impl_->comms = std::make_unique<Comms>(port_names(), *factory, clock(), *impl_->link_report);
    impl_->comms->set_stop_flag(&stop_signal());
    impl_->comms->set_echo_mode(options_.echo == "on"    ? EchoMode::On
                                : options_.echo == "off" ? EchoMode::Off
                                                         : EchoMode::Auto);
    if (options_.trace) {
      auto trace = std::make_unique<FileTrace>(*options_.trace, clock());
      trace->set_on_lost([](const std::string& why) {
        std::fprintf(stderr, "warning: the trace file cannot be written (%s); its lines are lost\n",
                     why.c_str());
      });
      impl_->trace = std::move(trace);
      impl_->comms->set_trace(impl_->trace.get());
    }
    impl_->comms->init_comms(read_protocol_slots(program_dir().settings_file()));
  }
  return *impl_->comms;
}

std::atomic<int>& CliContext::stop_signal() {
  static std::atomic<int> signal{0};
  return signal;
}

ServiceRecord& CliContext::begin_service_record(const std::string& job, int slot) {
  // A slot the settings file does not define talks through slot 0.
  std::string station = comms().device_name(slot);
  if (station.empty()) station = comms().device_name(0);
  if (station.empty()) station = options_.port().value_or("(no port)");
  service_record_ = ServiceLog(clock(), program_dir()).begin(job, station);
  return *service_record_;
}

void CliContext::finish_service_record(int exit_status, const std::string& ending) {
  if (!service_record_) return;
  ServiceRecord& record = *service_record_;
  if (!ending.empty()) {
    record.ending = ending;
  } else if (last_outcome_) {
    record.set_outcome(*last_outcome_);
  } else {
    record.ending = exit_status == kExitOk ? "completed" : "failed";
  }
  record.exit_status = exit_status;
  const std::string problem = ServiceLog(clock(), program_dir()).finish(record);
  if (!problem.empty()) warn("warning: " + problem);
  finished_record_ = std::move(service_record_);
  service_record_.reset();
}

void CliContext::say(const std::string& line) {
  output().line("text", line);
}

void CliContext::warn(const std::string& line) {
  if (station_) {
    station_->board->print(station_->index, line, true);
    return;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
}

std::string CliContext::station_tag() const {
  if (!station_) return {};
  std::string tag;
  for (const char c : station_->board->name(station_->index)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    tag += plain ? c : '_';
  }
  return tag;
}

int CliContext::run_job(const std::function<int(CliContext&)>& job) {
  if (options_.ports.size() > 1 && !station_) return run_on_stations(*this, job);
  return job(*this);
}

namespace {

std::string signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case 1:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace

int exit_after_exception(CliContext& ctx, std::exception_ptr ended) {
  try {
    std::rethrow_exception(std::move(ended));
  } catch (const JobStopped& e) {
    // Between two exchanges; the destructors have put the line settings back
    // and removed temporary files.
    const int status = 128 + e.signal();
    ctx.output().end_progress();
    ctx.finish_service_record(status, "stopped by " + signal_name(e.signal()));
    ctx.prompts().message(
        "Stopped by " + signal_name(e.signal()) + " between two exchanges. " + ctx.stop_state(),
        "Stopped", Icon::Exclamation);
    ctx.output().outcome(std::nullopt, status);
    return status;
  } catch (const ProgramEnd& e) {
    ctx.finish_service_record(e.exit_code(), "ended: " + std::string(e.what()));
    ctx.warn(e.what());
    return e.exit_code();
  } catch (const std::filesystem::filesystem_error& e) {
    ctx.finish_service_record(kExitFile, "failed: " + std::string(e.what()));
    ctx.warn("r7flash-cli: " + std::string(e.what()));
    return kExitFile;
  } catch (const CLI::Error& e) {
    ctx.warn("r7flash-cli: " + std::string(e.what()));
    return kExitUsage;
  } catch (const std::exception& e) {  // what no job expected ends here, not in an abort
    ctx.finish_service_record(kExitFailed, "internal error: " + std::string(e.what()));
    ctx.warn("r7flash-cli: internal error: " + std::string(e.what()));
    return kExitFailed;
  }
}

}  // namespace r7::cli
