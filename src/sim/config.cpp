#include "sim/config.h"

#include <charconv>
#include <stdexcept>
#include <string>

#include "sim/catalog.h"

namespace r7::sim {

namespace {

[[noreturn]] void bad(std::string_view what, std::string_view spec) {
  throw std::invalid_argument(std::string(what) + ": " + std::string(spec));
}

long whole(std::string_view text, std::string_view spec) {
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    bad("not a whole number", spec);
  }
  return v;
}

double probability(std::string_view text, std::string_view spec) {
  double p = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), p);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      !(p >= 0.0 && p <= 1.0)) {
    bad("probability must be 0 to 1 in fault", spec);
  }
  return p;
}

}  // namespace

void add_fault(Faults& faults, std::string_view spec) {
  const auto colon = spec.find(':');
  const std::string_view kind = spec.substr(0, colon);
  const std::string_view arg = colon == std::string_view::npos ? "" : spec.substr(colon + 1);
  const bool has_arg = colon != std::string_view::npos;
  if (kind == "drop" && has_arg) {
    faults.drop = probability(arg, spec);
  } else if (kind == "crc" && has_arg) {
    faults.crc = probability(arg, spec);
  } else if (kind == "garbage") {
    faults.garbage = has_arg ? probability(arg, spec) : 1.0;
  } else if (kind == "late" && has_arg) {
    const long ms = whole(arg, spec);
    if (ms < 0 || ms > 600000) bad("late time out of range in fault", spec);
    faults.late_ms = static_cast<std::uint32_t>(ms);
  } else if (kind == "refuse" && has_arg) {
    const auto second = arg.find(':');
    const long reg = whole(arg.substr(0, second), spec);
    const long code = second == std::string_view::npos ? 2 : whole(arg.substr(second + 1), spec);
    if (reg < 0 || reg > 65535) bad("register out of range in fault", spec);
    if (code != 2 && code != 3) bad("exception code must be 2 or 3 in fault", spec);
    faults.refuse[static_cast<int>(reg)] = static_cast<int>(code);
  } else if (kind == "forget" && has_arg) {
    const long reg = whole(arg, spec);
    if (reg < 0 || reg > 65535) bad("register out of range in fault", spec);
    faults.forget.insert(static_cast<int>(reg));
  } else if (kind == "hangup" && has_arg) {
    const long n = whole(arg, spec);
    if (n < 1 || n > 1000000) bad("exchange count out of range in fault", spec);
    faults.hangup_after = static_cast<int>(n);
  } else if (kind == "powercut" && has_arg) {
    const long n = whole(arg, spec);
    if (n < 1 || n > 1000000) bad("record count out of range in fault", spec);
    faults.power_cut_after = static_cast<int>(n);
  } else {
    bad("unknown fault", spec);
  }
}

void set_chunking(LineModel& line, std::string_view spec) {
  const auto colon = spec.find(':');
  if (colon == std::string_view::npos) bad("chunk must be BYTES:MS", spec);
  const long bytes = whole(spec.substr(0, colon), spec);
  const long ms = whole(spec.substr(colon + 1), spec);
  if (bytes < 1 || bytes > 65536 || ms < 1 || ms > 10000) bad("chunk out of range", spec);
  line.chunk_bytes = static_cast<int>(bytes);
  line.chunk_ms = static_cast<std::uint32_t>(ms);
}

void set_timing(Timing& timing, std::string_view spec) {
  const auto colon = spec.find(':');
  if (colon == std::string_view::npos) bad("timing must be NAME:MS", spec);
  const std::string_view name = spec.substr(0, colon);
  const long ms = whole(spec.substr(colon + 1), spec);
  if (ms < 0 || ms > 600000) bad("timing out of range", spec);
  std::uint32_t* field = name == "defaults"     ? &timing.defaults_ms
                         : name == "store"      ? &timing.store_ms
                         : name == "bootloader" ? &timing.bootloader_ms
                         : name == "erase"      ? &timing.erase_ms
                         : name == "power-up"   ? &timing.power_up_ms
                                                : nullptr;
  if (field == nullptr) bad("unknown timing", spec);
  *field = static_cast<std::uint32_t>(ms);
}

ControllerConfig default_config(int model) {
  if (!is_known_model(model)) {
    throw std::invalid_argument("unknown model " + std::to_string(model) + " (6180 or 6170)");
  }
  ControllerConfig c;
  c.model = model;
  if (model == kModel6170) {
    c.serial_a = 17;
    c.serial_b = 4410;
    c.revision = 1720;
  }
  return c;
}

int baud_of(std::string_view settings) {
  int baud = 0;
  const auto comma = settings.find(',');
  const std::string_view head = settings.substr(0, comma);
  const auto [end, ec] = std::from_chars(head.data(), head.data() + head.size(), baud);
  if (ec != std::errc() || end != head.data() + head.size() || baud < 0) return 0;
  return baud;
}

}  // namespace r7::sim
