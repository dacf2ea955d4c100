#include "sim/state_file.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace r7::sim {

namespace {

using nlohmann::json;

constexpr int kFormat = 1;

const char* firmware_name(FirmwareState s) {
  switch (s) {
    case FirmwareState::Erased:
      return "erased";
    case FirmwareState::Complete:
      return "complete";
    case FirmwareState::Factory:
      break;
  }
  return "factory";
}

FirmwareState firmware_from(const std::string& name) {
  if (name == "factory") return FirmwareState::Factory;
  if (name == "erased") return FirmwareState::Erased;
  if (name == "complete") return FirmwareState::Complete;
  throw std::runtime_error("unknown firmware state \"" + name + "\"");
}

std::string hex24(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06X", v);
  return buf;
}

std::string digest_text(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(v));
  return buf;
}

std::int16_t value16(const json& v) {
  const int i = v.get<int>();
  if (i < -32768 || i > 65535) throw std::runtime_error("value out of range: " + v.dump());
  return static_cast<std::int16_t>(i);
}

std::map<int, std::int16_t> register_map(const json& object) {
  std::map<int, std::int16_t> m;
  for (const auto& [key, value] : object.items())
    m[std::stoi(key)] = value16(value);
  return m;
}

json register_object(const std::map<int, std::int16_t>& m) {
  json o = json::object();
  for (const auto& [reg, value] : m)
    o[std::to_string(reg)] = value;
  return o;
}

}  // namespace

std::string state_json(Controller& controller) {
  const ControllerConfig& c = controller.config();
  const SavedState s = controller.saved_state();
  json j;
  j["format"] = kFormat;
  j["model"] = c.model;
  j["serial"] = {c.serial_a, c.serial_b};
  j["software"] = controller.software();
  j["revision"] = c.revision;
  j["registers"] = register_object(s.setup.registers);
  json profiles = json::array();
  for (const auto& [number, profile] : s.setup.profiles) {
    json steps = json::array();
    for (const Step& step : profile.steps) {
      steps.push_back({{"type", step.type}, {"values", register_object(step.values)}});
    }
    profiles.push_back({{"number", number}, {"name", profile.name}, {"steps", steps}});
  }
  j["profiles"] = profiles;
  j["firmware"] = {
      {"state", firmware_name(s.firmware)}, {"software_field", s.software_field},
      {"flash_bytes", s.flash_bytes},       {"flash_low", hex24(s.flash_low)},
      {"flash_high", hex24(s.flash_high)},  {"flash_digest", digest_text(s.flash_digest)}};
  return j.dump(1) + "\n";
}

StateFile parse_state(std::string_view text) {
  StateFile f;
  try {
    const json j = json::parse(text);
    if (j.at("format").get<int>() != kFormat) throw std::runtime_error("unknown format");
    f.model = j.at("model").get<int>();
    f.serial_a = j.at("serial").at(0).get<int>();
    f.serial_b = j.at("serial").at(1).get<int>();
    f.software = j.at("software").get<int>();
    f.revision = j.at("revision").get<int>();
    f.state.setup.registers = register_map(j.at("registers"));
    for (const json& p : j.at("profiles")) {
      Profile profile;
      const json& name = p.at("name");
      if (name.size() != profile.name.size()) throw std::runtime_error("a name has ten codes");
      for (std::size_t k = 0; k < profile.name.size(); ++k)
        profile.name[k] = value16(name[k]);
      for (const json& s : p.at("steps")) {
        Step step = make_step(s.at("type").get<int>());
        for (const auto& [reg, value] : register_map(s.at("values"))) {
          if (step.values.count(reg) == 0) {
            throw std::runtime_error("no step register " + std::to_string(reg));
          }
          step.values[reg] = value;
        }
        profile.steps.push_back(std::move(step));
      }
      f.state.setup.profiles[p.at("number").get<int>()] = std::move(profile);
    }
    const json& fw = j.at("firmware");
    f.state.firmware = firmware_from(fw.at("state").get<std::string>());
    f.state.software_field = fw.at("software_field").get<std::string>();
    f.state.flash_bytes = fw.at("flash_bytes").get<std::size_t>();
    f.state.flash_low =
        static_cast<std::uint32_t>(std::stoul(fw.at("flash_low").get<std::string>(), nullptr, 16));
    f.state.flash_high =
        static_cast<std::uint32_t>(std::stoul(fw.at("flash_high").get<std::string>(), nullptr, 16));
    if (fw.contains("flash_digest")) {  // not in the state files of earlier versions
      f.state.flash_digest = std::stoull(fw.at("flash_digest").get<std::string>(), nullptr, 16);
    }
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("state file: ") + e.what());
  } catch (const std::logic_error& e) {  // stoi and friends
    throw std::runtime_error(std::string("state file: bad number (") + e.what() + ")");
  }
  return f;
}

void save_state_file(Controller& controller, const std::filesystem::path& file) {
  const std::string text = state_json(controller);
  std::filesystem::path temp = file;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + temp.string());
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) throw std::runtime_error("cannot replace " + file.string() + ": " + ec.message());
}

std::optional<StateFile> load_state_file(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return parse_state(text.str());
}

void apply_identity(const StateFile& file, ControllerConfig& config) {
  if (file.model != config.model) return;
  config.serial_a = file.serial_a;
  config.serial_b = file.serial_b;
  config.software = file.software;
  config.revision = file.revision;
}

}  // namespace r7::sim
